#include "host/validate/records.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "frame/linkage.h"
#include "host/evaluate.h"
#include "host/validate/writable.h"

namespace bench::validate {
namespace {

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

uintptr_t address_of(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

template <typename Function>
uintptr_t code_address(Function function) {
    uintptr_t address = 0;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&address, &function, sizeof address);
    return address;
}

bool all_zero(const uint8_t* bytes, size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

// One field of a record that must stay zero in the module's data.
struct ReservedField {
    size_t offset;
    size_t size;
    const char* name;
};

constexpr size_t kVarReserved1 = offsetof(MODULE_VAR, reserved_1);
constexpr size_t kVarReserved2 = offsetof(MODULE_VAR, reserved_2);
constexpr size_t kVarValue = offsetof(MODULE_VAR, value);

constexpr ReservedField kHeaderReserved700[] = {
    {offsetof(GAUGEHDR, reserved_1), sizeof(GAUGEHDR::reserved_1), "reserved_1"},
    {offsetof(GAUGEHDR, reserved_2), sizeof(GAUGEHDR::reserved_2), "reserved_2"},
    {offsetof(GAUGEHDR, reserved_3), sizeof(GAUGEHDR::reserved_3), "reserved_3"},
};
constexpr ReservedField kElementHeaderReserved[] = {
    {offsetof(ELEMENT_HEADER, reserved_1), sizeof(ELEMENT_HEADER::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_HEADER, reserved_2), sizeof(ELEMENT_HEADER::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_HEADER, reserved_3), sizeof(ELEMENT_HEADER::reserved_3), "reserved_3"},
    {offsetof(ELEMENT_HEADER, reserved_4), sizeof(ELEMENT_HEADER::reserved_4), "reserved_4"},
};
constexpr ReservedField kStaticImageReserved[] = {
    {offsetof(ELEMENT_STATIC_IMAGE, image), sizeof(ELEMENT_STATIC_IMAGE::image), "image (the host's, zero at load)"},
    {offsetof(ELEMENT_STATIC_IMAGE, reserved), sizeof(ELEMENT_STATIC_IMAGE::reserved), "reserved"},
};
constexpr ReservedField kNeedleReserved[] = {
    {offsetof(ELEMENT_NEEDLE, reserved_1), sizeof(ELEMENT_NEEDLE::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_NEEDLE, reserved_2), sizeof(ELEMENT_NEEDLE::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_NEEDLE, reserved_3), sizeof(ELEMENT_NEEDLE::reserved_3), "reserved_3"},
    {offsetof(ELEMENT_NEEDLE, reserved_4), sizeof(ELEMENT_NEEDLE::reserved_4), "reserved_4"},
};
constexpr ReservedField kSliderReserved[] = {
    {offsetof(ELEMENT_SLIDER, reserved_1), sizeof(ELEMENT_SLIDER::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_SLIDER, reserved_2), sizeof(ELEMENT_SLIDER::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_SLIDER, reserved_3), sizeof(ELEMENT_SLIDER::reserved_3), "reserved_3"},
    {offsetof(ELEMENT_SLIDER, reserved_4), sizeof(ELEMENT_SLIDER::reserved_4), "reserved_4"},
};
constexpr ReservedField kIconReserved[] = {
    {offsetof(ELEMENT_ICON, reserved_1), sizeof(ELEMENT_ICON::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_ICON, reserved_2), sizeof(ELEMENT_ICON::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_ICON, reserved_3), sizeof(ELEMENT_ICON::reserved_3), "reserved_3"},
};
constexpr ReservedField kMovingImageReserved[] = {
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_1), sizeof(ELEMENT_MOVING_IMAGE::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_2), sizeof(ELEMENT_MOVING_IMAGE::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_3), sizeof(ELEMENT_MOVING_IMAGE::reserved_3), "reserved_3"},
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_4), sizeof(ELEMENT_MOVING_IMAGE::reserved_4), "reserved_4"},
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_5), sizeof(ELEMENT_MOVING_IMAGE::reserved_5), "reserved_5"},
    {offsetof(ELEMENT_MOVING_IMAGE, reserved_6), sizeof(ELEMENT_MOVING_IMAGE::reserved_6), "reserved_6"},
};
constexpr ReservedField kSpriteReserved[] = {
    {offsetof(ELEMENT_SPRITE, reserved_1), sizeof(ELEMENT_SPRITE::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_SPRITE, reserved_2), sizeof(ELEMENT_SPRITE::reserved_2), "reserved_2"},
    {offsetof(ELEMENT_SPRITE, reserved_3), sizeof(ELEMENT_SPRITE::reserved_3), "reserved_3"},
    {offsetof(ELEMENT_SPRITE, reserved_4), sizeof(ELEMENT_SPRITE::reserved_4), "reserved_4"},
    {offsetof(ELEMENT_SPRITE, reserved_5), sizeof(ELEMENT_SPRITE::reserved_5), "reserved_5"},
};

using VarField = EmbeddedVariable;
std::vector<VarField> element_vars(uint32_t type) { return embedded_variables(type); }

}  // namespace

std::vector<EmbeddedVariable> embedded_variables(uint32_t type) {
    switch (type) {
    case kNeedle: return {{offsetof(ELEMENT_NEEDLE, source), "source"}};
    case kSlider:
        return {{offsetof(ELEMENT_SLIDER, source_x), "source_x"}, {offsetof(ELEMENT_SLIDER, source_y), "source_y"}};
    case kIcon: return {{offsetof(ELEMENT_ICON, source), "source"}};
    case kMovingImage:
        return {{offsetof(ELEMENT_MOVING_IMAGE, source_x), "source_x"},
                {offsetof(ELEMENT_MOVING_IMAGE, source_y), "source_y"}};
    case kSprite:
        return {{offsetof(ELEMENT_SPRITE, source_x), "source_x"},
                {offsetof(ELEMENT_SPRITE, source_y), "source_y"},
                {offsetof(ELEMENT_SPRITE, source_rotation), "source_rotation"}};
    default: return {};
    }
}

namespace {

// The value callbacks an element record holds, by type.
std::vector<uintptr_t> element_callbacks(uint32_t type, const std::vector<uint8_t>& bytes) {
    auto at = [&](size_t offset) {
        uint32_t address = 0;
        if (offset + 4 <= bytes.size()) std::memcpy(&address, bytes.data() + offset, 4);
        return static_cast<uintptr_t>(address);
    };
    switch (type) {
    case kNeedle: return {at(offsetof(ELEMENT_NEEDLE, update_callback))};
    case kIcon: return {at(offsetof(ELEMENT_ICON, callback))};
    case kMovingImage:
        return {at(offsetof(ELEMENT_MOVING_IMAGE, callback_x)), at(offsetof(ELEMENT_MOVING_IMAGE, callback_y))};
    case kSprite:
        return {at(offsetof(ELEMENT_SPRITE, callback_x)), at(offsetof(ELEMENT_SPRITE, callback_y)),
                at(offsetof(ELEMENT_SPRITE, callback_rotation))};
    default: return {};
    }
}

class Walker {
public:
    Walker(const Module& module, const ModuleMemory& memory, Report* report, bool bitmaps_known)
        : module_(module), memory_(memory), report_(report), bitmaps_known_(bitmaps_known) {}

