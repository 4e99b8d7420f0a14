#include "cli/Help.h"

#include <cctype>
#include <sstream>

namespace quillbox::cli {
namespace {

constexpr std::size_t kWidth = 80;       // of the terminal the help is laid out for
constexpr std::size_t kNameColumn = 26;  // where the descriptions start

// `text` broken at blanks into lines that fit beside the option names.
std::string Wrap(const std::string& text) {
  std::istringstream words(text);
  std::string out, line;
  for (std::string word; words >> word;) {
    if (!line.empty() && line.size() + 1 + word.size() > kWidth - kNameColumn) {
      out += line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line;
}

}  // namespace

HelpFormatter::HelpFormatter() {
  column_width(kNameColumn);
  label("Subcommands", "Commands");
  label("SUBCOMMAND", "COMMAND");
  label("Positionals", "Arguments");
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode mode) const {
  std::string text = CLI::Formatter::make_help(app, std::move(name), mode);
  // Options left out of the help (no group) still leave a blank line of their own.
  for (auto at = text.find("\n\n\n"); at != std::string::npos; at = text.find("\n\n\n"))
    text.erase(at, 1);
  return text;
}

std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  const std::string value = opt->get_positional() ? "" : ValueName(*opt);
  return value.empty() ? "" : " " + value;
}

std::string HelpFormatter::make_option_desc(const CLI::Option* opt) const {
  return Wrap(opt->get_description());
}

std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
  std::stringstream out;
  CLI::detail::format_help(out, sub->get_name(), Wrap(sub->get_description()), kNameColumn);
  return out.str();
}

std::string ValueName(const CLI::Option& opt) {
  if (opt.get_type_size() == 0) return "";
  const std::string type = opt.get_type_name();
  if (const auto open = type.find('{'); open != std::string::npos) {
    std::string words = type.substr(open + 1, type.find('}', open) - open - 1);
    for (char& c : words) c = c == ',' ? '|' : c;
    return words;
  }
  // An existence check names the value better than TEXT does.
  if (type == "TEXT:FILE" || type == "TEXT:DIR") return type.substr(5);
  if (type == "TEXT:PATH(existing)") return "PATH";
  return type.substr(0, type.find(':'));
}

std::string UsageFailure(const CLI::App* app, const CLI::Error& error) {
  std::string command = app->get_name();
  for (const CLI::App* sub = app; !sub->get_subcommands().empty();) {
    sub = sub->get_subcommands().front();
    command += " " + sub->get_name();
  }
  // The parser's "subcommand" is what the help calls a command.
  std::string reason = error.what();
  for (const auto& [from, to] : {std::pair{"Subcommand", "Command"}, {"subcommand", "command"}})
    for (auto at = reason.find(from); at != std::string::npos; at = reason.find(from, at))
      reason.replace(at, std::string(from).size(), to);
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(reason[0]));
  return "quillbox: " + reason + "\nRun '" + command + " --help' for its options.\n";
}

}  // namespace quillbox::cli
