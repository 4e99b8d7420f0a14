#include "cli/ArgParsing.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "recording/Columns.h"

namespace quillbox::cli {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool ParseChannelList(const std::string& text, std::vector<int16_t>& channels, std::string& error) {
  return recording::SelectChannels(text, {}, channels, error);
}

namespace {

struct Unit {
  const char* name;
  double factor;
};

constexpr Unit kCountUnits[] = {{"", 1}, {"k", 1e3}, {"M", 1e6}, {"G", 1e9}};
constexpr Unit kRateUnits[] = {{"", 1},   {"k", 1e3},   {"M", 1e6},
                               {"Hz", 1}, {"kHz", 1e3}, {"MHz", 1e6}};
constexpr Unit kTimeUnits[] = {{"", 1},      {"ms", 1e-3}, {"s", 1},   {"min", 60}, {"h", 3600},
                               {"d", 86400}, {"k", 1e3},   {"M", 1e6}, {"G", 1e9}};
constexpr Unit kSizeUnits[] = {{"", 1},
                               {"B", 1},
                               {"k", 1e3},
                               {"M", 1e6},
                               {"G", 1e9},
                               {"kB", 1e3},
                               {"MB", 1e6},
                               {"GB", 1e9},
                               {"TB", 1e12},
                               {"KiB", 1024.0},
                               {"MiB", 1048576.0},
                               {"GiB", 1073741824.0},
                               {"TiB", 1099511627776.0}};

const char* Example(Quantity kind) {
  switch (kind) {
    case Quantity::Count:
      return "a number such as 500 or 10k";
    case Quantity::Rate:
      return "a rate such as 50, 1k or 2.5kHz";
    case Quantity::Time:
      return "a time such as 90s, 30min, 1h or 2d";
    case Quantity::Size:
      break;
  }
  return "a size such as 500MB, 1.5GB or 64KiB";
}

template <std::size_t N>
bool Scale(const std::string& unit, const Unit (&units)[N], double& value) {
  for (const Unit& u : units) {
    if (unit == u.name) {
      value *= u.factor;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseQuantity(const std::string& text, Quantity kind, double& value, std::string& error) {
  const std::string t = Trim(text);
  char* end = nullptr;
  double number = std::strtod(t.c_str(), &end);
  const std::string unit = Trim(std::string(end));
  const bool scaled = kind == Quantity::Count  ? Scale(unit, kCountUnits, number)
                      : kind == Quantity::Rate ? Scale(unit, kRateUnits, number)
                      : kind == Quantity::Time ? Scale(unit, kTimeUnits, number)
                                               : Scale(unit, kSizeUnits, number);
  if (end == t.c_str() || !scaled || !std::isfinite(number)) {
    error = "\"" + text + "\" is not " + Example(kind);
    return false;
  }
  value = number;
  return true;
}

CLI::Validator QuantityText(Quantity kind) {
  return CLI::Validator(
      [kind](std::string& text) -> std::string {
        const std::string t = Trim(text);
        char* end = nullptr;
        std::strtod(t.c_str(), &end);
        if (end != t.c_str() && *end == '\0') return "";  // a plain number (nan too) as typed
        double value = 0;
        std::string error;
        if (!ParseQuantity(text, kind, value, error)) return error;
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", value);
        text = number;
        return "";
      },
      "");
}

bool ParseDuration(const std::string& text, double& seconds, std::string& error) {
  if (ParseQuantity(text, Quantity::Time, seconds, error) && seconds > 0) return true;
  error = "\"" + text + "\" is not a time such as 90s, 30min, 1h or 2d";
  return false;
}

bool ParseSize(const std::string& text, uint64_t& bytes, std::string& error) {
  double value = 0;
  if (ParseQuantity(text, Quantity::Size, value, error) && value >= 1 && value < 1.8e19) {
    bytes = static_cast<uint64_t>(value);
    return true;
  }
  error = "\"" + text + "\" is not a size such as 500MB, 1.5GB or 64KiB";
  return false;
}

bool ParseLong(const std::string& text, int32_t& value, std::string& error) {
  const std::string t = Trim(text);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(t.c_str(), &end, 0);
  if (t.empty() || end != t.c_str() + t.size() || errno != 0 || v < INT32_MIN || v > 0xFFFFFFFFLL) {
    error = "\"" + text + "\" is not a 32-bit number";
    return false;
  }
  value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(v) & 0xFFFFFFFF));
  return true;
}

}  // namespace quillbox::cli
