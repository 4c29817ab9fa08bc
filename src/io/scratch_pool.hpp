// Memory for file contents. Blocks are never freed one by one: the owner of the pool empties it
// all at once at fixed points (after a drop, after each batch file, at the end of a batch).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumaweave {

class ScratchPool {
  public:
    static constexpr int capacity = 256;

    ScratchPool() = default;
    ~ScratchPool() { free_all(); }
    ScratchPool(const ScratchPool&) = delete;
    ScratchPool& operator=(const ScratchPool&) = delete;

    // A block of n bytes (a distinct one also for n == 0), or nullptr when memory cannot be
    // had. A failed allocation takes an entry too. When every entry is taken the request fails
    // rather than growing the table, so nothing is ever written past it.
    std::uint8_t* alloc(std::size_t n);

    // Frees every block, newest first.
    void free_all();

    int count() const { return count_; }

  private:
    std::array<std::uint8_t*, capacity> blocks_{};
    int count_ = 0;
};

}  // namespace lumaweave