    Records run(const std::vector<KeyEventRegistration>& key_routines);

private:
    struct GaugeContext {
        GaugeRecord* gauge = nullptr;
        size_t index = 0;
        std::set<uintptr_t> visited;
        std::set<uintptr_t> on_path;
        std::optional<Bitmap> background;
    };

    void fail(Check check, const std::string& gauge, const std::string& element, const std::string& field,
              const std::string& message) {
        if (report_ != nullptr) report_->fail(check, gauge, element, field, message);
    }
    void warn(Check check, const std::string& gauge, const std::string& element, const std::string& field,
              const std::string& message) {
        if (report_ != nullptr) report_->warn(check, gauge, element, field, message);
    }

    void add_span(RecordSpan::Kind kind, uintptr_t begin, size_t size, size_t gauge, std::string what,
                  uint32_t element_type = 0) {
        records_.spans.push_back(RecordSpan{kind, begin, size, gauge, element_type, std::move(what)});
    }

    void check_linkage();
    void walk_gauge(size_t slot, GAUGEHDR* pointer);
    std::optional<std::vector<uintptr_t>> read_list(const std::string& gauge, const std::string& element,
                                                    const char* field, uintptr_t address);
    bool walk_element(GaugeContext& context, uintptr_t address, int depth, const std::string& listed_by);
    void check_element(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes);
    void check_reserved(const std::string& gauge, const std::string& element, const uint8_t* bytes,
                        const ReservedField* fields, size_t count, const char* prefix = "");
    void check_code(const std::string& gauge, const std::string& element, const char* field, uintptr_t address,
                    bool may_be_null);
    bool check_failures(GaugeContext& context, const ElementRecord& element, uintptr_t address);
    bool check_table(GaugeContext& context, const ElementRecord& element, const ELEMENT_NEEDLE& needle);
    bool check_mouse(GaugeContext& context);
    void check_bitmaps(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes);
    void check_sharing();
    std::optional<Bitmap> bitmap(uint32_t id) const { return module_.bitmap(id); }

