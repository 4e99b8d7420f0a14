#pragma once
// The catalogue of mezzanine types and the two fixed sources (direct converter inputs and TTL
// lines): names, units, range texts, scales in converter codes per unit and zero offsets.
// Texts are UTF-8.

#include <cstdint>
#include <string>

#include "channels/ChannelTypes.h"

namespace quillbox {

// Type name of a mezzanine ("U10", "I20", ..., "Empty" for 255, "Unknown" otherwise).
std::string GetModuleName(uint8_t type);
// Unit of the type's range ("V", "mA", "Ohm", "mV"; "??" for codes outside the catalogue).
std::string GetModuleUnit(uint8_t type);
// Range text with its unit, e.g. "±10 V", "0…20 mA", "-25…+75 mV", "?? ??".
std::string GetModuleRange(uint8_t type);
// Converter codes per unit: 32768 over the span of the range, computed in double.
float GetModuleScale(uint8_t type);
// The code that stands for the zero of the range.
int32_t GetModuleOffset(uint8_t type);
// Fills a slot's name, range text, unit, scale and offset from its type code.
void DescribeSlot(ModuleSlot& slot);

// The eight direct converter inputs: "0…4.096 V" with the current locale's decimal separator,
// unit "V", scale 256 / 4.096 (4.096 taken in single precision) = 62.499996.
SourceInfo DirectSourceInfo();
// The eight TTL input lines: "0/1 TTL", unit "TTL", scale 1000.
SourceInfo TTLSourceInfo();

// The lowest and highest value of a range text as the catalogue and the two fixed sources write
// it ("±10 V", "0…20 mA", "-25…+75 mV", "0…4,096 V", "0/1 TTL"); false for any other text.
bool RangeLimits(const std::string& rangeText, double& lo, double& hi);

// The decimal separator of the current C locale ("." when the locale gives none).
std::string LocaleDecimalSeparator();

}  // namespace quillbox
