// The validator's report: one entry per check, each with a status and the
// findings behind it. Check ids are stable: tools and tests name them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bench::validate {

enum class Status { kPass, kWarn, kFail, kSkip };

const char* status_name(Status status);

// What a check looks at; ids 0xx read the records, 1xx drive the gauges'
// lifecycle, 2xx feed hostile inputs, 3xx watch every module call.
struct CheckInfo {
    const char* id;
    const char* name;
};

inline constexpr CheckInfo kChecks[] = {
    {"KV000", "module loads: exports, ImportTable, Linkage"},
    {"KV001", "gauge table: terminated, every entry a gauge header"},
    {"KV002", "gauge names: readable, terminated, unique"},
    {"KV003", "header versions and sizes"},
    {"KV004", "routines, callbacks and handlers point into module code"},
    {"KV005", "element lists and next lists: terminated, entries are elements"},
    {"KV006", "element trees: acyclic, every element listed once"},
    {"KV007", "every element's gauge is its own header"},
    {"KV008", "no record shared between gauges"},
    {"KV009", "calibration tables: finite, monotonic, clockwise steps below 180 degrees"},
    {"KV010", "failure lists: terminated, known actions"},
    {"KV011", "mouse lists: record types, balanced parents, end record"},
    {"KV012", "mouse boxes: sizes, children inside their parents"},
    {"KV013", "mouse actions: event boxes without handlers and the reverse"},
    {"KV014", "bitmaps: every id used is a resource of plausible size"},
    {"KV015", "reserved fields zero"},
    {"KV016", "image flags sane"},
    {"KV017", "element fields: types, frame counts, finite scales and ranges"},
    {"KV101", "lifecycle: install/update/kill cycles, several instances, reloads"},
    {"KV102", "gauge callbacks take every service id; standard routines any argument"},
    {"KV103", "mouse handlers before set-up and after kill"},
    {"KV104", "records unchanged by the abuse (host fields and bit 30 aside)"},
    {"KV105", "behaviour after the abuse and a reload equals a fresh module's"},
    {"KV201", "value callbacks: hostile values give numbers within limits"},
    {"KV202", "gauge callbacks: hostile variables and service ids"},
    {"KV203", "mouse handlers: extreme and far points, any flags"},
    {"KV204", "key-event routines: any event, value and user data"},
    {"KV301", "no heap allocation inside module calls"},
    {"KV302", "floating-point control state unchanged by module calls"},
    {"KV303", "modules call only the services the host serves"},
};

const CheckInfo* find_check(std::string_view id);

struct Finding {
    Status severity = Status::kFail;  // kFail or kWarn
    std::string gauge;                // gauge name, or empty for the module
    std::string element;              // e.g. "element 3 (needle, bitmap 205)", or empty
    std::string field;                // record field, callback or call, or empty
    std::string message;

    // "gauge: element: field: message", leaving out empty parts.
    std::string line() const;
};

struct CheckResult {
    std::string id;
    std::string name;
    bool ran = false;                 // false: skipped (see note)
    std::string note;                 // skip reason, or what a check covered
    std::vector<Finding> findings;    // the first kMaxKeptFindings
    size_t finding_count = 0;         // all findings, kept or not
    size_t fail_count = 0;
    size_t warn_count = 0;

    Status status() const;
};

class Report {
public:
    // Findings kept per check (all are counted).
    static constexpr size_t kMaxKeptFindings = 200;

    Report();

    std::string module;
    std::string pe;
    uint64_t seed = 0;

    // The entry for a check id of kChecks (throws std::out_of_range for
    // another id).
    CheckResult& check(std::string_view id);
    const CheckResult& check(std::string_view id) const;
    const std::vector<CheckResult>& checks() const { return checks_; }

    void add(std::string_view id, Finding finding);
    void fail(std::string_view id, std::string gauge, std::string element, std::string field, std::string message);
    void warn(std::string_view id, std::string gauge, std::string element, std::string field, std::string message);
    // Marks a check as run (a check that ran without findings passes).
    void ran(std::string_view id, std::string note = {});
    // Marks a check as skipped, with the reason; findings it had stay.
    void skip(std::string_view id, std::string reason);

    size_t count(Status status) const;
    bool failed() const { return count(Status::kFail) != 0; }

    // "<module>: N checks: a pass, b fail, c warn, d skip (seed S)".
    std::string summary() const;
    // The table of checks and, under each, up to `max_lines` findings.
    void print(std::FILE* out, size_t max_lines = 20) const;
    std::string json() const;

private:
    std::vector<CheckResult> checks_;
};

// A JSON string literal for `text` (quotes included), escaping what JSON requires.
std::string json_string(std::string_view text);

}  // namespace bench::validate
