// quillbox devices: the E-270 modules attached on USB.

#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/TextTable.h"

namespace quillbox::cli {

void AddDevicesCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand("devices", "List the E-270 modules attached on USB");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print one JSON array");
  cmd->callback([&ctx, &run, json] {
    run = [&ctx, json] {
      const std::string text = ctx.Tools().DevicesJson();
      if (*json) {
        std::cout << text << '\n';
        return kExitOk;
      }
      const auto list = nlohmann::json::parse(text);
      if (list.empty()) {
        std::cout << "No E-270 module found on USB.\n";
        return kExitOk;
      }
      TextTable table({{"Device", Align::Right}, {"Port"}, {"Board"}, {"Serial"}});
      for (const auto& e : list) {
        table.Add({std::to_string(e.value("device", -1)), e.value("port", ""), e.value("board", ""),
                   e.value("serial", "")});
      }
      table.Print(std::cout);
      std::cout
          << "Use --device <serial> or --device usbN to pick one when several are attached.\n";
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
