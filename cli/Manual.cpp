#include "cli/Manual.h"

#include <iostream>
#include <string>
#include <vector>

namespace quillbox::cli {
namespace {

// What --help does not say, kept here beside the definition the rest of the page comes from.
constexpr const char* kEnvironment[][2] = {
    {"QUILLBOX_BENCH", "Simulated bench file, as --bench."},
    {"QUILLBOX_DEVICE", "Module to open, as --device."},
    {"QUILLBOX_REGISTRY",
     "Settings store; default ~/.config/quillbox/registry.sqlite3 (below $XDG_CONFIG_HOME when "
     "set)."},
    {"QUILLBOX_COMPONENT",
     "Component library to load when none is registered and none lies beside the command."},
    {"QUILLBOX_TIME_SCALE",
     "Runs every clock of the process this many times faster (0.001 to 999999; other values are "
     "refused)."},
};

constexpr const char* kExitStatus[][2] = {
    {"0", "Success."},
    {"1",
     "The module could not be opened, a start was refused, or a recording, read or digital-I/O "
     "call failed; the reason follows \"quillbox: \" on standard error."},
    {"2", "A usage error."},
};

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
}

std::vector<const CLI::Option*> Options(const CLI::App& app, bool withHelp) {
  return app.get_options([&app, withHelp](const CLI::Option* opt) {
    return !opt->get_group().empty() && (withHelp || opt != app.get_help_ptr());
  });
}

// Flags have no type name; options that take a value show theirs (TEXT, INT:{a,b}, DIR...).
bool TakesValue(const CLI::Option& opt) { return !opt.get_type_name().empty(); }

// Text for roff: backslashes escaped, no line taken for a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n')) out += "\\&";
      out += c;
    }
  }
  return out;
}

void ManOptions(std::ostream& out, const CLI::App& app, bool withHelp) {
  for (const CLI::Option* opt : Options(app, withHelp)) {
    out << ".TP\n\\fB" << Roff(opt->get_name(opt->get_positional(), true)) << "\\fR";
    if (TakesValue(*opt) && !opt->get_positional())
      out << " \\fI" << Roff(opt->get_type_name()) << "\\fR";
    out << '\n' << Roff(opt->get_description()) << '\n';
  }
}

void ManPage(std::ostream& out, const CLI::App& app, const std::string& version) {
  out << ".TH QUILLBOX 1 \"\" \"" << Roff(version) << "\" \"User Commands\"\n"
      << ".SH NAME\n"
      << Roff(app.get_description()) << "\n"
      << ".SH SYNOPSIS\n"
      << ".B quillbox\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fICOMMAND OPTIONS\\fR]\n"
      << ".SH OPTIONS\n";
  ManOptions(out, app, true);
  out << ".SH COMMANDS\n";
  for (const CLI::App* cmd : Commands(app)) {
    std::string usage = "quillbox " + cmd->get_name();
    if (!Options(*cmd, false).empty()) usage += " [OPTIONS]";
    for (const CLI::Option* opt : cmd->get_options()) {
      if (opt->get_positional()) usage += " [" + opt->get_name(true) + "]";
    }
    out << ".SS \"" << Roff(usage) << "\"\n" << Roff(cmd->get_description()) << '\n';
    ManOptions(out, *cmd, false);
  }
  out << ".SH ENVIRONMENT\n";
  for (const auto& [name, text] : kEnvironment)
    out << ".TP\n.B " << name << '\n' << Roff(text) << '\n';
  out << ".SH EXIT STATUS\n";
  for (const auto& [code, text] : kExitStatus)
    out << ".TP\n.B " << code << '\n' << Roff(text) << '\n';
}

// Option words of one (sub)command, and what the value of each option that takes one completes to:
// a file, a folder, one of a set, or nothing particular (bash's default, file names).
void BashOptions(std::ostream& out, const CLI::App& app, const std::string& key) {
  std::string words;
  for (const CLI::Option* opt : Options(app, true)) {
    if (opt->get_positional()) continue;
    for (const std::string& s : opt->get_snames()) words += " -" + s;
    for (const std::string& l : opt->get_lnames()) words += " --" + l;
    if (!TakesValue(*opt)) continue;
    const std::string type = opt->get_type_name();
    std::string action = "default";
    if (const auto open = type.find('{'); open != std::string::npos) {
      action = "words:";
      action.append(type, open + 1, type.find('}', open) - open - 1);
      for (char& c : action) c = c == ',' ? ' ' : c;
    } else if (type.find("DIR") != std::string::npos) {
      action = "dirs";
    }
    for (const std::string& s : opt->get_snames())
      out << "  values[\"" << key << " -" << s << "\"]='" << action << "'\n";
    for (const std::string& l : opt->get_lnames())
      out << "  values[\"" << key << " --" << l << "\"]='" << action << "'\n";
  }
  out << "  options[\"" << key << "\"]='" << words.substr(words.empty() ? 0 : 1) << "'\n";
}

void BashCompletion(std::ostream& out, const CLI::App& app) {
  std::string commands;
  for (const CLI::App* cmd : Commands(app))
    commands += (commands.empty() ? "" : " ") + cmd->get_name();
  out << "# bash completion for quillbox, made by `quillbox generate bash-completion`\n"
      << "_quillbox() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "  local -A options values\n";
  BashOptions(out, app, "quillbox");
  for (const CLI::App* cmd : Commands(app)) BashOptions(out, *cmd, cmd->get_name());
  out << "  local commands='" << commands << "' command='' i\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    [[ \" $commands \" == *\" ${COMP_WORDS[i]} \"* ]] && { command=${COMP_WORDS[i]}; "
         "break; }\n"
      << "  done\n"
      << "  local action=${values[\"${command:-quillbox} $prev\"]}\n"
      << "  case $action in\n"
      << "    words:*) COMPREPLY=($(compgen -W \"${action#words:}\" -- \"$cur\")); return ;;\n"
      << "    dirs) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
      << "    default) return ;;\n"
      << "  esac\n"
      << "  if [[ $cur == -* ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"${options[${command:-quillbox}]}\" -- \"$cur\"))\n"
      << "  elif [[ -z $command ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
      << "  fi\n"
      << "}\n"
      << "complete -o default -F _quillbox quillbox\n";
}

}  // namespace

void AddGenerateCommand(CLI::App& app) {
  // No group: left out of --help, of the manual page and of the completion.
  auto* cmd = app.add_subcommand("generate", "")->group("");
  auto what = std::make_shared<std::string>();
  cmd->add_option("WHAT", *what)->required()->check(CLI::IsMember({"man", "bash-completion"}));
  cmd->callback([&app, what] {
    if (*what == "man")
      ManPage(std::cout, app, std::string("quillbox ") + QUILLBOX_VERSION);
    else
      BashCompletion(std::cout, app);
    throw CLI::Success();
  });
}

}  // namespace quillbox::cli
