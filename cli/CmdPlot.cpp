// quillbox plot: draws a recording (FILE.csv with FILE.json beside it) into a PNG with the view
// plug-in: one panel per unit, no display needed. What a damaged file made it leave out is said
// on stderr; a file with nothing to plot is an error.

#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "quillbox/ViewPlugin.h"

namespace quillbox::cli {

void AddPlotCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto* cmd = app.add_subcommand("plot", "Draw a recording into a PNG (no display needed)");
  auto o = std::make_shared<view::PlotOptions>();
  cmd->add_option("file", o->csv, "The recording's CSV file")->required();
  cmd->add_option("-o,--output", o->png, "PNG to write (default: FILE with .png for .csv)");
  cmd->add_option("--channels", o->channels,
                  "Channels to draw: names or channel numbers, comma-separated (default: all)");
  cmd->add_option("--width", o->width, "Width of the picture in pixels (default 1400)")
      ->check(CLI::Range(200, 20000));
  cmd->callback([&run, o] {
    run = [o] {
      if (o->png.empty()) {
        const std::string& csv = o->csv;
        const bool dotCsv = csv.size() > 4 && csv.compare(csv.size() - 4, 4, ".csv") == 0;
        o->png = (dotCsv ? csv.substr(0, csv.size() - 4) : csv) + ".png";
      }
      std::string why;
      const view::ViewPlugin* plugin = view::LoadViewPlugin(QUILLBOX_BIN_TO_PRIVATE, why);
      if (plugin == nullptr) {
        PrintError(why);
        return kExitFailure;
      }
      std::vector<std::string> messages;
      const int code = plugin->plot(*o, messages);
      for (const std::string& m : messages) PrintError(m);
      if (code == kExitOk) std::cout << o->png << '\n';
      return code;
    };
  });
}

}  // namespace quillbox::cli
