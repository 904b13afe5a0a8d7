#include "tools/art/records.h"

#include <cmath>

#include "host/evaluate.h"
#include "korvane/bitmaps.h"

namespace art {
namespace {

constexpr size_t kMaxElements = 4096;
constexpr size_t kMaxMouseRects = 4096;

void walk(ELEMENT_HEADER* element, std::vector<ELEMENT_HEADER*>& out) {
    if (element == nullptr || out.size() >= kMaxElements) return;
    out.push_back(element);
    if (element->next_element_list == nullptr) return;
    for (ELEMENT_HEADER* const* next = element->next_element_list; *next != nullptr; ++next) walk(*next, out);
}

}  // namespace

std::vector<NONLINEARITY> Needle::table() const {
    if (!has_table()) return {};
    return {element_->nonlinearity, element_->nonlinearity + element_->nonlinearity_size};
}

double Needle::angle(double reading) const {
    if (has_table()) {
        return *bench::table_angle(element_->nonlinearity, element_->nonlinearity_size, centre_x(), centre_y(),
                                   reading);
    }
    if (element_->update_callback == nullptr) return bench::normalize_degrees(reading);
    // The callback reads its own variable; lend it the reading and put the
    // record back as it was.
    const double saved = element_->source.value;
    element_->source.value = reading;
    const double angle = element_->update_callback(element_);
    element_->source.value = saved;
    return bench::normalize_degrees(angle);
}

GAUGEHDR* Records::require(std::string_view gauge) const {
    GAUGEHDR* header = module_.gauge(gauge);
    if (header == nullptr) throw MissingGauge(std::string(gauge));
    return header;
}

std::vector<ELEMENT_HEADER*> Records::elements(std::string_view gauge) const {
    GAUGEHDR* header = require(gauge);
    std::vector<ELEMENT_HEADER*> out;
    if (header->element_list == nullptr) return out;
    for (ELEMENT_HEADER* const* root = header->element_list; *root != nullptr; ++root) walk(*root, out);
    return out;
}

ELEMENT_HEADER* Records::element(std::string_view gauge, uint32_t resource_id) const {
    for (ELEMENT_HEADER* element : elements(gauge)) {
        if (element->resource_id == resource_id) return element;
    }
    throw std::runtime_error("gauge \"" + std::string(gauge) + "\" has no element with bitmap " +
                             std::to_string(resource_id));
}

Needle Records::needle(std::string_view gauge, uint32_t resource_id) const {
    ELEMENT_HEADER* element = this->element(gauge, resource_id);
    if (element->element_type != kNeedle) {
        throw std::runtime_error("bitmap " + std::to_string(resource_id) + " of \"" + std::string(gauge) +
                                 "\" is not a needle");
    }
    return Needle(reinterpret_cast<ELEMENT_NEEDLE*>(element));
}

namespace {

// Walks a mouse list, calling `visit(rect, absolute box, depth)` for every
// parent and child; depth 0 is the whole-gauge parent.
template <typename Visit>
void walk_mouse(const MOUSERECT* rects, Visit visit) {
    if (rects == nullptr) return;
    std::vector<Box> open;
    for (size_t i = 0; i < kMaxMouseRects && rects[i].rect_type != kMouseEnd; ++i) {
        const MOUSERECT& r = rects[i];
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

Box Records::placed(const ELEMENT_HEADER* element, uint32_t id) {
    const korvane::BitmapInfo* info = korvane::find_bitmap(id);
    if (info == nullptr) throw std::runtime_error("bitmap " + std::to_string(id) + " is not in the bitmap table");
    return {element->position_x, element->position_y, int32_t(info->width), int32_t(info->height)};
}

std::vector<Box> Records::mouse_parents(std::string_view gauge) const {
    std::vector<Box> out;
    walk_mouse(require(gauge)->mouse_rects, [&](const MOUSERECT& r, Box box, size_t depth) {
        if (r.rect_type == kMouseParent && depth > 0) out.push_back(box);
    });
    return out;
}

std::vector<Box> Records::mouse_children(std::string_view gauge) const {
    std::vector<Box> out;
    walk_mouse(require(gauge)->mouse_rects, [&](const MOUSERECT& r, Box box, size_t) {
        if (r.rect_type == kMouseChild) out.push_back(box);
    });
    return out;
}

}  // namespace art
