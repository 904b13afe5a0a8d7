// A gauge's mouse list as boxes on the gauge: parents group children, child
// and nested-parent boxes sit relative to the enclosing parent, and a parent
// of 0, 0, 0, 0 stands for the whole gauge. The walk over the records is
// bounded: a malformed list gives MouseListError, never a read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/records.h"
#include "frame/vocabulary.h"

namespace emulator {
class GuestMemory;
}  // namespace emulator

namespace runtime {

class MouseListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most records a mouse list may hold, its end record included.
inline constexpr size_t kMaxMouseRecords = 4096;

// One parent or child box, placed on the gauge.
struct MouseBox {
    size_t record = 0;       // index of its record in the list
    uint32_t rect_type = 0;  // kMouseParent or kMouseChild
    int depth = 0;           // parents open around it (0: an outermost parent)
    // Absolute box in background-bitmap pixels (wide enough that nested
    // offsets cannot overflow).
    int64_t x = 0, y = 0, width = 0, height = 0;
    int32_t cursor = kCursorNone;
    uint32_t help_id = sim::help::kNone;
    uint32_t mouse_flags = 0;
    uint32_t event_id = 0;
    guest::MouseHandler handler;

    bool is_child() const { return rect_type == kMouseChild; }
};

// A box as shown at a display scale: whole displayed pixels, right and
// bottom exclusive.
struct DisplayedBox {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool contains(int64_t px, int64_t py) const { return px >= left && px < right && py >= top && py < bottom; }
};

class MouseLayout {
public:
    MouseLayout() = default;

    // Reads the list at `list` (null: a gauge without mouse areas) for a gauge
    // whose background is gauge_width x gauge_height bitmap pixels. Throws
    // MouseListError for an unknown record type, a child or end-of-parent
    // outside any parent, an end record while parents are open, or a list
    // with no end record within kMaxMouseRecords; emulator::GuestFault for a list
    // that runs out of the module's memory (the runtime's own: the instance
    // reads its gauge's list).
    static MouseLayout parse(const emulator::GuestMemory& memory, frame::GuestPtr<const guest::MOUSERECT> list,
                             int64_t gauge_width, int64_t gauge_height);

    // Parents and children in list order.
    const std::vector<MouseBox>& boxes() const { return boxes_; }

    // The first child in list order whose displayed box holds the point and
    // whose flags share a bit with `action_bits`; where boxes overlap only
    // that one takes the action. Null when none does.
    const MouseBox* hit(double scale, int64_t x, int64_t y, uint32_t action_bits) const;

    // One line per box, for tools and test failure messages.
    std::string describe() const;

private:
    std::vector<MouseBox> boxes_;
};

// The displayed box of `box` at `scale` (edges rounded to whole pixels).
DisplayedBox displayed_box(const MouseBox& box, double scale);

}  // namespace runtime
