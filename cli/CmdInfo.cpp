// quillbox info: opens the module (IADC3 Test) and describes it: board, mezzanines, ranges and
// the 32 logical channels.

#include <cstdio>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/TextTable.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::ordered_json;

// "0x00A5 (165)": upper-case hex padded to four places, then the decimal value.
std::string HexText(unsigned long bits, long value) {
  char text[48];
  std::snprintf(text, sizeof text, "0x%04lX (%ld)", bits, value);
  return text;
}

std::string HexText(long value) {
  return HexText(static_cast<unsigned long>(value) & 0xFFFFFFFFul, value);
}

std::string ClockText(long hz) {
  if (hz > 0 && hz % 1000000 == 0) return std::to_string(hz / 1000000) + " MHz";
  if (hz > 0 && hz % 1000 == 0) return std::to_string(hz / 1000) + " kHz";
  return std::to_string(hz) + " Hz";
}

void PrintInfo(const Json& j, std::ostream& out) {
  const Json& board = j["board"];
  const Json& dio = j["dio"];
  const int basePort = j.value("base_port", 0);
  out << board.value("name", "") << " on " << board.value("port", "") << '\n';
  TextTable head({{"", Align::Left}, {""}});
  head.Add({"Serial", board.value("serial", "")});
  head.Add({"Revision", board.value("revision", "")});
  head.Add({"Processor", board.value("processor", "")});
  head.Add({"Clock", ClockText(board.value("clock_hz", 0L))});
  head.Add({"Base port", HexText(static_cast<unsigned>(basePort) & 0xFFFFu, basePort)});
  if (dio.value("detected", false)) {
    head.Add({"Digital in",
              std::to_string(dio.value("di_bits", 0)) + " lines, " + HexText(dio.value("di", 0L))});
    head.Add({"Digital out",
              std::to_string(dio.value("do_bits", 0)) + " lines, " + HexText(dio.value("do", 0L))});
  }
  // The head table has no titles; print it without its title line.
  std::ostringstream body;
  head.Print(body);
  const std::string text = body.str();
  out << text.substr(text.find('\n') + 1);

  out << "\nMezzanines\n";
  TextTable slots({{"Slot", Align::Right},
                   {"Type", Align::Right},
                   {"Module"},
                   {"Version"},
                   {"Serial"},
                   {"Range"},
                   {"Unit"},
                   {"Scale", Align::Right},
                   {"Offset", Align::Right}});
  for (const auto& s : j["slots"]) {
    const bool empty = s.value("type", 0) == 255;
    slots.Add({std::to_string(s.value("slot", 0)), std::to_string(s.value("type", 0)),
               s.value("name", ""), empty ? "-" : s.value("version", ""),
               empty ? "-" : s.value("serial", ""), s.value("range", ""), s.value("unit", ""),
               FloatText(s.value("scale", 0.0)), std::to_string(s.value("offset", 0))});
  }
  slots.Print(out);

  out << "\nRanges (value = code / scale)\n";
  TextTable ranges({{"Row", Align::Right}, {"Range"}, {"Unit"}, {"Scale", Align::Right}});
  int row = 0;
  for (const auto& r : j["ranges"]) {
    ranges.Add({std::to_string(row++), r.value("text", ""), r.value("unit", ""),
                FloatText(r.value("scale", 0.0))});
  }
  ranges.Print(out);

  out << "\nChannels\n";
  TextTable channels({{"Ch", Align::Right},
                      {"Name"},
                      {"Row", Align::Right},
                      {"Range"},
                      {"Unit"},
                      {"Scale", Align::Right}});
  const Json& rangeList = j["ranges"];
  for (const auto& c : j["channels"]) {
    const int r = c.value("range", 0);
    const bool known = r >= 0 && static_cast<std::size_t>(r) < rangeList.size();
    const Json none = Json::object();
    const Json& range = known ? rangeList[static_cast<std::size_t>(r)] : none;
    channels.Add({std::to_string(c.value("channel", 0)), c.value("name", ""), std::to_string(r),
                  range.value("text", ""), range.value("unit", ""),
                  known ? FloatText(range.value("scale", 0.0)) : ""});
  }
  channels.Print(out);
}

}  // namespace

void AddInfoCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "info", "Open the module and describe it: board, mezzanines, ranges and channels");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print one JSON object (also when the module cannot be opened)");
  cmd->callback([&ctx, &run, json] {
    run = [&ctx, json] {
      const int opened = ctx.OpenModule();
      const std::string text = ctx.Tools().InfoJson();
      if (*json) std::cout << text << '\n';
      if (opened != kExitOk) return opened;
      if (!*json) PrintInfo(Json::parse(text), std::cout);
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
