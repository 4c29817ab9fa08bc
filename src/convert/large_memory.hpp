// Memory for the few large, long-lived buffers of a conversion (megabytes each). A process that
// converts one picture touches them all once: on Linux they come in huge pages where the system
// allows them on request, which takes one page fault per 2 MiB instead of 512.
#pragma once

#include <cstddef>
#include <type_traits>

namespace lumaweave {

// Never null (throws std::bad_alloc); `size` must be given back to release_large.
void* allocate_large(std::size_t size);
void release_large(void* p, std::size_t size) noexcept;

// An array of such memory, left uninitialised: only what is written is touched.
template <class T>
class LargeArray {
    static_assert(std::is_trivially_default_constructible_v<T> &&
                  std::is_trivially_destructible_v<T>);
    static_assert(alignof(T) <= alignof(std::max_align_t));

  public:
    explicit LargeArray(std::size_t count)
        : data_(static_cast<T*>(allocate_large(count * sizeof(T)))), count_(count) {}
    ~LargeArray() { release_large(data_, count_ * sizeof(T)); }
    LargeArray(const LargeArray&) = delete;
    LargeArray& operator=(const LargeArray&) = delete;

    T* get() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }

  private:
    T* data_;
    std::size_t count_;
};

}  // namespace lumaweave