    const Module& module_;
    const ModuleMemory& memory_;
    Report* report_;
    bool bitmaps_known_;
    Records records_;
    std::map<std::string, size_t> names_;
};

// --- The gauge table --------------------------------------------------------------

void Walker::check_linkage() {
    LINKAGE_HEADER* linkage = module_.linkage();
    if (linkage->module_id != kModuleId) {
        fail(Check::kModuleLoads, "", "", "Linkage.module_id", "is " + hex(linkage->module_id) + ", the host expects 0x13");
    }
    check_code("", "", "Linkage.module_init", code_address(linkage->module_init), true);
    check_code("", "", "Linkage.module_deinit", code_address(linkage->module_deinit), true);
}

Records Walker::run(const std::vector<KeyEventRegistration>& key_routines) {
    if (memory_.empty()) {
        fail(Check::kGaugeTable, "", "", "Linkage", "the platform does not map the module: no record can be checked");
        return std::move(records_);
    }
    check_linkage();
    for (const KeyEventRegistration& routine : key_routines) {
        check_code("", "", "registered key-event routine", code_address(routine.handler), false);
    }
    records_.table_sound = true;
    const std::vector<GAUGEHDR*>& gauges = module_.gauges();
    if (gauges.empty()) fail(Check::kGaugeTable, "", "", "Linkage.gauge_table", "holds no gauge");
    for (size_t slot = 0; slot < gauges.size(); ++slot) walk_gauge(slot, gauges[slot]);
    check_sharing();
    return std::move(records_);
}

void Walker::walk_gauge(size_t slot, GAUGEHDR* pointer) {
    const uintptr_t address = address_of(pointer);
    const std::string where = "gauge table entry " + std::to_string(slot);
    const std::optional<uint32_t> version = memory_.read<uint32_t>(address);
    if (!version) {
        fail(Check::kGaugeTable, where, "", "", "points to " + hex(address) +
                                         ", outside the module's data: the table lacks its end or the entry is broken");
        records_.table_sound = false;
        return;
    }
    GaugeRecord gauge;
    gauge.slot = slot;
    gauge.live = pointer;
    gauge.version = *version;
    gauge.name = "gauge #" + std::to_string(slot);

    const size_t header_size = *version == kHeaderVersion800 ? sizeof(GAUGEHDR_V800) : sizeof(GAUGEHDR);
    std::vector<uint8_t> bytes(header_size);
    if (!memory_.read(address, bytes.data(), bytes.size())) {
        fail(Check::kGaugeTable, where, "", "", "the header at " + hex(address) + " runs past the module's data (" +
                                         std::to_string(header_size) + " bytes)");
        records_.table_sound = false;
        return;
    }
    GAUGEHDR header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    // The name first: every later finding is told by it.
    const std::optional<std::string> name = memory_.read_string(address_of(header.gauge_name), kMaxNameLength);
    if (header.gauge_name == nullptr) {
        fail(Check::kGaugeNames, where, "", "gauge_name", "is null");
    } else if (!name) {
        fail(Check::kGaugeNames, where, "", "gauge_name",
             "is not a string of at most " + std::to_string(kMaxNameLength) + " characters in the module's data");
    } else if (name->empty()) {
        fail(Check::kGaugeNames, where, "", "gauge_name", "is empty");
    } else {
        gauge.name = *name;
        if (!std::all_of(name->begin(), name->end(), [](char c) { return c >= 0x20 && c <= 0x7E; })) {
            fail(Check::kGaugeNames, gauge.name, "", "gauge_name", "holds characters that are not printable ASCII");
        }
        auto [it, inserted] = names_.emplace(*name, slot);
        if (!inserted) {
            fail(Check::kGaugeNames, gauge.name, "", "gauge_name",
                 "also names gauge table entry " + std::to_string(it->second) + ": the host finds gauges by name");
        }
    }
    const size_t index = records_.gauges.size();
    add_span(RecordSpan::Kind::kHeader, address, header_size, index, "header");
    if (name) add_span(RecordSpan::Kind::kName, address_of(header.gauge_name), name->size() + 1, index, "name");

    // Version and the fields it fixes.
    const std::string& g = gauge.name;
    if (*version != kHeaderVersion700 && *version != kHeaderVersion800) {
        fail(Check::kHeaderVersions, g, "", "header_version", "is " + std::to_string(*version) + ", not 700 or 800");
    }
    if (header.size_x_mm == 0) fail(Check::kHeaderVersions, g, "", "size_x_mm", "is 0: the gauge has no default width");
    if (*version == kHeaderVersion800) {
        const size_t tail = offsetof(GAUGEHDR_V800, reserved_tail);
        for (size_t offset = tail; offset < header_size; offset += 4) {
            if (!all_zero(bytes.data() + offset, 4)) {
                const char* field = offset == offsetof(GAUGEHDR, mouse_rects)      ? "mouse_rects"
                                    : offset == offsetof(GAUGEHDR, gauge_callback) ? "gauge_callback"
                                                                                   : "reserved";
                fail(Check::kHeaderVersions, g, "", field,
                     "word at offset " + std::to_string(offset) + " is not zero in a version-800 header");
            }
        }
    } else {
        check_reserved(g, "", bytes.data(), kHeaderReserved700, std::size(kHeaderReserved700));
    }

    // Routines the host calls from the header.
    const std::pair<const char*, uintptr_t> routines[] = {
        {"query_routine", code_address(header.query_routine)},
        {"install_routine", code_address(header.install_routine)},
        {"initialize_routine", code_address(header.initialize_routine)},
        {"update_routine", code_address(header.update_routine)},
        {"generate_routine", code_address(header.generate_routine)},
        {"draw_routine", code_address(header.draw_routine)},
        {"kill_routine", code_address(header.kill_routine)},
    };
    for (const auto& [field, routine] : routines) check_code(g, "", field, routine, false);
    bool sound = true;
    if (*version != kHeaderVersion800) {
        const uintptr_t callback = code_address(header.gauge_callback);
        check_code(g, "", "gauge_callback", callback, true);
        if (callback != 0 && !memory_.is_code(callback)) sound = false;
    }
    for (const auto& [field, routine] : routines) {
        if (!memory_.is_code(routine)) sound = false;
    }

    records_.gauges.push_back(std::move(gauge));
    GaugeContext context;
    context.gauge = &records_.gauges.back();
    context.index = index;

    // The element tree, from the header's list.
    const std::optional<std::vector<uintptr_t>> roots =
        read_list(g, "", "element_list", address_of(header.element_list));
    if (!roots) {
        sound = false;
    } else if (roots->empty()) {
        fail(Check::kElementLists, g, "", "element_list", "holds no element");
        sound = false;
    } else {
        add_span(RecordSpan::Kind::kElementList, address_of(header.element_list), (roots->size() + 1) * 4, index,
                 "element list");
        if (bitmaps_known_) {
            const std::optional<uint32_t> id =
                memory_.read<uint32_t>(roots->front() + offsetof(ELEMENT_HEADER, resource_id));
            if (id) context.background = bitmap(*id);
        }
        for (uintptr_t root : *roots) {
            if (!walk_element(context, root, 0, "element_list")) sound = false;
        }
    }

    if (*version != kHeaderVersion800 && !check_mouse(context)) sound = false;
    context.gauge->sound = sound && records_.table_sound;
}

std::optional<std::vector<uintptr_t>> Walker::read_list(const std::string& gauge, const std::string& element,
                                                        const char* field, uintptr_t address) {
    std::vector<uintptr_t> entries;
    if (address == 0) {
        fail(Check::kElementLists, gauge, element, field, "is null");
        return std::nullopt;
    }
    for (size_t i = 0; i <= kMaxListEntries; ++i) {
        const std::optional<uint32_t> entry = memory_.read<uint32_t>(address + 4 * i);
        if (!entry) {
            fail(Check::kElementLists, gauge, element, field,
                 "runs out of the module's data after " + std::to_string(i) + " entries without its null end");
            return std::nullopt;
        }
        if (*entry == 0) return entries;
        const std::optional<uint32_t> type = memory_.read<uint32_t>(*entry);
        const size_t size = type ? element_record_size(*type) : 0;
        if (!type || *type > kSprite || !memory_.holds(*entry, std::max<size_t>(size, sizeof(ELEMENT_HEADER)))) {
            fail(Check::kElementLists, gauge, element, field,
                 "entry " + std::to_string(i) + " (" + hex(*entry) +
                     ") is no element of the module: the list lacks its null end or holds a broken pointer");
            return std::nullopt;
        }
        entries.push_back(*entry);
    }
    fail(Check::kElementLists, gauge, element, field, "has no null end within " + std::to_string(kMaxListEntries) + " entries");
    return std::nullopt;
}

// --- Elements -----------------------------------------------------------------------

bool Walker::walk_element(GaugeContext& context, uintptr_t address, int depth, const std::string& listed_by) {
    GaugeRecord& gauge = *context.gauge;
    const std::string& g = gauge.name;
    if (context.on_path.count(address) != 0) {
        fail(Check::kElementTrees, g, listed_by, "next_element_list",
             "lists the element at " + hex(address) + ", which lies above it in the tree: the tree has a cycle");
        return false;
    }
    if (context.visited.count(address) != 0) {
        fail(Check::kElementTrees, g, listed_by, "next_element_list",
             "lists the element at " + hex(address) + ", which another list already holds");
        return false;
    }
    if (static_cast<size_t>(depth) >= kMaxTreeDepth || gauge.elements.size() >= kMaxElementsPerGauge) {
        fail(Check::kElementTrees, g, listed_by, "next_element_list", "the tree grows beyond its bounds");
        return false;
    }
    context.visited.insert(address);

    const uint32_t type = *memory_.read<uint32_t>(address);  // read_list checked it
    ElementRecord element;
    element.live = reinterpret_cast<ELEMENT_HEADER*>(address);
    element.type = type;
    element.size = std::max<size_t>(element_record_size(type), sizeof(ELEMENT_HEADER));
    element.depth = depth;
    element.order = gauge.elements.size() + 1;
    std::vector<uint8_t> bytes(element.size);
    memory_.read(address, bytes.data(), bytes.size());
    ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    element.label = "element " + std::to_string(element.order) + " (" + element_kind_name(type) + ", bitmap " +
                    std::to_string(header.resource_id) + ")";
    gauge.elements.push_back(element);
    add_span(RecordSpan::Kind::kElement, address, element.size, context.index, element.label, type);

    bool sound = true;
    if (header.gauge != gauge.live) {
        fail(Check::kElementOwners, g, element.label, "gauge",
             "points to " + hex(address_of(header.gauge)) + ", not to its own header at " +
                 hex(address_of(gauge.live)));
    }
    check_element(context, element, bytes);
    if (header.failure_records != nullptr && !check_failures(context, element, address_of(header.failure_records))) {
        sound = false;
    }
    if (type == kNeedle) {
        ELEMENT_NEEDLE needle{};
        std::memcpy(&needle, bytes.data(), sizeof needle);
        if (!check_table(context, element, needle)) sound = false;
    }
    for (uintptr_t callback : element_callbacks(type, bytes)) {
        if (callback != 0 && !memory_.is_code(callback)) sound = false;
    }

    if (header.next_element_list != nullptr) {
        const std::string next_field = "next_element_list";
        const std::optional<std::vector<uintptr_t>> next =
            read_list(g, element.label, next_field.c_str(), address_of(header.next_element_list));
        if (!next) return false;
        add_span(RecordSpan::Kind::kElementList, address_of(header.next_element_list), (next->size() + 1) * 4,
                 context.index, "next list of " + element.label);
        context.on_path.insert(address);
        for (uintptr_t child : *next) {
            if (!walk_element(context, child, depth + 1, element.label)) sound = false;
        }
        context.on_path.erase(address);
    }
    return sound;
}

void Walker::check_reserved(const std::string& gauge, const std::string& element, const uint8_t* bytes,
                            const ReservedField* fields, size_t count, const char* prefix) {
    for (size_t i = 0; i < count; ++i) {
        if (!all_zero(bytes + fields[i].offset, fields[i].size)) {
            fail(Check::kReservedFields, gauge, element, std::string(prefix) + fields[i].name, "is not zero");
        }
    }
}

void Walker::check_code(const std::string& gauge, const std::string& element, const char* field, uintptr_t address,
                        bool may_be_null) {
    if (address == 0) {
        if (!may_be_null) fail(Check::kCodePointers, gauge, element, field, "is null");
        return;
    }
    if (!memory_.is_code(address)) {
        fail(Check::kCodePointers, gauge, element, field, "points to " + hex(address) + ", outside the module's code");
    }
}

void Walker::check_element(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    // KV015: reserved fields of the header, the record and its variables.
    check_reserved(g, e, bytes.data(), kElementHeaderReserved, std::size(kElementHeaderReserved));
    switch (element.type) {
    case kStaticImage:
        check_reserved(g, e, bytes.data(), kStaticImageReserved, std::size(kStaticImageReserved));
        break;
    case kNeedle: check_reserved(g, e, bytes.data(), kNeedleReserved, std::size(kNeedleReserved)); break;
    case kSlider: check_reserved(g, e, bytes.data(), kSliderReserved, std::size(kSliderReserved)); break;
    case kIcon: check_reserved(g, e, bytes.data(), kIconReserved, std::size(kIconReserved)); break;
    case kMovingImage:
        check_reserved(g, e, bytes.data(), kMovingImageReserved, std::size(kMovingImageReserved));
        break;
    case kSprite: check_reserved(g, e, bytes.data(), kSpriteReserved, std::size(kSpriteReserved)); break;
    default: break;
    }
    for (const VarField& var : element_vars(element.type)) {
        const ReservedField fields[] = {
            {var.offset + kVarReserved1, sizeof(MODULE_VAR::reserved_1), "reserved_1"},
            {var.offset + kVarReserved2, sizeof(MODULE_VAR::reserved_2), "reserved_2"},
        };
        check_reserved(g, e, bytes.data(), fields, std::size(fields), (std::string(var.name) + ".").c_str());
    }

    // KV016: image flags.
    if ((header.image_flags & ~kKnownImageFlags) != 0) {
        fail(Check::kImageFlags, g, e, "image_flags",
             hex(header.image_flags) + " sets bits the host gives no meaning (" +
                 hex(header.image_flags & ~kKnownImageFlags) + ")");
    }
    if (element.depth == 0 && (header.image_flags & kImageHidden) != 0) {
        fail(Check::kImageFlags, g, e, "image_flags", "the background is stored hidden (bit 30): the gauge would never show");
    }

    // KV017 and KV004: fields of each kind, callbacks into module code.
    auto finite = [&](double value, const char* field) {
        if (!std::isfinite(value)) fail(Check::kElementFields, g, e, field, "is " + number(value) + ", not a finite number");
    };
    switch (element.type) {
    case kStaticImage: break;
    case kNeedle: {
        ELEMENT_NEEDLE needle{};
        std::memcpy(&needle, bytes.data(), sizeof needle);
        if (needle.max_degrees_per_tick < 0) {
            fail(Check::kElementFields, g, e, "max_degrees_per_tick", "is " + std::to_string(needle.max_degrees_per_tick) +
                                                            ", below 0");
        }
        check_code(g, e, "update_callback", code_address(needle.update_callback), true);
        break;
    }
    case kSlider: {
        ELEMENT_SLIDER slider{};
        std::memcpy(&slider, bytes.data(), sizeof slider);
        finite(slider.scale_x, "scale_x");
        finite(slider.scale_y, "scale_y");
        break;
    }
    case kIcon: {
        ELEMENT_ICON icon{};
        std::memcpy(&icon, bytes.data(), sizeof icon);
        if (icon.frame_count == 0 || icon.frame_count > kMaxFrames) {
            fail(Check::kElementFields, g, e, "frame_count",
                 "is " + std::to_string(icon.frame_count) + ", not 1 to " + std::to_string(kMaxFrames));
        }
        check_code(g, e, "callback", code_address(icon.callback), true);
        break;
    }
    case kMovingImage: {
        ELEMENT_MOVING_IMAGE moving{};
        std::memcpy(&moving, bytes.data(), sizeof moving);
        finite(moving.min_x, "min_x");
        finite(moving.max_x, "max_x");
        finite(moving.min_y, "min_y");
        finite(moving.max_y, "max_y");
        check_code(g, e, "callback_x", code_address(moving.callback_x), true);
        check_code(g, e, "callback_y", code_address(moving.callback_y), true);
        break;
    }
    case kSprite: {
        ELEMENT_SPRITE sprite{};
        std::memcpy(&sprite, bytes.data(), sizeof sprite);
        finite(sprite.scale_x, "scale_x");
        finite(sprite.scale_y, "scale_y");
        finite(sprite.scale_rotation, "scale_rotation");
        if (!(std::isfinite(sprite.texture_scale_x) && sprite.texture_scale_x > 0.0f)) {
            fail(Check::kElementFields, g, e, "texture_scale_x", "is " + number(sprite.texture_scale_x) + ", not a positive number");
        }
        if (!(std::isfinite(sprite.texture_scale_y) && sprite.texture_scale_y > 0.0f)) {
            fail(Check::kElementFields, g, e, "texture_scale_y", "is " + number(sprite.texture_scale_y) + ", not a positive number");
        }
        check_code(g, e, "callback_x", code_address(sprite.callback_x), true);
        check_code(g, e, "callback_y", code_address(sprite.callback_y), true);
        check_code(g, e, "callback_rotation", code_address(sprite.callback_rotation), true);
        break;
    }
    case kString:
        warn(Check::kElementFields, g, e, "element_type", "string elements are drawn by the host from fields this validator does not check");
        break;
    default: break;
    }

    if (bitmaps_known_) check_bitmaps(context, element, bytes);
}

// --- Failure lists and tables ---------------------------------------------------------

bool Walker::check_failures(GaugeContext& context, const ElementRecord& element, uintptr_t address) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    for (size_t i = 0; i <= kMaxFailureRecords; ++i) {
        const std::optional<FAILURE_RECORD> record = memory_.read<FAILURE_RECORD>(address + i * sizeof(FAILURE_RECORD));
        if (!record) {
            fail(Check::kFailureLists, g, e, "failure_records",
                 "runs out of the module's data after " + std::to_string(i) + " records without its end record");
            return false;
        }
        if (record->failure_key == 0) {
            if (record->reserved != 0) fail(Check::kReservedFields, g, e, "failure_records[" + std::to_string(i) + "].reserved", "is not zero");
            add_span(RecordSpan::Kind::kFailureList, address, (i + 1) * sizeof(FAILURE_RECORD), context.index,
                     "failure list of " + e);
            return true;
        }
        if (record->failure_action > 2) {
            fail(Check::kFailureLists, g, e, "failure_records[" + std::to_string(i) + "]",
                 "key " + std::to_string(record->failure_key) + " with action " +
                     std::to_string(record->failure_action) +
                     " is no failure record of the host (actions 0, 1, 2): the list lacks its end or is broken");
            return false;
        }
        if (record->reserved != 0) {
            fail(Check::kReservedFields, g, e, "failure_records[" + std::to_string(i) + "].reserved", "is not zero");
        }
    }
    fail(Check::kFailureLists, g, e, "failure_records",
         "has no end record within " + std::to_string(kMaxFailureRecords) + " records");
    return false;
}

