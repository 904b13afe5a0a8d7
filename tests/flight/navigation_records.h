// Reading the navigation and time gauges' records out of the loaded module and
// comparing them with expected tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/records.h"
#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace navigation_test {

using FailureList = std::optional<std::vector<std::pair<uint32_t, uint32_t>>>;  // nullopt: no list at all

// The (key, action) pairs of a failure list up to its terminator; an empty
// vector is a list that holds only the terminator.
inline FailureList read_failures(const FAILURE_RECORD* list) {
    if (list == nullptr) return std::nullopt;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (; list->failure_key != 0 && pairs.size() < 16; ++list) {
        EXPECT_EQ(list->reserved, 0u);
        pairs.emplace_back(list->failure_key, list->failure_action);
    }
    EXPECT_EQ(list->failure_action, 0u) << "terminator";
    return pairs;
}

// Every gauge here is one chain from the background up: each next-element
// list holds exactly one element.
inline std::vector<ELEMENT_HEADER*> element_chain(const GAUGEHDR* gauge) {
    std::vector<ELEMENT_HEADER*> chain;
    ELEMENT_HEADER* const* list = gauge->element_list;
    while (list != nullptr && chain.size() < 16) {
        if (list[0] == nullptr) {
            ADD_FAILURE() << "an empty element list";
            break;
        }
        EXPECT_EQ(list[1], nullptr) << "a list of more than one element at depth " << chain.size();
        chain.push_back(list[0]);
        list = list[0]->next_element_list;
    }
    return chain;
}

struct ExpectedElement {
    uint32_t type;
    uint32_t resource_id;
    int32_t x, y;
    int32_t ofs_x, ofs_y;
    uint32_t image_flags;
    FailureList failures;
};

inline void expect_elements(const GAUGEHDR* gauge, const std::vector<ExpectedElement>& expected) {
    const std::vector<ELEMENT_HEADER*> chain = element_chain(gauge);
    ASSERT_EQ(chain.size(), expected.size());
    for (size_t i = 0; i < chain.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i));
        const ELEMENT_HEADER& e = *chain[i];
        const ExpectedElement& want = expected[i];
        EXPECT_EQ(e.element_type, want.type);
        EXPECT_EQ(e.resource_id, want.resource_id);
        EXPECT_EQ(e.position_x, want.x);
        EXPECT_EQ(e.position_y, want.y);
        EXPECT_EQ(e.ofs_x, want.ofs_x);
        EXPECT_EQ(e.ofs_y, want.ofs_y);
        EXPECT_EQ(e.image_flags, want.image_flags);
        EXPECT_EQ(read_failures(e.failure_records), want.failures);
        EXPECT_EQ(e.gauge, gauge) << "each element names its own gauge";
        EXPECT_EQ(e.reserved_1[0], 0);
        EXPECT_EQ(e.reserved_1[1], 0);
        EXPECT_EQ(e.reserved_2, nullptr);
        EXPECT_EQ(e.reserved_3, 0u);
        EXPECT_EQ(e.reserved_4, 0u);
    }
}

struct ExpectedMouse {
    uint32_t rect_type = kMouseEnd;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t cursor = -1;
    uint32_t help_id = 0;
    uint32_t mouse_flags = 0;
    uint32_t event_id = 0;
    MouseHandler handler = nullptr;  // compared as null / not null
};

inline void expect_mouse_list(const MOUSERECT* list, const std::vector<ExpectedMouse>& expected) {
    ASSERT_NE(list, nullptr);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("mouse record " + std::to_string(i));
        const MOUSERECT& r = list[i];
        const ExpectedMouse& want = expected[i];
        EXPECT_EQ(r.rect_type, want.rect_type);
        if (want.rect_type == kMouseParentEnd || want.rect_type == kMouseEnd) continue;
        EXPECT_EQ(r.x, want.x);
        EXPECT_EQ(r.y, want.y);
        EXPECT_EQ(r.width, want.width);
        EXPECT_EQ(r.height, want.height);
        EXPECT_EQ(r.cursor, want.cursor);
        EXPECT_EQ(r.help_id, want.help_id);
        EXPECT_EQ(r.mouse_flags, want.mouse_flags);
        EXPECT_EQ(r.event_id, want.event_id);
        EXPECT_EQ(r.handler != nullptr, want.handler != nullptr);
        EXPECT_FALSE(r.event_id != 0 && r.handler != nullptr) << "a box either sends an event or calls a handler";
        EXPECT_EQ(r.reserved, 0u);
    }
}

// A handler entry of an expected mouse table: any non-null marker will do.
inline const MouseHandler kHandler = reinterpret_cast<MouseHandler>(uintptr_t{1});

// The header fields every gauge shares.
inline void expect_header(const GAUGEHDR* gauge, const char* name) {
    ASSERT_NE(gauge, nullptr) << name;
    EXPECT_EQ(gauge->header_version, 700u);
    EXPECT_STREQ(gauge->gauge_name, name);
    EXPECT_EQ(gauge->size_x_mm, 100u);
    EXPECT_NE(gauge->query_routine, nullptr);
    EXPECT_NE(gauge->kill_routine, nullptr);
    EXPECT_NE(gauge->gauge_callback, nullptr);
    EXPECT_EQ(gauge->reserved_1, 0u);
    for (uint32_t word : gauge->reserved_2) EXPECT_EQ(word, 0u);
    for (uint32_t word : gauge->reserved_3) EXPECT_EQ(word, 0u);
}

// A loaded Korvane.gau under a bench host.
class LoadedModule : public ::testing::Test {
protected:
    GAUGEHDR* gauge(const char* name) {
        GAUGEHDR* found = module.gauge(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    bench::Host host;
    bench::Module module{host, test_paths::module("Korvane.gau")};
};

template <typename Element>
Element* element_at(const GAUGEHDR* gauge, size_t depth) {
    const std::vector<ELEMENT_HEADER*> chain = element_chain(gauge);
    if (depth >= chain.size()) return nullptr;
    return reinterpret_cast<Element*>(chain[depth]);
}

}  // namespace navigation_test
