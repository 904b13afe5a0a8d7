#include "validate/records.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "frame/linkage.h"
#include "runtime/dib.h"
#include "runtime/evaluate.h"
#include "runtime/module_code.h"

namespace validate {
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

bool all_zero(const uint8_t* bytes, size_t size) {
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

using frame::FieldInfo;
using frame::FieldRole;
using frame::RecordInfo;

constexpr const RecordInfo& kVarSchema = frame::schema_of<guest::MODULE_VAR>();
constexpr const RecordInfo& kHeaderSchema = frame::schema_of<guest::GAUGEHDR>();
constexpr const RecordInfo& kElementHeaderSchema = frame::schema_of<guest::ELEMENT_HEADER>();
constexpr const RecordInfo& kFailureSchema = frame::schema_of<guest::FAILURE_RECORD>();
constexpr const RecordInfo& kTableSchema = frame::schema_of<guest::NONLINEARITY>();
constexpr const RecordInfo& kMouseSchema = frame::schema_of<guest::MOUSERECT>();

// The fields findings name, as the record tables spell them.
constexpr const char* kGaugeName = FRAME_FIELD_NAME(guest::GAUGEHDR, gauge_name);
constexpr const char* kHeaderVersion = FRAME_FIELD_NAME(guest::GAUGEHDR, header_version);
constexpr const char* kSizeX = FRAME_FIELD_NAME(guest::GAUGEHDR, size_x_mm);
constexpr const char* kElementList = FRAME_FIELD_NAME(guest::GAUGEHDR, element_list);
constexpr const char* kMouseRects = FRAME_FIELD_NAME(guest::GAUGEHDR, mouse_rects);
constexpr const char* kGaugeCallback = FRAME_FIELD_NAME(guest::GAUGEHDR, gauge_callback);
constexpr const char* kElementType = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, element_type);
constexpr const char* kResourceId = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, resource_id);
constexpr const char* kOwner = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, gauge);
constexpr const char* kNextList = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, next_element_list);
constexpr const char* kFailureRecords = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, failure_records);
constexpr const char* kImageFlags = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, image_flags);
constexpr const char* kMaxDegrees = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, max_degrees_per_tick);
constexpr const char* kPositionX = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, position_x);
constexpr const char* kPositionY = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, position_y);
constexpr const char* kOffsetX = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, ofs_x);
constexpr const char* kOffsetY = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, ofs_y);
constexpr const char* kTable = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, nonlinearity);
constexpr const char* kTableSize = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, nonlinearity_size);
constexpr const char* kFrameCount = FRAME_FIELD_NAME(guest::ELEMENT_ICON, frame_count);
constexpr const char* kTextureScaleX = FRAME_FIELD_NAME(guest::ELEMENT_SPRITE, texture_scale_x);
constexpr const char* kTextureScaleY = FRAME_FIELD_NAME(guest::ELEMENT_SPRITE, texture_scale_y);
constexpr const char* kPointValue = FRAME_FIELD_NAME(guest::NONLINEARITY, value);
constexpr const char* kPointDegrees = FRAME_FIELD_NAME(guest::NONLINEARITY, degrees);
constexpr const char* kRectType = FRAME_FIELD_NAME(guest::MOUSERECT, rect_type);
constexpr const char* kMouseFlags = FRAME_FIELD_NAME(guest::MOUSERECT, mouse_flags);
constexpr const char* kHandler = FRAME_FIELD_NAME(guest::MOUSERECT, handler);

bool is_variable(const FieldInfo& field) { return field.record == &kVarSchema; }

// "list[i]" and "list[i].field" for a record in a list.
std::string indexed(const char* list, size_t index) { return std::string(list) + "[" + std::to_string(index) + "]"; }
std::string indexed(const char* list, size_t index, const char* field) { return indexed(list, index) + "." + field; }

template <typename Record>
const uint8_t* bytes_of(const Record& record) {
    return reinterpret_cast<const uint8_t*>(&record);
}

const RecordInfo* element_schema(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->record : nullptr;
}

uint32_t word_at(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t word = 0;
    if (offset + 4 <= bytes.size()) std::memcpy(&word, bytes.data() + offset, 4);
    return word;
}

}  // namespace

// --- The module's image ---------------------------------------------------------------

