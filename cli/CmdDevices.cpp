// quillbox devices: the E-270 modules attached on USB.

#include <iostream>

#include "cli/Commands.h"

namespace quillbox::cli {

void AddDevicesCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand("devices", "List the E-270 modules attached on USB");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print one JSON array");
  cmd->callback([&ctx, &run, json] {
    run = [&ctx, json] {
      const std::string text = ctx.Tools().DevicesJson();
      if (*json)
        std::cout << text << '\n';
      else
        PrintDevices(text, std::cout);
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