bool Walker::check_table(GaugeContext& context, const ElementRecord& element, const ELEMENT_NEEDLE& needle) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    const uintptr_t address = address_of(needle.nonlinearity);
    const uint32_t size = needle.nonlinearity_size;
    if (address == 0) {
        if (size != 0) {
            fail(Check::kCalibrationTables, g, e, "nonlinearity_size", "is " + std::to_string(size) + " without a table");
            return false;
        }
        return true;
    }
    if (size < 2 || size > kMaxTablePoints) {
        fail(Check::kCalibrationTables, g, e, "nonlinearity_size",
             "is " + std::to_string(size) + ": a table holds 2 to " + std::to_string(kMaxTablePoints) + " points");
        return false;
    }
    std::vector<NONLINEARITY> points(size);
    if (!memory_.read(address, points.data(), size * sizeof(NONLINEARITY))) {
        fail(Check::kCalibrationTables, g, e, "nonlinearity",
             "the table of " + std::to_string(size) + " points runs outside the module's data");
        return false;
    }
    add_span(RecordSpan::Kind::kTable, address, size * sizeof(NONLINEARITY), context.index, "table of " + e);

    const int32_t pivot_x = needle.header.position_x;
    const int32_t pivot_y = needle.header.position_y;
    bool sound = true;
    for (uint32_t i = 0; i < size; ++i) {
        const NONLINEARITY& point = points[i];
        const std::string field = "nonlinearity[" + std::to_string(i) + "]";
        if (!std::isfinite(point.value)) {
            fail(Check::kCalibrationTables, g, e, field + ".value", "is " + number(point.value) + ", not a finite number");
            sound = false;
        }
        if (point.x == pivot_x && point.y == pivot_y) {
            fail(Check::kCalibrationTables, g, e, field, "lies on the pivot: it gives the needle no direction");
            sound = false;
        }
        if (point.degrees != 0.0) fail(Check::kReservedFields, g, e, field + ".degrees", "is not zero (the host's field)");
    }
    if (!sound) return true;  // the table is readable; its findings stand
    const bool ascending = points[1].value > points[0].value;
    for (uint32_t i = 0; i + 1 < size; ++i) {
        const NONLINEARITY& a = points[i];
        const NONLINEARITY& b = points[i + 1];
        const std::string field = "nonlinearity[" + std::to_string(i + 1) + "]";
        if (ascending ? !(b.value > a.value) : !(b.value < a.value)) {
            fail(Check::kCalibrationTables, g, e, field + ".value",
                 number(b.value) + " after " + number(a.value) + ": the values do not run one way");
        }
        const double from = direction_degrees(pivot_x, pivot_y, a.x, a.y);
        const double to = direction_degrees(pivot_x, pivot_y, b.x, b.y);
        const double turn = normalize_degrees(to - from);
        if (!(turn > 0.0 && turn < 180.0)) {
            fail(Check::kCalibrationTables, g, e, field,
                 "the step from point " + std::to_string(i) + " turns " + number(turn) +
                     " degrees clockwise, not more than 0 and less than 180");
        }
    }
    return true;
}

