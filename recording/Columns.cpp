#include "recording/Columns.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace quillbox::recording {

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
