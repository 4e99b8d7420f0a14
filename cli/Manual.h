#pragma once
// quillbox generate man|bash-completion: the manual page and the bash completion script, made from
// the command's own definition (the texts --help shows). Hidden from --help; the build runs it.

#include <CLI/CLI.hpp>

namespace quillbox::cli {

void AddGenerateCommand(CLI::App& app);

}  // namespace quillbox::cli
