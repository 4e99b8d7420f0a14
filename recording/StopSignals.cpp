#include "recording/StopSignals.h"

#include <iterator>

namespace quillbox::recording {
namespace {

volatile std::sig_atomic_t g_received = 0;

// The first stop signal is noted; any later one ends the process at once.
extern "C" void OnStopSignal(int signal) {
  if (g_received == 0) {
    g_received = signal;
    return;
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

StopSignals::StopSignals() {
  g_received = 0;
  std::size_t i = 0;
  for (int signal : kCaught) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, &old_[i++]);
  }
  for (int signal : kIgnored) {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, &old_[i++]);
  }
}

StopSignals::~StopSignals() {
  std::size_t i = 0;
  for (int signal : kCaught) sigaction(signal, &old_[i++], nullptr);
  for (int signal : kIgnored) sigaction(signal, &old_[i++], nullptr);
}

int StopSignals::Received() { return g_received; }

const char* StopSignals::Name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal";
  }
}

}  // namespace quillbox::recording
