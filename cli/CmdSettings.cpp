// quillbox settings: the registry-export text of the driver's settings key, or of any key below
// HKEY_CURRENT_USER. The text is produced with CR LF line ends; it is printed with the
// terminal's "\n" unless --crlf asks for the bytes exactly as produced (e.g. for a .reg file).
// Only the component's tools are used: no driver object is created, so nothing is written.

#include <iostream>

#include "cli/Commands.h"
#include "quillbox/CreateObject.h"

namespace quillbox::cli {
namespace {

std::string ToLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

struct SettingsOptions {
  std::string key;
  bool recursive = false;
  bool crlf = false;
};

}  // namespace

void AddSettingsCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto* cmd = app.add_subcommand(
      "settings", "Print the stored settings (or any key below HKEY_CURRENT_USER) as export text");
  auto options = std::make_shared<SettingsOptions>();
  cmd->add_option("--key", options->key,
                  "Key below HKEY_CURRENT_USER, e.g. Software\\Tarn (default: the settings key "
                  "Software\\Tarn\\ADC\\L-Card\\E-270; HKEY_CURRENT_USER for the root)")
      ->type_name("KEY");
  cmd->add_flag("-r,--recursive", options->recursive, "Include every sub-key, depth-first");
  cmd->add_flag("--crlf", options->crlf, "Keep the CR LF line ends of the export text");
  cmd->callback([&run, options] {
    run = [options] {
      constexpr const char* kProgId = "Quillbox.E_270";
      auto get = reinterpret_cast<ITools* (*)()>(ComponentSymbol(kProgId, "QuillboxTools"));
      ITools* tools = get != nullptr ? get() : nullptr;
      if (tools == nullptr) {
        const std::string found = FindComponent(kProgId);
        PrintError(found.empty() ? "no component serves " + std::string(kProgId)
                                 : found + " has no tools interface");
        return kExitFailure;
      }
      const std::string text = tools->ExportKey(options->key, options->recursive);
      if (text.empty()) {
        // A store that cannot be read hides every key: main says what is wrong with it.
        if (!tools->StoreProblem().empty()) return kExitFailure;
        if (options->key.empty())
          PrintError(
              "the settings key does not exist yet: it is made when a driver object is first "
              "created (for example by `quillbox about`)");
        else
          PrintError("no key HKEY_CURRENT_USER\\" + options->key + " in the registry store");
        return kExitFailure;
      }
      std::cout << (options->crlf ? text : ToLf(text)) << std::flush;
      return kExitOk;
    };
  });
}

}  // namespace quillbox::cli
