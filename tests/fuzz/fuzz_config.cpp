// libFuzzer target: the palette configuration reader on arbitrary text.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumaweave::fuzz::Workspace workspace;
    const std::string failure = lumaweave::fuzz::run_config(workspace, {data, size});
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_config: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
