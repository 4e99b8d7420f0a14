#include "recording/Columns.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <nlohmann/json.hpp>

namespace quillbox::recording {
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

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

bool SelectChannels(const std::string& text, const std::vector<std::string>& names,
                    std::vector<int16_t>& channels, std::string& error) {
  channels.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    // A name first: names hold dashes, as ranges do.
    const auto named = std::find_if(names.begin(), names.end(), [&item](const std::string& n) {
      return !item.empty() && SameName(n, item);
    });
    const std::size_t dash = item.find('-');
    int first = 0, last = 0;
    if (named != names.end()) {
      first = last = static_cast<int>(named - names.begin());
    } else if (!(dash == std::string::npos
                     ? ParseChannel(item, first) && ParseChannel(item, last)
                     : ParseChannel(Trim(item.substr(0, dash)), first) &&
                           ParseChannel(Trim(item.substr(dash + 1)), last) && first <= last)) {
      error = item.empty() ? "empty entry in \"" + text + "\""
                           : "\"" + item + "\" is not a channel 0..31, a range such as 16-18" +
                                 (names.empty() ? "" : " or a channel's name");
      return false;
    }
    // The length is the recording engine's to judge; the text bounds it.
    for (int c = first; c <= last; ++c) channels.push_back(static_cast<int16_t>(c));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

std::vector<std::string> ChannelNames(IADC3& adc) {
  std::vector<std::string> names;
  for (int16_t c = 0; c < adc.ChannelsCount(); ++c) names.push_back(adc.ChannelName(c));
  return names;
}

std::vector<RecordColumn> ScanListColumns(IADC3& adc, bool raw) {
  std::vector<RecordColumn> columns;
  const BoundedArray<int16_t> list = adc.InputChannels();
  columns.reserve(list.values().size());
  for (int16_t channel : list) {
    RecordColumn c;
    c.channel = channel;
    c.name = adc.ChannelName(channel);
    c.unit = adc.ChannelUnitName(channel);
    c.scale = adc.ChannelUnitScale(channel);
    if (c.name.empty()) c.name = "ch" + std::to_string(channel);
    c.scaled = std::isfinite(c.scale) && c.scale > 0.0f;
    if (!c.scaled) {
      c.scale = 1.0f;
      c.unit = "code";
    }
    if (raw) c.unit = "code";
    columns.push_back(std::move(c));
  }
  return columns;
}

std::string ModuleSerial(ITools& tools) {
  try {
    const auto info = nlohmann::json::parse(tools.InfoJson());
    if (info.contains("board") && info["board"].contains("serial") &&
        info["board"]["serial"].is_string())
      return info["board"]["serial"].get<std::string>();
  } catch (const std::exception&) {
  }
  return "";
}

}  // namespace quillbox::recording
