// quillbox register [PATH]: records a component library (default: the one beside this
// executable) in the registry store, so that hosts create its objects from there first;
// `register --remove` takes the record away again.

#include <iostream>

#include "cli/Commands.h"
#include "host/Registration.h"

namespace quillbox::cli {
namespace {

int Register(const std::string& path) {
  const std::string library = path.empty() ? DefaultComponentPath() : path;
  std::string error;
  std::vector<std::string> ids;
  if (!RegisterComponent(library, error, &ids)) {
    PrintError(error);
    return kExitFailure;
  }
  for (const std::string& id : ids)
    std::cout << "Registered " << id << " -> " << RegisteredComponent(id) << '\n';
  PrintMessage(Severity::Notice,
               "every host of this user, installed ones too, now loads this component; "
               "`quillbox register --remove` undoes it");
  return kExitOk;
}

int Unregister() {
  std::string error;
  std::vector<std::pair<std::string, std::string>> removed;
  if (!UnregisterComponent(error, &removed)) {
    PrintError(error);
    return kExitFailure;
  }
  for (const auto& [id, library] : removed)
    std::cout << "Removed " << id << " -> " << library << '\n';
  if (removed.empty()) PrintMessage(Severity::Notice, "no component was registered");
  return kExitOk;
}

}  // namespace

void AddRegisterCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto* cmd = app.add_subcommand(
      "register",
      "Record the component library in the registry store: every host of this user loads it "
      "from then on, until `register --remove`");
  auto path = std::make_shared<std::string>();
  auto remove = std::make_shared<bool>(false);
  auto* library = cmd->add_option(
      "PATH", *path,
      "Component library (default: Quillbox.adc beside quillbox, else the installed one)");
  cmd->add_flag("--remove", *remove,
                "Remove the record: hosts load the component beside them or installed with "
                "them again")
      ->excludes(library);
  cmd->callback([&run, path, remove] {
    run = [path, remove] { return *remove ? Unregister() : Register(*path); };
  });
}

}  // namespace quillbox::cli
