// The bytes the process holds on its heap through operator new, tallied while a HeapTally lives,
// for tests that show how much a piece of work holds at its peak (malloc_usable_size of each
// block: what the allocator gave, not what was asked). A test binary that uses it links
// heap_tally.cpp, which replaces the global operator new and delete; one tally at a time.
#pragma once

#include <cstddef>

namespace sky::qvfarm::testing {

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

} // namespace sky::qvfarm::testing
