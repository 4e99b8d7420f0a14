// quillbox read: opens the module and reads current values channel by channel (GetChannel), with
// names and units: the channels named, or every channel that has a value to give.

#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "recording/Columns.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::ordered_json;

struct Reading {
  int16_t channel = 0;
  int16_t code = 0;
  std::string name, unit;
  float scale = 0.0f;
};

// The channels `given` names; with none, every channel whose slot holds a known mezzanine.
std::optional<int> ChannelsToRead(IADC3& adc, const std::vector<std::string>& given,
                                  std::vector<int16_t>& channels) {
  const std::vector<std::string> names = recording::ChannelNames(adc);
  for (const std::string& text : given) {
    std::vector<int16_t> part;
    std::string error;
    if (!recording::SelectChannels(text, names, part, error)) {
      PrintError(error);
      return kExitUsage;
    }
    channels.insert(channels.end(), part.begin(), part.end());
  }
  if (given.empty()) {
    for (int16_t c = 0; c < static_cast<int16_t>(names.size()); ++c)
      if (!recording::CheckChannelsUsable(adc, {c})) channels.push_back(c);
  }
  // A channel without a known mezzanine has no value to give, only a made-up 0.
  if (auto problem = recording::CheckChannelsUsable(adc, channels)) return PrintProblem(*problem);
  return std::nullopt;
}

int RunRead(Context& ctx, const std::vector<std::string>& given, bool json) {
  IADC3& adc = *ctx.Adc();
  // Names are known once the module is open, so the channels are taken after the open.
  if (const int opened = ctx.OpenModule(); opened != kExitOk) return opened;
  std::vector<int16_t> channels;
  if (const auto refused = ChannelsToRead(adc, given, channels)) return *refused;
  std::vector<Reading> readings;
  for (int16_t channel : channels) {
    readings.push_back({channel, adc.GetChannel(channel), "", "", 0});
    if (!CallSucceeded(ctx, "reading channel " + std::to_string(channel))) return kExitFailure;
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
      if (r.scale > 0.0f)
        item["value"] = recording::FloatValue(r.code / static_cast<double>(r.scale));
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
      "read", "Open the module and read current values (default: every channel)");
  auto channels = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("CHANNEL", *channels,
                  "Channels by number or name, or ranges, e.g. 0 16-18 AD-Ch1,TTL-In3");
  cmd->add_flag("--json", *json, "Print a JSON array");
  cmd->callback([&ctx, &run, channels, json] {
    run = [&ctx, channels, json] { return RunRead(ctx, *channels, *json); };
  });
}

}  // namespace quillbox::cli
