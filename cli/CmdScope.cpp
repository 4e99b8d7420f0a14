// quillbox scope: opens the module and shows the scan list as live traces in the scope window of
// the view plug-in, which records through the same engine as `record` (its Record button writes
// the same CSV + FILE.json). Without a display it refuses; --screenshot renders the window
// offscreen after --after seconds of the module's (scaled) clock and exits.

#include <memory>
#include <optional>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "quillbox/ViewPlugin.h"

namespace quillbox::cli {
namespace {

struct ScopeArgs {
  std::string channels;
  std::optional<double> rate;
  bool record = false;
  view::ScopeOptions view;
};

int RunScope(Context& ctx, ScopeArgs& a) {
  recording::Request request;
  std::string error;
  if (!a.channels.empty() && !ParseChannelList(a.channels, request.channels, error)) {
    PrintError("--channels: " + error);
    return kExitUsage;
  }
  request.rate = a.rate;
  if (auto problem = recording::CheckRequest(request)) return PrintProblem(*problem);
  if (!(a.view.windowSeconds >= 0.1 && a.view.windowSeconds <= 3600)) {
    PrintError("--window: " + FloatText(a.view.windowSeconds) +
               " is not a number of seconds between 0.1 and 3600");
    return kExitUsage;
  }
  if (!(a.view.after >= 0 && a.view.after <= 3600)) {
    PrintError("--after: " + FloatText(a.view.after) +
               " is not a number of seconds between 0 and 3600");
    return kExitUsage;
  }
  if (a.view.screenshot.empty() && !DisplayAvailable()) {
    PrintError(
        "the scope needs a display (DISPLAY or WAYLAND_DISPLAY, and a QT_QPA_PLATFORM with a "
        "screen); --screenshot FILE renders it without one");
    return kExitFailure;
  }
  std::string why;
  const view::ViewPlugin* plugin = view::LoadViewPlugin(QUILLBOX_BIN_TO_PRIVATE, why);
  if (plugin == nullptr) {
    PrintError(why);
    return kExitFailure;
  }

  if (int code = ctx.OpenModule(); code != kExitOk) return code;
  a.view.channels = request.channels;
  a.view.rate = a.rate;
  a.view.recordAtStart = a.record;
  a.view.say = PrintError;
  return plugin->scope(*ctx.Adc(), ctx.Tools(), a.view);
}

}  // namespace

void AddScopeCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand("scope", "Show the scan list as live traces (needs a display)");
  auto a = std::make_shared<ScopeArgs>();
  a->view.output = "recording.csv";
  cmd->add_option("-c,--channels", a->channels,
                  "Scan list: channel numbers 0..31 and ranges, e.g. 0,1,16-18 "
                  "(default: the driver's scan list)")
      ->type_name("CHANNELS");
  cmd->add_option("-r,--rate", a->rate,
                  "Frame rate in Hz, e.g. 50 or 1k (default: the stored rate)")
      ->type_name("HZ")
      ->transform(QuantityText(Quantity::Rate));
  cmd->add_option("--window", a->view.windowSeconds,
                  "How long the traces span: 10s, 5min, 1h (default 10 seconds)")
      ->type_name("TIME")
      ->transform(QuantityText(Quantity::Time));
  cmd->add_option("-o,--output", a->view.output,
                  "File the Record button writes, with FILE.json (default recording.csv)")
      ->type_name("FILE");
  cmd->add_flag("--record", a->record, "Start recording at once");
  cmd->add_flag("--force", a->view.force, "Let Record replace FILE and FILE.json");
  cmd->add_option("--screenshot", a->view.screenshot,
                  "Render the window offscreen into FILE (PNG) and exit (no display needed)")
      ->type_name("FILE");
  cmd->add_option("--after", a->view.after,
                  "Seconds of the module's clock before the screenshot (default 2)")
      ->type_name("SECONDS");
  cmd->add_flag("--lanes", a->view.lanes, "Each analog channel in a panel of its own");
  cmd->add_option("--trigger", a->view.trigger,
                  "Freeze the window around an event: CH:rising|falling:LEVEL[:normal|auto], CH a "
                  "channel's number or name, LEVEL in its unit (normal: draw nothing until it)")
      ->type_name("TRIGGER");
  cmd->add_option("--cursors", a->view.cursors,
                  "Place the two cursors at these times of the scope's clock, in seconds; a "
                  "screenshot shows them on the paused view")
      ->expected(2)
      ->delimiter(',')
      ->type_name("A,B");
  cmd->callback([&ctx, &run, a] { run = [&ctx, a] { return RunScope(ctx, *a); }; });
}

}  // namespace quillbox::cli