// --- Mouse lists -----------------------------------------------------------------------

bool Walker::check_mouse(GaugeContext& context) {
    GaugeRecord& gauge = *context.gauge;
    const std::string& g = gauge.name;
    const MOUSERECT* list = gauge.live->mouse_rects;
    const uintptr_t address = address_of(list);
    if (address == 0) return true;

    std::vector<MOUSERECT> records;
    size_t open = 0;
    for (size_t i = 0;; ++i) {
        const std::string field = "mouse_rects[" + std::to_string(i) + "]";
        if (i == kMaxMouseRecords) {
            fail(Check::kMouseLists, g, "", "mouse_rects", "has no end record within " + std::to_string(kMaxMouseRecords) + " records");
            return false;
        }
        const std::optional<MOUSERECT> record = memory_.read<MOUSERECT>(address + i * sizeof(MOUSERECT));
        if (!record) {
            fail(Check::kMouseLists, g, "", "mouse_rects",
                 "runs out of the module's data after " + std::to_string(i) + " records without its end record");
            return false;
        }
        records.push_back(*record);
        if (record->reserved != 0) fail(Check::kReservedFields, g, "", field + ".reserved", "is not zero");
        if (record->rect_type > kMouseParentEnd) {
            fail(Check::kMouseLists, g, "", field + ".rect_type",
                 "is " + std::to_string(record->rect_type) + ", none of end 0, parent 1, child 2, end of parent 3");
            return false;
        }
        if (record->rect_type == kMouseEnd) {
            if (open != 0) {
                fail(Check::kMouseLists, g, "", field, "ends the list while " + std::to_string(open) + " parent(s) are open");
                return false;
            }
            break;
        }
        if (i == 0 && record->rect_type != kMouseParent) {
            fail(Check::kMouseLists, g, "", field, "the list opens with no parent");
            return false;
        }
        if (record->rect_type == kMouseParent) ++open;
        if (record->rect_type == kMouseParentEnd) {
            if (open == 0) {
                fail(Check::kMouseLists, g, "", field, "ends a parent while none is open");
                return false;
            }
            --open;
        }
        if (record->rect_type == kMouseChild && open == 0) {
            fail(Check::kMouseLists, g, "", field, "a child outside any parent");
            return false;
        }
    }
    add_span(RecordSpan::Kind::kMouseList, address, records.size() * sizeof(MOUSERECT), context.index, "mouse list");
    gauge.mouse = records;

    // KV012: sizes and containment; KV013: what each box does.
    struct Open {
        int64_t width = 0;
        int64_t height = 0;
        bool known = false;
    };
    std::vector<Open> parents;
    std::optional<Open> gauge_box;
    if (context.background) {
        gauge_box = Open{context.background->width, context.background->height, true};
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const MOUSERECT& r = records[i];
        const std::string field = "mouse_rects[" + std::to_string(i) + "]";
        if (r.rect_type == kMouseParentEnd) {
            parents.pop_back();
            continue;
        }
        if (r.rect_type == kMouseEnd) break;
        const bool is_child = r.rect_type == kMouseChild;
        const char* kind = is_child ? "child" : "parent";
        const bool whole_gauge = !is_child && r.x == 0 && r.y == 0 && r.width == 0 && r.height == 0;
        if (r.width < 0 || r.height < 0) {
            fail(Check::kMouseBoxes, g, "", field, std::string(kind) + " box " + std::to_string(r.width) + " x " +
                                            std::to_string(r.height) + " has a negative size");
        } else if (!whole_gauge && (r.width == 0 || r.height == 0) && is_child) {
            warn(Check::kMouseBoxes, g, "", field, "child box of zero size: no pointer ever reaches it");
        }
        // The box it must lie in: the enclosing parent's, or the gauge's for
        // an outermost parent.
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
        const uintptr_t handler = code_address(r.handler);
        check_code(g, "", (field + ".handler").c_str(), handler, true);
        if (is_child) {
            if (r.event_id != 0 && handler != 0) {
                fail(Check::kMouseActions, g, "", field, "child box carries both key event " + std::to_string(r.event_id) +
                                                " and a handler: it must do one or the other");
            } else if (r.event_id == 0 && handler == 0) {
                warn(Check::kMouseActions, g, "", field, "child box carries neither key event nor handler: it does nothing");
            } else if ((r.mouse_flags & (kMouseClick | kMouseDrag)) == 0) {
                fail(Check::kMouseActions, g, "", field + ".mouse_flags",
                     hex(r.mouse_flags) + " names no press or drag: the box never acts");
            }
        } else {
            if (r.event_id != 0 || handler != 0) {
                fail(Check::kMouseActions, g, "", field, "parent box carries a key event or handler: parents only group children");
            }
            Open box;
            if (whole_gauge) {
                box = gauge_box.value_or(Open{});
            } else {
                box = Open{r.width, r.height, r.width >= 0 && r.height >= 0};
            }
            parents.push_back(box);
        }
    }
    for (const MOUSERECT& r : records) {
        if (r.handler != nullptr && !memory_.is_code(code_address(r.handler))) return false;
    }
    return true;
}

