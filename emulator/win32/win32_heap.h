// The bookkeeping of the module's heap over [base, base + size) of guest
// memory: first fit from the lowest address, free neighbours merged. Its
// records live on the host, where module code cannot overwrite them, and it
// never touches the memory itself (the caller zeroes and copies), so a
// pointer the module got wrong is a fault naming it, not a corrupted heap.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace emulator::win32 {

class GuestHeap {
public:
    static constexpr uint32_t kAlignment = 16;

    GuestHeap(uint32_t base, uint32_t size);

    // A block of at least `size` bytes (a zero size gets one of its own),
    // tagged with `owner` (a heap handle), or nullopt when no free range
    // holds it.
    std::optional<uint32_t> allocate(uint32_t size, uint32_t owner = 0);
    // Frees the block at `address`. One that starts no block is a GuestFault
    // (kOther) naming the address and why.
    void release(uint32_t address);
    // Grows or shrinks the block at `address` where it lies: false when the
    // memory after it is not free (or no block starts there).
    bool resize(uint32_t address, uint32_t size);
    // Frees every block tagged with `owner`.
    void release_owner(uint32_t owner);

    // The size asked for the block at `address`, or nullopt when none starts there.
    std::optional<uint32_t> size_of(uint32_t address) const;
    std::optional<uint32_t> owner_of(uint32_t address) const;
    bool contains(uint32_t address) const { return address - base_ < size_; }
    size_t blocks() const { return used_.size(); }
    uint32_t free_bytes() const;

private:
    struct Block {
        uint32_t span;       // bytes taken, a multiple of kAlignment
        uint32_t requested;  // what the module asked for
        uint32_t owner;
    };
    void give_back(uint32_t address, uint32_t span);

    uint32_t base_;
    uint32_t size_;
    std::map<uint32_t, uint32_t> free_;  // start -> bytes, no two adjacent
    std::map<uint32_t, Block> used_;
};

}  // namespace emulator::win32
