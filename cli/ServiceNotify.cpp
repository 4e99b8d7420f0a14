#include "cli/ServiceNotify.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

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
  active_ = socket != nullptr && socket[0] != '\0';
  if (!active_) return;
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) watchdog_ = std::chrono::microseconds(usec);
}

void ServiceNotify::Ready(const std::string& status) const {
  if (active_) sd_notify(0, ("READY=1\nSTATUS=" + OneLine(status)).c_str());
}

void ServiceNotify::Status(const std::string& status) const {
  if (active_) sd_notify(0, ("STATUS=" + OneLine(status)).c_str());
}

void ServiceNotify::Stopping(const std::string& status) {
  if (!active_ || stopping_) return;
  stopping_ = true;
  sd_notify(0, ("STOPPING=1\nSTATUS=" + OneLine(status)).c_str());
}

void ServiceNotify::Alive() {
  if (watchdog_.count() == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (lastAlive_ != std::chrono::steady_clock::time_point{} && now - lastAlive_ < watchdog_ / 2)
    return;
  lastAlive_ = now;
  sd_notify(0, "WATCHDOG=1");
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
