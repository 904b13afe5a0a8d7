// Expected records of a gauge, and a walk that checks a loaded gauge against
// them: element kinds, bitmaps, positions, pivots, flags, variables, tables,
// failure lists in stored order and the mouse list. Data typos show up here as
// a named field of a named element.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "frame/records.h"

namespace gauge_records {

struct Pixel {
    int32_t x = 0;
    int32_t y = 0;
};

struct Failure {
    uint32_t key = 0;
    uint32_t action = 0;
};

struct TablePoint {
    int32_t x = 0;
    int32_t y = 0;
    double value = 0.0;
};

// One element. Fields a kind does not have are left at their defaults and
// must then be zero (or null) in the record.
struct Element {
    uint32_t type = kStaticImage;
    uint32_t bitmap = 0;
    Pixel position = {};
    Pixel pivot = {};  // needle pivot, sprite texture centre
    uint32_t flags = 0;
    std::optional<std::vector<Failure>> failures = {};  // nullopt: no list at all

    uint32_t token = 0;          // needle: source; moving image and sprite: the y axis
    bool callback = false;       // needle update, moving-image y, sprite y callback
    int32_t max_degrees = 0;     // needle
    std::vector<TablePoint> table = {};  // needle
    double min_y = 0.0, max_y = 0.0;  // moving image

    double scale_y = 0.0;             // sprite
    uint32_t rotation_token = 0;      // sprite
    double scale_rotation = 0.0;      // sprite
    float texture_scale_x = 0.0f;     // sprite
    float texture_scale_y = 0.0f;     // sprite
};

struct Mouse {
    uint32_t type = kMouseEnd;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t cursor = -1;
    uint32_t help_id = 0;
    uint32_t flags = 0;
    uint32_t event_id = 0;
    bool handler = false;
};

struct Gauge {
    const char* name = "";
    bool own_callback = false;       // false: the module's shared empty callback
    std::vector<Element> chain = {};  // drawing order: the background, then each one's single successor
    std::vector<Mouse> mouse = {};
};

// A failure list up to its terminating record, as (key, action) pairs.
inline std::vector<Failure> failures_of(const FAILURE_RECORD* list) {
    std::vector<Failure> out;
    for (int i = 0; i < 64 && list[i].failure_key != 0; ++i) {
        EXPECT_EQ(list[i].reserved, 0u);
        out.push_back({list[i].failure_key, list[i].failure_action});
    }
    return out;
}

inline bool operator==(const Failure& a, const Failure& b) { return a.key == b.key && a.action == b.action; }
inline void PrintTo(const Failure& f, std::ostream* os) { *os << "(" << f.key << ", " << f.action << ")"; }

inline void check_header(const ELEMENT_HEADER& h, const Element& want, const GAUGEHDR* gauge) {
    EXPECT_EQ(h.element_type, want.type);
    EXPECT_EQ(h.resource_id, want.bitmap);
    EXPECT_EQ(h.position_x, want.position.x);
    EXPECT_EQ(h.position_y, want.position.y);
    EXPECT_EQ(h.ofs_x, want.pivot.x);
    EXPECT_EQ(h.ofs_y, want.pivot.y);
    EXPECT_EQ(h.gauge, gauge);
    EXPECT_EQ(h.image_flags, want.flags);
    EXPECT_EQ(h.reserved_1[0], 0);
    EXPECT_EQ(h.reserved_1[1], 0);
    EXPECT_EQ(h.reserved_2, nullptr);
    EXPECT_EQ(h.reserved_3, 0u);
    EXPECT_EQ(h.reserved_4, 0u);
    if (!want.failures) {
        EXPECT_EQ(h.failure_records, nullptr);
    } else {
        ASSERT_NE(h.failure_records, nullptr);
        EXPECT_EQ(failures_of(h.failure_records), *want.failures);
    }
}

inline void check_var(const MODULE_VAR& var, uint32_t token) {
    EXPECT_EQ(var.token, token);
    EXPECT_EQ(var.reserved_1[0], 0u);
    EXPECT_EQ(var.reserved_1[1], 0u);
}

inline void check_needle(const ELEMENT_NEEDLE& n, const Element& want) {
    check_var(n.source, want.token);
    EXPECT_EQ(n.update_callback != nullptr, want.callback);
    EXPECT_EQ(n.max_degrees_per_tick, want.max_degrees);
    ASSERT_EQ(n.nonlinearity_size, want.table.size());
    if (want.table.empty()) {
        EXPECT_EQ(n.nonlinearity, nullptr);
        return;
    }
    ASSERT_NE(n.nonlinearity, nullptr);
    for (size_t i = 0; i < want.table.size(); ++i) {
        SCOPED_TRACE("table point " + std::to_string(i));
        EXPECT_EQ(n.nonlinearity[i].x, want.table[i].x);
        EXPECT_EQ(n.nonlinearity[i].y, want.table[i].y);
        EXPECT_EQ(n.nonlinearity[i].value, want.table[i].value);
        EXPECT_EQ(n.nonlinearity[i].degrees, 0.0);
    }
}

inline void check_moving_image(const ELEMENT_MOVING_IMAGE& m, const Element& want) {
    check_var(m.source_x, 0);
    EXPECT_EQ(m.min_x, 0.0);
    EXPECT_EQ(m.max_x, 0.0);
    EXPECT_EQ(m.callback_x, nullptr);
    check_var(m.source_y, want.token);
    EXPECT_EQ(m.min_y, want.min_y);
    EXPECT_EQ(m.max_y, want.max_y);
    EXPECT_EQ(m.callback_y != nullptr, want.callback);
}

inline void check_sprite(const ELEMENT_SPRITE& s, const Element& want) {
    check_var(s.source_x, 0);
    EXPECT_EQ(s.scale_x, 0.0);
    EXPECT_EQ(s.callback_x, nullptr);
    check_var(s.source_y, want.token);
    EXPECT_EQ(s.scale_y, want.scale_y);
    EXPECT_EQ(s.callback_y != nullptr, want.callback);
    check_var(s.source_rotation, want.rotation_token);
    EXPECT_EQ(s.scale_rotation, want.scale_rotation);
    EXPECT_EQ(s.callback_rotation, nullptr);
    EXPECT_EQ(s.texture_scale_x, want.texture_scale_x);
    EXPECT_EQ(s.texture_scale_y, want.texture_scale_y);
}

inline void check_mouse(const MOUSERECT* list, const std::vector<Mouse>& want) {
    ASSERT_NE(list, nullptr);
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("mouse record " + std::to_string(i));
        const MOUSERECT& r = list[i];
        EXPECT_EQ(r.rect_type, want[i].type);
        EXPECT_EQ(r.x, want[i].x);
        EXPECT_EQ(r.y, want[i].y);
        EXPECT_EQ(r.width, want[i].width);
        EXPECT_EQ(r.height, want[i].height);
        if (want[i].type != kMouseParentEnd && want[i].type != kMouseEnd) {
            EXPECT_EQ(r.cursor, want[i].cursor);
        }
        EXPECT_EQ(r.help_id, want[i].help_id);
        EXPECT_EQ(r.mouse_flags, want[i].flags);
        EXPECT_EQ(r.event_id, want[i].event_id);
        EXPECT_EQ(r.handler != nullptr, want[i].handler);
        EXPECT_EQ(r.reserved, 0u);
    }
}

