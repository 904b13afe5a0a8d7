#include "validate/records_walk.h"

namespace validate::walk {

// --- Mouse lists -----------------------------------------------------------------------

// KV011: the list's structure, read up to its end record; nullopt (after the
// finding) when it has none or is malformed.
std::optional<std::vector<guest::MOUSERECT>> Walker::read_mouse_list(const std::string& g, uint32_t address) {
    std::vector<guest::MOUSERECT> records;
    size_t open = 0;
    for (size_t i = 0;; ++i) {
        const std::string field = indexed(kMouseRects, i);
        if (i == kMaxMouseRecords) {
            fail(Check::kMouseLists, g, "", kMouseRects,
                 "has no end record within " + std::to_string(kMaxMouseRecords) + " records");
            return std::nullopt;
        }
        const std::optional<guest::MOUSERECT> record = read<guest::MOUSERECT>(address + i * sizeof(guest::MOUSERECT));
        if (!record) {
            fail(Check::kMouseLists, g, "", kMouseRects,
                 "runs out of the module's data after " + std::to_string(i) + " records without its end record");
            return std::nullopt;
        }
        records.push_back(*record);
        check_reserved(g, "", bytes_of(*record), kMouseSchema, false, field + ".");
        const char* wrong = nullptr;
        if (record->rect_type > kMouseParentEnd) {
            fail(Check::kMouseLists, g, "", field + "." + kRectType,
                 "is " + std::to_string(record->rect_type) + ", none of end 0, parent 1, child 2, end of parent 3");
            return std::nullopt;
        }
        if (record->rect_type == kMouseEnd) {
            if (open == 0) return records;
            fail(Check::kMouseLists, g, "", field,
                 "ends the list while " + std::to_string(open) + " parent(s) are open");
            return std::nullopt;
        }
        if (i == 0 && record->rect_type != kMouseParent) wrong = "the list opens with no parent";
        if (record->rect_type == kMouseParent) ++open;
        if (wrong == nullptr && record->rect_type == kMouseParentEnd && open == 0)
            wrong = "ends a parent while none is open";
        if (record->rect_type == kMouseParentEnd && open != 0) --open;
        if (wrong == nullptr && record->rect_type == kMouseChild && open == 0) wrong = "a child outside any parent";
        if (wrong != nullptr) {
            fail(Check::kMouseLists, g, "", field, wrong);
            return std::nullopt;
        }
    }
}

// KV012: each box's size, and that it lies within its parent's box, or the
// gauge's for an outermost parent (where the background's size is known).
void Walker::check_mouse_boxes(const GaugeContext& context, const std::vector<guest::MOUSERECT>& records) {
    const std::string& g = context.gauge->name;
    struct Open {
        int64_t width = 0;
        int64_t height = 0;
        bool known = false;
    };
    std::vector<Open> parents;
    std::optional<Open> gauge_box;
    if (context.background) gauge_box = Open{context.background->width, context.background->height, true};
    for (size_t i = 0; i < records.size(); ++i) {
        const guest::MOUSERECT& r = records[i];
        const std::string field = indexed(kMouseRects, i);
        if (r.rect_type == kMouseParentEnd) {
            parents.pop_back();
            continue;
        }
        if (r.rect_type == kMouseEnd) break;
        const bool is_child = r.rect_type == kMouseChild;
        const char* kind = is_child ? "child" : "parent";
        const bool whole_gauge = !is_child && r.x == 0 && r.y == 0 && r.width == 0 && r.height == 0;
        if (r.width < 0 || r.height < 0) {
            fail(Check::kMouseBoxes, g, "", field,
                 std::string(kind) + " box " + std::to_string(r.width) + " x " + std::to_string(r.height) +
                     " has a negative size");
        } else if (!whole_gauge && (r.width == 0 || r.height == 0) && is_child) {
            warn(Check::kMouseBoxes, g, "", field, "child box of zero size: no pointer ever reaches it");
        }
        const std::optional<Open> outer = parents.empty() ? gauge_box : std::optional<Open>(parents.back());
        if (!whole_gauge && outer && outer->known && r.width >= 0 && r.height >= 0) {
            const int64_t right = static_cast<int64_t>(r.x) + r.width;
            const int64_t bottom = static_cast<int64_t>(r.y) + r.height;
            if (r.x < 0 || r.y < 0 || right > outer->width || bottom > outer->height) {
                fail(Check::kMouseBoxes, g, "", field,
                     std::string(kind) + " box (" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " +
                         std::to_string(r.width) + ", " + std::to_string(r.height) + ") reaches outside its " +
                         (parents.empty() ? "gauge" : "parent") + " (" + std::to_string(outer->width) + " x " +
                         std::to_string(outer->height) + ")");
            }
        }
        if (is_child) continue;
        parents.push_back(whole_gauge ? gauge_box.value_or(Open{})
                                      : Open{r.width, r.height, r.width >= 0 && r.height >= 0});
    }
}

// KV013: what each box does: a child one action (a key event or a handler)
// on a press or drag, a parent none.
void Walker::check_mouse_actions(const std::string& g, const std::vector<guest::MOUSERECT>& records) {
    for (size_t i = 0; i < records.size(); ++i) {
        const guest::MOUSERECT& r = records[i];
        if (r.rect_type == kMouseParentEnd) continue;
        if (r.rect_type == kMouseEnd) break;
        const std::string field = indexed(kMouseRects, i);
        const uint32_t handler = r.handler.address;
        check_code(g, "", (field + "." + kHandler).c_str(), handler, true);
        if (r.rect_type != kMouseChild) {
            if (r.event_id != 0 || handler != 0) {
                fail(Check::kMouseActions, g, "", field,
                     "parent box carries a key event or handler: parents only group children");
            }
        } else if (r.event_id != 0 && handler != 0) {
            fail(Check::kMouseActions, g, "", field,
                 "child box carries both key event " + std::to_string(r.event_id) +
                     " and a handler: it must do one or the other");
        } else if (r.event_id == 0 && handler == 0) {
            warn(Check::kMouseActions, g, "", field,
                 "child box carries neither key event nor handler: it does nothing");
        } else if ((r.mouse_flags & (kMouseClick | kMouseDrag)) == 0) {
            fail(Check::kMouseActions, g, "", field + "." + kMouseFlags,
                 hex(r.mouse_flags) + " names no press or drag: the box never acts");
        }
    }
}

bool Walker::check_mouse(GaugeContext& context) {
    GaugeRecord& gauge = *context.gauge;
    const std::optional<guest::GAUGEHDR> header = read<guest::GAUGEHDR>(gauge.live.address);
    const uint32_t address = header ? header->mouse_rects.address : 0;
    if (address == 0) return true;
    std::optional<std::vector<guest::MOUSERECT>> records = read_mouse_list(gauge.name, address);
    if (!records) return false;
    add_span(RecordSpan::Kind::kMouseList, address, records->size() * sizeof(guest::MOUSERECT), context.index,
             "mouse list");
    gauge.mouse = *records;
    check_mouse_boxes(context, *records);
    check_mouse_actions(gauge.name, *records);
    for (const guest::MOUSERECT& r : *records) {
        if (r.handler && !image_.is_code(r.handler.address)) return false;
    }
    return true;
}

}  // namespace validate::walk
