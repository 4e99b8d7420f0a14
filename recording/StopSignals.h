#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a request to end a recording like reaching its end; a
// second one of them ends the process at once. While alive it also ignores SIGPIPE
// (a closed pipe or terminal must not kill a recording) and SIGXFSZ (a file-size limit is a
// write error like a full disk).

#include <csignal>
#include <iterator>

namespace quillbox::recording {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal received, 0 while none.
  static int Received();
  // "SIGINT", "SIGTERM" or "SIGHUP".
  static const char* Name(int signal);

 private:
  static constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};
  static constexpr int kIgnored[] = {SIGPIPE, SIGXFSZ};
  struct sigaction old_[std::size(kCaught) + std::size(kIgnored)]{};
};

}  // namespace quillbox::recording