// Walks the gauge's single chain of elements and its mouse list. Every
// element that has a failure list shares the gauge's one list.
inline void check_gauge(const GAUGEHDR* gauge, const Gauge& want) {
    SCOPED_TRACE(want.name);
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->header_version, 700u);
    EXPECT_STREQ(gauge->gauge_name, want.name);
    EXPECT_EQ(gauge->size_x_mm, 100u);
    EXPECT_NE(gauge->gauge_callback, nullptr);
    ASSERT_NE(gauge->element_list, nullptr);
    EXPECT_EQ(gauge->element_list[1], nullptr) << "one root only";

    const FAILURE_RECORD* shared_failures = nullptr;
    ELEMENT_HEADER* element = gauge->element_list[0];
    for (size_t i = 0; i < want.chain.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i));
        ASSERT_NE(element, nullptr);
        const Element& w = want.chain[i];
        check_header(*element, w, gauge);
        if (element->failure_records != nullptr) {
            if (shared_failures == nullptr) shared_failures = element->failure_records;
            EXPECT_EQ(element->failure_records, shared_failures) << "one failure list per gauge";
        }
        switch (w.type) {
            case kNeedle: check_needle(*reinterpret_cast<ELEMENT_NEEDLE*>(element), w); break;
            case kMovingImage: check_moving_image(*reinterpret_cast<ELEMENT_MOVING_IMAGE*>(element), w); break;
            case kSprite: check_sprite(*reinterpret_cast<ELEMENT_SPRITE*>(element), w); break;
            default: break;
        }
        ELEMENT_HEADER* const* next = element->next_element_list;
        if (i + 1 == want.chain.size()) {
            EXPECT_TRUE(next == nullptr || next[0] == nullptr) << "the chain ends here";
            element = nullptr;
        } else {
            ASSERT_NE(next, nullptr);
            EXPECT_EQ(next[1], nullptr) << "one successor only";
            element = next[0];
        }
    }
    check_mouse(gauge->mouse_rects, want.mouse);
}

}  // namespace gauge_records
