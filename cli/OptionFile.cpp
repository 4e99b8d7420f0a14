#include "cli/OptionFile.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "cli/Context.h"

namespace quillbox::cli {
namespace {

constexpr const char* kBlanks = " \t\r";  // \r: a file written with Windows line ends

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

struct FileOption {
  std::string name;                  // as written: --rate, -r
  std::optional<std::string> value;  // the rest of the line
};

// Says what is wrong with `line`, line `number` of the option file `path`.
void SayLine(const std::string& path, int number, const std::string& line, const char* what) {
  PrintError("--config " + path + ":" + std::to_string(number) + ": \"" + line + "\"" + what);
}

// The options of the file at `path`; nothing, with the reason said, when it cannot be read or a
// line is no option.
std::optional<std::vector<FileOption>> ReadOptionFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    PrintError("--config " + path + ": " + std::generic_category().message(errno));
    return std::nullopt;
  }
  std::vector<FileOption> options;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const auto blank = line.find_first_of(kBlanks);
    FileOption option{line.substr(0, blank), std::nullopt};
    if (option.name.size() < 2 || option.name[0] != '-') {
      SayLine(path, number, line,
              " is no option; a line holds one as on the command line, e.g. "
              "--rate 100");
      return std::nullopt;
    }
    if (option.name == "--config" || option.name.starts_with("--config=")) {
      SayLine(path, number, line, ": an option file cannot name another");
      return std::nullopt;
    }
    if (blank != std::string::npos) option.value = Trimmed(line.substr(blank));
    options.push_back(std::move(option));
  }
  if (in.bad()) {  // a folder, a read error
    PrintError("--config " + path + ": cannot be read");
    return std::nullopt;
  }
  return options;
}

// Whether `word` is an option of `app` that takes the next word as its value.
bool TakesNextWord(const CLI::App& app, const std::string& word) {
  if (word.find('=') != std::string::npos) return false;
  const CLI::Option* option = app.get_option_no_throw(word);
  return option != nullptr && option->get_type_size_min() > 0;
}

}  // namespace

std::optional<std::vector<std::string>> ExpandOptionFiles(const CLI::App& app, int argc,
                                                          const char* const* argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  // The sub-command is the first word that is neither an option of the command nor its value.
  std::size_t sub = 0;
  while (sub < words.size() && words[sub] != "--" && words[sub].starts_with("-"))
    sub += TakesNextWord(app, words[sub]) ? 2 : 1;
  if (sub >= words.size()) return words;
  const auto named =
      app.get_subcommands([&](const CLI::App* s) { return s->check_name(words[sub]); });
  if (named.empty() || named[0]->get_option_no_throw("--config") == nullptr) return words;
  const CLI::App& command = *named[0];

  std::vector<std::string> global(words.begin(), words.begin() + static_cast<long>(sub) + 1);
  std::vector<std::string> own;
  for (std::size_t i = sub + 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    std::string path;
    if (word == "--") {
      own.insert(own.end(), words.begin() + static_cast<long>(i), words.end());
      break;
    }
    if (word == "--config" && i + 1 < words.size()) {
      path = words[++i];
    } else if (word.starts_with("--config=")) {
      path = word.substr(9);
    } else {
      own.push_back(word);  // a --config without its file too: the parser says so
      continue;
    }
    const auto options = ReadOptionFile(path);
    if (!options) return std::nullopt;
    for (const FileOption& option : *options) {
      const bool ofCommand = command.get_option_no_throw(option.name) == nullptr &&
                             app.get_option_no_throw(option.name) != nullptr;
      auto& into = ofCommand ? global : own;
      auto at = ofCommand ? into.end() - 1 : into.end();  // before the sub-command's name
      // A long option takes its value in the same word, so a value starting with '-' stays one.
      if (!option.value) {
        into.insert(at, option.name);
      } else if (option.name.starts_with("--")) {
        into.insert(at, option.name + "=" + *option.value);
      } else {
        into.insert(at, {option.name, *option.value});
      }
    }
  }
  global.insert(global.end(), own.begin(), own.end());
  return global;
}

}  // namespace quillbox::cli