ModuleImage ModuleImage::of(const runtime::Module& module) {
    ModuleImage image;
    image.memory_ = &module.memory();
    // Each section as far as its own size: a record reaches no further (what
    // fills its last page is no part of it), and code runs only in code.
    for (const runtime::CodeSection& section : module.code().sections()) {
        image.image_.push_back({section.begin, section.end});
        if (section.code) image.code_.push_back({section.begin, section.end});
    }
    image.source_ = "the module's sections";
    return image;
}

ModuleImage ModuleImage::from_ranges(const emulator::GuestMemory& memory, std::vector<Range> image,
                                     std::vector<Range> code) {
    ModuleImage result;
    result.memory_ = &memory;
    result.image_ = std::move(image);
    result.code_ = std::move(code);
    result.source_ = "ranges";
    return result;
}

bool ModuleImage::holds(uint32_t address, uint64_t size) const {
    if (memory_ == nullptr || size > UINT32_MAX || !memory_->readable(address, static_cast<uint32_t>(size))) {
        return false;
    }
    if (image_.empty()) return true;
    return std::any_of(image_.begin(), image_.end(), [&](const Range& range) {
        return address >= range.begin && uint64_t{address} + size <= range.end;
    });
}

bool ModuleImage::is_code(uint32_t address) const {
    if (memory_ == nullptr || !memory_->readable(address, 1)) return false;
    return std::any_of(code_.begin(), code_.end(),
                       [&](const Range& range) { return address >= range.begin && address < range.end; });
}

std::vector<EmbeddedVariable> embedded_variables(uint32_t type) {
    std::vector<EmbeddedVariable> variables;
    if (const RecordInfo* record = element_schema(type)) {
        for (const FieldInfo& field : record->fields) {
            if (is_variable(field)) variables.push_back({field.offset, field.name});
        }
    }
    return variables;
}

namespace {

// The value callbacks an element record holds.
std::vector<const FieldInfo*> element_callbacks(uint32_t type) {
    std::vector<const FieldInfo*> callbacks;
    if (const RecordInfo* record = element_schema(type)) {
        for (const FieldInfo& field : record->fields) {
            if (field.role == FieldRole::kCode) callbacks.push_back(&field);
        }
    }
    return callbacks;
}

class Walker {
public:
    Walker(const runtime::Module& module, const ModuleImage& image, Report* report, bool bitmaps_known)
        : module_(module), mem_(module.memory()), image_(image), report_(report), bitmaps_known_(bitmaps_known) {}

    Records run(const std::vector<runtime::KeyEventRegistration>& key_routines);

private:
    struct GaugeContext {
        GaugeRecord* gauge = nullptr;
        size_t index = 0;
        std::set<uint32_t> visited;
        std::set<uint32_t> on_path;
        std::optional<emulator::Bitmap> background;
    };

    void fail(Check check, const std::string& gauge, const std::string& element, const std::string& field,
              const std::string& message) {
        if (report_ != nullptr) report_->fail(check, gauge, element, field, message);
    }
    void warn(Check check, const std::string& gauge, const std::string& element, const std::string& field,
              const std::string& message) {
        if (report_ != nullptr) report_->warn(check, gauge, element, field, message);
    }

    // Reads of the module's image only: a record's pointer that leads out of
    // it is the record's fault, never a read elsewhere.
    bool read(uint64_t address, void* out, size_t size) const {
        if (address > UINT32_MAX || !image_.holds(static_cast<uint32_t>(address), size)) return false;
        mem_.copy_out(address, out, static_cast<uint32_t>(size));
        return true;
    }
    template <typename T>
    std::optional<T> read(uint64_t address) const {
        T value{};
        if (!read(address, &value, sizeof value)) return std::nullopt;
        return value;
    }
    std::optional<std::string> read_string(uint32_t address, size_t max_length) const {
        if (!image_.holds(address, 1)) return std::nullopt;
        try {
            return mem_.read_string(frame::GuestPtr<const char>(address), max_length);
        } catch (const emulator::GuestFault&) {
            return std::nullopt;
        }
    }

    void add_span(RecordSpan::Kind kind, uint32_t begin, size_t size, size_t gauge, std::string what,
                  uint32_t element_type = 0) {
        records_.spans.push_back(RecordSpan{kind, begin, size, gauge, element_type, std::move(what)});
    }

