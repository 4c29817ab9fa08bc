// The command line parsed as the program parses it, from the arguments after its name.
#pragma once

#include <string>
#include <vector>

#include "cli/options.hpp"

namespace lumaweave::test {

inline cli::ParseResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), cli::program_name);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    return cli::parse_command_line(static_cast<int>(argv.size()), argv.data());
}

}  // namespace lumaweave::test
