#include "cli/ArgParsing.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace quillbox::cli {
namespace {

constexpr int kLastChannel = 31;

bool ParseChannel(const std::string& text, int& channel) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  channel = std::stoi(text);
  return channel <= kLastChannel;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool ParseChannelList(const std::string& text, std::vector<int16_t>& channels, std::string& error) {
  channels.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    const std::size_t dash = item.find('-');
    int first = 0, last = 0;
    const bool ok = dash == std::string::npos
                        ? ParseChannel(item, first) && ParseChannel(item, last)
                        : ParseChannel(Trim(item.substr(0, dash)), first) &&
                              ParseChannel(Trim(item.substr(dash + 1)), last) && first <= last;
    if (!ok) {
      error = item.empty() ? "empty entry in \"" + text + "\""
                           : "\"" + item + "\" is not a channel 0..31 or a range such as 16-18";
      return false;
    }
    // The length is the recording engine's to judge; the text bounds it.
    for (int c = first; c <= last; ++c) channels.push_back(static_cast<int16_t>(c));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

namespace {

// A positive number followed by one of `units` (name, factor); false when it is not one.
bool ParseWithUnit(const std::string& text,
                   const std::vector<std::pair<std::string, double>>& units, double& value) {
  const std::string t = Trim(text);
  char* end = nullptr;
  const double number = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || !std::isfinite(number) || !(number > 0)) return false;
  const std::string unit = Trim(std::string(end));
  for (const auto& [name, factor] : units) {
    if (unit == name) {
      value = number * factor;
      return std::isfinite(value);
    }
  }
  return false;
}

}  // namespace

bool ParseDuration(const std::string& text, double& seconds, std::string& error) {
  if (ParseWithUnit(text, {{"", 1}, {"s", 1}, {"min", 60}, {"h", 3600}, {"d", 86400}}, seconds))
    return true;
  error = "\"" + text + "\" is not a time such as 90s, 30min, 1h or 2d";
  return false;
}

bool ParseSize(const std::string& text, uint64_t& bytes, std::string& error) {
  double value = 0;
  if (ParseWithUnit(text,
                    {{"B", 1},
                     {"kB", 1e3},
                     {"MB", 1e6},
                     {"GB", 1e9},
                     {"TB", 1e12},
                     {"KiB", 1024.0},
                     {"MiB", 1048576.0},
                     {"GiB", 1073741824.0},
                     {"TiB", 1099511627776.0}},
                    value) &&
      value >= 1 && value < 1.8e19) {
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
