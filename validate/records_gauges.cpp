#include "validate/records_walk.h"

#include <algorithm>

#include "frame/linkage.h"

namespace validate::walk {

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

    if (!walk_tree(context, header.element_list.address)) sound = false;
    if (*version != kHeaderVersion800 && !check_mouse(context)) sound = false;
    context.gauge->sound = sound && records_.table_sound;
}

// A gauge's element tree, from the header's list at `address`: whether all
// of it could be walked.
bool Walker::walk_tree(GaugeContext& context, uint32_t address) {
    const std::string& g = context.gauge->name;
    const std::optional<std::vector<uint32_t>> roots = read_list(g, "", kElementList, address);
    if (!roots) return false;
    if (roots->empty()) {
        fail(Check::kElementLists, g, "", kElementList, "holds no element");
        return false;
    }
    add_span(RecordSpan::Kind::kElementList, address, (roots->size() + 1) * 4, context.index, "element list");
    if (bitmaps_known_) {
        const std::optional<uint32_t> id =
            read<uint32_t>(roots->front() + offsetof(guest::ELEMENT_HEADER, resource_id));
        if (id) context.background = bitmap(*id);
    }
    bool sound = true;
    for (uint32_t root : *roots) {
        if (!walk_element(context, root, 0, kElementList)) sound = false;
    }
    return sound;
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

}  // namespace validate::walk
