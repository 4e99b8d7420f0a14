// The least a recorder can cost on this machine: the wake-ups and the file work of a recording,
// with nothing else. One thread wakes like the acquisition thread (a pause until the block can
// be complete, then a short wait for it, once per block period); the main thread wakes once per
// block period, appends BYTES bytes to a file and makes the file durable every SYNC seconds.
// bench/record_cpu.sh runs it beside a real recording and compares their CPU.
//
//   recorder_floor FILE BYTES_PER_POLL SECONDS [BLOCK_MS [SYNC_S]]   (defaults 200, 1)

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  using namespace std::chrono;
  if (argc < 4) {
    std::fprintf(stderr, "usage: recorder_floor FILE BYTES_PER_POLL SECONDS [BLOCK_MS [SYNC_S]]\n");
    return 2;
  }
  const std::string row(std::strtoul(argv[2], nullptr, 10), '0');
  const auto end = steady_clock::now() + duration<double>(std::strtod(argv[3], nullptr));
  const milliseconds block(argc > 4 ? std::strtol(argv[4], nullptr, 10) : 200);
  const double syncSeconds = argc > 5 ? std::strtod(argv[5], nullptr) : 1.0;
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || block.count() < 60) return 2;

  std::mutex mutex;
  std::condition_variable wake;  // never signalled while running: both waits time out
  bool stop = false;
  std::thread acquisition([&] {
    std::unique_lock lock(mutex);
    while (!stop) {
      wake.wait_for(lock, block - milliseconds(50));
      if (!stop) wake.wait_for(lock, milliseconds(50));
    }
  });

  auto nextSync = steady_clock::now() + duration<double>(syncSeconds);
  bool ok = true;
  while (ok && steady_clock::now() < end) {
    std::this_thread::sleep_for(block);
    ok = write(fd, row.data(), row.size()) == static_cast<ssize_t>(row.size());
    if (steady_clock::now() >= nextSync) {
      ok = ok && fdatasync(fd) == 0;
      nextSync += duration<double>(syncSeconds);
    }
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  wake.notify_all();
  acquisition.join();
  close(fd);
  return ok ? 0 : 1;
}