    void check_linkage();
    void walk_gauge(size_t slot, runtime::GaugePtr pointer);
    std::optional<std::vector<uint32_t>> read_list(const std::string& gauge, const std::string& element,
                                                   const char* field, uint32_t address);
    bool walk_element(GaugeContext& context, uint32_t address, int depth, const std::string& listed_by);
    void check_element(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes);
    void check_reserved(const std::string& gauge, const std::string& element, const uint8_t* bytes,
                        const RecordInfo& record, bool with_host, const std::string& prefix = "");
    void check_code(const std::string& gauge, const std::string& element, const char* field, uint32_t address,
                    bool may_be_null);
    bool check_failures(GaugeContext& context, const ElementRecord& element, uint32_t address);
    bool check_table(GaugeContext& context, const ElementRecord& element, const guest::ELEMENT_NEEDLE& needle);
    static int64_t coordinate_reach(const GaugeContext& context);
    bool check_mouse(GaugeContext& context);
    std::optional<std::string> check_gauge_name(const std::string& where, const guest::GAUGEHDR& header, size_t slot,
                                                GaugeRecord& gauge);
    void check_header_fields(const std::string& g, uint32_t version, const std::vector<uint8_t>& bytes);
    bool check_header_routines(const std::string& g, uint32_t version, const guest::GAUGEHDR& header,
                               const std::vector<uint8_t>& bytes);
    std::optional<std::vector<guest::MOUSERECT>> read_mouse_list(const std::string& g, uint32_t address);
    void check_mouse_boxes(const GaugeContext& context, const std::vector<guest::MOUSERECT>& records);
    void check_mouse_actions(const std::string& g, const std::vector<guest::MOUSERECT>& records);
    void check_bitmaps(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes);
    void check_sharing();
    std::optional<emulator::Bitmap> bitmap(uint32_t id) const { return module_.bitmap(id); }

