#include "arrays/released_lock.hpp"

#include <atomic>
#include <utility>

#include "common/interruption.hpp"

namespace vexa::arrays {
namespace {

// The calling thread's state while its call runs without the lock.
thread_local PyThreadState* released_state = nullptr;

std::atomic<unsigned long> main_thread_ident{0};

bool signal_raised() {
  if (released_state == nullptr) return PyErr_CheckSignals() != 0;
  if (PyThread_get_thread_ident() != main_thread_ident.load(std::memory_order_relaxed))
    return false;
  PyEval_RestoreThread(released_state);
  const bool raised = PyErr_CheckSignals() != 0;
  // The exception a handler raised stays with the thread's state.
  released_state = PyEval_SaveThread();
  return raised;
}

} // namespace

LockReleased::LockReleased() {
  released_state = PyEval_SaveThread();
}

LockReleased::~LockReleased() {
  PyEval_RestoreThread(std::exchange(released_state, nullptr));
}

bool install_released_signal_check() {
  binding::Ref threading(PyImport_ImportModule("threading"));
  if (!threading) return false;
  binding::Ref main_thread(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
  if (!main_thread) return false;
  binding::Ref ident(PyObject_GetAttrString(main_thread.get(), "ident"));
  if (!ident) return false;
  const unsigned long value = PyLong_AsUnsignedLong(ident.get());
  if (value == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
  main_thread_ident.store(value, std::memory_order_relaxed);
  install_interrupt_query(&signal_raised);
  return true;
}

} // namespace vexa::arrays
