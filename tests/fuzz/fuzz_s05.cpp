// libFuzzer target: the companion palette reader on an arbitrary ".s05" file.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumaweave::fuzz::Workspace workspace;
    const std::string failure = lumaweave::fuzz::run_s05(workspace, {data, size});
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_s05: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