    const runtime::Module& module_;
    const emulator::GuestMemory& mem_;
    const ModuleImage& image_;
    Report* report_;
    bool bitmaps_known_;
    Records records_;
    std::map<std::string, size_t> names_;
};

// --- The gauge table --------------------------------------------------------------

void Walker::check_linkage() {
    const std::optional<guest::LINKAGE_HEADER> linkage = read<guest::LINKAGE_HEADER>(module_.linkage().address);
    if (!linkage) {
        fail(Check::kModuleLoads, "", "", "Linkage", "does not lie in the module's image");
        return;
    }
    check_code("", "", "Linkage.module_init", linkage->module_init.address, true);
    check_code("", "", "Linkage.module_deinit", linkage->module_deinit.address, true);
}

Records Walker::run(const std::vector<runtime::KeyEventRegistration>& key_routines) {
    check_linkage();
    for (const runtime::KeyEventRegistration& routine : key_routines) {
        check_code("", "", "registered key-event routine", routine.handler.address, false);
    }
    records_.table_sound = true;
    const std::vector<runtime::GaugePtr>& gauges = module_.gauges();
    if (gauges.empty()) fail(Check::kGaugeTable, "", "", "Linkage.gauge_table", "holds no gauge");
    for (size_t slot = 0; slot < gauges.size(); ++slot) walk_gauge(slot, gauges[slot]);
    check_sharing();
    return std::move(records_);
}

// The header's name: printable, and no other gauge's; the gauge is
// told by it from here on. The name as read, if it could be.
std::optional<std::string> Walker::check_gauge_name(const std::string& where, const guest::GAUGEHDR& header,
                                                    size_t slot, GaugeRecord& gauge) {
    const std::optional<std::string> name = read_string(header.gauge_name.address, kMaxNameLength);
    if (!header.gauge_name) {
        fail(Check::kGaugeNames, where, "", kGaugeName, "is null");
    } else if (!name) {
        fail(Check::kGaugeNames, where, "", kGaugeName,
             "is not a string of at most " + std::to_string(kMaxNameLength) + " characters in the module's data");
    } else if (name->empty()) {
        fail(Check::kGaugeNames, where, "", kGaugeName, "is empty");
    } else {
        gauge.name = *name;
        if (!std::all_of(name->begin(), name->end(), [](char c) { return c >= 0x20 && c <= 0x7E; })) {
            fail(Check::kGaugeNames, gauge.name, "", kGaugeName, "holds characters that are not printable ASCII");
        }
        auto [it, inserted] = names_.emplace(*name, slot);
        if (!inserted) {
            fail(Check::kGaugeNames, gauge.name, "", kGaugeName,
                 "also names gauge table entry " + std::to_string(it->second) + ": the host finds gauges by name");
        }
    }
    return name;
}

// The header's version and the fields it fixes.
void Walker::check_header_fields(const std::string& g, uint32_t version, const std::vector<uint8_t>& bytes) {
    const size_t header_size = version == kHeaderVersion800 ? sizeof(guest::GAUGEHDR_V800) : sizeof(guest::GAUGEHDR);
    guest::GAUGEHDR header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    if (version != kHeaderVersion700 && version != kHeaderVersion800) {
        fail(Check::kHeaderVersions, g, "", kHeaderVersion, "is " + std::to_string(version) + ", not 700 or 800");
    }
    if (header.size_x_mm == 0) fail(Check::kHeaderVersions, g, "", kSizeX, "is 0: the gauge has no default width");
    if (version == kHeaderVersion800) {
        // Words a version-700 header would use are named as its fields.
        const size_t tail = offsetof(guest::GAUGEHDR_V800, reserved_tail);
        for (size_t offset = tail; offset < header_size; offset += 4) {
            if (!all_zero(bytes.data() + offset, 4)) {
                const FieldInfo* as_700 = kHeaderSchema.field_at(offset);
                const char* field =
                    as_700 != nullptr && as_700->role != FieldRole::kReserved ? as_700->name : "reserved";
                fail(Check::kHeaderVersions, g, "", field,
                     "word at offset " + std::to_string(offset) + " is not zero in a version-800 header");
            }
        }
    } else {
        check_reserved(g, "", bytes.data(), kHeaderSchema, false);
    }
}

// The routines the host calls from the header (those both versions hold, and
// a version-700 header's callback): whether every one is module code.
bool Walker::check_header_routines(const std::string& g, uint32_t version, const guest::GAUGEHDR& header,
                                   const std::vector<uint8_t>& bytes) {
    std::vector<std::pair<const char*, uint32_t>> routines;
    for (const FieldInfo& field : frame::schema_of<guest::GAUGEHDR_V800>().fields) {
        if (field.role == FieldRole::kCode) routines.emplace_back(field.name, word_at(bytes, field.offset));
    }
    for (const auto& [field, routine] : routines) check_code(g, "", field, routine, false);
    bool sound = true;
    if (version != kHeaderVersion800) {
        const uint32_t callback = header.gauge_callback.address;
        check_code(g, "", kGaugeCallback, callback, true);
        if (callback != 0 && !image_.is_code(callback)) sound = false;
    }
    for (const auto& [field, routine] : routines) {
        if (!image_.is_code(routine)) sound = false;
    }

    return sound;
}

// One gauge: its header, then its element tree and mouse list; the checks
// of each are functions of their own, this is their order.
void Walker::walk_gauge(size_t slot, runtime::GaugePtr pointer) {
    const uint32_t address = pointer.address;
    const std::string where = "gauge table entry " + std::to_string(slot);
    const std::optional<uint32_t> version = read<uint32_t>(address);
    if (!version) {
        fail(Check::kGaugeTable, where, "", "",
             "points to " + hex(address) +
                 ", outside the module's data: the table lacks its end or the entry is broken");
        records_.table_sound = false;
        return;
    }
    GaugeRecord gauge;
    gauge.slot = slot;
    gauge.live = pointer;
    gauge.version = *version;
    gauge.name = "gauge #" + std::to_string(slot);

    const size_t header_size = *version == kHeaderVersion800 ? sizeof(guest::GAUGEHDR_V800) : sizeof(guest::GAUGEHDR);
    std::vector<uint8_t> bytes(header_size);
    if (!read(address, bytes.data(), bytes.size())) {
        fail(Check::kGaugeTable, where, "", "",
             "the header at " + hex(address) + " runs past the module's data (" + std::to_string(header_size) +
                 " bytes)");
        records_.table_sound = false;
        return;
    }
    guest::GAUGEHDR header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    // The name first: every later finding is told by it.
    const std::optional<std::string> name = check_gauge_name(where, header, slot, gauge);
    const size_t index = records_.gauges.size();
    add_span(RecordSpan::Kind::kHeader, address, header_size, index, "header");
    if (name) add_span(RecordSpan::Kind::kName, header.gauge_name.address, name->size() + 1, index, "name");

    const std::string& g = gauge.name;
    check_header_fields(g, *version, bytes);
    bool sound = check_header_routines(g, *version, header, bytes);

    records_.gauges.push_back(std::move(gauge));
    GaugeContext context;
    context.gauge = &records_.gauges.back();
    context.index = index;

    // The element tree, from the header's list.
    const std::optional<std::vector<uint32_t>> roots = read_list(g, "", kElementList, header.element_list.address);
    if (!roots) {
        sound = false;
    } else if (roots->empty()) {
        fail(Check::kElementLists, g, "", kElementList, "holds no element");
        sound = false;
    } else {
        add_span(RecordSpan::Kind::kElementList, header.element_list.address, (roots->size() + 1) * 4, index,
                 "element list");
        if (bitmaps_known_) {
            const std::optional<uint32_t> id =
                read<uint32_t>(roots->front() + offsetof(guest::ELEMENT_HEADER, resource_id));
            if (id) context.background = bitmap(*id);
        }
        for (uint32_t root : *roots) {
            if (!walk_element(context, root, 0, kElementList)) sound = false;
        }
    }

    if (*version != kHeaderVersion800 && !check_mouse(context)) sound = false;
    context.gauge->sound = sound && records_.table_sound;
}

std::optional<std::vector<uint32_t>> Walker::read_list(const std::string& gauge, const std::string& element,
                                                       const char* field, uint32_t address) {
    std::vector<uint32_t> entries;
    if (address == 0) {
        fail(Check::kElementLists, gauge, element, field, "is null");
        return std::nullopt;
    }
    for (size_t i = 0; i <= kMaxListEntries; ++i) {
        const std::optional<uint32_t> entry = read<uint32_t>(address + 4 * i);
        if (!entry) {
            fail(Check::kElementLists, gauge, element, field,
                 "runs out of the module's data after " + std::to_string(i) + " entries without its null end");
            return std::nullopt;
        }
        if (*entry == 0) return entries;
        const std::optional<uint32_t> type = read<uint32_t>(*entry);
        const size_t size = type ? element_record_size(*type) : 0;
        if (!type || *type > kSprite || !image_.holds(*entry, std::max<size_t>(size, sizeof(guest::ELEMENT_HEADER)))) {
            fail(Check::kElementLists, gauge, element, field,
                 "entry " + std::to_string(i) + " (" + hex(*entry) +
                     ") is no element of the module: the list lacks its null end or holds a broken pointer");
            return std::nullopt;
        }
        entries.push_back(*entry);
    }
    fail(Check::kElementLists, gauge, element, field,
         "has no null end within " + std::to_string(kMaxListEntries) + " entries");
    return std::nullopt;
}

// --- Elements -----------------------------------------------------------------------

// One element of the tree: read, checked, then the list beneath it walked;
// the recursion keeps its bookkeeping (depth, who listed it) in one frame.
bool Walker::walk_element(GaugeContext& context, uint32_t address, int depth, const std::string& listed_by) {
    GaugeRecord& gauge = *context.gauge;
    const std::string& g = gauge.name;
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
    if (static_cast<size_t>(depth) >= kMaxTreeDepth || gauge.elements.size() >= kMaxElementsPerGauge) {
        fail(Check::kElementTrees, g, listed_by, kNextList, "the tree grows beyond its bounds");
        return false;
    }
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

// KV015 over the fields of one record at `bytes` that are reserved, and with
// `with_host` those the host writes as well.
void Walker::check_reserved(const std::string& gauge, const std::string& element, const uint8_t* bytes,
                            const RecordInfo& record, bool with_host, const std::string& prefix) {
    for (const FieldInfo& field : record.fields) {
        const bool host = field.role == FieldRole::kHost;
        if (!(field.role == FieldRole::kReserved || (with_host && host))) continue;
        if (all_zero(bytes + field.offset, field.size)) continue;
        fail(Check::kReservedFields, gauge, element, prefix + field.name + (host ? " (the host's, zero at load)" : ""),
             "is not zero");
    }
}

void Walker::check_code(const std::string& gauge, const std::string& element, const char* field, uint32_t address,
                        bool may_be_null) {
    if (address == 0) {
        if (!may_be_null) fail(Check::kCodePointers, gauge, element, field, "is null");
        return;
    }
    if (!image_.is_code(address)) {
        fail(Check::kCodePointers, gauge, element, field, "points to " + hex(address) + ", outside the module's code");
    }
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

    // KV017 and KV004: fields of each kind, callbacks into module code.
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

    if (bitmaps_known_) check_bitmaps(context, element, bytes);
}

// --- Failure lists and tables ---------------------------------------------------------

bool Walker::check_failures(GaugeContext& context, const ElementRecord& element, uint32_t address) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    for (size_t i = 0; i <= kMaxFailureRecords; ++i) {
        const std::optional<guest::FAILURE_RECORD> record =
            read<guest::FAILURE_RECORD>(address + i * sizeof(guest::FAILURE_RECORD));
        if (!record) {
            fail(Check::kFailureLists, g, e, kFailureRecords,
                 "runs out of the module's data after " + std::to_string(i) + " records without its end record");
            return false;
        }
        if (record->failure_key == 0) {
            check_reserved(g, e, bytes_of(*record), kFailureSchema, false, indexed(kFailureRecords, i) + ".");
            add_span(RecordSpan::Kind::kFailureList, address, (i + 1) * sizeof(guest::FAILURE_RECORD), context.index,
                     "failure list of " + e);
            return true;
        }
        if (record->failure_action > kLastFailureAction) {
            fail(Check::kFailureLists, g, e, indexed(kFailureRecords, i),
                 "key " + std::to_string(record->failure_key) + " with action " +
                     std::to_string(record->failure_action) +
                     " is no failure record of the host (actions 0, 1, 2): the list lacks its end or is broken");
            return false;
        }
        check_reserved(g, e, bytes_of(*record), kFailureSchema, false, indexed(kFailureRecords, i) + ".");
    }
    fail(Check::kFailureLists, g, e, kFailureRecords,
         "has no end record within " + std::to_string(kMaxFailureRecords) + " records");
    return false;
}

// A needle's calibration table: its size, its span in memory and each
// point's order, in one walk over the points.
bool Walker::check_table(GaugeContext& context, const ElementRecord& element, const guest::ELEMENT_NEEDLE& needle) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    const uint32_t address = needle.nonlinearity.address;
    const uint32_t size = needle.nonlinearity_size;
    if (address == 0) {
        if (size != 0) {
            fail(Check::kCalibrationTables, g, e, kTableSize, "is " + std::to_string(size) + " without a table");
            return false;
        }
        return true;
    }
    if (size < 2 || size > kMaxTablePoints) {
        fail(Check::kCalibrationTables, g, e, kTableSize,
             "is " + std::to_string(size) + ": a table holds 2 to " + std::to_string(kMaxTablePoints) + " points");
        return false;
    }
    std::vector<guest::NONLINEARITY> points(size);
    if (!read(address, points.data(), size * sizeof(guest::NONLINEARITY))) {
        fail(Check::kCalibrationTables, g, e, kTable,
             "the table of " + std::to_string(size) + " points runs outside the module's data");
        return false;
    }
    add_span(RecordSpan::Kind::kTable, address, size * sizeof(guest::NONLINEARITY), context.index, "table of " + e);

