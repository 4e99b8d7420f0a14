#pragma once
// `quillbox record --config FILE`: options kept in a file, one a line, as a service's
// configuration (/etc/quillbox/NAME.conf, see packaging/quillbox-record.conf):
//
//   # a comment
//   --channels 0-7,16
//   --output /srv/lab/run 1.csv
//   --force
//
// A line holds an option as written on the command line and, after the first blank, its value:
// the rest of the line, spaces kept, no quotes. `--name=value` stays one word. Blank lines and
// lines starting with `#` are skipped.

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quillbox::cli {

// The command line without the program name, each `--config FILE` of a sub-command that defines
// --config replaced by the options of FILE. Lines naming an option of the command itself
// (--device, --bench) move before the sub-command, where the parser takes them. The options are
// then parsed as if typed: an unknown or repeated one is the parser's usage error. Nothing, with
// the reason said, when a file cannot be read or a line is no option.
std::optional<std::vector<std::string>> ExpandOptionFiles(const CLI::App& app, int argc,
                                                          const char* const* argv);

}  // namespace quillbox::cli
