#include "io/scratch_pool.hpp"

#include <cstdlib>

namespace lumaweave {

std::uint8_t* ScratchPool::alloc(std::size_t n) {
    if (count_ >= capacity) return nullptr;
    auto* block = static_cast<std::uint8_t*>(std::malloc(n != 0 ? n : 1));
    blocks_[count_++] = block;
    return block;
}

void ScratchPool::free_all() {
    while (count_ > 0) {
        --count_;
        std::free(blocks_[count_]);
        blocks_[count_] = nullptr;
    }
}

}  // namespace lumaweave
