#pragma once
// Filling a hash index over many entries: each entry's slot is asked for from
// memory a few entries before it is filled, since with many entries every
// slot lies elsewhere. The hashes in between wait in a small ring.

#include <cstddef>
#include <cstdint>

namespace platform {

// For each i in [0, n), in order: hashOf(i) is entry i's hash, slotOf(hash)
// the address of the slot its search starts at, and fill(i, hash) puts the
// entry in the index.
template <class HashOf, class SlotOf, class Fill>
void fillIndexAhead(std::size_t n, HashOf hashOf, SlotOf slotOf, Fill fill) {
    constexpr std::size_t Ahead = 16;
    std::uint32_t ahead[Ahead];
    for (std::size_t i = 0; i < n + Ahead; ++i) {
        if (i >= Ahead) fill(i - Ahead, ahead[i % Ahead]);
        if (i < n) {
            ahead[i % Ahead] = hashOf(i);
            __builtin_prefetch(slotOf(ahead[i % Ahead]), 1);
        }
    }
}

} // namespace platform