    const int32_t pivot_x = needle.header.position_x;
    const int32_t pivot_y = needle.header.position_y;
    const int64_t reach = coordinate_reach(context);
    // Directions from a pivot out of reach (failed as a field) say nothing.
    const bool pivot_in_reach = std::abs(int64_t{pivot_x}) <= reach && std::abs(int64_t{pivot_y}) <= reach;
    bool sound = true;
    for (uint32_t i = 0; i < size; ++i) {
        const guest::NONLINEARITY& point = points[i];
        const std::string field = indexed(kTable, i);
        if (!std::isfinite(point.value)) {
            fail(Check::kCalibrationTables, g, e, field + "." + kPointValue,
                 "is " + number(point.value) + ", not a finite number");
            sound = false;
        }
        if (point.x == pivot_x && point.y == pivot_y) {
            fail(Check::kCalibrationTables, g, e, field, "lies on the pivot: it gives the needle no direction");
            sound = false;
        }
        if (point.degrees != 0.0) {
            fail(Check::kReservedFields, g, e, field + "." + kPointDegrees, "is not zero (the host's field)");
        }
    }
    if (!sound) return true;  // the table is readable; its findings stand
    const bool ascending = points[1].value > points[0].value;
    for (uint32_t i = 0; i + 1 < size; ++i) {
        const guest::NONLINEARITY& a = points[i];
        const guest::NONLINEARITY& b = points[i + 1];
        const std::string field = indexed(kTable, i + 1);
        if (ascending ? !(b.value > a.value) : !(b.value < a.value)) {
            fail(Check::kCalibrationTables, g, e, field + "." + kPointValue,
                 number(b.value) + " after " + number(a.value) + ": the values do not run one way");
        }
        if (!pivot_in_reach) continue;
        const double from = runtime::direction_degrees(pivot_x, pivot_y, a.x, a.y);
        const double to = runtime::direction_degrees(pivot_x, pivot_y, b.x, b.y);
        const double turn = runtime::normalize_degrees(to - from);
        if (!(turn > 0.0 && turn < 180.0)) {
            fail(Check::kCalibrationTables, g, e, field,
                 "the step from point " + std::to_string(i) + " turns " + number(turn) +
                     " degrees clockwise, not more than 0 and less than 180");
        }
    }
    return true;
}

