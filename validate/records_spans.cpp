#include "validate/records.h"

#include <algorithm>
#include <set>

#include "validate/records_walk.h"

namespace validate {

using namespace walk;

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
