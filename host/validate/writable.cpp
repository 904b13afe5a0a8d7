#include "host/validate/writable.h"

#include <cstdio>
#include <optional>

namespace bench::validate {
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

constexpr const char* kReadOnly =
    "lies in read-only memory of the loaded module (declared const): the host's writes into its reserved fields fault";

}  // namespace

void check_writable_records(const Records& records, const ModuleMemory& memory, Report& report) {
    // A list several elements share is one record: one finding, on its first user.
    std::set<std::pair<uintptr_t, RecordSpan::Kind>> seen;
    for (const RecordSpan& span : records.spans) {
        const char* kind = record_kind(span.kind);
        if (kind == nullptr || !seen.insert({span.begin, span.kind}).second) continue;
        if (memory.writable(span.begin, span.size)) continue;
        report.fail(Check::kWritableRecords, records.gauges[span.gauge].name, element_of(span), kind, kReadOnly);
    }
}

// --- Stand-alone variables ---------------------------------------------------------------

namespace {

VariableGuard* g_guard = nullptr;

// Module code calls these: nothing may unwind into it. A variable the guard
// cannot vouch for (even for want of memory to report it) is not written.
bool admitted(const MODULE_VAR* var) noexcept {
    if (g_guard == nullptr) return false;
    try {
        return g_guard->admit(var);
    } catch (...) {
        return false;
    }
}

void GAUGE_CALL guarded_initialize_var(MODULE_VAR* var) noexcept {
    if (!admitted(var)) return;
    if (const auto service = g_guard->services()->initialize_var) service(var);
}

void GAUGE_CALL guarded_lookup_var(MODULE_VAR* var) noexcept {
    if (!admitted(var)) return;
    if (const auto service = g_guard->services()->lookup_var) service(var);
}

// Stand-alone records follow a version-700 header, one slot each.
constexpr size_t kMaxStandaloneSlots = 64;

}  // namespace

VariableGuard::~VariableGuard() {
    if (g_guard == this) g_guard = nullptr;
}

void VariableGuard::attach(Module& module) {
    memory_ = ModuleMemory::of(module.linkage());
    headers_.clear();
    for (GAUGEHDR* gauge : module.gauges()) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(gauge);
        const std::optional<GAUGEHDR> header = memory_.read<GAUGEHDR>(address);
        if (!header || header->header_version != kHeaderVersion700) continue;
        const std::optional<std::string> name =
            memory_.read_string(reinterpret_cast<uintptr_t>(header->gauge_name), kMaxNameLength);
        if (name) headers_.emplace_back(address, *name);
    }
    inner_ = module.import_table()->panels;
    table_ = inner_ != nullptr ? *inner_ : PANELS{};
    table_.initialize_var = guarded_initialize_var;
    table_.lookup_var = guarded_lookup_var;
    module.import_table()->panels = &table_;
    g_guard = this;
}

bool VariableGuard::admit(const MODULE_VAR* var) {
    const auto address = reinterpret_cast<uintptr_t>(var);
    // Records outside the module (the host's own, or none) are not the
    // module's to answer for; the host copes with them as it does.
    if (var == nullptr || inner_ == nullptr || !memory_.holds(address, sizeof(MODULE_VAR))) return true;
    if (memory_.writable(address, sizeof(MODULE_VAR))) return true;
    if (reported_.insert(address - memory_.base()).second) {
        const std::optional<uint32_t> token = memory_.read<uint32_t>(address);
        char what[64];
        std::snprintf(what, sizeof what, "stand-alone variable (token %u)", token.value_or(0));
        report_.fail(Check::kWritableRecords, gauge_before(address), "", what, kReadOnly);
    }
    return false;
}

// The gauge whose header the record follows in one of its slots; "" for a
// record kept elsewhere.
std::string VariableGuard::gauge_before(uintptr_t address) const {
    const std::pair<uintptr_t, std::string>* nearest = nullptr;
    for (const auto& entry : headers_) {
        const uintptr_t first = entry.first + sizeof(GAUGEHDR);
        if (address < first || (nearest != nullptr && entry.first < nearest->first)) continue;
        const uintptr_t offset = address - first;
        const bool in_a_slot = offset % sizeof(MODULE_VAR_SLOT) == 0;
        if (in_a_slot && offset / sizeof(MODULE_VAR_SLOT) < kMaxStandaloneSlots) nearest = &entry;
    }
    return nearest != nullptr ? nearest->second : std::string();
}

}  // namespace bench::validate
