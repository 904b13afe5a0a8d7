// The module heap's bookkeeping: first fit, reuse and merging of freed
// blocks, resizing in place, heaps freed whole, running out, and frees of
// pointers it never handed out, which are faults naming the pointer.
#include <gtest/gtest.h>

#include <string>

#include "emulator/machine/guest_memory.h"
#include "emulator/win32/win32_heap.h"

namespace {

using emulator::GuestFault;
using emulator::win32::GuestHeap;

constexpr uint32_t kBase = 0x20000000;

TEST(Win32Heap, FreedBlocksAreReusedFirstFitAndMerged) {
    GuestHeap heap(kBase, 0x1000);
    const uint32_t a = *heap.allocate(10);
    const uint32_t b = *heap.allocate(16);
    const uint32_t c = *heap.allocate(100);
    EXPECT_EQ(a, kBase);
    EXPECT_EQ(b, kBase + 16) << "blocks 16-byte aligned and packed";
    EXPECT_EQ(c, kBase + 32);
    EXPECT_EQ(*heap.size_of(c), 100u) << "the size asked for";

    heap.release(a);
    EXPECT_EQ(*heap.allocate(8), a) << "the lowest free range that holds it";
    heap.release(a);
    heap.release(b);
    EXPECT_EQ(*heap.allocate(32), a) << "the two freed neighbours as one";
    const uint32_t empty = *heap.allocate(0);
    EXPECT_NE(empty, *heap.allocate(0)) << "a zero size gets a block of its own";
}

TEST(Win32Heap, ResizesInPlaceOnlyIntoFreeMemory) {
    GuestHeap heap(kBase, 0x1000);
    const uint32_t a = *heap.allocate(16);
    const uint32_t b = *heap.allocate(16);
    EXPECT_FALSE(heap.resize(a, 17)) << "b lies right behind it";
    EXPECT_TRUE(heap.resize(b, 200));
    EXPECT_EQ(*heap.size_of(b), 200u);
    EXPECT_TRUE(heap.resize(b, 8));
    EXPECT_EQ(*heap.allocate(16), b + 16) << "shrinking gave the rest back";
    EXPECT_FALSE(heap.resize(a + 4, 8)) << "no block starts there";
}

TEST(Win32Heap, HeapsAreFreedWholeAndRunOutWithoutFaulting) {
    GuestHeap heap(kBase, 0x1000);
    const uint32_t mine = *heap.allocate(0x400, 1);
    heap.allocate(0x400, 2);
    EXPECT_FALSE(heap.allocate(0x801)) << "more than is free";
    EXPECT_FALSE(heap.allocate(0xFFFFFFFF)) << "a size that would wrap when rounded";
    heap.release_owner(2);
    EXPECT_EQ(heap.blocks(), 1u);
    EXPECT_EQ(heap.free_bytes(), 0xC00u);
    EXPECT_EQ(*heap.owner_of(mine), 1u);
}

TEST(Win32Heap, FreesOfPointersItDidNotHandOutAreFaults) {
    struct Case {
        uint32_t address;
        const char* why;
    };
    GuestHeap heap(kBase, 0x1000);
    const uint32_t block = *heap.allocate(64);
    const uint32_t freed = *heap.allocate(64);
    heap.release(freed);
    const Case cases[] = {
        {0x00401000, "not in the heap"},
        {block + 8, "inside the block at 0x20000000"},
        {freed, "free already"},
    };
    for (const Case& c : cases) {
        try {
            heap.release(c.address);
            ADD_FAILURE() << c.why;
        } catch (const GuestFault& fault) {
            EXPECT_EQ(fault.kind(), GuestFault::Kind::kOther);
            EXPECT_EQ(fault.address(), c.address);
            EXPECT_NE(std::string(fault.what()).find(c.why), std::string::npos) << fault.what();
        }
    }
    EXPECT_EQ(*heap.size_of(block), 64u) << "the heap is as it was";
}

}  // namespace
