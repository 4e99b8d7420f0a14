// The least a recorder can cost on this machine: the work any CSV recorder of one module must do,
// written with nothing of the recorder's own code. An acquisition thread paces itself like the
// driver (a pause until the block can be complete, then the wait for its last frame, both plain
// sleeps here) and hands each block of values to the writer, which wakes once per block, formats
// the rows (frame number, time with six decimals, values with seven significant digits through
// std::to_chars), appends them with one write, makes the file durable every SYNC seconds and
// replaces a description file every 10 s (written, flushed, renamed, folder flushed).
// The values are the rows of SOURCE, a CSV recording read once at the start and repeated, so the
// floor writes what the recorder writes. bench/record_cpu.sh runs it beside a real recording
// and compares their CPU.
//
//   recorder_floor FILE SOURCE RATE_HZ SECONDS [BLOCK_MS [SYNC_S]]   (defaults 200, 1)

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Replaces `path` with `text` the durable way.
bool Replace(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + (slash == 0));
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ok = fsync(dir) == 0 && ok;
    close(dir);
  }
  return ok;
}

// The value columns of every complete row of a CSV recording (a header line, then frame, time,
// values); `channels` becomes their count.
std::vector<double> ReadValues(const std::string& path, int& channels) {
  std::vector<double> values;
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return values;
  std::string line;
  bool header = true;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!header) {
      int columns = 0;
      for (const char* p = line.c_str(); *p != '\0'; ++columns) {
        char* next = nullptr;
        const double value = std::strtod(p, &next);
        if (columns >= 2) values.push_back(value);
        p = *next == ',' ? next + 1 : next;
        if (next == p && *p != '\0') break;
      }
      channels = columns - 2;
    }
    header = false;
    line.clear();
  }
  std::fclose(file);
  return values;
}

void Append(std::string& out, double value, std::chars_format format, int precision) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, format, precision).ptr;
  out.append(text, end);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace std::chrono;
  if (argc < 5) {
    std::fprintf(stderr, "usage: recorder_floor FILE SOURCE RATE_HZ SECONDS [BLOCK_MS [SYNC_S]]\n");
    return 2;
  }
  const std::string path = argv[1];
  int channels = 0;
  const std::vector<double> source = ReadValues(argv[2], channels);
  const double rate = std::strtod(argv[3], nullptr);
  const auto end = Clock::now() + duration<double>(std::strtod(argv[4], nullptr));
  const milliseconds block(argc > 5 ? std::strtol(argv[5], nullptr, 10) : 200);
  const auto syncEvery = duration<double>(argc > 6 ? std::strtod(argv[6], nullptr) : 1.0);
  const int blockFrames = static_cast<int>(std::lround(rate * duration<double>(block).count()));
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || channels < 1 || source.empty() || blockFrames < 1 || block < milliseconds(60))
    return 2;

  // One block of values in flight: the acquisition thread fills it, the writer empties it.
  std::mutex mutex;
  std::vector<double> pending;
  std::atomic<uint32_t> blocks{0};
  std::atomic<bool> stop{false};
  std::thread acquisition([&] {
    std::size_t at = 0;
    const auto width = static_cast<std::size_t>(channels);
    while (!stop.load()) {
      std::this_thread::sleep_for(block - milliseconds(50));
      std::this_thread::sleep_for(milliseconds(50));
      {
        std::lock_guard lock(mutex);
        for (int i = 0; i < blockFrames; ++i, at = (at + width) % source.size())
          pending.insert(pending.end(), source.begin() + static_cast<std::ptrdiff_t>(at),
                         source.begin() + static_cast<std::ptrdiff_t>(at + width));
      }
      blocks.fetch_add(1);
      blocks.notify_one();
    }
  });

  std::string rows, description(1024, ' ');
  std::vector<double> taken;
  int64_t frame = 0, bytes = 0;
  uint32_t seen = 0;
  auto nextSync = Clock::now() + syncEvery;
  auto nextDescription = Clock::now() + seconds(10);
  bool ok = true;
  while (ok && Clock::now() < end) {
    blocks.wait(seen);
    seen = blocks.load();
    {
      std::lock_guard lock(mutex);
      taken.swap(pending);
    }
    rows.clear();
    for (std::size_t i = 0; i < taken.size(); ++frame) {
      Append(rows, static_cast<double>(frame), std::chars_format::fixed, 0);
      rows += ',';
      Append(rows, static_cast<double>(frame) / rate, std::chars_format::fixed, 6);
      for (int c = 0; c < channels; ++c, ++i) {
        rows += ',';
        Append(rows, taken[i], std::chars_format::general, 7);
      }
      rows += '\n';
    }
    taken.clear();
    ok = write(fd, rows.data(), rows.size()) == static_cast<ssize_t>(rows.size());
    bytes += static_cast<int64_t>(rows.size());
    const auto now = Clock::now();
    if (now >= nextSync) {
      ok = ok && fdatasync(fd) == 0;
      nextSync += duration_cast<Clock::duration>(syncEvery);
    }
    if (now >= nextDescription) {
      ok = ok && Replace(path + ".json", description);
      nextDescription += seconds(10);
    }
  }
  stop.store(true);
  acquisition.join();
  close(fd);
  std::printf("%lld frames, %lld bytes\n", static_cast<long long>(frame),
              static_cast<long long>(bytes));
  return ok ? 0 : 1;
}
