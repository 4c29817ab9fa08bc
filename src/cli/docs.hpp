// The manual page and the bash completion of lumaweave-cli, made from its option table when the
// program is built (by lumaweave-cli-docs), so that neither can miss an option.
#pragma once

#include <string>

namespace lumaweave::cli {

// The manual page, lumaweave-cli(1), in the man macros of roff.
std::string manual_page();

// A bash completion script for lumaweave-cli: the options, the named values of those that have
// them, folders after --output-dir, and pictures and folders as the files to convert.
std::string bash_completion();

}  // namespace lumaweave::cli
