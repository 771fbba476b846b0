#include "allocations.h"

#include <cstdlib>
#include <new>

namespace {

long Live = 0;
std::size_t FailFrom = 0;
const void* RecentlyFreed[256];
int FreedCount = 0;

} // namespace

long LiveAllocations() {
    return Live;
}

bool WasFreed(const void* block) {
    for (int i = 0; i < FreedCount && i < 256; ++i) {
        if (RecentlyFreed[i] == block)
            return true;
    }
    return false;
}

void ForgetFreedBlocks() {
    FreedCount = 0;
}

void FailAllocationsFrom(std::size_t bytes) {
    FailFrom = bytes;
}

void* operator new(std::size_t size) {
    if (FailFrom != 0 && size >= FailFrom)
        throw std::bad_alloc();
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++Live;
    return block;
}
void operator delete(void* block) noexcept {
    if (block) {
        --Live;
        RecentlyFreed[FreedCount++ % 256] = block;
    }
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}
