#include "validate/records.h"

#include <algorithm>
#include <cstdio>

#include "validate/records_walk.h"

namespace validate {
namespace walk {

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

const RecordInfo* element_schema(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->record : nullptr;
}

uint32_t word_at(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t word = 0;
    if (offset + 4 <= bytes.size()) std::memcpy(&word, bytes.data() + offset, 4);
    return word;
}

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

}  // namespace walk

using walk::element_schema;
using walk::FieldInfo;
using walk::is_variable;
using walk::RecordInfo;

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
    walk::Walker walker(module, image, report, bitmaps_known);
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

}  // namespace validate
