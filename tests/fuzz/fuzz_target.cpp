// The libFuzzer entry point, built once per target with FUZZ_TARGET its name.
#include "fuzz/harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return lumaweave::fuzz::fuzz_one(FUZZ_TARGET, {data, size});
}
