// The bytes the process holds on its heap through operator new, tallied while a HeapTally lives,
// for tests that show how much a piece of work holds at its peak (malloc_usable_size of each
// block: what the allocator gave, not what was asked). A test program that uses it builds
// platform/testing/heap_tally.cpp in (SKY_HEAP_TALLY_SOURCE), which replaces the global operator
// new and delete with ones that count while a tally lives; one tally at a time.
#pragma once

#include <cstddef>

namespace sky::testing {

class HeapTally {
public:
    HeapTally();
    ~HeapTally();
    HeapTally(const HeapTally&) = delete;
    HeapTally& operator=(const HeapTally&) = delete;

    // Bytes held now more than when the tally began (negative when fewer), and the most held
    // more at any moment since.
    long long held() const;
    long long peak() const;
};

} // namespace sky::testing