int64_t Walker::coordinate_reach(const GaugeContext& context) {
    if (!context.background || context.background->width == 0 || context.background->height == 0) return kMaxCoordinate;
    const int64_t side = std::max(context.background->width, context.background->height);
    return std::min(kMaxCoordinate, kCoordinateReachPerSide * side);
}

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

// --- Bitmaps ------------------------------------------------------------------------------

// Every bitmap an element names (its own, a mask, an icon's frames), each
// checked the same way; long for the element kinds' cases.
void Walker::check_bitmaps(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    guest::ELEMENT_HEADER header{};
    std::memcpy(&header, bytes.data(), sizeof header);

    auto present = [&](uint32_t id, const char* role_name) -> std::optional<emulator::Bitmap> {
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
    };

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
    const RecordInfo* record = element_schema(type);
    return record != nullptr ? record->size : 0;
}

const char* element_kind_name(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->name : "unknown";
}

Records read_records(const runtime::Module& module, Report* report, bool bitmaps_known,
                     const std::vector<runtime::KeyEventRegistration>& key_routines) {
    const ModuleImage image = ModuleImage::of(module);
    Walker walker(module, image, report, bitmaps_known);
    Records records = walker.run(key_routines);
    if (report != nullptr) {
        check_writable_records(records, module.memory(), *report);
        for (const CheckInfo& info : kChecks) {
            if (reads_records(info.check)) report->ran(info.check);
        }
        if (!bitmaps_known) report->skip(Check::kBitmaps, "no PE with the module's bitmaps was given");
    }
    return records;
}

