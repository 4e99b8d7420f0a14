// quillbox register [PATH]: records a component library (default: the one beside this
// executable) in the registry store, so that hosts create its objects from there first.

#include <iostream>

#include "cli/Commands.h"
#include "host/Registration.h"

namespace quillbox::cli {

void AddRegisterCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto* cmd = app.add_subcommand(
      "register", "Record the component library and its identifiers in the registry store");
  auto path = std::make_shared<std::string>();
  cmd->add_option(
      "PATH", *path,
      "Component library (default: Quillbox.adc beside quillbox, else the installed one)");
  cmd->callback([&run, path] {
    run = [path] {
      const std::string library = path->empty() ? DefaultComponentPath() : *path;
      std::string error;
      std::vector<std::string> ids;
      if (!RegisterComponent(library, error, &ids)) {
        PrintError(error);
        return kExitFailure;
      }
      for (const std::string& id : ids)
        std::cout << "Registered " << id << " -> " << RegisteredComponent(id) << '\n';
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
