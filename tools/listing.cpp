#include "tools/listing.h"

#include <string>

#include "host/instance.h"
#include "host/mouse.h"

namespace listing {
namespace {

const char* kind_name(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->name : "unknown element";
}

std::string failures(const FAILURE_RECORD* list) {
    if (list == nullptr) return "none";
    std::string text;
    // Lists end at a zero key; a list that never ends is cut short here.
    for (int i = 0; i < 64 && list[i].failure_key != 0; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%s(%u, %u)", text.empty() ? "" : ", ", list[i].failure_key,
                      list[i].failure_action);
        text += entry;
    }
    return text.empty() ? "empty" : text;
}

std::string token(const MODULE_VAR& var) { return var.token != 0 ? std::to_string(var.token) : "-"; }

// What the records say about an element.
std::string records(const ELEMENT_HEADER* e) {
    char text[256];
    int n = std::snprintf(text, sizeof text, "%s %u at (%d, %d) flags 0x%08X", kind_name(e->element_type),
                          e->resource_id, e->position_x, e->position_y, e->image_flags);
    auto more = [&](const char* format, auto... args) {
        if (n >= 0 && static_cast<size_t>(n) < sizeof text)
            n += std::snprintf(text + n, sizeof text - n, format, args...);
    };
    switch (e->element_type) {
        case kNeedle: {
            const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(e);
            more(" pivot (%d, %d) token %s", e->ofs_x, e->ofs_y, token(needle->source).c_str());
            if (needle->nonlinearity != nullptr) more(" table %u points", needle->nonlinearity_size);
            if (needle->max_degrees_per_tick != 0) more(" max %d deg/update", needle->max_degrees_per_tick);
            if (needle->update_callback != nullptr) more(" callback");
            break;
        }
        case kSlider: {
            const auto* slider = reinterpret_cast<const ELEMENT_SLIDER*>(e);
            more(" y token %s scale %g", token(slider->source_y).c_str(), slider->scale_y);
            break;
        }
        case kIcon: {
            const auto* icon = reinterpret_cast<const ELEMENT_ICON*>(e);
            more(" token %s frames %u%s", token(icon->source).c_str(), icon->frame_count,
                 icon->callback != nullptr ? " callback" : "");
            break;
        }
        case kMovingImage: {
            const auto* image = reinterpret_cast<const ELEMENT_MOVING_IMAGE*>(e);
            more(" x token %s %g..%g, y token %s %g..%g", token(image->source_x).c_str(), image->min_x, image->max_x,
                 token(image->source_y).c_str(), image->min_y, image->max_y);
            break;
        }
        case kSprite: {
            const auto* sprite = reinterpret_cast<const ELEMENT_SPRITE*>(e);
            more(" centre (%d, %d) y token %s x%g, rotation token %s x%g", e->ofs_x, e->ofs_y,
                 token(sprite->source_y).c_str(), sprite->scale_y, token(sprite->source_rotation).c_str(),
                 sprite->scale_rotation);
            break;
        }
        default: break;
    }
    more(" failures %s", failures(e->failure_records).c_str());
    return text;
}

// What the element shows after the update.
std::string shows(const bench::ElementState& s) {
    char text[160];
    const char* hidden = s.visible ? "" : "hidden; ";
    switch (s.type) {
        case kNeedle: std::snprintf(text, sizeof text, "%svalue %g, angle %.2f deg", hidden, s.value, s.angle); break;
        case kSlider: std::snprintf(text, sizeof text, "%sdrawn at (%.1f, %.1f)", hidden, s.x, s.y); break;
        case kIcon: std::snprintf(text, sizeof text, "%sframe %u (bitmap %u)", hidden, s.frame, s.resource_id); break;
        case kMovingImage:
            std::snprintf(text, sizeof text, "%spicture offset (%.1f, %.1f) px, travel (%.3f, %.3f)", hidden,
                          s.offset_x, s.offset_y, s.fraction_x, s.fraction_y);
            break;
        case kSprite:
            std::snprintf(text, sizeof text, "%sshift (%.1f, %.1f) px, turned %.2f deg anticlockwise", hidden,
                          s.shift_x, s.shift_y, s.rotation);
            break;
        default: std::snprintf(text, sizeof text, "%s", s.visible ? "shown" : "hidden"); break;
    }
    return text;
}

}  // namespace

void print_module(std::FILE* out, bench::Host& host, const bench::Module& module, double scale) {
    const LINKAGE_HEADER* linkage = module.linkage();
    std::fprintf(out, "%s: module id 0x%X, version 0x%X, %zu gauges\n", module.path().c_str(), linkage->module_id,
                 linkage->module_version, module.gauges().size());
    for (size_t index = 0; index < module.gauges().size(); ++index) {
        GAUGEHDR* gauge = module.gauges()[index];
        std::fprintf(out, "\n[%zu] \"%s\" header %u, %u mm\n", index,
                     gauge->gauge_name != nullptr ? gauge->gauge_name : "(no name)", gauge->header_version,
                     gauge->size_x_mm);
        try {
            bench::GaugeInstance instance(host, module, gauge, scale);
            instance.setup();
            instance.update();
            std::fprintf(out, "  elements after set-up and one update (drawing order):\n");
            for (const bench::ElementState& state : instance.elements()) {
                std::fprintf(out, "    %*s%s\n", 2 * state.depth, "", records(state.element).c_str());
                std::fprintf(out, "    %*s  shows: %s\n", 2 * state.depth, "", shows(state).c_str());
            }
            const std::string boxes = instance.mouse_layout().describe();
            std::fprintf(out, "  mouse areas (bitmap pixels):\n");
            size_t start = 0;
            while (start < boxes.size()) {
                const size_t end = boxes.find('\n', start);
                std::fprintf(out, "    %s\n", boxes.substr(start, end - start).c_str());
                if (end == std::string::npos) break;
                start = end + 1;
            }
        } catch (const std::exception& error) {
            std::fprintf(out, "  cannot be shown: %s\n", error.what());
        }
    }
    if (!host.key_log().empty()) {
        std::fprintf(out, "\nkey events sent by the gauges:");
        for (const bench::KeyEvent& event : host.key_log()) std::fprintf(out, " %u=%u", event.id, event.value);
        std::fprintf(out, "\n");
    }
}

}  // namespace listing
