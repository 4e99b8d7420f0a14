#include "cli/ArgParsing.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

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
