// Soak run of a long recording: a counting bench, one recording of (at least) --frames frames at
// 100 frames per second on an accelerated clock, and a host thread that takes the frames out at
// random intervals through GetData and InputData in turn. Every frame is checked against the
// device frame number it must carry: nothing may be lost, repeated or out of order. The resident
// memory is reported at the start, in the middle and at the end.
//
//   quillbox_soak [--frames N] [--scale S] [--ring FRAMES] [--poll-ms MS] [--seed N]
//
// Exit status 0 when every frame arrived exactly once and in order, 1 otherwise.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/E_270.h"
#include "platform/Clock.h"
#include "quillbox/IADC3.h"
#include "sim/Bench.h"

namespace {

using namespace quillbox;

// Slots 0 and 1 hold a "U20" (zero code 0): their first channels carry the raw frame counter,
// the second one shifted by half the word range, so that one of the two is never clamped.
// The first direct input carries the low byte of the counter.
const char* const kBench = R"({"modules":[{"attach":"usb0",
  "slots":[{"type":11},{"type":11},null,null,null,null,null,null],
  "signals":{"m0":{"kind":"counter"},"m2":{"kind":"counter","start":32768},
             "ad0":{"kind":"counter"}}}]})";
// Logical channels of those inputs with the default channel sources.
const std::vector<int16_t> kScanList = {0, 2, 16};
constexpr float kRate = 100.0f;

// The code the driver makes of a mezzanine word of a zero-offset type.
int16_t MezzanineCode(uint32_t word) {
  word &= 0xFFFF;
  if (word <= 32767) return static_cast<int16_t>(word);
  if (word <= 0xBFFF) return 32767;
  return static_cast<int16_t>(static_cast<int32_t>(word) - 65536);
}

// Device frame number (mod 65536) carried by one recorded frame.
uint32_t FrameNumber(const int16_t* f) {
  if (f[0] >= 0 && f[0] < 32767) return static_cast<uint32_t>(f[0]);
  if (f[0] < 0) return static_cast<uint32_t>(f[0] + 65536);
  return (static_cast<uint32_t>(static_cast<uint16_t>(f[1])) + 32768u) & 0xFFFFu;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Tally {
  uint64_t frames = 0;  // frames taken out of the ring
  uint64_t lost = 0;    // frames skipped over
  uint64_t repeated = 0;
  uint64_t reordered = 0;
  uint64_t badValues = 0;  // channels that disagree with the frame's number
  bool started = false;
  uint32_t expected = 0;  // next frame number, mod 65536

  void Frame(const int16_t* f) {
    const uint32_t k = FrameNumber(f);
    const bool consistent = f[0] == MezzanineCode(k) && f[1] == MezzanineCode(k + 32768u) &&
                            f[2] == static_cast<int16_t>(k & 0xFF);
    if (!consistent) ++badValues;
    if (started && k != expected) {
      const uint32_t ahead = (k - expected) & 0xFFFF;
      if (ahead < 0x8000) {
        lost += ahead;
      } else if (((expected - k) & 0xFFFF) == 1) {
        ++repeated;
      } else {
        ++reordered;
      }
    }
    started = true;
    expected = (k + 1) & 0xFFFF;
    ++frames;
  }
  bool Clean() const { return lost == 0 && repeated == 0 && reordered == 0 && badValues == 0; }
};

}  // namespace

