// quillbox setup: opens the module (IADC3 Test, so that every tab is present) and shows the
// driver's setup dialog; with --screenshot DIR it renders each tab into DIR/<tab>.png instead,
// which needs no display.

#include <filesystem>
#include <iostream>

#include "cli/Commands.h"

namespace quillbox::cli {

void AddSetupCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand("setup", "Show the driver's setup dialog");
  auto dir = std::make_shared<std::string>();
  cmd->add_option("--screenshot", *dir,
                  "Render each tab of the dialog into DIR/<tab>.png and exit (no display needed)")
      ->type_name("DIR");
  cmd->callback([&ctx, &run, dir] {
    run = [&ctx, dir] {
      auto adc = ctx.Adc();
      if (ctx.OpenModule() != kExitOk) {
        // A module choice that names no module is an error; a module that does not open
        // leaves the General tab to set up.
        if (ctx.ChoiceRefused()) return kExitFailure;
        PrintError("no module opened; only the General tab is shown");
      }
      std::string error;
      if (!dir->empty()) {
        if (!ctx.Tools().Screenshots(ctx.Driver(), *dir, error)) {
          PrintError(error);
          return kExitFailure;
        }
        // One picture per tab: "General" always, "ADC" and "DIO" for what was detected.
        const std::filesystem::path folder(*dir);
        std::cout << (folder / "General.png").string() << '\n';
        if (adc->Detected()) std::cout << (folder / "ADC.png").string() << '\n';
        if (ctx.Dio()->Detected()) std::cout << (folder / "DIO.png").string() << '\n';
        return kExitOk;
      }
      if (!ctx.Tools().ShowSetup(ctx.Driver(), error)) {
        PrintError(error);
        return kExitFailure;
      }
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