// --- KV018: records in writable memory ------------------------------------------------------

namespace {

const char* record_kind(RecordSpan::Kind kind) {
    switch (kind) {
        case RecordSpan::Kind::kHeader: return "gauge header";
        case RecordSpan::Kind::kElement: return "element";
        case RecordSpan::Kind::kFailureList: return "failure list";
        case RecordSpan::Kind::kTable: return "calibration table";
        case RecordSpan::Kind::kMouseList: return "mouse list";
        case RecordSpan::Kind::kName:
        case RecordSpan::Kind::kElementList: break;  // no field of the host's
    }
    return nullptr;
}

// The element a span belongs to: its own label, or the label after "of" in
// "failure list of element 2 (...)" and "table of element 2 (...)".
std::string element_of(const RecordSpan& span) {
    if (span.kind == RecordSpan::Kind::kElement) return span.what;
    const size_t of = span.what.find(" of ");
    return of == std::string::npos ? std::string() : span.what.substr(of + 4);
}

}  // namespace

void check_writable_records(const Records& records, const emulator::GuestMemory& memory, Report& report) {
    // A list several elements share is one record: one finding, on its first user.
    std::set<std::pair<uint32_t, RecordSpan::Kind>> seen;
    for (const RecordSpan& span : records.spans) {
        const char* kind = record_kind(span.kind);
        if (kind == nullptr || !seen.insert({span.begin, span.kind}).second) continue;
        if (memory.writable(span.begin, static_cast<uint32_t>(span.size))) continue;
        report.fail(Check::kWritableRecords, records.gauges[span.gauge].name, element_of(span), kind, kReadOnlyRecord);
    }
}

