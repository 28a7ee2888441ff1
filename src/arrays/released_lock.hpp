// The interpreter lock is let go while a body of this module runs, so other
// Python threads go on; the body's looks for Ctrl-C take it back for the
// moment of the look.
#pragma once

#include "binding/python.hpp"

namespace vexa::arrays {

// Releases the lock for the life of the object (one per call, never nested).
class LockReleased {
public:
  LockReleased();
  ~LockReleased();
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;
};

// Makes the bodies' question "must the call end?" run the interpreter's
// signal handlers, re-taking the lock when the call let it go. Only the
// main thread runs handlers: elsewhere the answer is no, without the lock.
// Returns false with an error set when the main thread cannot be named.
bool install_released_signal_check();

} // namespace vexa::arrays
