#include "platform/Trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

namespace quillbox::platform {
namespace {

const std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();

// Where the lines go: -1 while off, STDERR_FILENO or a file of our own. Guarded by the mutex
// so that a change of target never writes into a descriptor being closed.
struct Sink {
  std::mutex mutex;
  int fd = -1;
};
constinit Sink g_sink;

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Opens the target named by the rules of QUILLBOX_TRACE; -1 for off or a file that will not
// open, which is said on standard error.
int OpenTarget(std::string_view target) {
  if (target.empty() || target == "0") return -1;
  if (target.find('/') == std::string_view::npos) return STDERR_FILENO;
  const std::string path(target);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    const std::string text = "quillbox-trace: cannot open " + path + ": " +
                             std::error_code(errno, std::generic_category()).message() +
                             "; trace off\n";
    WriteAll(STDERR_FILENO, text.data(), text.size());
  }
  return fd;
}

// Replaces the target; true when the trace is now on.
bool Retarget(std::string_view target) {
  std::lock_guard lock(g_sink.mutex);
  if (g_sink.fd > STDERR_FILENO) ::close(g_sink.fd);
  g_sink.fd = OpenTarget(target);
  return g_sink.fd >= 0;
}

bool FromEnvironment() {
  const char* value = std::getenv("QUILLBOX_TRACE");
  return Retarget(value != nullptr ? value : "");
}

}  // namespace

namespace trace_detail {
std::atomic<bool> g_on{FromEnvironment()};
}  // namespace trace_detail

void Trace(std::string_view what) {
  if (!TraceOn()) return;
  std::lock_guard lock(g_sink.mutex);
  if (g_sink.fd < 0) return;
  // Stamped under the lock, so the times of a file's lines never go backwards.
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - g_start)
                      .count();
  char thread[16] = "main";
  if (gettid() != getpid()) std::snprintf(thread, sizeof thread, "t%d", static_cast<int>(gettid()));
  char head[64];
  const int n = std::snprintf(head, sizeof head, "quillbox-trace %lld.%06lld %s ",
                              static_cast<long long>(us / 1000000),
                              static_cast<long long>(us % 1000000), thread);
  std::string line;
  line.reserve(static_cast<std::size_t>(n) + what.size() + 1);
  line.append(head, static_cast<std::size_t>(n));
  for (const char c : what) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  WriteAll(g_sink.fd, line.data(), line.size());
}

void TraceF(const char* format, ...) {
  if (!TraceOn()) return;
  char text[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) >= sizeof text) {
    std::string longer(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(longer.data(), longer.size(), format, again);
    longer.resize(static_cast<std::size_t>(n));
    Trace(longer);
  } else if (n >= 0) {
    Trace(std::string_view(text, static_cast<std::size_t>(n)));
  }
  va_end(again);
}

bool SetTraceTarget(std::string_view target) {
  const bool on = Retarget(target);
  trace_detail::g_on.store(on, std::memory_order_relaxed);
  return on || target.empty() || target == "0";
}

}  // namespace quillbox::platform
