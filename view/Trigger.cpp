#include "view/Trigger.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace quillbox::view {

bool ParseTrigger(const std::string& text, const std::vector<recording::RecordColumn>& columns,
                  TriggerSetting& trigger, std::string& error) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ':');) parts.push_back(part);
  error = "--trigger: \"" + text + "\" ";
  if (parts.size() < 3 || parts.size() > 4) {
    error += "is not CH:rising|falling:LEVEL[:normal|auto]";
    return false;
  }
  const auto found = std::find_if(columns.begin(), columns.end(), [&](const auto& c) {
    return std::to_string(c.channel) == parts[0] || c.name == parts[0];
  });
  if (found == columns.end()) {
    error += "names no channel of the scan list";
    return false;
  }
  trigger.column = static_cast<std::size_t>(found - columns.begin());
  if (parts[1] != "rising" && parts[1] != "falling") {
    error += "has \"" + parts[1] + "\" where rising or falling belongs";
    return false;
  }
  trigger.rising = parts[1] == "rising";
  const std::string& level = parts[2];
  const auto [end, ec] = std::from_chars(level.data(), level.data() + level.size(), trigger.level);
  if (ec != std::errc() || end != level.data() + level.size() || level.empty()) {
    error += "has no level in " + found->unit;
    return false;
  }
  if (parts.size() == 4 && parts[3] != "normal" && parts[3] != "auto") {
    error += "has \"" + parts[3] + "\" where normal or auto belongs";
    return false;
  }
  trigger.automatic = parts.size() == 4 && parts[3] == "auto";
  error.clear();
  return true;
}

std::optional<int64_t> FindCrossing(const TriggerSetting& trigger,
                                    const std::function<double(int64_t)>& valueAt, int64_t earliest,
                                    int64_t from, int64_t to) {
  from = std::max(from, earliest + 1);
  if (from >= to) return std::nullopt;
  double before = valueAt(from - 1);
  for (int64_t f = from; f < to; ++f) {
    const double now = valueAt(f);
    if (trigger.rising ? (before < trigger.level && now >= trigger.level)
                       : (before > trigger.level && now <= trigger.level))
      return f;
    before = now;
  }
  return std::nullopt;
}

}  // namespace quillbox::view
