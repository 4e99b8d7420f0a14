// quillbox about: the driver's identity and its recording settings, without opening a module,
// and which component library was loaded and how it was found.

#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "quillbox/CreateObject.h"

namespace quillbox::cli {

void AddAboutCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "about", "Show the driver's identity and recording settings, and which component is loaded");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print one JSON object");
  cmd->callback([&ctx, &run, json] {
    run = [&ctx, json] {
      auto adc = ctx.Adc();
      auto dio = ctx.Dio();
      const auto channels = adc->InputChannels();
      const ComponentOrigin component = FindComponentOrigin("Quillbox.E_270");
      if (*json) {
        nlohmann::json j = {{"adc_name", adc->ADCName()},
                            {"dio_name", dio->DIOName()},
                            {"version", ctx.Tools().ComponentVersion()},
                            {"resolution", adc->Resolution()},
                            {"channels_count", adc->ChannelsCount()},
                            {"rate_max", adc->RateMax()},
                            {"rate", adc->Rate()},
                            {"input_size", adc->InputSizeData()},
                            {"scan_list", channels.values()},
                            {"detected", adc->Detected()},
                            {"component", {{"path", component.path}, {"found", component.how}}}};
        std::cout << j.dump(2) << '\n';
        return kExitOk;
      }
      std::cout << "Driver        " << adc->ADCName() << " (component "
                << ctx.Tools().ComponentVersion() << ")\n"
                << "Component     " << component.path << "\n"
                << "              (" << component.how
                << (component.how == "registered" ? "; `quillbox register --remove` undoes it" : "")
                << ")\n"
                << "Resolution    " << int(adc->Resolution()) << " bit\n"
                << "Channels      " << adc->ChannelsCount() << " logical\n"
                << "Rate          " << adc->Rate() << " Hz (max " << adc->RateMax() << " Hz)\n"
                << "Ring size     " << adc->InputSizeData() << " frames\n"
                << "Scan list     ";
      const char* sep = "";
      for (int16_t c : channels) {
        std::cout << sep << c;
        sep = ", ";
      }
      std::cout << '\n';
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
