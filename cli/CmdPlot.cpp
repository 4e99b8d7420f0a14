// quillbox plot: draws a recording (FILE.csv with FILE.json beside it, or an HDF5 recording, also
// one still being written) into a PNG, SVG or PDF with the view plug-in: one panel per unit,
// digital lines as lanes, no display needed. What a damaged file made it leave out is said on
// stderr; a file with nothing to plot is an error.

#include <iostream>
#include <memory>
#include <string_view>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "quillbox/ViewPlugin.h"

namespace quillbox::cli {

void AddPlotCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto* cmd =
      app.add_subcommand("plot", "Draw a recording into a PNG, SVG or PDF (no display needed)");
  auto o = std::make_shared<view::PlotOptions>();
  cmd->add_option("file", o->csv, "The recording's CSV or HDF5 file")->required();
  cmd->add_option("-o,--output", o->png,
                  "Picture to write, .png, .svg or .pdf (default: FILE with .png for .csv, .h5 "
                  "or .hdf5)")
      ->type_name("FILE");
  cmd->add_option("-c,--channels", o->channels,
                  "Channels to draw: names, channel numbers and ranges of them, comma-separated, "
                  "e.g. 0-7,AD-Ch1 (default: all)")
      ->type_name("CHANNELS");
  cmd->add_option("--width", o->width, "Width of the picture in pixels (default 1400, least 400)")
      ->type_name("PX")
      ->check(CLI::Range(view::kPlotMinWidthPx, 20000));
  cmd->add_option("--height", o->height,
                  "Height of the picture in pixels (default: as the panels need; refused below "
                  "what they need)")
      ->type_name("PX")
      ->check(CLI::Range(100, 20000));
  cmd->add_option("--from", o->from, "Draw from this time of the recording on: 90, 90s, 2min")
      ->type_name("TIME")
      ->transform(QuantityText(Quantity::Time));
  cmd->add_option("--to", o->to, "Draw up to this time of the recording: 120, 120s, 2h")
      ->type_name("TIME")
      ->transform(QuantityText(Quantity::Time));
  cmd->add_flag("--lanes", o->lanes, "Each analog channel in a panel of its own");
  cmd->callback([&run, o] {
    run = [o] {
      if (o->png.empty()) {
        std::string name = o->csv;
        for (const std::string_view end : {".csv", ".h5", ".hdf5"})
          if (name.size() > end.size() && name.ends_with(end))
            name.resize(name.size() - end.size());
        o->png = name + ".png";
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
