#include "art/records.h"

#include <cmath>

#include "korvane/bitmaps.h"
#include "runtime/evaluate.h"
#include "runtime/instance.h"

namespace art {
namespace {

constexpr size_t kMaxElements = 4096;
constexpr size_t kMaxListEntries = 1024;
constexpr size_t kMaxMouseRects = 4096;

using frame::GuestPtr;

void walk(const runtime::ModuleMemory& memory, runtime::ElementPtr element, std::vector<Element>& out) {
    if (!element || out.size() >= kMaxElements) return;
    const guest::ELEMENT_HEADER& header = memory.read(element);
    out.push_back({element, header});
    const GuestPtr<const runtime::ElementPtr> next = header.next_element_list;
    if (!next) return;
    for (uint32_t i = 0; i < kMaxListEntries; ++i) {
        const runtime::ElementPtr child = memory.read(next.at(i));
        if (!child) break;
        walk(memory, child, out);
    }
}

}  // namespace

std::vector<guest::NONLINEARITY> Needle::table() const {
    if (!has_table()) return {};
    const auto points = module_->records().read_array(record().nonlinearity, record().nonlinearity_size);
    return {points.begin(), points.end()};
}

double Needle::angle(double reading) const {
    if (has_table()) {
        const std::vector<guest::NONLINEARITY> points = table();
        return *runtime::table_angle(points.data(), static_cast<uint32_t>(points.size()), centre_x(), centre_y(),
                                     reading);
    }
    const guest::NeedleCallback callback = record().update_callback;
    if (!callback) return runtime::normalize_degrees(reading);
    // The callback reads its own variable; lend it the reading.
    double angle = 0.0;
    try {
        angle = runtime::needle_callback_value(*module_, element_, reading);
    } catch (const runtime::ModuleFault& fault) {
        throw runtime::GaugeFault(
            runtime::fault_message(
                *module_, "needle callback (bitmap " + std::to_string(record().header.resource_id) + ")", fault),
            fault);
    }
    return runtime::normalize_degrees(angle);
}

guest::GAUGEHDR Records::require(std::string_view gauge) const {
    const runtime::GaugePtr header = module_.gauge(gauge);
    if (!header) throw MissingGauge(std::string(gauge));
    return module_.records().read(header);
}

std::vector<Element> Records::elements(std::string_view gauge) const {
    const GuestPtr<const runtime::ElementPtr> roots = require(gauge).element_list;
    std::vector<Element> out;
    if (!roots) return out;
    const runtime::ModuleMemory memory = module_.records();
    for (uint32_t i = 0; i < kMaxListEntries; ++i) {
        const runtime::ElementPtr root = memory.read(roots.at(i));
        if (!root) break;
        walk(memory, root, out);
    }
    return out;
}

Element Records::element(std::string_view gauge, uint32_t resource_id) const {
    for (const Element& element : elements(gauge)) {
        if (element.header.resource_id == resource_id) return element;
    }
    throw std::runtime_error("gauge \"" + std::string(gauge) + "\" has no element with bitmap " +
                             std::to_string(resource_id));
}

Needle Records::needle(std::string_view gauge, uint32_t resource_id) const {
    const Element element = this->element(gauge, resource_id);
    if (element.header.element_type != kNeedle) {
        throw std::runtime_error("bitmap " + std::to_string(resource_id) + " of \"" + std::string(gauge) +
                                 "\" is not a needle");
    }
    return Needle(module_, element.at.cast<guest::ELEMENT_NEEDLE>());
}

namespace {

// Walks a mouse list, calling `visit(rect, absolute box, depth)` for every
// parent and child; depth 0 is the whole-gauge parent.
template <typename Visit>
void walk_mouse(const runtime::ModuleMemory& memory, GuestPtr<const guest::MOUSERECT> rects, Visit visit) {
    if (!rects) return;
    std::vector<Box> open;
    for (uint32_t i = 0; i < kMaxMouseRects; ++i) {
        const guest::MOUSERECT& r = memory.read(rects.at(i));
        if (r.rect_type == kMouseEnd) break;
        const int32_t base_x = open.empty() ? 0 : open.back().x;
        const int32_t base_y = open.empty() ? 0 : open.back().y;
        const Box box{base_x + r.x, base_y + r.y, r.width, r.height};
        if (r.rect_type == kMouseParent) {
            visit(r, box, open.size());
            open.push_back(box);
        } else if (r.rect_type == kMouseChild) {
            visit(r, box, open.size());
        } else if (r.rect_type == kMouseParentEnd && !open.empty()) {
            open.pop_back();
        }
    }
}

}  // namespace

Box Records::placed(const guest::ELEMENT_HEADER& element, uint32_t id) {
    const korvane::BitmapInfo* info = korvane::find_bitmap(id);
    if (info == nullptr) throw std::runtime_error("bitmap " + std::to_string(id) + " is not in the bitmap table");
    return {element.position_x, element.position_y, int32_t(info->width), int32_t(info->height)};
}

std::vector<Box> Records::mouse_parents(std::string_view gauge) const {
    std::vector<Box> out;
    walk_mouse(module_.records(), require(gauge).mouse_rects, [&](const guest::MOUSERECT& r, Box box, size_t depth) {
        if (r.rect_type == kMouseParent && depth > 0) out.push_back(box);
    });
    return out;
}

std::vector<Box> Records::mouse_children(std::string_view gauge) const {
    std::vector<Box> out;
    walk_mouse(module_.records(), require(gauge).mouse_rects, [&](const guest::MOUSERECT& r, Box box, size_t) {
        if (r.rect_type == kMouseChild) out.push_back(box);
    });
    return out;
}

}  // namespace art