// --- Bitmaps ------------------------------------------------------------------------------

void Walker::check_bitmaps(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    auto present = [&](uint32_t id, const char* role_name) -> std::optional<Bitmap> {
        const std::string role = *role_name == '\0' ? std::string("bitmap") : std::string(role_name) + " bitmap";
        std::optional<Bitmap> found = bitmap(id);
        if (!found) {
            fail(Check::kBitmaps, g, e, "resource_id", role + " " + std::to_string(id) + " is not a bitmap resource of the module");
            return std::nullopt;
        }
        static constexpr uint16_t kDepths[] = {1, 4, 8, 16, 24, 32};
        const bool depth_known = std::find(std::begin(kDepths), std::end(kDepths), found->bits_per_pixel) != std::end(kDepths);
        if (found->width == 0 || found->height == 0 || found->width > kMaxBitmapExtent ||
            found->height > kMaxBitmapExtent || !depth_known) {
            fail(Check::kBitmaps, g, e, "resource_id",
                 role + " " + std::to_string(id) + " is " + std::to_string(found->width) + " x " +
                     std::to_string(found->height) + " at " + std::to_string(found->bits_per_pixel) +
                     " bits per pixel: not a plausible picture");
            return std::nullopt;
        }
        if (found->compression != 0) {
            warn(Check::kBitmaps, g, e, "resource_id",
                 role + " " + std::to_string(id) + " is compressed (" +
                     std::to_string(found->compression) + ")");
        }
        return found;
    };

    switch (element.type) {
    case kIcon: {
        ELEMENT_ICON icon{};
        std::memcpy(&icon, bytes.data(), sizeof icon);
        const uint32_t frames = std::min(std::max<uint32_t>(icon.frame_count, 1), kMaxFrames);
        std::optional<Bitmap> first;
        for (uint32_t k = 0; k < frames; ++k) {
            const std::string role = "frame " + std::to_string(k);
            std::optional<Bitmap> frame = present(header.resource_id + k, role.c_str());
            if (k == 0) first = frame;
            if (frame && first && (frame->width != first->width || frame->height != first->height)) {
                warn(Check::kBitmaps, g, e, "frame_count",
                     "frame " + std::to_string(k) + " is not the size of frame 0");
            }
        }
        break;
    }
    case kMovingImage: {
        ELEMENT_MOVING_IMAGE moving{};
        std::memcpy(&moving, bytes.data(), sizeof moving);
        const std::optional<Bitmap> picture = present(header.resource_id, "picture");
        const std::optional<Bitmap> window = present(header.resource_id + 1, "mask (window)");
        if (picture && window) {
            if (moving.min_x != moving.max_x && picture->width < window->width) {
                fail(Check::kBitmaps, g, e, "resource_id", "picture narrower than its window on the moving x axis");
            }
            if (moving.min_y != moving.max_y && picture->height < window->height) {
                fail(Check::kBitmaps, g, e, "resource_id", "picture lower than its window on the moving y axis");
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

// --- Sharing ------------------------------------------------------------------------------

void Walker::check_sharing() {
    std::vector<size_t> order(records_.spans.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const std::vector<RecordSpan>& spans = records_.spans;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return spans[a].begin != spans[b].begin ? spans[a].begin < spans[b].begin : a < b;
    });
    std::set<std::pair<size_t, size_t>> reported;
    for (size_t i = 0; i < order.size(); ++i) {
        const RecordSpan& a = spans[order[i]];
        for (size_t j = i + 1; j < order.size(); ++j) {
            const RecordSpan& b = spans[order[j]];
            if (b.begin >= a.begin + a.size) break;
            const bool same_record = a.begin == b.begin && a.size == b.size && a.kind == b.kind;
            if (same_record && a.gauge == b.gauge) continue;  // one record listed twice within a gauge
            const std::string& ga = records_.gauges[a.gauge].name;
            const std::string& gb = records_.gauges[b.gauge].name;
            if (!reported.insert({order[i], order[j]}).second) continue;
            if (a.gauge != b.gauge) {
                fail(Check::kSharedRecords, gb, "", b.what,
                     std::string(same_record ? "is the same record as" : "overlaps") + " the " + a.what + " of " + ga +
                         ": every gauge keeps its own copy");
            } else {
                fail(Check::kSharedRecords, gb, "", b.what, "overlaps its " + a.what);
            }
        }
    }
}

}  // namespace

size_t element_record_size(uint32_t type) {
    switch (type) {
    case kStaticImage: return sizeof(ELEMENT_STATIC_IMAGE);
    case kNeedle: return sizeof(ELEMENT_NEEDLE);
    case kSlider: return sizeof(ELEMENT_SLIDER);
    case kIcon: return sizeof(ELEMENT_ICON);
    case kMovingImage: return sizeof(ELEMENT_MOVING_IMAGE);
    case kSprite: return sizeof(ELEMENT_SPRITE);
    default: return 0;
    }
}

const char* element_kind_name(uint32_t type) {
    switch (type) {
    case kStaticImage: return "static image";
    case kNeedle: return "needle";
    case kString: return "string";
    case kSlider: return "slider";
    case kIcon: return "icon";
    case kMovingImage: return "moving image";
    case kSprite: return "sprite";
    default: return "unknown";
    }
}

Records read_records(const Module& module, const ModuleMemory& memory, Report* report, bool bitmaps_known,
                     const std::vector<KeyEventRegistration>& key_routines) {
    Walker walker(module, memory, report, bitmaps_known);
    Records records = walker.run(key_routines);
    if (report != nullptr) {
        check_writable_records(records, memory, *report);
        for (const CheckInfo& info : kChecks) {
            if (reads_records(info.check)) report->ran(info.check);
        }
        if (!bitmaps_known) report->skip(Check::kBitmaps, "no PE with the module's bitmaps was given");
    }
    return records;
}

// --- Snapshots ------------------------------------------------------------------------------

namespace {

void clear(std::vector<uint8_t>& bytes, size_t offset, size_t size) {
    if (offset + size <= bytes.size()) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, 0);
}

void mask_host_fields(const RecordSpan& span, std::vector<uint8_t>& bytes) {
    if (span.kind == RecordSpan::Kind::kTable) {
        for (size_t offset = 0; offset + sizeof(NONLINEARITY) <= bytes.size(); offset += sizeof(NONLINEARITY)) {
            clear(bytes, offset + offsetof(NONLINEARITY, degrees), sizeof(double));
        }
        return;
    }
    if (span.kind != RecordSpan::Kind::kElement) return;
    const size_t flags = offsetof(ELEMENT_HEADER, image_flags);
    if (flags + 4 <= bytes.size()) bytes[flags + 3] &= static_cast<uint8_t>(~(kImageHidden >> 24));
    if (span.element_type == kStaticImage) clear(bytes, offsetof(ELEMENT_STATIC_IMAGE, image), sizeof(void*));
    for (const VarField& var : element_vars(span.element_type)) clear(bytes, var.offset + kVarValue, sizeof(double));
}

}  // namespace

RecordSnapshot snapshot(const Records& records, const ModuleMemory& memory) {
    RecordSnapshot result;
    for (const RecordSpan& span : records.spans) {
        std::vector<uint8_t> bytes(span.size);
        if (!memory.read(span.begin, bytes.data(), bytes.size())) bytes.clear();
        mask_host_fields(span, bytes);
        result.bytes.push_back(std::move(bytes));
    }
    return result;
}

std::vector<SnapshotDifference> compare(const RecordSnapshot& before, const RecordSnapshot& after) {
    std::vector<SnapshotDifference> differences;
    const size_t spans = std::min(before.bytes.size(), after.bytes.size());
    for (size_t s = 0; s < spans; ++s) {
        const std::vector<uint8_t>& a = before.bytes[s];
        const std::vector<uint8_t>& b = after.bytes[s];
        const size_t size = std::min(a.size(), b.size());
        for (size_t i = 0; i < size; ++i) {
            if (a[i] != b[i]) {
                differences.push_back({s, i, a[i], b[i]});
                break;  // the first changed byte tells the span
            }
        }
    }
    return differences;
}

// --- Field names ------------------------------------------------------------------------------

namespace {

struct Field {
    size_t offset;
    size_t size;
    const char* name;
};

constexpr Field kHeaderFields[] = {
    {offsetof(GAUGEHDR, header_version), 4, "header_version"},
    {offsetof(GAUGEHDR, gauge_name), 4, "gauge_name"},
    {offsetof(GAUGEHDR, element_list), 4, "element_list"},
    {offsetof(GAUGEHDR, query_routine), 4, "query_routine"},
    {offsetof(GAUGEHDR, install_routine), 4, "install_routine"},
    {offsetof(GAUGEHDR, initialize_routine), 4, "initialize_routine"},
    {offsetof(GAUGEHDR, update_routine), 4, "update_routine"},
    {offsetof(GAUGEHDR, generate_routine), 4, "generate_routine"},
    {offsetof(GAUGEHDR, draw_routine), 4, "draw_routine"},
    {offsetof(GAUGEHDR, kill_routine), 4, "kill_routine"},
    {offsetof(GAUGEHDR, reserved_1), sizeof(GAUGEHDR::reserved_1), "reserved_1"},
    {offsetof(GAUGEHDR, size_x_mm), 4, "size_x_mm"},
    {offsetof(GAUGEHDR, reserved_2), sizeof(GAUGEHDR::reserved_2), "reserved_2"},
    {offsetof(GAUGEHDR, mouse_rects), 4, "mouse_rects"},
    {offsetof(GAUGEHDR, gauge_callback), 4, "gauge_callback"},
    {offsetof(GAUGEHDR, reserved_3), sizeof(GAUGEHDR::reserved_3), "reserved_3"},
};

constexpr Field kElementHeaderFields[] = {
    {offsetof(ELEMENT_HEADER, element_type), 4, "element_type"},
    {offsetof(ELEMENT_HEADER, resource_id), 4, "resource_id"},
    {offsetof(ELEMENT_HEADER, position_x), 4, "position_x"},
    {offsetof(ELEMENT_HEADER, position_y), 4, "position_y"},
    {offsetof(ELEMENT_HEADER, reserved_1), sizeof(ELEMENT_HEADER::reserved_1), "reserved_1"},
    {offsetof(ELEMENT_HEADER, ofs_x), 4, "ofs_x"},
    {offsetof(ELEMENT_HEADER, ofs_y), 4, "ofs_y"},
    {offsetof(ELEMENT_HEADER, gauge), 4, "gauge"},
    {offsetof(ELEMENT_HEADER, reserved_2), 4, "reserved_2"},
    {offsetof(ELEMENT_HEADER, next_element_list), 4, "next_element_list"},
    {offsetof(ELEMENT_HEADER, failure_records), 4, "failure_records"},
    {offsetof(ELEMENT_HEADER, image_flags), 4, "image_flags"},
    {offsetof(ELEMENT_HEADER, reserved_3), 4, "reserved_3"},
    {offsetof(ELEMENT_HEADER, reserved_4), 4, "reserved_4"},
};

constexpr Field kVarFields[] = {
    {offsetof(MODULE_VAR, token), 4, "token"},
    {offsetof(MODULE_VAR, reserved_1), sizeof(MODULE_VAR::reserved_1), "reserved_1"},
    {offsetof(MODULE_VAR, value), 8, "value"},
    {offsetof(MODULE_VAR, reserved_2), sizeof(MODULE_VAR::reserved_2), "reserved_2"},
};

// Fields past the common header, by element type (variables are named
// through embedded_variables()).
std::vector<Field> element_fields(uint32_t type) {
    switch (type) {
    case kStaticImage:
        return {{offsetof(ELEMENT_STATIC_IMAGE, image), 4, "image"},
                {offsetof(ELEMENT_STATIC_IMAGE, reserved), sizeof(ELEMENT_STATIC_IMAGE::reserved), "reserved"}};
    case kNeedle:
        return {{offsetof(ELEMENT_NEEDLE, reserved_1), 4, "reserved_1"},
                {offsetof(ELEMENT_NEEDLE, reserved_2), sizeof(ELEMENT_NEEDLE::reserved_2), "reserved_2"},
                {offsetof(ELEMENT_NEEDLE, nonlinearity), 4, "nonlinearity"},
                {offsetof(ELEMENT_NEEDLE, nonlinearity_size), 4, "nonlinearity_size"},
                {offsetof(ELEMENT_NEEDLE, max_degrees_per_tick), 4, "max_degrees_per_tick"},
                {offsetof(ELEMENT_NEEDLE, reserved_3), sizeof(ELEMENT_NEEDLE::reserved_3), "reserved_3"},
                {offsetof(ELEMENT_NEEDLE, update_callback), 4, "update_callback"},
                {offsetof(ELEMENT_NEEDLE, reserved_4), sizeof(ELEMENT_NEEDLE::reserved_4), "reserved_4"}};
    case kSlider:
        return {{offsetof(ELEMENT_SLIDER, reserved_1), 4, "reserved_1"},
                {offsetof(ELEMENT_SLIDER, reserved_2), 4, "reserved_2"},
                {offsetof(ELEMENT_SLIDER, scale_x), 8, "scale_x"},
                {offsetof(ELEMENT_SLIDER, reserved_3), 4, "reserved_3"},
                {offsetof(ELEMENT_SLIDER, scale_y), 8, "scale_y"},
                {offsetof(ELEMENT_SLIDER, reserved_4), sizeof(ELEMENT_SLIDER::reserved_4), "reserved_4"}};
    case kIcon:
        return {{offsetof(ELEMENT_ICON, reserved_1), 4, "reserved_1"},
                {offsetof(ELEMENT_ICON, reserved_2), sizeof(ELEMENT_ICON::reserved_2), "reserved_2"},
                {offsetof(ELEMENT_ICON, frame_count), 4, "frame_count"},
                {offsetof(ELEMENT_ICON, reserved_3), sizeof(ELEMENT_ICON::reserved_3), "reserved_3"},
                {offsetof(ELEMENT_ICON, callback), 4, "callback"}};
    case kMovingImage:
        return {{offsetof(ELEMENT_MOVING_IMAGE, reserved_1), 4, "reserved_1"},
                {offsetof(ELEMENT_MOVING_IMAGE, min_x), 8, "min_x"},
                {offsetof(ELEMENT_MOVING_IMAGE, max_x), 8, "max_x"},
                {offsetof(ELEMENT_MOVING_IMAGE, reserved_2), 4, "reserved_2"},
                {offsetof(ELEMENT_MOVING_IMAGE, reserved_3), 4, "reserved_3"},
                {offsetof(ELEMENT_MOVING_IMAGE, min_y), 8, "min_y"},
                {offsetof(ELEMENT_MOVING_IMAGE, max_y), 8, "max_y"},
                {offsetof(ELEMENT_MOVING_IMAGE, reserved_4), 4, "reserved_4"},
                {offsetof(ELEMENT_MOVING_IMAGE, reserved_5), sizeof(ELEMENT_MOVING_IMAGE::reserved_5), "reserved_5"},
                {offsetof(ELEMENT_MOVING_IMAGE, callback_x), 4, "callback_x"},
                {offsetof(ELEMENT_MOVING_IMAGE, callback_y), 4, "callback_y"},
                {offsetof(ELEMENT_MOVING_IMAGE, reserved_6), sizeof(ELEMENT_MOVING_IMAGE::reserved_6), "reserved_6"}};
    case kSprite:
        return {{offsetof(ELEMENT_SPRITE, reserved_1), 4, "reserved_1"},
                {offsetof(ELEMENT_SPRITE, scale_x), 8, "scale_x"},
                {offsetof(ELEMENT_SPRITE, reserved_2), 4, "reserved_2"},
                {offsetof(ELEMENT_SPRITE, scale_y), 8, "scale_y"},
                {offsetof(ELEMENT_SPRITE, reserved_3), 4, "reserved_3"},
                {offsetof(ELEMENT_SPRITE, scale_rotation), 8, "scale_rotation"},
                {offsetof(ELEMENT_SPRITE, texture_scale_x), 4, "texture_scale_x"},
                {offsetof(ELEMENT_SPRITE, texture_scale_y), 4, "texture_scale_y"},
                {offsetof(ELEMENT_SPRITE, reserved_4), sizeof(ELEMENT_SPRITE::reserved_4), "reserved_4"},
                {offsetof(ELEMENT_SPRITE, callback_x), 4, "callback_x"},
                {offsetof(ELEMENT_SPRITE, callback_y), 4, "callback_y"},
                {offsetof(ELEMENT_SPRITE, callback_rotation), 4, "callback_rotation"},
                {offsetof(ELEMENT_SPRITE, reserved_5), sizeof(ELEMENT_SPRITE::reserved_5), "reserved_5"}};
    default: return {};
    }
}

constexpr Field kFailureFields[] = {
    {offsetof(FAILURE_RECORD, failure_key), 4, "failure_key"},
    {offsetof(FAILURE_RECORD, failure_action), 4, "failure_action"},
    {offsetof(FAILURE_RECORD, reserved), 4, "reserved"},
};

constexpr Field kPointFields[] = {
    {offsetof(NONLINEARITY, x), 4, "x"},
    {offsetof(NONLINEARITY, y), 4, "y"},
    {offsetof(NONLINEARITY, value), 8, "value"},
    {offsetof(NONLINEARITY, degrees), 8, "degrees"},
};

constexpr Field kMouseFields[] = {
    {offsetof(MOUSERECT, rect_type), 4, "rect_type"}, {offsetof(MOUSERECT, x), 4, "x"},
    {offsetof(MOUSERECT, y), 4, "y"},                 {offsetof(MOUSERECT, width), 4, "width"},
    {offsetof(MOUSERECT, height), 4, "height"},       {offsetof(MOUSERECT, cursor), 4, "cursor"},
    {offsetof(MOUSERECT, help_id), 4, "help_id"},     {offsetof(MOUSERECT, mouse_flags), 4, "mouse_flags"},
    {offsetof(MOUSERECT, event_id), 4, "event_id"},   {offsetof(MOUSERECT, handler), 4, "handler"},
    {offsetof(MOUSERECT, reserved), 4, "reserved"},
};

// "name" for a field of one word or value, "name[k]" for a byte of an array.
template <typename Fields>
std::string name_in(const Fields& fields, size_t offset) {
    for (const Field& field : fields) {
        if (field.size == 0 || offset < field.offset || offset >= field.offset + field.size) continue;
        const bool whole = field.size == 4 || field.size == 8;
        return whole ? std::string(field.name) : std::string(field.name) + "[" + std::to_string(offset - field.offset) + "]";
    }
    return "byte " + std::to_string(offset);
}

std::string indexed(const char* list, size_t record_size, size_t offset, const std::string& field) {
    return std::string(list) + "[" + std::to_string(offset / record_size) + "]." + field;
}

}  // namespace

std::string field_at(const RecordSpan& span, size_t offset) {
    switch (span.kind) {
    case RecordSpan::Kind::kHeader: return name_in(kHeaderFields, offset);
    case RecordSpan::Kind::kName: return "character " + std::to_string(offset);
    case RecordSpan::Kind::kElementList: return "entry " + std::to_string(offset / 4);
    case RecordSpan::Kind::kFailureList:
        return indexed("failure_records", sizeof(FAILURE_RECORD), offset,
                       name_in(kFailureFields, offset % sizeof(FAILURE_RECORD)));
    case RecordSpan::Kind::kTable:
        return indexed("nonlinearity", sizeof(NONLINEARITY), offset,
                       name_in(kPointFields, offset % sizeof(NONLINEARITY)));
    case RecordSpan::Kind::kMouseList:
        return indexed("mouse_rects", sizeof(MOUSERECT), offset, name_in(kMouseFields, offset % sizeof(MOUSERECT)));
    case RecordSpan::Kind::kElement:
        break;
    }
    if (offset < sizeof(ELEMENT_HEADER)) return name_in(kElementHeaderFields, offset);
    for (const EmbeddedVariable& var : embedded_variables(span.element_type)) {
        if (offset >= var.offset && offset < var.offset + sizeof(MODULE_VAR)) {
            return std::string(var.name) + "." + name_in(kVarFields, offset - var.offset);
        }
    }
    return name_in(element_fields(span.element_type), offset);
}

}  // namespace bench::validate
