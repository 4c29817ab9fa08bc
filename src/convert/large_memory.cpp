#include "convert/large_memory.hpp"

#include <cstdint>
#include <new>

// Not under AddressSanitizer (g++ and clang say so differently), which watches heap memory only.
#if defined(__SANITIZE_ADDRESS__)
#define LUMAWEAVE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMAWEAVE_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && !defined(LUMAWEAVE_ADDRESS_SANITIZER)
#include <sys/mman.h>
#define LUMAWEAVE_HUGE_PAGES 1
#endif

namespace lumaweave {

namespace {

#ifdef LUMAWEAVE_HUGE_PAGES
constexpr std::size_t huge_page = std::size_t{2} << 20;

// Whole huge pages, so that the region's ends do not fall back to small ones.
std::size_t mapped_size(std::size_t size) {
    return (size + huge_page - 1) & ~(huge_page - 1);
}
#endif

}  // namespace

void* allocate_large(std::size_t size) {
#ifdef LUMAWEAVE_HUGE_PAGES
    if (size >= huge_page) {
        const std::size_t length = mapped_size(size);
        // One huge page more than needed, so that an aligned start can be cut out of it.
        void* raw = mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw != MAP_FAILED) {
            const auto start = reinterpret_cast<std::uintptr_t>(raw);
            const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
            if (aligned > start) munmap(raw, aligned - start);
            const std::uintptr_t end = start + length + huge_page;
            if (end > aligned + length)
                munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
            void* p = reinterpret_cast<void*>(aligned);
            // Only advice: where huge pages are off or short, small ones are used.
            madvise(p, length, MADV_HUGEPAGE);
            return p;
        }
        // release_large unmaps every region of this size: no other memory may stand in.
        throw std::bad_alloc();
    }
#endif
    return ::operator new(size);
}

void release_large(void* p, std::size_t size) noexcept {
    if (p == nullptr) return;
#ifdef LUMAWEAVE_HUGE_PAGES
    if (size >= huge_page) {
        munmap(p, mapped_size(size));
        return;
    }
#else
    static_cast<void>(size);  // only the mapped regions need it
#endif
    ::operator delete(p);
}

}  // namespace lumaweave
