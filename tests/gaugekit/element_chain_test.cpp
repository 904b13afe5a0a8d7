// The element-chain helpers: show and hide the element a given number of
// steps down the first entries of the next-element lists.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "gaugekit/element_chain.h"

namespace {

// root -> first -> second -> third, where third's next list is empty (its
// only entry is the null end) and a side element hangs beside first.
struct Chain {
    std::array<ELEMENT_HEADER, 5> elements{};
    ELEMENT_HEADER* root_next[3] = {};
    ELEMENT_HEADER* first_next[2] = {};
    ELEMENT_HEADER* second_next[2] = {};
    ELEMENT_HEADER* third_next[1] = {nullptr};

    Chain() {
        for (ELEMENT_HEADER& e : elements) e.image_flags = kFlagsLight;
        elements[0].image_flags = kFlagsBackground;
        root_next[0] = &elements[1];
        root_next[1] = &elements[4];  // a sibling: never on the walk
        first_next[0] = &elements[2];
        second_next[0] = &elements[3];
        elements[0].next_element_list = root_next;
        elements[1].next_element_list = first_next;
        elements[2].next_element_list = second_next;
        elements[3].next_element_list = third_next;
    }
    ELEMENT_HEADER* root() { return &elements[0]; }
};

enum class Op { kSet, kClear };

struct ChainCase {
    const char* name;
    Op op;
    uint32_t depth;
    uint32_t bits;
    int changed;  // index of the element that changes; -1 none
};

const ChainCase kCases[] = {
    {"set at depth 0 changes the root", Op::kSet, 0, kImageHidden, 0},
    {"clear at depth 0 changes the root", Op::kClear, 0, 0x00004000, 0},
    {"set at depth 1", Op::kSet, 1, 0x00000008, 1},
    {"clear at depth 1 shows the first light", Op::kClear, 1, kImageHidden, 1},
    {"clear at depth 2", Op::kClear, 2, kImageHidden, 2},
    {"clear at depth 3, the chain's end", Op::kClear, 3, kImageHidden, 3},
    {"set at depth 3", Op::kSet, 3, 0x00000010, 3},
    {"depth 4: past an empty next list", Op::kClear, 4, kImageHidden, -1},
    {"depth 5: beyond the chain", Op::kSet, 5, 0x00000010, -1},
    {"huge depth", Op::kClear, 0xFFFFFFFFu, kImageHidden, -1},
    {"no bits", Op::kSet, 1, 0, -1},
};

TEST(ElementChain, WalkReachesTheElementAtTheDepth) {
    for (const ChainCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Chain chain;
        std::array<uint32_t, 5> expected{};
        for (size_t i = 0; i < expected.size(); ++i) expected[i] = chain.elements[i].image_flags;
        if (c.changed >= 0) {
            uint32_t& flags = expected[static_cast<size_t>(c.changed)];
            flags = c.op == Op::kSet ? flags | c.bits : flags & ~c.bits;
        }
        if (c.op == Op::kSet) {
            kit::element_chain_set_flags(chain.root(), c.depth, c.bits);
        } else {
            kit::element_chain_clear_flags(chain.root(), c.depth, c.bits);
        }
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(chain.elements[i].image_flags, expected[i]) << "element " << i;
        }
    }
}

TEST(ElementChain, ElementWithoutNextListStops) {
    ELEMENT_HEADER alone{};
    alone.image_flags = kFlagsLight;
    kit::element_chain_clear_flags(&alone, 1, kImageHidden);
    EXPECT_EQ(alone.image_flags, kFlagsLight);
    kit::element_chain_clear_flags(&alone, 0, kImageHidden);
    EXPECT_EQ(alone.image_flags, kFlagsLight & ~kImageHidden);
    kit::element_chain_set_flags(nullptr, 0, kImageHidden);  // a null root changes nothing
}

}  // namespace
