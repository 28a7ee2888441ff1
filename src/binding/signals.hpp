// Ctrl-C during a long call: the interpreter's own check for pending
// signals, asked by the bodies' long loops and by the binding layer's.
#pragma once

namespace vexa::binding {

// Runs the interpreter's handlers of signals that arrived; true when one of
// them raised, with that exception pending (KeyboardInterrupt for Ctrl-C).
bool signal_raised();

// Makes signal_raised the question the bodies ask (once per module import).
void install_signal_check();

} // namespace vexa::binding
