// Objects created once per process and only read afterwards.
#pragma once

#include <atomic>

#include "binding/python.hpp"

namespace vexa::binding {

// Holds one object for the life of the process. No lock is held while the
// object is made: making it may run Python code (an import, a finaliser)
// that calls back into the module on the same thread, which would wait for
// ever on a lock this thread holds. Two threads, or a call and the call it
// re-enters, may each make one; the first stored is kept by everybody, the
// others are released before anyone has seen them.
class ProcessObject {
public:
  // A borrowed reference, or null with the creation error set.
  template <class Make> PyObject* get(Make make) {
    PyObject* object = object_.load(std::memory_order_acquire);
    if (object != nullptr) return object;
    PyObject* made = make();
    if (made == nullptr) return nullptr;
    if (object_.compare_exchange_strong(object, made, std::memory_order_acq_rel,
                                        std::memory_order_acquire))
      return made;
    Py_DECREF(made);
    return object;
  }

private:
  std::atomic<PyObject*> object_{nullptr};
};

// The interned string of a fixed name, for attribute and method lookups: a
// borrowed reference, or null with the error set.
inline PyObject* interned(ProcessObject& cache, const char* text) {
  return cache.get([text] { return PyUnicode_InternFromString(text); });
}

} // namespace vexa::binding
