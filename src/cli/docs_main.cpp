// lumaweave-cli-docs: writes the manual page or the bash completion of lumaweave-cli, made from
// its option table. The build runs it; it is not installed.
//     lumaweave-cli-docs man|completion OUTPUT
#include <cstdio>
#include <fstream>
#include <string_view>

#include "cli/docs.hpp"

int main(int argc, char** argv) {
    const std::string_view what = argc == 3 ? argv[1] : "";
    if (what != "man" && what != "completion") {
        std::fprintf(stderr, "usage: lumaweave-cli-docs man|completion OUTPUT\n");
        return 2;
    }
    const std::string text =
        what == "man" ? lumaweave::cli::manual_page() : lumaweave::cli::bash_completion();
    std::ofstream out(argv[2], std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
