// Constant builders for the records every gauge is made of, so gauge sources
// read as tables of data. Each returns a record by value for a designated or
// aggregate initialiser; records stay separate objects per gauge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame/records.h"
#include "frame/vocabulary.h"

namespace kit {

constexpr MODULE_VAR module_var(uint32_t token) { return MODULE_VAR{.token = token}; }
constexpr MODULE_VAR_SLOT module_var_slot(uint32_t token) { return MODULE_VAR_SLOT{.var = {.token = token}}; }

constexpr FAILURE_RECORD failure(uint32_t key, uint32_t action) {
    return FAILURE_RECORD{.failure_key = key, .failure_action = action};
}
constexpr FAILURE_RECORD failure_end() { return FAILURE_RECORD{}; }

constexpr NONLINEARITY point(int32_t x, int32_t y, double value) {
    return NONLINEARITY{.x = x, .y = y, .value = value};
}

// Mouse lists: the whole-gauge parent is a parent with box 0, 0, 0, 0.
constexpr MOUSERECT mouse_parent(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t help_id = sim::help::kNone) {
    return MOUSERECT{
        .rect_type = kMouseParent, .x = x, .y = y, .width = w, .height = h, .cursor = kCursorNone, .help_id = help_id};
}
constexpr MOUSERECT mouse_whole_gauge(uint32_t help_id = sim::help::kNone) { return mouse_parent(0, 0, 0, 0, help_id); }
// A child box either sends its key event or calls its handler.
constexpr MOUSERECT mouse_child(int32_t x, int32_t y, int32_t w, int32_t h, int32_t cursor, uint32_t flags) {
    return MOUSERECT{
        .rect_type = kMouseChild, .x = x, .y = y, .width = w, .height = h, .cursor = cursor, .mouse_flags = flags};
}
constexpr MOUSERECT mouse_event_child(int32_t x, int32_t y, int32_t w, int32_t h, int32_t cursor, uint32_t flags,
                                      uint32_t event_id) {
    MOUSERECT box = mouse_child(x, y, w, h, cursor, flags);
    box.event_id = event_id;
    return box;
}
constexpr MOUSERECT mouse_handler_child(int32_t x, int32_t y, int32_t w, int32_t h, int32_t cursor, uint32_t flags,
                                        MouseHandler handler) {
    MOUSERECT box = mouse_child(x, y, w, h, cursor, flags);
    box.handler = handler;
    return box;
}
constexpr MOUSERECT mouse_parent_end() { return MOUSERECT{.rect_type = kMouseParentEnd}; }
constexpr MOUSERECT mouse_end() { return MOUSERECT{.rect_type = kMouseEnd}; }

// The common element header.
struct Placement {
    int32_t x = 0;
    int32_t y = 0;
};
constexpr ELEMENT_HEADER element_header(ElementType type, uint32_t resource_id, Placement position, GAUGEHDR* gauge,
                                        ELEMENT_HEADER* const* next, const FAILURE_RECORD* failures,
                                        uint32_t image_flags, Placement ofs = {}) {
    return ELEMENT_HEADER{.element_type = type,
                          .resource_id = resource_id,
                          .position_x = position.x,
                          .position_y = position.y,
                          .ofs_x = ofs.x,
                          .ofs_y = ofs.y,
                          .gauge = gauge,
                          .next_element_list = next,
                          .failure_records = failures,
                          .image_flags = image_flags};
}

// Zero-terminated element lists: the given elements, or every element of an
// array, in their order.
template <typename... Elements>
constexpr std::array<ELEMENT_HEADER*, sizeof...(Elements) + 1> element_list(Elements&... elements) {
    return {&elements.header..., nullptr};
}
template <typename Element, size_t Count>
constexpr std::array<ELEMENT_HEADER*, Count + 1> element_list(std::array<Element, Count>& elements) {
    std::array<ELEMENT_HEADER*, Count + 1> list{};
    for (size_t i = 0; i < Count; ++i) list[i] = &elements[i].header;
    list[Count] = nullptr;
    return list;
}

}  // namespace kit

// The builders a family's record file writes its gauges with, brought in
// together (`using namespace kit::form;`) so every file uses the one form.
namespace kit::form {
using kit::element_header;
using kit::element_list;
using kit::failure;
using kit::failure_end;
using kit::module_var;
using kit::module_var_slot;
using kit::point;
}  // namespace kit::form
