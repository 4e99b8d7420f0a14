#pragma once
// The bench file: its parsed, validated form and the parser. The parser refuses anything it does
// not understand with a BenchError naming the source, the key path and the problem.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "e270/E270API.h"
#include "sim/Bench.h"

namespace quillbox::sim {

constexpr int kMezzanineChannels = 16;
constexpr int kDirectInputs = 8;
constexpr int kTtlLines = 8;
constexpr int kSlotCount = kSlots;
constexpr int kPageCount = kEepromPages;
constexpr int kPageSize = kEepromPageSize;

enum class SignalKind { Constant, Sine, Square, Noise, Counter };

// One input's signal, in the input's own unit (volts, milliamperes, ohms, millivolts; TTL lines
// are high at 0.5 and above).
//   constant: value
//   sine:     offset + amplitude * sin(2 pi (frequency * t + phase / 360))
//   square:   offset + amplitude while the cycle position (frequency * t + phase / 360, fraction)
//             is below duty, else offset - amplitude
//   noise:    offset + amplitude * u, u uniform in [-1, 1) drawn from (seed, frame number)
//   counter:  raw code (start + frame number), wrapping at the input's code width
// t is the device time of the frame in seconds (frame periods summed since power-up).
struct Signal {
  SignalKind kind = SignalKind::Constant;
  double value = 0.0;
  double amplitude = 0.0;
  double offset = 0.0;
  double frequency = 1.0;
  double phase = 0.0;
  double duty = 0.5;
  uint64_t seed = 1;
  uint32_t start = 0;
};

struct SlotConfig {
  bool present = false;
  uint8_t type = 255;
  uint8_t versionMajor = 1;
  uint8_t versionMinor = 0;
  uint8_t serialPrefix = 1;
  uint8_t serialLetter = 'A';
  uint32_t serialNumber = 0;
};

struct ModuleConfig {
  std::string attach;  // "usb0".."usb7" or "com1".."com8"
  bool usb = true;
  int number = 0;  // USB number 0..7 or COM port 1..8
  std::string name = "E-270";
  std::string serial = "27000123";
  std::string board = "E-270";
  uint8_t revision = 1;
  std::string processor = "ADSP";
  uint32_t clockHz = 24000000;
  bool crcOk = true;
  std::array<std::optional<std::vector<uint8_t>>, kPageCount> eepromOverrides;
  std::array<SlotConfig, kSlotCount> slots;
  std::array<Signal, kMezzanineChannels> mezzanine;
  std::array<Signal, kDirectInputs> direct;
  std::array<Signal, kTtlLines> ttl;
  uint8_t dioInputs = 0;
  uint8_t dioAux = 0x3C;
  bool outputsToInputs = false;
  std::array<bool, kPageCount> unreadablePages{};
  bool dataCallsFail = false;
  bool dioCallsFail = false;
  std::optional<double> unplugAfterSeconds;
  std::optional<double> replugAfterSeconds;  // after an unplug_after_s unplug
};

struct BenchConfig {
  std::vector<ModuleConfig> modules;
  uint64_t textHash = 0;  // FNV-1a of the bench text: with an attach point, names a module
};

// Parses bench JSON. `source` names it in messages ("bench file /x.json", "bench text").
// Throws BenchError.
BenchConfig ParseBench(const std::string& text, const std::string& source);
// Reads and parses a bench file; anything but a regular file of at most 4 MiB is refused before
// it is read. Throws BenchError.
BenchConfig ReadBenchFile(const std::string& path);
// The built-in default bench as JSON.
const char* DefaultBenchText();

}  // namespace quillbox::sim
