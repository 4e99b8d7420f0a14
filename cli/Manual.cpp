#include "cli/Manual.h"

#include <iostream>
#include <string>
#include <vector>

#include "cli/Help.h"

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
    {"QUILLBOX_RUNTIME_DIR",
     "Folder of the simulated modules' state (which process has a module open, its output "
     "lines); default $XDG_RUNTIME_DIR/quillbox, else /tmp/quillbox-UID."},
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

constexpr const char* kFiles[][2] = {
    {"~/.config/quillbox/registry.sqlite3",
     "The settings store: the driver's settings (scan list, rate, ...) and the registered "
     "component (see register)."},
    {"FILE, FILE.json", "A recording (default recording.csv) and its description, see RECORDINGS."},
    {"/etc/quillbox/NAME.conf",
     "Options of the service quillbox-record@NAME, one a line; an example is in "
     "/usr/share/doc/quillbox/examples/record.conf."},
    {"/var/lib/quillbox/NAME", "Where the service quillbox-record@NAME writes its recordings."},
};

constexpr const char* kRecordings =
    "FILE is CSV: a header line frame,time_s,NAME (UNIT),... and one row a frame: its number from "
    "0, its time in seconds from the start (to the microsecond) and each channel's value in its "
    "unit with seven significant digits (codes, unit \"code\", with --raw or for a channel "
    "without a usable scale). FILE.json describes it as one JSON object: start_utc, "
    "rate_requested, rate (what the module delivers), channels, names, units, scales (value = "
    "code / scale), serial, raw, frames (rows so far), frames_expected, complete (false while "
    "recording and after a killed run), stop_reason (recording, end, SIGINT, SIGTERM, SIGHUP, "
    "stalled, short, write error, low disk, rotated) and error (the message, or null). A name "
    "ending .h5 or .hdf5 makes one HDF5 file instead: the dataset values (frames x channels) "
    "with the description as attributes of the root group.";

constexpr const char* kExamples[][2] = {
    {"quillbox devices", "The modules attached on USB."},
    {"quillbox record -c 0,1,16-18 -r 50 -d 10s -o run.csv",
     "Ten seconds of five channels at 50 Hz into run.csv and run.csv.json."},
    {"quillbox record -c AD-Ch1,TTL-In3 -r 1k -d 2h -o run.h5 --rotate 500MB",
     "Two channels by name at the highest rate for two hours, as HDF5 segments of 500 MB."},
    {"quillbox read", "The current value of every channel."},
    {"quillbox dio --write 0x0F", "Set the outputs, read the inputs."},
    {"quillbox plot run.csv", "Draw the recording into run.png."},
};

constexpr const char* kSeeAlso =
    "systemctl(1), journalctl(1), h5dump(1); /usr/share/doc/quillbox/examples/record.conf";

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

// Text for roff: backslashes and dashes escaped, lines broken at blanks to at most 80 bytes, and
// no line taken for a request.
std::string Roff(const std::string& text) {
  constexpr std::size_t kLine = 80;
  std::string out, line;
  const auto flush = [&out, &line] {
    out += (out.empty() ? "" : "\n") + line;
    line.clear();
  };
  std::size_t lineStart = 0;  // where the line's text began in `text`
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      flush();
      lineStart = i + 1;
      continue;
    }
    if (c == ' ') {  // a break here when the next word, escaped, would not fit
      std::size_t word = 0;
      for (std::size_t j = i + 1; j < text.size() && text[j] != ' ' && text[j] != '\n'; ++j)
        word += text[j] == '-' || text[j] == '\\' ? 2 : 1;
      if (!line.empty() && line.size() + 1 + word > kLine) {
        flush();
        lineStart = i + 1;
        continue;
      }
    }
    if ((c == '.' || c == '\'') && i == lineStart) line += "\\&";
    line += c == '\\' ? "\\e" : c == '-' ? "\\-" : std::string(1, c);
  }
  flush();
  return out;
}

void ManOptions(std::ostream& out, const CLI::App& app, bool withHelp) {
  for (const CLI::Option* opt : Options(app, withHelp)) {
    out << ".TP\n\\fB" << Roff(opt->get_name(opt->get_positional(), true)) << "\\fR";
    if (TakesValue(*opt) && !opt->get_positional())
      out << " \\fI" << Roff(ValueName(*opt)) << "\\fR";
    out << '\n' << Roff(opt->get_description()) << '\n';
  }
}

// A section of tagged paragraphs: each item's tag in bold, its text below.
template <std::size_t N>
void ManList(std::ostream& out, const char* section, const char* const (&items)[N][2]) {
  out << ".SH " << section << '\n';
  for (const auto& [tag, text] : items)
    out << ".TP\n.B " << Roff(tag) << '\n' << Roff(text) << '\n';
}

void ManPage(std::ostream& out, const CLI::App& app, const std::string& version) {
  out << ".TH QUILLBOX 1 " << QUILLBOX_RELEASE_DATE << " \"" << Roff(version)
      << "\" \"User Commands\"\n"
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
  out << ".SH RECORDINGS\n" << Roff(kRecordings) << '\n';
  ManList(out, "FILES", kFiles);
  ManList(out, "ENVIRONMENT", kEnvironment);
  ManList(out, "EXIT STATUS", kExitStatus);
  ManList(out, "EXAMPLES", kExamples);
  out << ".SH SEE ALSO\n" << Roff(kSeeAlso) << '\n';
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
