#pragma once
// A wake-up one thread gives and others wait for with a time limit, built on one futex word that
// counts the wake-ups. Unlike a condition variable it needs no mutex: a wait that times out
// returns with one system call and leaves nothing to hand back, where a condition variable's
// timed wait re-takes its mutex in the contended state and pays another call to release it.
// The pauses that run on every block (the acquisition's pace, the bench's block wait, the
// host's wait for the next block) use it.
//
// A waiter reads Generation() before it looks at the condition it waits for and passes that
// value to Wait: a Notify() in between makes the wait return at once, so none is lost.

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/Clock.h"

namespace quillbox::platform {

class Signal {
 public:
  uint32_t Generation() const { return generation_.load(); }
  // Returns when the generation is no longer `seen`, after `real` (real time) at the latest, or
  // early on an interrupting signal; callers look at their condition again either way.
  void Wait(uint32_t seen, std::chrono::nanoseconds real);
  // Wakes every waiter; costs a system call only when one is waiting.
  void Notify();

 private:
  std::atomic<uint32_t> generation_{0};
  std::atomic<uint32_t> waiters_{0};
};

// Waits until `pred` holds or `ms` scaled milliseconds passed; returns pred(). Whoever makes
// `pred` true calls signal.Notify() afterwards.
template <class Pred>
bool WaitFor(Signal& signal, uint32_t ms, Pred pred) {
  const auto until = std::chrono::steady_clock::now() + ToReal(std::chrono::milliseconds(ms));
  for (;;) {
    const uint32_t seen = signal.Generation();
    if (pred()) return true;
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return false;
    signal.Wait(seen, left);
  }
}

}  // namespace quillbox::platform
