// Objects created once per process and only read afterwards.
#pragma once

#include <atomic>

#include "binding/python.hpp"

namespace vexa::binding {

// Holds one object for the life of the process. The first caller creates it
// under a lock; PyMutex detaches a waiting thread from the interpreter, so a
// creator that runs Python code (an import, say) cannot deadlock with it.
class ProcessObject {
public:
  // A borrowed reference, or null with the creation error set.
  template <class Make> PyObject* get(Make make) {
    PyObject* object = object_.load(std::memory_order_acquire);
    if (object != nullptr) return object;
    PyMutex_Lock(&mutex_);
    object = object_.load(std::memory_order_relaxed);
    if (object == nullptr) {
      object = make();
      if (object != nullptr) object_.store(object, std::memory_order_release);
    }
    PyMutex_Unlock(&mutex_);
    return object;
  }

private:
  std::atomic<PyObject*> object_{nullptr};
  PyMutex mutex_{};
};

// The interned string of a fixed name, for attribute and method lookups.
PyObject* interned(ProcessObject& cache, const char* text);

} // namespace vexa::binding
