#pragma once
// What a command run as a systemd service (Type=notify, packaging/quillbox-record@.service) tells
// the service manager through sd_notify: that it is ready, a status line, that it stops, and the
// watchdog's keep-alive. Outside a service (no NOTIFY_SOCKET) every call returns at once, and
// libsystemd is not loaded.

#include <chrono>
#include <string>

namespace quillbox::cli {

class ServiceNotify {
 public:
  // Reads NOTIFY_SOCKET and, when it is set, loads libsystemd and reads the watchdog settings
  // (sd_watchdog_enabled: WATCHDOG_USEC, and WATCHDOG_PID naming this process when set) once. A
  // libsystemd that cannot be loaded is said as a warning; nothing is sent then.
  ServiceNotify();

  // READY=1 with a STATUS= text.
  void Ready(const std::string& status) const;
  // STATUS=: the line `systemctl status` shows.
  void Status(const std::string& status) const;
  // STOPPING=1 with a STATUS= text; only the first call sends.
  void Stopping(const std::string& status);
  // WATCHDOG=1 when the watchdog is on and half its interval has passed since the last one, so
  // a caller may call it at every turn of its loop.
  void Alive();

 private:
  void Send(const std::string& message) const;

  int (*notify_)(int, const char*) = nullptr;  // libsystemd's sd_notify
  bool active_ = false;
  bool stopping_ = false;
  std::chrono::microseconds watchdog_{0};  // 0: no watchdog
  std::chrono::steady_clock::time_point lastAlive_{};
};

// The process's one connection to the service manager.
ServiceNotify& Service();

// Whether standard error is a stream to the journal: JOURNAL_STREAM names its device and inode
// (systemd sets it for a service's output). Decided once per process.
bool StderrIsJournal();

}  // namespace quillbox::cli
