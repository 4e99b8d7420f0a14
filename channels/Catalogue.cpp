#include "channels/Catalogue.h"

#include <charconv>
#include <clocale>

namespace quillbox {
namespace {

constexpr const char* kPlusMinus = "\xC2\xB1";     // U+00B1
constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026

enum class Shape { Bipolar, Unipolar, Thermo, Unknown };

struct TypeEntry {
  uint8_t code;
  const char* name;
  const char* unit;
  Shape shape;
  const char* number;  // the number of the range text
  double span;         // width of the range in units
  int32_t offset;
};

// The whole vocabulary of mezzanine types; every other code is unknown.
constexpr TypeEntry kTypes[] = {
    {9, "U01", "V", Shape::Bipolar, "1", 2.0, 16384},
    {10, "U10", "V", Shape::Bipolar, "10", 20.0, 16384},
    {11, "U20", "V", Shape::Unipolar, "20", 20.0, 0},
    {12, "U30", "V", Shape::Unipolar, "30", 30.0, 0},
    {13, "U300", "V", Shape::Unipolar, "300", 300.0, 0},
    {20, "I5", "mA", Shape::Unipolar, "5", 5.0, 0},
    {21, "I10", "mA", Shape::Bipolar, "10", 20.0, 16384},
    {22, "I20", "mA", Shape::Unipolar, "20", 20.0, 0},
    {31, "R100", "Ohm", Shape::Unipolar, "100", 100.0, 0},
    {32, "R250", "Ohm", Shape::Unipolar, "250", 250.0, 0},
    {40, "T", "mV", Shape::Thermo, "", 100.0, 8192},
};

constexpr TypeEntry kEmpty = {255, "Empty", "??", Shape::Unknown, "", 100.0, 0};
constexpr TypeEntry kUnknown = {0, "Unknown", "??", Shape::Unknown, "", 100.0, 0};

const TypeEntry& Lookup(uint8_t type) {
  for (const TypeEntry& e : kTypes) {
    if (e.code == type) return e;
  }
  return type == 255 ? kEmpty : kUnknown;
}

}  // namespace

std::string GetModuleName(uint8_t type) { return Lookup(type).name; }

std::string GetModuleUnit(uint8_t type) { return Lookup(type).unit; }

std::string GetModuleRange(uint8_t type) {
  const TypeEntry& e = Lookup(type);
  const std::string unit = e.unit;
  switch (e.shape) {
    case Shape::Bipolar:
      return std::string(kPlusMinus) + e.number + " " + unit;
    case Shape::Unipolar:
      return std::string("0") + kEllipsis + e.number + " " + unit;
    case Shape::Thermo:
      return std::string("-25") + kEllipsis + "+75 " + unit;
    case Shape::Unknown:
      break;
  }
  return "?? " + unit;
}

float GetModuleScale(uint8_t type) { return static_cast<float>(32768.0 / Lookup(type).span); }

int32_t GetModuleOffset(uint8_t type) { return Lookup(type).offset; }

void DescribeSlot(ModuleSlot& slot) {
  slot.ModuleName = GetModuleName(slot.ModuleType);
  slot.RangeText = GetModuleRange(slot.ModuleType);
  slot.UnitName = GetModuleUnit(slot.ModuleType);
  slot.Scale = GetModuleScale(slot.ModuleType);
  slot.Offset = GetModuleOffset(slot.ModuleType);
}

std::string LocaleDecimalSeparator() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the process changes the locale meanwhile
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0') {
    return ".";
  }
  return conv->decimal_point;
}

bool RangeLimits(const std::string& rangeText, double& lo, double& hi) {
  const std::size_t space = rangeText.rfind(' ');
  if (space == std::string::npos) return false;
  std::string numbers = rangeText.substr(0, space);
  for (char& ch : numbers)
    if (ch == ',') ch = '.';  // a decimal comma of the locale the text was made in
  // Read without the locale, which the text may not have been made in.
  const auto number = [](std::string text, double& value) {
    if (text.starts_with('+')) text.erase(0, 1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
  };
  const std::string plusMinus = kPlusMinus;
  if (numbers.starts_with(plusMinus)) {
    if (!number(numbers.substr(plusMinus.size()), hi)) return false;
    lo = -hi;
    return hi > 0;
  }
  std::size_t split = numbers.find(kEllipsis);
  std::size_t width = std::string(kEllipsis).size();
  if (split == std::string::npos) split = numbers.find('/'), width = 1;
  return split != std::string::npos && number(numbers.substr(0, split), lo) &&
         number(numbers.substr(split + width), hi) && hi > lo;
}

SourceInfo DirectSourceInfo() {
  SourceInfo info;
  info.RangeText = std::string("0") + kEllipsis + "4" + LocaleDecimalSeparator() + "096 V";
  info.UnitName = "V";
  // 4.096 is a single-precision constant in the quotient, so the scale is 62.499996, not 62.5.
  const float fullScale = 4.096f;
  info.Scale = static_cast<float>(256.0 / static_cast<double>(fullScale));
  return info;
}

SourceInfo TTLSourceInfo() {
  SourceInfo info;
  info.RangeText = "0/1 TTL";
  info.UnitName = "TTL";
  info.Scale = 1000.0f;
  return info;
}

}  // namespace quillbox
