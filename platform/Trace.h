#pragma once
// The trace: one line per thing the component asked of the module or decided, for field
// engineers looking at a module that misbehaves.
//
// QUILLBOX_TRACE, read once when this library loads, chooses where it goes:
//   unset, "" or "0"        off
//   a value containing '/'  appended to that file (created if missing)
//   anything else ("1")     standard error
// A file that cannot be opened is said once on standard error, and the trace stays off.
//
// Line format (one write(2) each, so lines of threads and processes never interleave):
//   quillbox-trace <seconds> <thread> <text>
//   quillbox-trace 0.183021 main E270ReadEEPROM(USB handle=9989, page=0) -> 0 [41 us]
// <seconds> is real monotonic time since this library loaded (about the process start) with six
// decimals, not the scaled clock of QUILLBOX_TIME_SCALE. <thread> is "main" for the process's
// main thread, else "t" and the kernel thread id (the acquisition thread, for example). The
// vendor calls' text is documented in device/VendorCalls.h.
//
// Use: guard whatever only the trace needs with TraceOn(), which is a single load of a flag:
//   if (platform::TraceOn()) platform::TraceF("recording stopped: %s", reason.c_str());

#include <atomic>
#include <string_view>

namespace quillbox::platform {

namespace trace_detail {
// Whether the trace is on; set when the library loads and by SetTraceTarget.
extern std::atomic<bool> g_on;
}  // namespace trace_detail

inline bool TraceOn() { return trace_detail::g_on.load(std::memory_order_relaxed); }

// Writes "quillbox-trace <seconds> <thread> <what>" as one line; nothing when the trace is off.
// A line break inside `what` is written as a space.
void Trace(std::string_view what);

// Trace with printf formatting; formats nothing when the trace is off.
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends the trace elsewhere from now on, with the rules of QUILLBOX_TRACE ("" or "0" turn it
// off); for tests. False when the file cannot be opened (the trace is then off).
bool SetTraceTarget(std::string_view target);

}  // namespace quillbox::platform
