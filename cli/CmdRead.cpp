// quillbox read: opens the module and reads current values, channel by channel (GetChannel) or
// the whole scan list at once (GetKadr), with names and units.

#include <iostream>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::ordered_json;

struct Reading {
  int16_t channel = 0;
  int16_t code = 0;
  std::string name, unit;
  float scale = 0.0f;
};

int RunRead(Context& ctx, const std::vector<std::string>& given, bool json) {
  IADC3& adc = *ctx.Adc();
  std::vector<int16_t> channels;
  for (const std::string& text : given) {
    std::vector<int16_t> part;
    std::string error;
    if (!ParseChannelList(text, part, error)) {
      PrintError(error);
      return kExitUsage;
    }
    channels.insert(channels.end(), part.begin(), part.end());
  }
  if (const int opened = ctx.OpenModule(); opened != kExitOk) return opened;
  // A channel without a known mezzanine has no value to give, only a made-up 0.
  if (auto problem = recording::CheckChannelsUsable(
          adc, channels.empty() ? adc.InputChannels().values() : channels))
    return PrintProblem(*problem);
  std::vector<Reading> readings;
  if (channels.empty()) {
    // One frame of the driver's scan list.
    const BoundedArray<int16_t> list = adc.InputChannels();
    const BoundedArray<int16_t> codes = adc.GetKadr();
    if (!CallSucceeded(ctx, "reading a frame")) return kExitFailure;
    std::size_t i = 0;
    for (int16_t channel : list) {
      readings.push_back({channel, i < codes.size() ? codes.values()[i] : int16_t{0}, "", "", 0});
      ++i;
    }
  } else {
    for (int16_t channel : channels) {
      readings.push_back({channel, adc.GetChannel(channel), "", "", 0});
      if (!CallSucceeded(ctx, "reading channel " + std::to_string(channel))) return kExitFailure;
    }
  }
  for (Reading& r : readings) {
    r.name = adc.ChannelName(r.channel);
    r.unit = adc.ChannelUnitName(r.channel);
    r.scale = adc.ChannelUnitScale(r.channel);
  }

  if (json) {
    Json list = Json::array();
    for (const Reading& r : readings) {
      Json item = {{"channel", r.channel}, {"name", r.name}, {"code", r.code}, {"unit", r.unit}};
      if (r.scale > 0.0f) item["value"] = r.code / static_cast<double>(r.scale);
      list.push_back(item);
    }
    std::cout << list.dump(2) << '\n';
    return kExitOk;
  }
  TextTable table(
      {{"Ch", Align::Right}, {"Name"}, {"Value", Align::Right}, {"Unit"}, {"Code", Align::Right}});
  for (const Reading& r : readings) {
    table.Add({std::to_string(r.channel), r.name,
               r.scale > 0.0f ? FloatText(r.code / static_cast<double>(r.scale)) : "", r.unit,
               std::to_string(r.code)});
  }
  table.Print(std::cout);
  return kExitOk;
}

}  // namespace

void AddReadCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "read", "Open the module and read current values (default: one frame of the scan list)");
  auto channels = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("CHANNEL", *channels, "Channels 0..31 or ranges such as 16-18");
  cmd->add_flag("--json", *json, "Print a JSON array");
  cmd->callback([&ctx, &run, channels, json] {
    run = [&ctx, channels, json] { return RunRead(ctx, *channels, *json); };
  });
}

}  // namespace quillbox::cli
