#pragma once
// What a simulated module is made of: its EEPROM pages built from the bench description, the
// page-0 check sum, and the raw 48-byte frames synthesised from the input signals.

#include <array>
#include <cstdint>

#include "sim/BenchConfig.h"

namespace quillbox::sim {

using EepromPage = std::array<uint8_t, kPageSize>;
using EepromImage = std::array<EepromPage, kPageCount>;

// Page 0 keeps a CRC-16 (polynomial 0x1021, start 0xFFFF, no reflection) of bytes 0..125 in
// bytes 126 (low) and 127 (high), inside the descriptor's unused tail.
constexpr int kChecksumOffset = 126;
uint16_t PageChecksum(const uint8_t* page);
bool ChecksumValid(const uint8_t* page);

// Board descriptor on page 0, mezzanine descriptors on pages 1..8 (an empty slot's page reads as
// erased memory, all 0xFF), then the raw overrides, then page 0's check sum (deliberately wrong
// when crc_ok is false).
EepromImage BuildEeprom(const ModuleConfig& module);

// The code a mezzanine of `type` produces for `value` in its unit: the 32768-code span covers the
// range, the range's zero sits at the type's zero-offset code; codes below 0 use the device's
// 0xC000..0xFFFF encoding, the result is clamped to -16384..49151.
uint16_t MezzanineWord(uint8_t type, double value);
// Direct inputs: 0..4.096 V over codes 0..255 (62.5 codes per volt), clamped.
uint8_t DirectByte(double volts);
// Value of a non-counter signal at device time `seconds` for frame `frame`.
double SignalValue(const Signal& signal, double seconds, uint64_t frame);

// Writes frame number `frame` (device time `seconds`) of `module` into 48 bytes at `out`.
void SynthesiseFrame(const ModuleConfig& module, uint64_t frame, double seconds, uint8_t* out);

}  // namespace quillbox::sim
