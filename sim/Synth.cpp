#include "sim/Synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace quillbox::sim {
namespace {

constexpr int kMaxWordCode = 49151;
constexpr int kMinWordCode = -16384;

struct TypeRange {
  uint8_t type;
  double span;   // width of the range in the unit
  int zeroCode;  // code of the range's zero
};

// Physical ranges of the mezzanine types the module knows; anything else spans 100 from code 0.
constexpr TypeRange kRanges[] = {
    {9, 2.0, 16384}, {10, 20.0, 16384}, {11, 20.0, 0},     {12, 30.0, 0},
    {13, 300.0, 0},  {20, 5.0, 0},      {21, 20.0, 16384}, {22, 20.0, 0},
    {31, 100.0, 0},  {32, 250.0, 0},    {40, 100.0, 8192},
};

TypeRange RangeOf(uint8_t type) {
  for (const TypeRange& r : kRanges)
    if (r.type == type) return r;
  return {type, 100.0, 0};
}

void PutText(EepromPage& page, size_t offset, size_t width, const std::string& text) {
  std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(offset), width, uint8_t{0});
  std::memcpy(page.data() + offset, text.data(), std::min(width, text.size()));
}

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// splitmix64: a well-mixed 64-bit value from (seed, frame), the same on every run.
uint64_t Mix(uint64_t seed, uint64_t frame) {
  uint64_t z = seed * 0x9E3779B97F4A7C15ULL + frame + 0x632BE59BD9B4E019ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double CyclePosition(const Signal& s, double seconds) {
  const double cycles = s.frequency * seconds + s.phase / 360.0;
  return cycles - std::floor(cycles);
}

}  // namespace

uint16_t PageChecksum(const uint8_t* page) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < kChecksumOffset; ++i) {
    crc = static_cast<uint16_t>(crc ^ (page[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool ChecksumValid(const uint8_t* page) {
  const uint16_t stored =
      static_cast<uint16_t>(page[kChecksumOffset] | (page[kChecksumOffset + 1] << 8));
  return stored == PageChecksum(page);
}

EepromImage BuildEeprom(const ModuleConfig& module) {
  EepromImage image{};
  EepromPage& board = image[0];
  PutText(board, 2, 9, module.serial);
  PutText(board, 11, 7, module.board);
  board[18] = module.revision;
  PutText(board, 19, 5, module.processor);
  PutU32(board.data() + 24, module.clockHz);

  for (size_t slot = 0; slot < module.slots.size(); ++slot) {
    const SlotConfig& s = module.slots[slot];
    EepromPage& page = image[slot + 1];
    if (!s.present) {
      page.fill(0xFF);
      continue;
    }
    page[0] = s.versionMajor;
    page[1] = s.versionMinor;
    page[2] = s.type;
    page[6] = s.serialPrefix;
    page[7] = s.serialLetter;
    PutU32(page.data() + 8, s.serialNumber);
  }

  for (size_t p = 0; p < image.size(); ++p) {
    const auto& bytes = module.eepromOverrides[p];
    if (bytes) std::copy(bytes->begin(), bytes->end(), image[p].begin());
  }

  uint16_t crc = PageChecksum(board.data());
  if (!module.crcOk) crc = static_cast<uint16_t>(~crc);
  board[kChecksumOffset] = static_cast<uint8_t>(crc & 0xFF);
  board[kChecksumOffset + 1] = static_cast<uint8_t>(crc >> 8);
  return image;
}

uint16_t MezzanineWord(uint8_t type, double value) {
  const TypeRange r = RangeOf(type);
  double code = std::nearbyint(r.zeroCode + value * 32768.0 / r.span);
  if (!std::isfinite(code)) code = 0.0;
  code = std::clamp(code, static_cast<double>(kMinWordCode), static_cast<double>(kMaxWordCode));
  return static_cast<uint16_t>(static_cast<int32_t>(code) & 0xFFFF);
}

uint8_t DirectByte(double volts) {
  double code = std::nearbyint(volts * 62.5);
  if (!std::isfinite(code)) code = 0.0;
  return static_cast<uint8_t>(std::clamp(code, 0.0, 255.0));
}

double SignalValue(const Signal& s, double seconds, uint64_t frame) {
  switch (s.kind) {
    case SignalKind::Constant:
      return s.value;
    case SignalKind::Sine:
      return s.offset + s.amplitude * std::sin(2.0 * std::numbers::pi * CyclePosition(s, seconds));
    case SignalKind::Square:
      return CyclePosition(s, seconds) < s.duty ? s.offset + s.amplitude : s.offset - s.amplitude;
    case SignalKind::Noise: {
      // 53 random bits -> [0, 1) -> [-1, 1)
      const double unit = static_cast<double>(Mix(s.seed, frame) >> 11) * 0x1.0p-53;
      return s.offset + s.amplitude * (2.0 * unit - 1.0);
    }
    case SignalKind::Counter:
      break;
  }
  return static_cast<double>(s.start + frame);
}

void SynthesiseFrame(const ModuleConfig& module, uint64_t frame, double seconds, uint8_t* out) {
  std::memset(out, 0, 48);
  PutU32(out, static_cast<uint32_t>(frame));
  for (int c = 0; c < kMezzanineChannels; ++c) {
    const SlotConfig& slot = module.slots[static_cast<size_t>(c / 2)];
    if (!slot.present) continue;
    const Signal& s = module.mezzanine[static_cast<size_t>(c)];
    const uint16_t word = s.kind == SignalKind::Counter
                              ? static_cast<uint16_t>((s.start + frame) & 0xFFFF)
                              : MezzanineWord(slot.type, SignalValue(s, seconds, frame));
    out[4 + 2 * c] = static_cast<uint8_t>(word & 0xFF);
    out[5 + 2 * c] = static_cast<uint8_t>(word >> 8);
  }
  for (int c = 0; c < kDirectInputs; ++c) {
    const Signal& s = module.direct[static_cast<size_t>(c)];
    out[36 + c] = s.kind == SignalKind::Counter ? static_cast<uint8_t>((s.start + frame) & 0xFF)
                                                : DirectByte(SignalValue(s, seconds, frame));
  }
  uint8_t ttl = 0;
  for (int b = 0; b < kTtlLines; ++b) {
    const Signal& s = module.ttl[static_cast<size_t>(b)];
    const bool high = s.kind == SignalKind::Counter ? ((s.start + frame) & 1) != 0
                                                    : SignalValue(s, seconds, frame) >= 0.5;
    if (high) ttl = static_cast<uint8_t>(ttl | (1u << b));
  }
  out[45] = ttl;
}

}  // namespace quillbox::sim
