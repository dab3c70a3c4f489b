// The replaced global allocation functions live in a unit of their own so that the compiler
// never inlines them into callers and mistakes the malloc/free pairing for a mismatch.
#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> allocation_count{0};
}  // namespace

std::size_t allocations_so_far() noexcept {
    return allocation_count.load();
}

void* operator new(std::size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