// --- Snapshots ------------------------------------------------------------------------------

namespace {

void clear(std::vector<uint8_t>& bytes, size_t offset, size_t size) {
    if (offset + size <= bytes.size()) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, 0);
}

// Clears the fields the host writes in the record at `base`, and in the
// records embedded in it.
void clear_host_fields(std::vector<uint8_t>& bytes, size_t base, const RecordInfo& record) {
    for (const FieldInfo& field : record.fields) {
        if (field.role == FieldRole::kHost) clear(bytes, base + field.offset, field.size);
        if (field.record != nullptr) clear_host_fields(bytes, base + field.offset, *field.record);
    }
}

void mask_host_fields(const RecordSpan& span, std::vector<uint8_t>& bytes) {
    if (span.kind == RecordSpan::Kind::kTable) {
        for (size_t offset = 0; offset + sizeof(guest::NONLINEARITY) <= bytes.size();
             offset += sizeof(guest::NONLINEARITY)) {
            clear_host_fields(bytes, offset, kTableSchema);
        }
        return;
    }
    if (span.kind != RecordSpan::Kind::kElement) return;
    const size_t flags = offsetof(guest::ELEMENT_HEADER, image_flags);
    if (flags + 4 <= bytes.size()) bytes[flags + 3] &= static_cast<uint8_t>(~(kImageHidden >> 24));
    if (const RecordInfo* record = element_schema(span.element_type)) clear_host_fields(bytes, 0, *record);
}

}  // namespace

RecordSnapshot snapshot(const Records& records, const emulator::GuestMemory& memory) {
    RecordSnapshot result;
    for (const RecordSpan& span : records.spans) {
        std::vector<uint8_t> bytes(span.size);
        if (memory.readable(span.begin, static_cast<uint32_t>(span.size))) {
            memory.copy_out(span.begin, bytes.data(), static_cast<uint32_t>(span.size));
        } else {
            bytes.clear();
        }
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

// "name" for a field of one word or value, "name[k]" for a byte of an array,
// "variable.name" inside an embedded variable; an element's header is named
// without a prefix.
std::string name_in(const RecordInfo* record, size_t offset) {
    const FieldInfo* field = record != nullptr ? record->field_at(offset) : nullptr;
    if (field == nullptr) return "byte " + std::to_string(offset);
    if (field->record == &kElementHeaderSchema) return name_in(field->record, offset - field->offset);
    if (field->record != nullptr)
        return std::string(field->name) + "." + name_in(field->record, offset - field->offset);
    const bool whole = field->size == 4 || field->size == 8;
    return whole ? std::string(field->name)
                 : std::string(field->name) + "[" + std::to_string(offset - field->offset) + "]";
}

std::string in_list(const char* list, const RecordInfo& record, size_t offset) {
    return indexed(list, offset / record.size, name_in(&record, offset % record.size).c_str());
}

}  // namespace

std::string field_at(const RecordSpan& span, size_t offset) {
    switch (span.kind) {
        case RecordSpan::Kind::kHeader: return name_in(&kHeaderSchema, offset);
        case RecordSpan::Kind::kName: return "character " + std::to_string(offset);
        case RecordSpan::Kind::kElementList: return "entry " + std::to_string(offset / 4);
        case RecordSpan::Kind::kFailureList: return in_list(kFailureRecords, kFailureSchema, offset);
        case RecordSpan::Kind::kTable: return in_list(kTable, kTableSchema, offset);
        case RecordSpan::Kind::kMouseList: return in_list(kMouseRects, kMouseSchema, offset);
        case RecordSpan::Kind::kElement: break;
    }
    if (offset < sizeof(guest::ELEMENT_HEADER)) return name_in(&kElementHeaderSchema, offset);
    return name_in(element_schema(span.element_type), offset);
}

}  // namespace validate
