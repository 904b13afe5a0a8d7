#include "validate/records_walk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/dib.h"

namespace validate::walk {

// --- Elements -----------------------------------------------------------------------

std::vector<const FieldInfo*> element_callbacks(uint32_t type) {
    std::vector<const FieldInfo*> callbacks;
    if (const RecordInfo* record = element_schema(type)) {
        for (const FieldInfo& field : record->fields) {
            if (field.role == FieldRole::kCode) callbacks.push_back(&field);
        }
    }
    return callbacks;
}

// KV006: whether the tree may take the element at `address` that
// `listed_by` lists: no cycle, no element listed twice, within its bounds.
bool Walker::admits(const GaugeContext& context, uint32_t address, int depth, const std::string& listed_by) {
    const std::string& g = context.gauge->name;
    if (context.on_path.count(address) != 0) {
        fail(Check::kElementTrees, g, listed_by, kNextList,
             "lists the element at " + hex(address) + ", which lies above it in the tree: the tree has a cycle");
        return false;
    }
    if (context.visited.count(address) != 0) {
        fail(Check::kElementTrees, g, listed_by, kNextList,
             "lists the element at " + hex(address) + ", which another list already holds");
        return false;
    }
    if (static_cast<size_t>(depth) >= kMaxTreeDepth || context.gauge->elements.size() >= kMaxElementsPerGauge) {
        fail(Check::kElementTrees, g, listed_by, kNextList, "the tree grows beyond its bounds");
        return false;
    }
    return true;
}

// One element of the tree: read, checked, then the list beneath it walked;
// the recursion keeps its bookkeeping (depth, who listed it) in one frame.
bool Walker::walk_element(GaugeContext& context, uint32_t address, int depth, const std::string& listed_by) {
    if (!admits(context, address, depth, listed_by)) return false;
    GaugeRecord& gauge = *context.gauge;
    const std::string& g = gauge.name;
    context.visited.insert(address);

    const uint32_t type = *read<uint32_t>(address);  // read_list checked it
    ElementRecord element;
    element.live = runtime::ElementPtr(address);
    element.type = type;
    element.size = std::max<size_t>(element_record_size(type), sizeof(guest::ELEMENT_HEADER));
    element.depth = depth;
    element.order = gauge.elements.size() + 1;
    std::vector<uint8_t> bytes(element.size);
    read(address, bytes.data(), bytes.size());
    guest::ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    element.label = "element " + std::to_string(element.order) + " (" + element_kind_name(type) + ", bitmap " +
                    std::to_string(header.resource_id) + ")";
    gauge.elements.push_back(element);
    add_span(RecordSpan::Kind::kElement, address, element.size, context.index, element.label, type);

    bool sound = true;
    if (header.gauge != gauge.live) {
        fail(Check::kElementOwners, g, element.label, kOwner,
             "points to " + hex(header.gauge.address) + ", not to its own header at " + hex(gauge.live.address));
    }
    check_element(context, element, bytes);
    if (header.failure_records && !check_failures(context, element, header.failure_records.address)) {
        sound = false;
    }
    if (type == kNeedle) {
        guest::ELEMENT_NEEDLE needle{};
        std::memcpy(&needle, bytes.data(), sizeof needle);
        if (!check_table(context, element, needle)) sound = false;
    }
    for (const FieldInfo* field : element_callbacks(type)) {
        const uint32_t callback = word_at(bytes, field->offset);
        if (callback != 0 && !image_.is_code(callback)) sound = false;
    }

    if (header.next_element_list) {
        const std::optional<std::vector<uint32_t>> next =
            read_list(g, element.label, kNextList, header.next_element_list.address);
        if (!next) return false;
        add_span(RecordSpan::Kind::kElementList, header.next_element_list.address, (next->size() + 1) * 4,
                 context.index, "next list of " + element.label);
        context.on_path.insert(address);
        for (uint32_t child : *next) {
            if (!walk_element(context, child, depth + 1, element.label)) sound = false;
        }
        context.on_path.erase(address);
    }
    return sound;
}

// Every check of one element's record, in the order of the report's checks;
// each is a few lines over the same header and bytes.
void Walker::check_element(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    guest::ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    // KV015: reserved fields of the header, the record and its variables. The
    // record's host fields count too (the host takes a static image's image
    // for its own); a variable's value does not, as the host writes it before
    // any read.
    check_reserved(g, e, bytes.data(), kElementHeaderSchema, false);
    if (const RecordInfo* record = element_schema(element.type)) check_reserved(g, e, bytes.data(), *record, true);
    for (const EmbeddedVariable& var : embedded_variables(element.type)) {
        check_reserved(g, e, bytes.data() + var.offset, kVarSchema, false, std::string(var.name) + ".");
    }

    // KV016: image flags.
    if ((header.image_flags & ~kKnownImageFlags) != 0) {
        fail(Check::kImageFlags, g, e, kImageFlags,
             hex(header.image_flags) + " sets bits the host gives no meaning (" +
                 hex(header.image_flags & ~kKnownImageFlags) + ")");
    }
    if (element.depth == 0 && (header.image_flags & kImageHidden) != 0) {
        fail(Check::kImageFlags, g, e, kImageFlags,
             "the background is stored hidden (bit 30): the gauge would never show");
    }

    // KV017: coordinates within reach of the picture. One far beyond it (a
    // pivot at the end of int32) turns every sum drawn from it into overflow.
    const int64_t reach = coordinate_reach(context);
    const std::pair<const char*, int32_t> coordinates[] = {
        {kPositionX, header.position_x},
        {kPositionY, header.position_y},
        {kOffsetX, header.ofs_x},
        {kOffsetY, header.ofs_y},
    };
    for (const auto& [name, value] : coordinates) {
        if (std::abs(int64_t{value}) > reach) {
            fail(Check::kElementFields, g, e, name,
                 "is " + std::to_string(value) + ", more than " + std::to_string(reach) + " pixels from the origin");
        }
    }
    check_kind_fields(g, e, element, bytes);

    if (bitmaps_known_) check_bitmaps(context, element, bytes);
}

// KV017 and KV004: the fields of each element kind, its callbacks into
// module code.
void Walker::check_kind_fields(const std::string& g, const std::string& e, const ElementRecord& element,
                               const std::vector<uint8_t>& bytes) {
    if (const RecordInfo* record = element_schema(element.type)) {
        for (const FieldInfo& field : record->fields) {
            if (field.role != FieldRole::kValue || !field.floating || field.size != sizeof(double)) continue;
            double value = 0.0;
            std::memcpy(&value, bytes.data() + field.offset, sizeof value);
            if (!std::isfinite(value)) {
                fail(Check::kElementFields, g, e, field.name, "is " + number(value) + ", not a finite number");
            }
        }
    }
    switch (element.type) {
        case kNeedle: {
            guest::ELEMENT_NEEDLE needle{};
            std::memcpy(&needle, bytes.data(), sizeof needle);
            if (needle.max_degrees_per_tick < 0) {
                fail(Check::kElementFields, g, e, kMaxDegrees,
                     "is " + std::to_string(needle.max_degrees_per_tick) + ", below 0");
            }
            break;
        }
        case kIcon: {
            guest::ELEMENT_ICON icon{};
            std::memcpy(&icon, bytes.data(), sizeof icon);
            if (icon.frame_count == 0 || icon.frame_count > kMaxFrames) {
                fail(Check::kElementFields, g, e, kFrameCount,
                     "is " + std::to_string(icon.frame_count) + ", not 1 to " + std::to_string(kMaxFrames));
            }
            break;
        }
        case kSprite: {
            guest::ELEMENT_SPRITE sprite{};
            std::memcpy(&sprite, bytes.data(), sizeof sprite);
            if (!(std::isfinite(sprite.texture_scale_x) && sprite.texture_scale_x > 0.0f)) {
                fail(Check::kElementFields, g, e, kTextureScaleX,
                     "is " + number(sprite.texture_scale_x) + ", not a positive number");
            }
            if (!(std::isfinite(sprite.texture_scale_y) && sprite.texture_scale_y > 0.0f)) {
                fail(Check::kElementFields, g, e, kTextureScaleY,
                     "is " + number(sprite.texture_scale_y) + ", not a positive number");
            }
            break;
        }
        case kString:
            warn(Check::kElementFields, g, e, kElementType,
                 "string elements are drawn by the host from fields this validator does not check");
            break;
        default: break;
    }
    for (const FieldInfo* field : element_callbacks(element.type)) {
        check_code(g, e, field->name, word_at(bytes, field->offset), true);
    }
}

// --- Bitmaps ------------------------------------------------------------------------------

// The bitmap `id` an element names, if the host can draw it; else the
// finding says why not. `role_name` names its part ("frame 2", "mask").
std::optional<emulator::Bitmap> Walker::present_bitmap(const std::string& g, const std::string& e, uint32_t id,
                                                       const char* role_name) {
    const std::string role = *role_name == '\0' ? std::string("bitmap") : std::string(role_name) + " bitmap";
    std::optional<emulator::Bitmap> found = bitmap(id);
    if (!found) {
        fail(Check::kBitmaps, g, e, kResourceId,
             role + " " + std::to_string(id) + " is not a bitmap resource of the module");
        return std::nullopt;
    }
    // What the host cannot draw fails, by the decoder's own rule; what it
    // could draw but no gauge would be that large fails too.
    std::string reason = runtime::undrawable_reason(*found);
    if (reason.empty() && (found->width > kMaxBitmapExtent || found->height > kMaxBitmapExtent))
        reason = "larger than " + std::to_string(kMaxBitmapExtent) + " pixels a side";
    if (!reason.empty()) {
        fail(Check::kBitmaps, g, e, kResourceId,
             role + " " + std::to_string(id) + " is " + std::to_string(found->width) + " x " +
                 std::to_string(found->height) + " at " + std::to_string(found->bits_per_pixel) +
                 " bits per pixel: the host cannot draw it (" + reason + ")");
        return std::nullopt;
    }
    return found;
}

// Every bitmap an element names (its own, a mask, an icon's frames), each
// checked the same way.
void Walker::check_bitmaps(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    guest::ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    auto present = [&](uint32_t id, const char* role_name) { return present_bitmap(g, e, id, role_name); };

    switch (element.type) {
        case kIcon: {
            guest::ELEMENT_ICON icon{};
            std::memcpy(&icon, bytes.data(), sizeof icon);
            const uint32_t frames = std::min(std::max<uint32_t>(icon.frame_count, 1), kMaxFrames);
            std::optional<emulator::Bitmap> first;
            for (uint32_t k = 0; k < frames; ++k) {
                const std::string role = "frame " + std::to_string(k);
                std::optional<emulator::Bitmap> frame = present(header.resource_id + k, role.c_str());
                if (k == 0) first = frame;
                if (frame && first && (frame->width != first->width || frame->height != first->height)) {
                    warn(Check::kBitmaps, g, e, kFrameCount,
                         "frame " + std::to_string(k) + " is not the size of frame 0");
                }
            }
            break;
        }
        case kMovingImage: {
            guest::ELEMENT_MOVING_IMAGE moving{};
            std::memcpy(&moving, bytes.data(), sizeof moving);
            const std::optional<emulator::Bitmap> picture = present(header.resource_id, "picture");
            const std::optional<emulator::Bitmap> window = present(header.resource_id + 1, "mask (window)");
            if (picture && window) {
                if (moving.min_x != moving.max_x && picture->width < window->width) {
                    fail(Check::kBitmaps, g, e, kResourceId, "picture narrower than its window on the moving x axis");
                }
                if (moving.min_y != moving.max_y && picture->height < window->height) {
                    fail(Check::kBitmaps, g, e, kResourceId, "picture lower than its window on the moving y axis");
                }
            }
            break;
        }
        case kSprite:
            present(header.resource_id, "texture");
            present(header.resource_id + 1, "mask");
            break;
        case kString: break;
        default: present(header.resource_id, ""); break;
    }
}

}  // namespace validate::walk
