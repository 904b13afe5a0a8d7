#include "tools/listing.h"

#include <string>

#include <nlohmann/json.hpp>

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

ModuleListing list_module(bench::Host& host, const bench::Module& module, double scale) {
    ModuleListing listing;
    listing.path = module.path();
    listing.module_id = module.linkage()->module_id;
    listing.module_version = module.linkage()->module_version;
    for (GAUGEHDR* gauge : module.gauges()) {
        GaugeListing& entry = listing.gauges.emplace_back();
        entry.name = gauge->gauge_name != nullptr ? gauge->gauge_name : "(no name)";
        entry.header_version = gauge->header_version;
        entry.size_mm = gauge->size_x_mm;
        try {
            bench::GaugeInstance instance(host, module, gauge, scale);
            instance.setup();
            instance.update();
            for (const bench::ElementState& state : instance.elements()) {
                entry.elements.push_back({state.depth, kind_name(state.type), state.resource_id, state.visible,
                                          records(state.element), shows(state)});
            }
            const std::string boxes = instance.mouse_layout().describe();
            size_t start = 0;
            while (start < boxes.size()) {
                const size_t end = boxes.find('\n', start);
                entry.mouse_areas.push_back(boxes.substr(start, end - start));
                if (end == std::string::npos) break;
                start = end + 1;
            }
        } catch (const std::exception& error) {
            entry.error = error.what();
        }
    }
    listing.key_events = host.key_log();
    return listing;
}

void print(std::FILE* out, const ModuleListing& listing) {
    std::fprintf(out, "%s: module id 0x%X, version 0x%X, %zu gauges\n", listing.path.c_str(), listing.module_id,
                 listing.module_version, listing.gauges.size());
    for (size_t index = 0; index < listing.gauges.size(); ++index) {
        const GaugeListing& gauge = listing.gauges[index];
        std::fprintf(out, "\n[%zu] \"%s\" header %u, %u mm\n", index, gauge.name.c_str(), gauge.header_version,
                     gauge.size_mm);
        if (!gauge.error.empty()) {
            std::fprintf(out, "  cannot be shown: %s\n", gauge.error.c_str());
            continue;
        }
        std::fprintf(out, "  elements after set-up and one update (drawing order):\n");
        for (const ElementListing& element : gauge.elements) {
            std::fprintf(out, "    %*s%s\n", 2 * element.depth, "", element.records.c_str());
            std::fprintf(out, "    %*s  shows: %s\n", 2 * element.depth, "", element.shows.c_str());
        }
        std::fprintf(out, "  mouse areas (bitmap pixels):\n");
        for (const std::string& area : gauge.mouse_areas) std::fprintf(out, "    %s\n", area.c_str());
    }
    if (!listing.key_events.empty()) {
        std::fprintf(out, "\nkey events sent by the gauges:");
        for (const bench::KeyEvent& event : listing.key_events) std::fprintf(out, " %u=%u", event.id, event.value);
        std::fprintf(out, "\n");
    }
}

std::string json(const ModuleListing& listing) {
    using nlohmann::ordered_json;
    ordered_json gauges = ordered_json::array();
    for (const GaugeListing& gauge : listing.gauges) {
        ordered_json elements = ordered_json::array();
        for (const ElementListing& element : gauge.elements) {
            elements.push_back({{"depth", element.depth},
                                {"kind", element.kind},
                                {"bitmap", element.bitmap},
                                {"visible", element.visible},
                                {"records", element.records},
                                {"shows", element.shows}});
        }
        ordered_json entry = {{"name", gauge.name},
                              {"header_version", gauge.header_version},
                              {"size_mm", gauge.size_mm},
                              {"elements", std::move(elements)},
                              {"mouse_areas", gauge.mouse_areas}};
        if (!gauge.error.empty()) entry["error"] = gauge.error;
        gauges.push_back(std::move(entry));
    }
    ordered_json events = ordered_json::array();
    for (const bench::KeyEvent& event : listing.key_events)
        events.push_back({{"id", event.id}, {"value", event.value}});
    const ordered_json document = {{"module", listing.path},
                                   {"module_id", listing.module_id},
                                   {"module_version", listing.module_version},
                                   {"gauges", std::move(gauges)},
                                   {"key_events", std::move(events)}};
    // Names come from the module's bytes: one that is no UTF-8 still gives JSON.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace listing
