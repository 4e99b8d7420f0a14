#include "platform/Signal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace quillbox::platform {
namespace {

long Futex(std::atomic<uint32_t>& word, int op, uint32_t value, const timespec* timeout) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, timeout, nullptr, 0);
}

}  // namespace

void Signal::Wait(uint32_t seen, std::chrono::nanoseconds real) {
  if (real <= std::chrono::nanoseconds::zero()) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(real);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>((real - seconds).count())};
  // Counted before the generation is compared (by the kernel, atomically with going to sleep):
  // a Notify that changed the generation after `seen` was read either sees this waiter or is
  // seen by the kernel's comparison.
  waiters_.fetch_add(1);
  Futex(generation_, FUTEX_WAIT_PRIVATE, seen, &timeout);
  waiters_.fetch_sub(1);
}

void Signal::Notify() {
  generation_.fetch_add(1);
  if (waiters_.load() > 0) Futex(generation_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
}

}  // namespace quillbox::platform
