#include "cli/ServiceNotify.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "cli/Context.h"

namespace quillbox::cli {
namespace {

// A status is one line of the notify message.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

}  // namespace

ServiceNotify::ServiceNotify() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || socket[0] == '\0') return;
  // libsystemd is loaded only here, under a service manager: a command run by hand never maps it
  // (nor the libraries it brings). The package depends on it.
  void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library != nullptr) {
    notify_ = reinterpret_cast<decltype(&sd_notify)>(dlsym(library, "sd_notify"));
    const auto watchdogEnabled =
        reinterpret_cast<decltype(&sd_watchdog_enabled)>(dlsym(library, "sd_watchdog_enabled"));
    if (notify_ != nullptr && watchdogEnabled != nullptr) {
      active_ = true;
      uint64_t usec = 0;
      if (watchdogEnabled(0, &usec) > 0) watchdog_ = std::chrono::microseconds(usec);
      return;
    }
  }
  const char* error = dlerror();
  PrintMessage(Severity::Warning, std::string("cannot notify the service manager: ") +
                                      (error != nullptr ? error : "libsystemd.so.0 is unusable"));
}

void ServiceNotify::Send(const std::string& message) const {
  if (active_) notify_(0, message.c_str());
}

void ServiceNotify::Ready(const std::string& status) const {
  Send("READY=1\nSTATUS=" + OneLine(status));
}

void ServiceNotify::Status(const std::string& status) const { Send("STATUS=" + OneLine(status)); }

void ServiceNotify::Stopping(const std::string& status) {
  if (!active_ || stopping_) return;
  stopping_ = true;
  Send("STOPPING=1\nSTATUS=" + OneLine(status));
}

void ServiceNotify::Alive() {
  if (watchdog_.count() == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (lastAlive_ != std::chrono::steady_clock::time_point{} && now - lastAlive_ < watchdog_ / 2)
    return;
  lastAlive_ = now;
  Send("WATCHDOG=1");
}

ServiceNotify& Service() {
  static ServiceNotify service;
  return service;
}

bool StderrIsJournal() {
  static const bool journal = [] {
    const char* stream = std::getenv("JOURNAL_STREAM");
    uintmax_t device = 0, inode = 0;
    char rest = 0;
    if (stream == nullptr ||
        std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX "%c", &device, &inode, &rest) != 2)
      return false;
    struct stat st {};
    return fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
  }();
  return journal;
}

}  // namespace quillbox::cli
