#include "runtime/mouse.h"

#include <cmath>
#include <sstream>

#include "emulator/machine/guest_memory.h"
#include "frame/vocabulary_names.h"

namespace runtime {
namespace {

struct OpenParent {
    int64_t x = 0, y = 0;
};

std::string record_error(size_t index, const char* what) {
    return "mouse list record " + std::to_string(index) + ": " + what;
}

int64_t displayed_edge(int64_t edge, double scale) {
    return static_cast<int64_t>(std::llround(static_cast<double>(edge) * scale));
}

const char* type_name(uint32_t rect_type) { return rect_type == kMouseParent ? "parent" : "child"; }

}  // namespace

MouseLayout MouseLayout::parse(const emulator::GuestMemory& memory, frame::GuestPtr<const guest::MOUSERECT> list,
                               int64_t gauge_width, int64_t gauge_height) {
    MouseLayout layout;
    if (!list) return layout;

    std::vector<OpenParent> open;
    for (size_t index = 0; index < kMaxMouseRecords; ++index) {
        const guest::MOUSERECT& record = memory.read(list.at(static_cast<uint32_t>(index)));
        switch (record.rect_type) {
            case kMouseEnd:
                if (!open.empty()) {
                    throw MouseListError(record_error(index, "end of list while ") + std::to_string(open.size()) +
                                         " parent(s) are still open");
                }
                return layout;
            case kMouseParentEnd:
                if (open.empty()) throw MouseListError(record_error(index, "end of parent with no parent open"));
                open.pop_back();
                break;
            case kMouseParent:
            case kMouseChild: {
                if (record.rect_type == kMouseChild && open.empty()) {
                    throw MouseListError(record_error(index, "child outside any parent"));
                }
                MouseBox box;
                box.record = index;
                box.rect_type = record.rect_type;
                box.depth = static_cast<int>(open.size());
                const bool whole_gauge = record.rect_type == kMouseParent && record.x == 0 && record.y == 0 &&
                                         record.width == 0 && record.height == 0;
                if (whole_gauge) {
                    box.width = gauge_width;
                    box.height = gauge_height;
                } else {
                    const OpenParent origin = open.empty() ? OpenParent{} : open.back();
                    box.x = origin.x + record.x;
                    box.y = origin.y + record.y;
                    box.width = record.width;
                    box.height = record.height;
                }
                box.cursor = record.cursor;
                box.help_id = record.help_id;
                box.mouse_flags = record.mouse_flags;
                box.event_id = record.event_id;
                box.handler = record.handler;
                if (record.rect_type == kMouseParent) open.push_back({box.x, box.y});
                layout.boxes_.push_back(box);
                break;
            }
            default:
                throw MouseListError(record_error(index, "unknown record type ") + std::to_string(record.rect_type));
        }
    }
    throw MouseListError("mouse list has no end record within " + std::to_string(kMaxMouseRecords) + " records");
}

DisplayedBox displayed_box(const MouseBox& box, double scale) {
    return DisplayedBox{
        .left = displayed_edge(box.x, scale),
        .top = displayed_edge(box.y, scale),
        .right = displayed_edge(box.x + box.width, scale),
        .bottom = displayed_edge(box.y + box.height, scale),
    };
}

const MouseBox* MouseLayout::hit(double scale, int64_t x, int64_t y, uint32_t action_bits) const {
    for (const MouseBox& box : boxes_) {
        if (!box.is_child() || (box.mouse_flags & action_bits) == 0) continue;
        if (displayed_box(box, scale).contains(x, y)) return &box;
    }
    return nullptr;
}

std::string MouseLayout::describe() const {
    std::ostringstream text;
    for (const MouseBox& box : boxes_) {
        text << box.record << ' ' << std::string(2 * static_cast<size_t>(box.depth), ' ') << type_name(box.rect_type)
             << " box " << box.x << ',' << box.y << ' ' << box.width << 'x' << box.height << " cursor ";
        // Cursors, flags and events by the names the vocabulary gives them;
        // a number only where it has none.
        if (const char* cursor = cursor_name(box.cursor)) {
            text << cursor;
        } else {
            text << box.cursor;
        }
        if (box.help_id != sim::help::kNone) {
            text << std::hex << std::uppercase << " help 0x" << box.help_id << std::dec;
        } else {
            text << " help none";
        }
        text << " flags [";
        const char* separator = "";
        each_flag(box.mouse_flags, kMouseFlagNames, [&](const char* name, int bit) {
            text << separator;
            separator = " ";
            if (name != nullptr) {
                text << name;
            } else {
                text << "bit " << bit;
            }
        });
        text << "] event ";
        if (box.event_id == 0) {
            text << "none";
        } else if (const auto event = sim::event_of(box.event_id)) {
            text << event->name;
        } else {
            text << box.event_id;
        }
        text << " handler " << (box.handler ? "yes" : "none") << '\n';
    }
    return text.str();
}

}  // namespace runtime
