// The validator's report: one entry per check, each with a status and the
// findings behind it. Check ids are stable: tools and tests name them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace validate {

enum class Status { kPass, kWarn, kFail, kSkip };

const char* status_name(Status status);

// What a check looks at; ids 0xx read the records, 1xx drive the gauges'
// lifecycle, 2xx feed hostile inputs, 3xx watch every module call (in the
// emulator: its memory accesses, faults, instructions, imports). The ids
// are stable: reports, tools and tests name them.
#define VALIDATOR_CHECKS(X)                                                                                    \
    X(kModuleLoads, "KV000", "module loads: exports, ImportTable, Linkage")                                    \
    X(kGaugeTable, "KV001", "gauge table: terminated, every entry a gauge header")                             \
    X(kGaugeNames, "KV002", "gauge names: readable, terminated, unique")                                       \
    X(kHeaderVersions, "KV003", "header versions and sizes")                                                   \
    X(kCodePointers, "KV004", "routines, callbacks and handlers point into module code")                       \
    X(kElementLists, "KV005", "element lists and next lists: terminated, entries are elements")                \
    X(kElementTrees, "KV006", "element trees: acyclic, every element listed once")                             \
    X(kElementOwners, "KV007", "every element's gauge is its own header")                                      \
    X(kSharedRecords, "KV008", "no record shared between gauges")                                              \
    X(kCalibrationTables, "KV009", "calibration tables: finite, monotonic, clockwise steps below 180 degrees") \
    X(kFailureLists, "KV010", "failure lists: terminated, known actions")                                      \
    X(kMouseLists, "KV011", "mouse lists: record types, balanced parents, end record")                         \
    X(kMouseBoxes, "KV012", "mouse boxes: sizes, children inside their parents")                               \
    X(kMouseActions, "KV013", "mouse actions: event boxes without handlers and the reverse")                   \
    X(kBitmaps, "KV014", "bitmaps: every id used is a resource of plausible size")                             \
    X(kReservedFields, "KV015", "reserved fields zero")                                                        \
    X(kImageFlags, "KV016", "image flags sane")                                                                \
    X(kElementFields, "KV017", "element fields: types, frame counts, finite scales and ranges")                \
    X(kWritableRecords, "KV018", "records the host writes into lie in writable memory")                        \
    X(kLifecycle, "KV101", "lifecycle: install/update/kill cycles, several instances, reloads")                \
    X(kServiceIds, "KV102", "gauge callbacks take every service id; standard routines any argument")           \
    X(kHandlersOutsideLife, "KV103", "mouse handlers before set-up and after kill")                            \
    X(kRecordsUnchanged, "KV104", "records unchanged by the abuse (host fields and bit 30 aside)")             \
    X(kReloadLikeFresh, "KV105", "behaviour after the abuse and a reload equals a fresh module's")             \
    X(kHostileValues, "KV201", "value callbacks: hostile values give numbers within limits")                   \
    X(kHostileGaugeCalls, "KV202", "gauge callbacks: hostile variables and service ids")                       \
    X(kHostilePoints, "KV203", "mouse handlers: extreme and far points, any flags")                            \
    X(kHostileKeyEvents, "KV204", "key-event routines: any event, value and user data")                        \
    X(kNoAllocation, "KV301", "no heap allocation inside module calls")                                        \
    X(kFloatingPointState, "KV302", "floating-point control state unchanged by module calls")                  \
    X(kServedServicesOnly, "KV303", "modules call only the services the host serves")                          \
    X(kMemoryAccess, "KV304",                                                                                  \
      "module code reads only mapped memory, writes only its own writable sections, its stack or host memory") \
    X(kCodeFaults, "KV305",                                                                                    \
      "module calls end without a processor fault (code outside the module, invalid "                          \
      "instruction, division, broken call)")                                                                   \
    X(kInstructions, "KV306",                                                                                  \
      "module calls return within their instruction budget; instructions per call and "                        \
      "per panel update")                                                                                      \
    X(kImports, "KV307", "imports: every import bound, no call of an unbound one")                             \
    X(kResources, "KV308",                                                                                     \
      "module calls keep no handles, heaps, virtual memory or registrations, and stay within the budgets")

enum class Check : uint8_t {
#define VALIDATOR_CHECK_ENUM(name, id, text) name,
    VALIDATOR_CHECKS(VALIDATOR_CHECK_ENUM)
#undef VALIDATOR_CHECK_ENUM
};

struct CheckInfo {
    Check check;
    const char* id;
    const char* name;
};

inline constexpr CheckInfo kChecks[] = {
#define VALIDATOR_CHECK_INFO(name, id, text) {Check::name, id, text},
    VALIDATOR_CHECKS(VALIDATOR_CHECK_INFO)
#undef VALIDATOR_CHECK_INFO
};

constexpr const CheckInfo& check_info(Check check) { return kChecks[static_cast<size_t>(check)]; }

// Whether a check reads the records (0xx) rather than running module code.
constexpr bool reads_records(Check check) { return check_info(check).id[2] == '0'; }

const CheckInfo* find_check(std::string_view id);

struct Finding {
    Status severity = Status::kFail;  // kFail or kWarn; kPass for an information line
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
    bool ran = false;               // false: skipped (see note)
    std::string note;               // skip reason, or what a check covered
    std::vector<Finding> findings;  // the first kMaxKeptFindings
    std::vector<Finding> info;      // figures a passing check reports (no finding: they change no status)
    size_t finding_count = 0;       // all findings, kept or not
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
    // The file is no gauge module (unreadable, a malformed PE, another
    // library): KV000 failed and nothing else could be checked. Module code
    // that faulted while loading fails KV000 without this.
    bool no_gauge_module = false;

    CheckResult& check(Check which);
    const CheckResult& check(Check which) const;
    // The entry for a check id such as "KV009" (throws std::out_of_range for
    // an id no check has).
    const CheckResult& check(std::string_view id) const;
    const std::vector<CheckResult>& checks() const { return checks_; }

    void add(Check which, Finding finding);
    void fail(Check which, std::string gauge, std::string element, std::string field, std::string message);
    void warn(Check which, std::string gauge, std::string element, std::string field, std::string message);
    // A line of figures under a check, e.g. the most instructions any call
    // took; marks the check as run and changes no status.
    void info(Check which, std::string gauge, std::string element, std::string field, std::string message);
    // Marks a check as run (a check that ran without findings passes).
    void ran(Check which, std::string note = {});
    // Marks a check as skipped, with the reason; findings it had stay.
    void skip(Check which, std::string reason);

    size_t count(Status status) const;
    bool failed() const { return count(Status::kFail) != 0; }

    // "<module>: N checks: a pass, b fail, c warn, d skip (seed S)".
    std::string summary() const;
    struct PrintStyle {
        size_t max_lines = 20;       // findings shown under a check
        bool colour = false;         // the states in colour (a terminal)
        bool problems_only = false;  // only checks that fail or warn, no header or summary
    };
    // The table of checks and, under each, its findings.
    void print(std::FILE* out, const PrintStyle& style) const;
    void print(std::FILE* out) const { print(out, PrintStyle{}); }
    std::string json() const;

private:
    std::vector<CheckResult> checks_;
};

// A JSON string literal for `text` (quotes included), escaping what JSON requires.
std::string json_string(std::string_view text);

}  // namespace validate
