// libFuzzer target: the whole conversion of a picture, its settings, companion palette and default
// palette drawn from the input.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > lumaweave::fuzz::max_convert_input) return 0;  // large pictures only slow it down
    static lumaweave::fuzz::Workspace workspace;
    const std::string failure = lumaweave::fuzz::run_convert(workspace, {data, size});
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_convert: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