int main(int argc, char** argv) try {
  CLI::App app{"Soak run: one long recording on the simulated bench, checked frame by frame"};
  uint64_t frames = 10'000'000;
  double scale = 1000.0;
  int32_t ring = 16384;
  uint32_t pollMs = 2000;
  uint32_t seed = 1;
  app.add_option("--frames", frames, "frames to record (at least)")->check(CLI::PositiveNumber);
  app.add_option("--scale", scale, "clock speed-up; device seconds per real second")
      ->check(CLI::Range(1.0, 1e6));
  app.add_option("--ring", ring, "ring size in frames")->check(CLI::Range(100, 1 << 22));
  app.add_option("--poll-ms", pollMs, "mean pause between two host polls, device milliseconds")
      ->check(CLI::Range(0, 600000));
  app.add_option("--seed", seed, "seed of the random pauses and buffer sizes");
  CLI11_PARSE(app, argc, argv);

  platform::SetTimeScale(scale);
  sim::LoadBench(kBench);
  std::shared_ptr<E_270> object = CreateE_270();
  IADC3& adc = *object;
  if (!adc.Test()) {
    std::fprintf(stderr, "soak: the bench module does not open: %s\n", adc.LastError().c_str());
    return 1;
  }
  adc.InputChannels(BoundedArray<int16_t>::FromVector(kScanList));
  adc.Rate(kRate);
  adc.InputSizeData(ring);
  const uint64_t deviceFramesBefore = sim::Status("usb0").frameCounter;

  std::mt19937 random(seed);
  std::uniform_int_distribution<uint32_t> pause(0, 2 * pollMs);
  std::uniform_int_distribution<int> longPause(0, 999);
  const auto channels = static_cast<int32_t>(kScanList.size());
  std::uniform_int_distribution<int32_t> room(1, ring * channels);
  std::vector<int16_t> buffer(static_cast<std::size_t>(ring) * kScanList.size());

  Tally tally;
  const long rssStart = ResidentKiB();
  long rssMiddle = 0;
  uint64_t polls = 0, longPauses = 0;
  const auto wallStart = std::chrono::steady_clock::now();
  if (!adc.StartRecord()) {
    std::fprintf(stderr, "soak: the recording does not start: %s\n", adc.LastError().c_str());
    return 1;
  }
  std::printf("soak: %" PRIu64 " frames of %d channels at %.0f Hz, time scale %.0f, ring %d\n",
              frames, channels, static_cast<double>(kRate), scale, adc.InputSizeKadrs());
  std::printf("soak: RSS at start %ld KiB\n", rssStart);
  std::fflush(stdout);

  const auto poll = [&](bool whole) {
    if (whole) {
      const BoundedArray2D<int16_t> all = adc.InputData();
      for (int32_t k = 1; k < static_cast<int32_t>(all.Extent2()); ++k) tally.Frame(all.Column(k));
    } else {
      int32_t size = room(random);
      int32_t unread = 0;
      const int32_t n = adc.GetData(buffer[0], size, unread);
      for (int32_t k = 0; k < n; ++k)
        tally.Frame(buffer.data() + static_cast<std::size_t>(k) * kScanList.size());
    }
    ++polls;
  };

  uint64_t reportAt = frames / 10;
  while (tally.frames < frames && adc.Busy()) {
    // Now and then the host looks away for longer than the ring lasts.
    if (longPause(random) == 0) {
      platform::Sleep(static_cast<uint32_t>(1000.0 * ring / kRate * 1.5));
      ++longPauses;
    } else {
      platform::Sleep(pause(random));
    }
    poll(polls % 2 == 1);
    if (rssMiddle == 0 && tally.frames >= frames / 2) rssMiddle = ResidentKiB();
    if (tally.frames >= reportAt) {
      std::printf("soak: %3.0f %% (%" PRIu64 " frames), RSS %ld KiB\n",
                  100.0 * static_cast<double>(tally.frames) / static_cast<double>(frames),
                  tally.frames, ResidentKiB());
      std::fflush(stdout);
      reportAt += frames / 10;
    }
  }
  const bool stillBusy = adc.Busy();
  adc.StopRecord();
  poll(true);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const long rssEnd = ResidentKiB();
  const uint64_t deviceFrames = sim::Status("usb0").frameCounter - deviceFramesBefore;
  object.reset();

  std::printf("soak: recorded %" PRIu64 " frames (%" PRIu64
              " channel samples) in %.1f s wall, "
              "%.0f device s (%.0f x real time)\n",
              tally.frames, tally.frames * kScanList.size(), wall,
              static_cast<double>(tally.frames) / static_cast<double>(kRate),
              static_cast<double>(tally.frames) / static_cast<double>(kRate) / wall);
  std::printf("soak: device delivered %" PRIu64 " frames; host polls %" PRIu64 " (%" PRIu64
              " after a pause longer than the ring)\n",
              deviceFrames, polls, longPauses);
  std::printf("soak: lost %" PRIu64 ", repeated %" PRIu64 ", reordered %" PRIu64
              ", inconsistent %" PRIu64 "\n",
              tally.lost, tally.repeated, tally.reordered, tally.badValues);
  std::printf("soak: RSS start %ld KiB, middle %ld KiB, end %ld KiB\n", rssStart, rssMiddle,
              rssEnd);
  // Every frame the device delivered must have reached the host (the ring is emptied at the end).
  const bool complete = tally.frames == deviceFrames && tally.frames >= frames && stillBusy;
  if (!complete)
    std::printf("soak: FAILED: %s\n", stillBusy ? "frames delivered by the device went missing"
                                                : "the recording ended before its frames");
  const bool ok = complete && tally.Clean();
  std::printf("soak: %s\n", ok ? "PASSED" : "FAILED");
  return ok ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "soak: %s\n", e.what());
  return 1;
}
