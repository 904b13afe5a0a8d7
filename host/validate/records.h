// The validator's reading of a module's records: every gauge header reached
// from the gauge table, its element tree in drawing order, its lists, tables
// and mouse list, each record's place in memory. Reading goes only where the
// module's memory map allows, and each rule the records break becomes a
// finding under its check id (KV001 to KV018).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/records.h"
#include "host/module.h"
#include "host/validate/module_memory.h"
#include "host/validate/report.h"

namespace bench::validate {

// Bounds of the walk: a list, tree or string longer than this is taken for
// one without its end.
inline constexpr size_t kMaxListEntries = 1024;
inline constexpr size_t kMaxElementsPerGauge = 4096;
inline constexpr size_t kMaxTreeDepth = 512;
inline constexpr size_t kMaxFailureRecords = 256;
inline constexpr size_t kMaxMouseRecords = 4096;
inline constexpr size_t kMaxTablePoints = 1024;
inline constexpr size_t kMaxNameLength = 256;
inline constexpr uint32_t kMaxFrames = 256;
inline constexpr uint32_t kMaxBitmapExtent = 4096;
// Element coordinates (positions, offsets, pivots) lie within this many
// pixels of the origin, and within 16 times the background's larger side.
inline constexpr int64_t kMaxCoordinate = 1 << 20;
inline constexpr int64_t kCoordinateReachPerSide = 16;

// Image flag bits with a meaning to the host.
inline constexpr uint32_t kKnownImageFlags =
    kImageTransparentBlack | kImageOverlay | kImageBright | kImageBuffered | kImageHidden;
static_assert(kKnownImageFlags == 0x40004007);

// The bytes of an element record of each type (0 for a type without a
// record of its own).
size_t element_record_size(uint32_t type);
const char* element_kind_name(uint32_t type);

// The variables embedded in an element of `type`: each one's offset in the
// record and its field name ("source", "source_x", ...).
struct EmbeddedVariable {
    size_t offset;
    const char* name;
};
std::vector<EmbeddedVariable> embedded_variables(uint32_t type);

struct ElementRecord {
    ELEMENT_HEADER* live = nullptr;  // the record in the loaded module
    uint32_t type = 0;
    size_t size = 0;
    int depth = 0;      // steps below the root
    size_t order = 0;   // place in drawing order, from 1
    std::string label;  // "element 2 (needle, bitmap 205)"
};

struct GaugeRecord {
    size_t slot = 0;  // place in the gauge table
    GAUGEHDR* live = nullptr;
    std::string name;  // as stored, or "gauge #<slot>" when unreadable
    uint32_t version = 0;
    // Fit for driving: the header, lists and tree are intact, so that the
    // host can walk them and call what they point to.
    bool sound = false;
    std::vector<ElementRecord> elements;  // drawing order
    std::vector<MOUSERECT> mouse;         // the list up to its end record (empty: none or broken)
};

// One record's place in memory, with the bytes a validated module keeps
// unchanged while it runs (host-written fields are masked out).
struct RecordSpan {
    enum class Kind { kHeader, kName, kElementList, kElement, kFailureList, kTable, kMouseList };
    Kind kind = Kind::kHeader;
    uintptr_t begin = 0;
    size_t size = 0;
    size_t gauge = 0;           // index into Records::gauges
    uint32_t element_type = 0;  // for kElement
    std::string what;           // "failure list of element 2 (needle, bitmap 205)"
};

struct Records {
    std::vector<GaugeRecord> gauges;  // table order
    std::vector<RecordSpan> spans;
    bool table_sound = false;  // the gauge table itself could be read
};

// Reads every record of `module`. With a report, each broken rule becomes a
// finding and the static checks are marked as run; `bitmaps_known` says
// whether the module's bitmaps (a PE or given sizes) are there to check,
// else KV014 is skipped.
Records read_records(const Module& module, const ModuleMemory& memory, Report* report, bool bitmaps_known,
                     const std::vector<KeyEventRegistration>& key_routines = {});

// The bytes of every span, with the fields the host writes (variable
// values, a static image's image reference, table degrees) and bit 30 of
// image flags cleared, so that two snapshots compare equal while the module
// leaves its records alone.
struct RecordSnapshot {
    std::vector<std::vector<uint8_t>> bytes;  // parallel to Records::spans
};
RecordSnapshot snapshot(const Records& records, const ModuleMemory& memory);
// One line per span that differs: "<what>: byte N was 0x.., now 0x..".
struct SnapshotDifference {
    size_t span = 0;
    size_t offset = 0;
    uint8_t before = 0;
    uint8_t after = 0;
};
std::vector<SnapshotDifference> compare(const RecordSnapshot& before, const RecordSnapshot& after);

// The field of a record at a byte offset: "reserved_3[0]", "source.value",
// "nonlinearity[2].value", "mouse_rects[4].handler", "entry 1".
std::string field_at(const RecordSpan& span, size_t offset);

}  // namespace bench::validate
