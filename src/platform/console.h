// What a command-line program needs of its terminal and of the signals a
// user sends it.
#pragma once

namespace platform {

// Whether standard error is a terminal (where a progress bar belongs).
bool StandardErrorIsTerminal();

// Ctrl-C (SIGINT) calls onInterrupt once, from a signal handler: it may do
// no more than store into a lock-free atomic. A second Ctrl-C ends the
// process at once, as if no handler were there, so a program stuck where
// it does not look at its flag can still be ended. False when the handler
// cannot be installed.
bool CatchInterrupt(void (*onInterrupt)());

// Writing past the file-size limit (ulimit -f) fails the write with an
// error instead of ending the process.
void IgnoreFileSizeLimitSignal();

}  // namespace platform
