#include "sky/heap_tally.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace sky::testing {

namespace {

std::atomic<bool> tallying{false};
std::atomic<long long> heldBytes{0};
std::atomic<long long> peakBytes{0};

void* allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block)
        throw std::bad_alloc();
    if (tallying.load(std::memory_order_relaxed)) {
        const long long now =
            heldBytes.fetch_add(static_cast<long long>(malloc_usable_size(block))) +
            static_cast<long long>(malloc_usable_size(block));
        long long peak = peakBytes.load();
        while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
        }
    }
    return block;
}

void release(void* block) noexcept {
    if (block && tallying.load(std::memory_order_relaxed))
        heldBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)));
    std::free(block);
}

} // namespace

HeapTally::HeapTally() {
    heldBytes = 0;
    peakBytes = 0;
    tallying = true;
}

HeapTally::~HeapTally() {
    tallying = false;
}

long long HeapTally::held() const {
    return heldBytes.load();
}

long long HeapTally::peak() const {
    return peakBytes.load();
}

} // namespace sky::testing

void* operator new(std::size_t size) {
    return sky::testing::allocate(size);
}
void* operator new[](std::size_t size) {
    return sky::testing::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return sky::testing::allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* block) noexcept {
    sky::testing::release(block);
}
void operator delete[](void* block) noexcept {
    sky::testing::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    sky::testing::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    sky::testing::release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    sky::testing::release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    sky::testing::release(block);
}
