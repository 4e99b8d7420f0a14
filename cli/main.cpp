// quillbox: command-line host of the E-270 driver component.

#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "cli/Help.h"
#include "cli/Manual.h"
#include "cli/OptionFile.h"
#include "platform/Clock.h"
#include "quillbox/CreateObject.h"

namespace {

// The refusal of a bench file by the simulated vendor library behind the component; "" when the
// bench is fine or the vendor library has no such check.
std::string BenchProblem() {
  using BenchErrorFn = const char* (*)();
  const auto fn = reinterpret_cast<BenchErrorFn>(
      quillbox::ComponentSymbol("Quillbox.E_270", "QuillboxBenchError"));
  const char* text = fn != nullptr ? fn() : nullptr;
  return text != nullptr ? text : "";
}

// Says once, at the end of a command, what went wrong with the settings store; the driver object
// has been released by then, so a failed save is part of it.
void ReportStoreProblem() {
  const auto get = reinterpret_cast<quillbox::ITools* (*)()>(
      quillbox::ComponentSymbol("Quillbox.E_270", "QuillboxTools"));
  quillbox::ITools* tools = get != nullptr ? get() : nullptr;
  const std::string problem = tools != nullptr ? tools->StoreProblem() : "";
  if (!problem.empty()) quillbox::cli::PrintError("settings store " + problem);
}

}  // namespace

int main(int argc, char** argv) try {
  using namespace quillbox::cli;
  CLI::App app{"quillbox - record from and drive an E-270 acquisition module", "quillbox"};
  // Set before the commands are added: each takes the formatter and failure text of its parent.
  app.formatter(std::make_shared<HelpFormatter>());
  app.failure_message(UsageFailure);
  app.footer("Run 'quillbox COMMAND --help' for the options of a command.");
  app.set_version_flag("--version", std::string("quillbox ") + QUILLBOX_VERSION);
  app.require_subcommand(1);
  Context ctx;
  app.add_option("--bench", ctx.benchFile,
                 "Simulated bench file (JSON); default: $QUILLBOX_BENCH or the built-in bench")
      ->check(CLI::ExistingFile);
  app.add_option("--device", ctx.device,
                 "Module to open: its serial or its port as `devices` lists it (USB1 is device "
                 "0), or COM1..COM8; default: $QUILLBOX_DEVICE")
      ->type_name("DEVICE");

  Action run;
  AddAboutCommand(app, ctx, run);
  AddDevicesCommand(app, ctx, run);
  AddInfoCommand(app, ctx, run);
  AddSettingsCommand(app, ctx, run);
  AddRegisterCommand(app, ctx, run);
  AddRecordCommand(app, ctx, run);
  AddReadCommand(app, ctx, run);
  AddDioCommand(app, ctx, run);
  AddSetupCommand(app, ctx, run);
  AddScopeCommand(app, ctx, run);
  AddPlotCommand(app, ctx, run);
  AddUploadCommand(app, ctx, run);
  AddGenerateCommand(app);
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    if (!command->get_group().empty()) command->group("Commands");
    command->footer("");  // the pointer to each command's help is for the command list only
  }

  // `record --config FILE` reads options from the file (a service's configuration).
  if (argc == 1) {  // a bare `quillbox`: what it can do
    std::cout << app.help();
    return kExitOk;
  }
  auto args = ExpandOptionFiles(app, argc, argv);
  if (!args) return kExitUsage;
  try {
    std::reverse(args->begin(), args->end());  // the parser takes the words last first
    app.parse(*args);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  ctx.ApplyGlobals();
  if (const std::string problem = quillbox::platform::TimeScaleProblem(); !problem.empty()) {
    PrintError(problem);
    return kExitFailure;
  }
  // `plot` reads recordings only: it neither loads the component nor looks at the bench.
  const bool usesModule = !app.got_subcommand("plot");
  if (const std::string problem = usesModule ? BenchProblem() : ""; !problem.empty()) {
    PrintError(problem);
    return kExitFailure;
  }
  int code = kExitFailure;
  try {
    code = run ? run() : kExitOk;
  } catch (const quillbox::CreateObjectError& e) {
    PrintError(e.what());
  } catch (const std::exception& e) {
    PrintError(e.what());
  }
  ctx.Release();
  if (usesModule) ReportStoreProblem();
  return code;
} catch (const std::exception& e) {
  // What the setup above can throw: no memory, an option that cannot be defined.
  quillbox::cli::PrintError(e.what());
  return quillbox::cli::kExitFailure;
}
