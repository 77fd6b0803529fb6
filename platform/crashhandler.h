#pragma once

namespace platform {

// Installs a handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT that
// writes a plain-text report (signal, thread, backtrace, memory map) to
// fileName in the current working directory and then lets the process end
// by the same signal. Call once, early, on the main thread; the alternate
// signal stack is set up for the calling thread only.
// Returns false when the handler could not be installed.
bool installCrashHandler(const char *fileName);

} // namespace platform
