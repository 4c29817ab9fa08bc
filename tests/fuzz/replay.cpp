// Runs saved inputs through a fuzz target without libFuzzer, with any compiler, e.g. to follow
// a finding in a debugger or to measure a corpus's coverage. Prints each input that breaks a
// rule; exits 1 if any did.   Usage: lumaweave_fuzz_replay convert|s05|config|bmp|frame
// FILE_OR_FOLDER...
#include <cstdio>
#include <cstring>

#include "fuzz/harness.hpp"

using namespace lumaweave;

int main(int argc, char** argv) {
    for (const fuzz::Target& target : fuzz::targets) {
        if (argc < 3 || std::strcmp(argv[1], target.name) != 0) continue;
        fuzz::Workspace ws;
        int inputs = 0, failed = 0;
        const auto run = [&](const std::filesystem::path& file) {
            const std::string failure = target.run(ws, test::read_file(file));
            if (!failure.empty()) std::printf("%s: %s\n", file.c_str(), failure.c_str());
            ++inputs;
            failed += !failure.empty();
        };
        for (int i = 2; i < argc; ++i) {
            std::error_code not_a_folder;
            for (const auto& entry : std::filesystem::directory_iterator(argv[i], not_a_folder))
                if (entry.is_regular_file()) run(entry.path());
            if (not_a_folder) run(argv[i]);
        }
        std::printf("%d inputs, %d failed\n", inputs, failed);
        return failed == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s convert|s05|config|bmp|frame FILE_OR_FOLDER...\n", argv[0]);
    return 2;
}
