// quillbox dio: opens the module, optionally writes the output lines, then shows the lines. The
// output values of a recording's start and stop belong to the driver object of one process, so
// they are given to `record` (--do-start, --do-stop); here they are refused rather than shown
// as set and lost with the process.

#include <cstdio>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::ordered_json;

struct DioOptions {
  std::string write, start, stop;  // start and stop only to be refused
  bool json = false;
};

// "0x00A5 (165)": upper-case hex padded to four places, then the decimal value.
std::string HexText(int32_t value) {
  char text[48];
  std::snprintf(text, sizeof text, "0x%04X (%d)", static_cast<unsigned>(value), value);
  return text;
}

int RunDio(Context& ctx, const DioOptions& o) {
  if (!o.start.empty() || !o.stop.empty()) {
    PrintError(std::string(o.start.empty() ? "--stop" : "--start") +
               ": the outputs at a recording's start and stop last only for the recording of "
               "the same process; give them to record as --do-start and --do-stop");
    return kExitUsage;
  }
  int32_t write = 0;
  std::string error;
  if (!o.write.empty() && !ParseLong(o.write, write, error)) {
    PrintError(error);
    return kExitUsage;
  }
  IDIO& dio = *ctx.Dio();
  if (const int opened = ctx.OpenModule(); opened != kExitOk) return opened;
  if (!o.write.empty()) {
    dio.DOValue(write);
    if (!CallSucceeded(ctx, "writing the outputs")) return kExitFailure;
  }
  const int32_t inputs = dio.DIValue();
  if (!CallSucceeded(ctx, "reading the inputs")) return kExitFailure;
  const int32_t outputs = dio.DOValue();
  if (o.json) {
    Json j = {{"name", dio.DIOName()},
              {"di_bits", dio.DIBits()},
              {"do_bits", dio.DOBits()},
              {"inputs", inputs},
              {"outputs", outputs},
              {"start_enabled", dio.DOStartEnabled()},
              {"start_value", dio.DOStartValue()},
              {"stop_enabled", dio.DOStopEnabled()},
              {"stop_value", dio.DOStopValue()}};
    std::cout << j.dump(2) << '\n';
    return kExitOk;
  }
  std::cout << "Inputs   " << HexText(inputs) << "  (" << int(dio.DIBits()) << " lines)\n"
            << "Outputs  " << HexText(outputs) << "  (" << int(dio.DOBits()) << " lines)\n";
  if (dio.DOStartEnabled()) std::cout << "At start " << HexText(dio.DOStartValue()) << '\n';
  if (dio.DOStopEnabled()) std::cout << "At stop  " << HexText(dio.DOStopValue()) << '\n';
  return kExitOk;
}

}  // namespace

void AddDioCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand("dio", "Open the module, read and write its digital lines");
  auto o = std::make_shared<DioOptions>();
  cmd->add_option("--write", o->write, "Put VALUE on the output lines (decimal or 0x hex)")
      ->type_name("VALUE");
  // Refused with a pointer to record's options; left out of the help.
  cmd->add_option("--start", o->start)->group("");
  cmd->add_option("--stop", o->stop)->group("");
  cmd->add_flag("--json", o->json, "Print one JSON object");
  cmd->callback([&ctx, &run, o] { run = [&ctx, o] { return RunDio(ctx, *o); }; });
}

}  // namespace quillbox::cli
