#pragma once
// How the command's help and its usage errors read: each option with the name of its value (FILE,
// SECONDS, csv|hdf5), never the parser's types and checks, descriptions wrapped beside the
// options, and errors as "quillbox: ..." with where to find the help.

#include <string>

#include <CLI/CLI.hpp>

namespace quillbox::cli {

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter();
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
  std::string make_option_opts(const CLI::Option* opt) const override;
  std::string make_option_desc(const CLI::Option* opt) const override;
  std::string make_subcommand(const CLI::App* sub) const override;
};

// The value an option takes as help and the manual page show it: its type name without the
// checks CLI11 appends ("FILE", "SECONDS"), a set of words as "off|rising|falling"; "" for a
// flag.
std::string ValueName(const CLI::Option& opt);

// The text of a usage error of `app` (the commands parsed so far under it): "quillbox: " and
// the parser's reason, then the help command to run.
std::string UsageFailure(const CLI::App* app, const CLI::Error& error);

}  // namespace quillbox::cli
