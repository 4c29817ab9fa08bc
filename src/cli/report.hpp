// What --report and --auto print for each file, as text or as JSON.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "cli/options.hpp"
#include "quality/quality_converter.hpp"

namespace lumaweave::cli {

// A command line that converts `file` as `settings` do: every option whose value differs from
// its initial one, the configuration named (if any), the file name quoted for a POSIX shell.
std::string reproducing_command(const ConversionSettings& settings,
                                const std::optional<std::string>& config, const std::string& file,
                                const std::string& picture_options = {});

// The tiles stored for each third of the screen with --dedupe.
using TileCounts = std::array<int, 3>;

// The lines printed for one converted file (each ending in a newline; empty when nothing is
// asked), with the tiles --dedupe stored when given.
std::string file_report(const Options& options, const std::string& file,
                        const quality::FileQuality& record,
                        const std::optional<TileCounts>& tiles = std::nullopt);

}  // namespace lumaweave::cli
