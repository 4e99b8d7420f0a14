#pragma once
// Each quillbox command adds itself to the application; it sets `run` to its action.

#include <functional>

#include <CLI/CLI.hpp>

#include "cli/Context.h"
#include "recording/Request.h"

namespace quillbox::cli {

using Action = std::function<int()>;

void AddAboutCommand(CLI::App& app, Context& ctx, Action& run);
void AddDevicesCommand(CLI::App& app, Context& ctx, Action& run);
void AddInfoCommand(CLI::App& app, Context& ctx, Action& run);
void AddSettingsCommand(CLI::App& app, Context& ctx, Action& run);
void AddRegisterCommand(CLI::App& app, Context& ctx, Action& run);
void AddRecordCommand(CLI::App& app, Context& ctx, Action& run);
void AddReadCommand(CLI::App& app, Context& ctx, Action& run);
void AddDioCommand(CLI::App& app, Context& ctx, Action& run);
void AddSetupCommand(CLI::App& app, Context& ctx, Action& run);
void AddScopeCommand(CLI::App& app, Context& ctx, Action& run);
void AddPlotCommand(CLI::App& app, Context& ctx, Action& run);
void AddUploadCommand(CLI::App& app, Context& ctx, Action& run);

// Says a problem of the recording engine as the command does ("--rate: ...") and returns its exit
// status: kExitUsage for a wrong request, kExitFailure for one the module refused.
inline int PrintProblem(const recording::Problem& problem) {
  PrintError(problem.field.empty() ? problem.message
                                   : "--" + problem.field + ": " + problem.message);
  return problem.usage ? kExitUsage : kExitFailure;
}

}  // namespace quillbox::cli
