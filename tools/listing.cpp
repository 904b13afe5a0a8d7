#include "tools/listing.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "frame/vocabulary_names.h"
#include "runtime/instance.h"
#include "runtime/mouse.h"

namespace listing {
namespace {

const char* kind_name(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->name : "unknown element";
}

// Failure lists end at a zero key; a list that never ends is cut short here.
constexpr uint32_t kMaxFailuresListed = 64;

std::string failures(const runtime::ModuleMemory& memory, frame::GuestPtr<const guest::FAILURE_RECORD> list) {
    std::string text;
    for (uint32_t i = 0; i < kMaxFailuresListed; ++i) {
        const guest::FAILURE_RECORD& failure = memory.read(list.at(i));
        if (failure.failure_key == 0) break;
        const auto named = [](const auto& names, uint32_t number) {
            const char* name = name_of(names, number);
            return name != nullptr ? std::string(name) : std::to_string(number);
        };
        text += (text.empty() ? "" : ", ") + std::string("(") + named(kFailureKeyNames, failure.failure_key) + ", " +
                named(kFailureActionNames, failure.failure_action) + ")";
    }
    return text.empty() ? "empty" : text;
}

template <typename T>
T load(const uint8_t* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string flags_text(const frame::FieldInfo& field, uint32_t bits);

std::string value_text(const frame::FieldInfo& field, const uint8_t* bytes) {
    char text[64];
    if (field.floating && field.size == 8) {
        std::snprintf(text, sizeof text, "%g", load<double>(bytes));
    } else if (field.floating && field.size == 4) {
        std::snprintf(text, sizeof text, "%g", static_cast<double>(load<float>(bytes)));
    } else if (field.size == 4) {
        // Bit sets (the records name them ..._flags) by their bits' names;
        // counts, places and tokens in decimal.
        if (std::string_view(field.name).ends_with("flags")) return flags_text(field, load<uint32_t>(bytes));
        return std::to_string(load<int32_t>(bytes));
    } else {
        std::string all;
        for (uint32_t i = 0; i < field.size; ++i) {
            std::snprintf(text, sizeof text, "%02X", bytes[i]);
            all += text;
        }
        return all;
    }
    return text;
}

// The name of a number that has one (a variable's token, a mouse area's
// event or cursor), with the key it goes under beside the number in JSON:
// {key, name}, or nothing.
struct NumberName {
    const char* key;
    std::string name;
};
std::optional<NumberName> number_name(const frame::RecordInfo& record, const frame::FieldInfo& field,
                                      const uint8_t* at) {
    if (field.size != 4) return std::nullopt;
    const std::string_view name = field.name;
    const auto number = load<uint32_t>(at);
    if (&record == &frame::schema_of<guest::MODULE_VAR>() && name == FRAME_FIELD_NAME(guest::MODULE_VAR, token)) {
        if (const auto named = sim::variable_of(number)) return NumberName{"variable", named->name};
    } else if (&record == &frame::schema_of<guest::MOUSERECT>()) {
        if (name == FRAME_FIELD_NAME(guest::MOUSERECT, event_id)) {
            if (const auto named = sim::event_of(number)) return NumberName{"event", named->name};
        } else if (name == FRAME_FIELD_NAME(guest::MOUSERECT, cursor)) {
            if (const char* named = cursor_name(load<int32_t>(at))) return NumberName{"cursor_name", named};
        } else if (name == FRAME_FIELD_NAME(guest::MOUSERECT, rect_type)) {
            if (const char* named = name_of(kMouseRectTypeNames, number)) return NumberName{"rect_type_name", named};
        }
    } else if (&record == &frame::schema_of<guest::FAILURE_RECORD>()) {
        if (name == FRAME_FIELD_NAME(guest::FAILURE_RECORD, failure_key)) {
            if (const char* named = name_of(kFailureKeyNames, number)) return NumberName{"failure_key_name", named};
        } else if (name == FRAME_FIELD_NAME(guest::FAILURE_RECORD, failure_action)) {
            if (const char* named = name_of(kFailureActionNames, number))
                return NumberName{"failure_action_name", named};
        }
    }
    return std::nullopt;
}

// The string a text field points to; nothing when it is null or cannot be
// read (no memory given, or it runs out of the module's memory).
constexpr size_t kMaxTextListed = 256;
std::optional<std::string> text_at(const runtime::ModuleMemory* memory, uint32_t address) {
    if (memory == nullptr || address == 0) return std::nullopt;
    try {
        return memory->read_string(frame::GuestPtr<const char>(address), kMaxTextListed);
    } catch (const runtime::ModuleFault&) {
        return std::nullopt;
    }
}

std::span<const FlagName> flag_names(const frame::FieldInfo& field) {
    const std::string_view name = field.name;
    if (name == FRAME_FIELD_NAME(guest::ELEMENT_HEADER, image_flags)) return kImageFlagNames;
    if (name == FRAME_FIELD_NAME(guest::MOUSERECT, mouse_flags)) return kMouseFlagNames;
    return {};
}

// Every bit set, by name where it has one, else as "bit N".
nlohmann::ordered_json flags_json(uint32_t bits, std::span<const FlagName> names) {
    nlohmann::ordered_json set = nlohmann::ordered_json::array();
    each_flag(bits, names, [&set](const char* name, int bit) {
        set.push_back(name != nullptr ? std::string(name) : "bit " + std::to_string(bit));
    });
    return set;
}

// "[transparent_black overlay buffered]", as the JSON's array.
std::string flags_text(const frame::FieldInfo& field, uint32_t bits) {
    std::string text;
    for (const auto& name : flags_json(bits, flag_names(field))) {
        text += (text.empty() ? "" : " ") + name.get<std::string>();
    }
    return "[" + text + "]";
}

nlohmann::ordered_json value_json(const frame::FieldInfo& field, const uint8_t* bytes) {
    if (field.floating && field.size == 8) return load<double>(bytes);
    if (field.floating && field.size == 4) return static_cast<double>(load<float>(bytes));
    if (field.size == 4) {
        if (std::string_view(field.name).ends_with("flags"))
            return flags_json(load<uint32_t>(bytes), flag_names(field));
        return load<int32_t>(bytes);
    }
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < field.size; ++i) all.push_back(bytes[i]);
    return all;
}

void add_fields_json(const frame::RecordInfo& record, const uint8_t* bytes, const runtime::ModuleMemory* memory,
                     nlohmann::ordered_json& out) {
    for (const frame::FieldInfo& field : record.fields) {
        const uint8_t* at = bytes + field.offset;
        switch (field.role) {
            case frame::FieldRole::kReserved:
            case frame::FieldRole::kHost: continue;
            case frame::FieldRole::kRecord:
                if (field.offset == 0) {
                    add_fields_json(*field.record, at, memory, out);
                } else {
                    add_fields_json(*field.record, at, memory, out[field.name] = nlohmann::ordered_json::object());
                }
                continue;
            case frame::FieldRole::kText: {
                // The string itself; its address only where it cannot be read.
                const auto address = load<uint32_t>(at);
                const std::optional<std::string> text = text_at(memory, address);
                out[field.name] = text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
                if (!text && address != 0) out[std::string(field.name) + "_address"] = address;
                continue;
            }
            case frame::FieldRole::kPointer:
            case frame::FieldRole::kCode: {
                const auto address = load<uint32_t>(at);
                out[field.name] = address != 0 ? nlohmann::ordered_json(address) : nlohmann::ordered_json(nullptr);
                continue;
            }
            case frame::FieldRole::kValue: out[field.name] = value_json(field, at); break;
        }
        if (const auto named = number_name(record, field, at)) out[named->key] = named->name;
    }
}

void append_fields(const frame::RecordInfo& record, const uint8_t* bytes, const runtime::ModuleMemory* memory,
                   const std::string& prefix, std::string& out) {
    for (const frame::FieldInfo& field : record.fields) {
        const uint8_t* at = bytes + field.offset;
        std::string text;
        switch (field.role) {
            case frame::FieldRole::kReserved:
            case frame::FieldRole::kHost: continue;
            case frame::FieldRole::kRecord:
                append_fields(*field.record, at, memory, field.offset == 0 ? prefix : prefix + field.name + ".", out);
                continue;
            case frame::FieldRole::kText: {
                const auto address = load<uint32_t>(at);
                const std::optional<std::string> string = text_at(memory, address);
                text = string ? "\"" + *string + "\"" : address != 0 ? "unreadable at " + hex(address) : "null";
                break;
            }
            case frame::FieldRole::kPointer: {
                const auto address = load<uint32_t>(at);
                text = address != 0 ? hex(address) : "null";
                break;
            }
            case frame::FieldRole::kCode: {
                const auto address = load<uint32_t>(at);
                text = address != 0 ? "code " + hex(address) : "null";
                break;
            }
            case frame::FieldRole::kValue: text = value_text(field, at); break;
        }
        if (const auto named = number_name(record, field, at)) text += " (" + named->name + ")";
        out += (out.empty() ? "" : ", ") + prefix + field.name + " " + text;
    }
}

// Failure lists end at a zero key; a list that never ends is cut short.
nlohmann::ordered_json failures_json(const runtime::ModuleMemory& memory,
                                     frame::GuestPtr<const guest::FAILURE_RECORD> list) {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < kMaxFailuresListed; ++i) {
        const guest::FAILURE_RECORD& failure = memory.read(list.at(i));
        if (failure.failure_key == 0) break;
        all.push_back(fields_json(frame::schema_of<guest::FAILURE_RECORD>(), reinterpret_cast<const uint8_t*>(&failure),
                                  &memory));
    }
    return all;
}

// What the records say about an element, as text and as fields: the fields
// of the record its kind is stored in (a string's or an unknown kind's: the
// header's), and its failure list.
void describe_records(const runtime::ModuleMemory& memory, runtime::ElementPtr element, ElementListing& out) {
    const guest::ELEMENT_HEADER& header = memory.read(element);
    const ElementKind* kind = element_kind(header.element_type);
    const frame::RecordInfo& record =
        kind != nullptr && kind->record != nullptr ? *kind->record : frame::schema_of<guest::ELEMENT_HEADER>();
    try {
        const auto bytes = memory.read_array(element.cast<const uint8_t>(), record.size);
        out.records = describe_fields(record, bytes.data(), &memory);
        out.fields = fields_json(record, bytes.data(), &memory);
    } catch (const runtime::ModuleFault&) {
        const frame::RecordInfo& shared = frame::schema_of<guest::ELEMENT_HEADER>();
        const auto bytes = memory.read_array(element.cast<const uint8_t>(), shared.size);
        out.records = describe_fields(shared, bytes.data(), &memory) + "; its " + record.name +
                      " runs out of the module's memory";
        out.fields = fields_json(shared, bytes.data(), &memory);
        out.fields["truncated"] = std::string(record.name) + " runs out of the module's memory";
    }
    if (header.failure_records) {
        out.records += "; failures " + failures(memory, header.failure_records);
        out.fields["failures"] = failures_json(memory, header.failure_records);
    }
}

// The gauge's mouse areas, as lines and as the fields of their records with
// where each lies and the tooltip it shows.
void describe_mouse(const runtime::ModuleMemory& memory, const guest::GAUGEHDR& header,
                    const runtime::MouseLayout& layout, GaugeListing& out) {
    const std::string lines = layout.describe();
    size_t start = 0, index = 0;
    const std::vector<runtime::MouseBox>& boxes = layout.boxes();
    while (start < lines.size() && index < boxes.size()) {
        const size_t end = lines.find('\n', start);
        const runtime::MouseBox& box = boxes[index++];
        std::string line = lines.substr(start, end - start);
        const char* help = sim::help::text_of(box.help_id);
        if (help != nullptr) line += " \"" + std::string(help) + "\"";
        out.mouse_areas.push_back(std::move(line));
        const auto bytes = memory.read_array(
            header.mouse_rects.at(static_cast<uint32_t>(box.record)).cast<const uint8_t>(), sizeof(guest::MOUSERECT));
        nlohmann::ordered_json fields = fields_json(frame::schema_of<guest::MOUSERECT>(), bytes.data(), &memory);
        fields["depth"] = box.depth;
        fields["area"] = {{"x", box.x}, {"y", box.y}, {"width", box.width}, {"height", box.height}};
        if (help != nullptr) fields["help_text"] = help;
        out.mouse_fields.push_back(std::move(fields));
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

// What the element shows after the update.
std::string shows(const runtime::ElementState& s) {
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

std::string describe_fields(const frame::RecordInfo& record, const uint8_t* bytes,
                            const runtime::ModuleMemory* memory) {
    std::string text;
    append_fields(record, bytes, memory, "", text);
    return text;
}

nlohmann::ordered_json fields_json(const frame::RecordInfo& record, const uint8_t* bytes,
                                   const runtime::ModuleMemory* memory) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    add_fields_json(record, bytes, memory, fields);
    return fields;
}

ModuleListing list_module(runtime::Host& host, const runtime::Module& module, double scale) {
    const runtime::ModuleMemory memory = module.records();
    ModuleListing listing;
    listing.path = module.path();
    const guest::LINKAGE_HEADER& linkage = memory.read(module.linkage());
    listing.module_id = linkage.module_id;
    listing.module_version = linkage.module_version;
    listing.unbound_imports = module.unbound_imports();
    listing.libraries = module.libraries();
    for (const runtime::GaugePtr gauge : module.gauges()) {
        GaugeListing& entry = listing.gauges.emplace_back();
        entry.name = module.gauge_name(gauge);
        if (entry.name.empty()) entry.name = "(no name)";
        try {
            const guest::GAUGEHDR& header = memory.read(gauge);
            entry.header_version = header.header_version;
            entry.size_mm = header.size_x_mm;
            entry.header =
                fields_json(frame::schema_of<guest::GAUGEHDR>(),
                            memory.read_array(gauge.cast<const uint8_t>(), sizeof(guest::GAUGEHDR)).data(), &memory);
            runtime::GaugeInstance instance(host, module, gauge, scale);
            instance.setup();
            instance.update();
            for (const runtime::ElementState& state : instance.elements()) {
                ElementListing& element = entry.elements.emplace_back();
                element.depth = state.depth;
                element.kind = kind_name(state.type);
                element.bitmap = state.resource_id;
                element.visible = state.visible;
                describe_records(memory, state.element, element);
                element.shows = shows(state);
            }
            describe_mouse(memory, header, instance.mouse_layout(), entry);
        } catch (const runtime::GaugeFault& fault) {
            entry.error = fault.what();
            entry.fault = true;
        } catch (const runtime::ModuleFault& fault) {
            entry.error = runtime::fault_message(module, "gauge " + entry.name + ", its records", fault);
            entry.fault = true;
        } catch (const std::exception& error) {
            entry.error = error.what();
        }
    }
    listing.key_events = host.key_log();
    return listing;
}

std::vector<std::string> faults(const ModuleListing& listing) {
    std::vector<std::string> found;
    for (const GaugeListing& gauge : listing.gauges) {
        if (gauge.fault) found.push_back(gauge.error);
    }
    return found;
}

void print(std::FILE* out, const ModuleListing& listing) {
    std::fprintf(out, "%s: module id 0x%X, version 0x%X, %zu gauge%s\n", listing.path.c_str(), listing.module_id,
                 listing.module_version, listing.gauges.size(), listing.gauges.size() == 1 ? "" : "s");
    for (const runtime::ModuleLibrary& library : listing.libraries)
        std::fprintf(out, "loads %s, which %s imports\n", library.path.c_str(), library.imported_by.c_str());
    if (!listing.unbound_imports.empty()) {
        std::fprintf(out, "imports the host does not provide (a call of one stops the module's call):");
        for (const std::string& name : listing.unbound_imports) std::fprintf(out, " %s", name.c_str());
        std::fprintf(out, "\n");
    }
    for (size_t index = 0; index < listing.gauges.size(); ++index) {
        const GaugeListing& gauge = listing.gauges[index];
        std::fprintf(out, "\n[%zu] \"%s\" header %u, %u mm\n", index, gauge.name.c_str(), gauge.header_version,
                     gauge.size_mm);
        if (!gauge.error.empty()) {
            std::fprintf(out, "  %s: %s\n", gauge.fault ? "fault" : "cannot be shown", gauge.error.c_str());
            continue;
        }
        std::fprintf(out, "  elements after set-up and one update (drawing order):\n");
        for (const ElementListing& element : gauge.elements) {
            std::fprintf(out, "    %*s%s %u: %s\n", 2 * element.depth, "", element.kind, element.bitmap,
                         element.records.c_str());
            std::fprintf(out, "    %*s  shows: %s\n", 2 * element.depth, "", element.shows.c_str());
        }
        std::fprintf(out, gauge.mouse_areas.empty() ? "  mouse areas: none\n" : "  mouse areas (bitmap pixels):\n");
        for (const std::string& area : gauge.mouse_areas) std::fprintf(out, "    %s\n", area.c_str());
    }
    if (!listing.key_events.empty()) {
        std::fprintf(out, "\nkey events sent by the gauges:");
        for (const runtime::KeyEvent& event : listing.key_events) {
            const auto named = sim::event_of(event.id);
            std::fprintf(out, " %s=%u", named ? named->name.c_str() : std::to_string(event.id).c_str(), event.value);
        }
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
                                {"records", element.fields},
                                {"shows", element.shows}});
        }
        ordered_json entry = {
            {"name", gauge.name},     {"header_version", gauge.header_version}, {"size_mm", gauge.size_mm},
            {"header", gauge.header}, {"elements", std::move(elements)},        {"mouse_areas", gauge.mouse_fields}};
        if (!gauge.error.empty()) entry["error"] = gauge.error;
        if (gauge.fault) entry["fault"] = true;
        gauges.push_back(std::move(entry));
    }
    ordered_json libraries = ordered_json::array();
    for (const runtime::ModuleLibrary& library : listing.libraries)
        libraries.push_back({{"path", library.path}, {"imported_by", library.imported_by}});
    ordered_json events = ordered_json::array();
    for (const runtime::KeyEvent& event : listing.key_events) {
        ordered_json entry = {{"id", event.id}, {"value", event.value}};
        if (const auto named = sim::event_of(event.id)) entry["name"] = named->name;
        events.push_back(std::move(entry));
    }
    const ordered_json document = {{"module", listing.path},
                                   {"module_id", listing.module_id},
                                   {"module_version", listing.module_version},
                                   {"unbound_imports", listing.unbound_imports},
                                   {"libraries", libraries},
                                   {"gauges", std::move(gauges)},
                                   {"key_events", std::move(events)}};
    // Names come from the module's bytes: one that is no UTF-8 still gives JSON.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace listing
