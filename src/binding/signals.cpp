#include "binding/signals.hpp"

#include "binding/python.hpp"
#include "common/interruption.hpp"

namespace vexa::binding {

bool signal_raised() {
  // Only the main thread runs handlers; elsewhere this answers false at once.
  return PyErr_CheckSignals() != 0;
}

void install_signal_check() {
  install_interrupt_query(&signal_raised);
}

} // namespace vexa::binding
