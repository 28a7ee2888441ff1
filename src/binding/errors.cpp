#include "binding/errors.hpp"

#include <string>

#include "binding/process_cache.hpp"

namespace vexa::binding {
namespace {

ProcessObject add_note_name;
ProcessObject panic_class;

constexpr const char* panic_doc =
    "Raised when native code called from the interpreter fails one of its internal checks.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates to the top and ends the interpreter instead of being caught\n"
    "by an ordinary `except Exception` clause.";

Ref message_object(std::string_view message) {
  // Messages hold paths and names that came in as valid UTF-8; "replace"
  // keeps a message raisable even if that ever stops being true.
  return Ref(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
}

void raise_with_object(PyObject* exception_class, PyObject* message) {
  Ref exception(PyObject_CallOneArg(exception_class, message));
  if (exception) PyErr_SetRaisedException(exception.release());
}

} // namespace

void raise_message(PyObject* exception_class, std::string_view message) {
  Ref text = message_object(message);
  if (text) raise_with_object(exception_class, text.get());
}

void raise_wrong_type(PyObject* given, const char* target) {
  Ref message;
  if (given == Py_None) {
    message = Ref(PyUnicode_FromFormat("'None' is not an instance of '%s'", target));
  } else {
    Ref type_name(PyType_GetQualName(Py_TYPE(given)));
    if (type_name) {
      message = Ref(
          PyUnicode_FromFormat("'%U' object is not an instance of '%s'", type_name.get(), target));
    } else {
      PyErr_Clear();
      message = Ref(PyUnicode_FromFormat(
          "'<failed to extract type name>' object is not an instance of '%s'", target));
    }
  }
  if (message) raise_with_object(PyExc_TypeError, message.get());
}

void note_parameter(std::string_view parameter) {
  PyObject* exception = PyErr_GetRaisedException();
  if (exception == nullptr) return;
  PyObject* method = interned(add_note_name, "add_note");
  Ref note(PyUnicode_FromFormat("while processing '%.*s'", static_cast<int>(parameter.size()),
                                parameter.data()));
  if (method != nullptr && note) {
    Ref added(PyObject_CallMethodOneArg(exception, method, note.get()));
  }
  PyErr_Clear();
  PyErr_SetRaisedException(exception);
}

void raise_body_error(const BodyError& error) {
  PyObject* exception_class = nullptr;
  switch (error.kind) {
  case ErrorKind::value_error:
    exception_class = PyExc_ValueError;
    break;
  case ErrorKind::os_error:
    exception_class = PyExc_OSError;
    break;
  case ErrorKind::memory_error:
    exception_class = PyExc_MemoryError;
    break;
  case ErrorKind::interrupted:
    // A signal handler's exception is already pending; it is what the call
    // raises.
    if (!PyErr_Occurred()) raise_panic("a call ended early with no exception to raise");
    return;
  }
  raise_message(exception_class, error.message);
}

PyObject* panic_exception_class() {
  return panic_class.get([] {
    return PyErr_NewExceptionWithDoc("vexa_pp._vexa_pp.PanicException", panic_doc,
                                     PyExc_BaseException, nullptr);
  });
}

void raise_panic(const char* message) {
  PyObject* exception_class = panic_exception_class();
  if (exception_class == nullptr) return;
  raise_message(exception_class,
                message != nullptr ? message : "native code failed an internal check");
}

} // namespace vexa::binding
