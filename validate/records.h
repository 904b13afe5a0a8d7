// The validator's reading of a module's records: every gauge header reached
// from the gauge table, its element tree in drawing order, its lists, tables
// and mouse list, each record's place in the module's guest memory. Reading
// goes only through the module's guest memory (module.memory()), and only
// where its regions allow, so a list without its end is reported rather than
// read past; each rule the records break becomes a finding under its check id
// (KV001 to KV018).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/records.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "validate/report.h"

namespace validate {

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

// A loaded module's image in its guest memory: the sections of its PE image,
// each as far as its own size, and those of them that hold code or may be
// executed. Both come from the image's headers where the loader mapped them
// at the image's base (as Windows does), else from the module's file. A
// module without PE headers (the i386 twin's ELF library) has its image
// stand for every region of its memory, and its read-only regions for its
// code.
class ModuleImage {
public:
    struct Range {
        uint32_t begin = 0;
        uint32_t end = 0;  // exclusive
    };
    static ModuleImage of(const runtime::Module& module);
    // An image of the given ranges (for tests); `image` empty: any readable
    // memory belongs to it.
    static ModuleImage from_ranges(const emulator::GuestMemory& memory, std::vector<Range> image,
                                   std::vector<Range> code);

    // `size` bytes from `address` are readable and lie in one section of the
    // image (where its records may lie).
    bool holds(uint32_t address, uint64_t size) const;
    // `address` lies in the image's code.
    bool is_code(uint32_t address) const;
    const std::vector<Range>& code() const { return code_; }
    // How the image was found: "PE headers in memory", "PE file", "regions".
    const std::string& source() const { return source_; }

private:
    const emulator::GuestMemory* memory_ = nullptr;
    std::vector<Range> image_;
    std::vector<Range> code_;
    std::string source_;
};

// The bytes of an element record of each type (0 for a type without a
// record of its own).
size_t element_record_size(uint32_t type);
const char* element_kind_name(uint32_t type);

// The variables embedded in an element of `type`: each one's offset in the
// record and its field name ("source", "source_x", ...).
struct EmbeddedVariable {
    uint32_t offset;
    const char* name;
};
std::vector<EmbeddedVariable> embedded_variables(uint32_t type);

struct ElementRecord {
    runtime::ElementPtr live;  // the record in the loaded module's memory
    uint32_t type = 0;
    size_t size = 0;
    int depth = 0;      // steps below the root
    size_t order = 0;   // place in drawing order, from 1
    std::string label;  // "element 2 (needle, bitmap 205)"
};

struct GaugeRecord {
    size_t slot = 0;  // place in the gauge table
    runtime::GaugePtr live;
    std::string name;  // as stored, or "gauge #<slot>" when unreadable
    uint32_t version = 0;
    // Fit for driving: the header, lists and tree are intact, and every
    // routine they name lies in module code, so that the host can walk them
    // and call what they point to.
    bool sound = false;
    std::vector<ElementRecord> elements;  // drawing order
    std::vector<guest::MOUSERECT> mouse;  // the list up to its end record (empty: none or broken)
};

// One record's place in guest memory, with the bytes a validated module
// keeps unchanged while it runs (host-written fields are masked out).
struct RecordSpan {
    enum class Kind { kHeader, kName, kElementList, kElement, kFailureList, kTable, kMouseList };
    Kind kind = Kind::kHeader;
    uint32_t begin = 0;  // guest address
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
// else KV014 is skipped. `key_routines` are checked to lie in module code.
Records read_records(const runtime::Module& module, Report* report, bool bitmaps_known,
                     const std::vector<runtime::KeyEventRegistration>& key_routines = {});

// What KV018 says of a record the host writes into that lies in read-only memory.
inline constexpr const char* kReadOnlyRecord =
    "lies in read-only memory of the loaded module (declared const): the host's writes into its reserved fields fault";

// KV018: one finding per record with fields the host writes (gauge header,
// element, failure list, calibration table, mouse list) that lies in memory
// the loaded module keeps read-only.
void check_writable_records(const Records& records, const emulator::GuestMemory& memory, Report& report);

// The bytes of every span, with the fields the host writes (variable
// values, a static image's image reference, table degrees) and bit 30 of
// image flags cleared, so that two snapshots compare equal while the module
// leaves its records alone.
struct RecordSnapshot {
    std::vector<std::vector<uint8_t>> bytes;  // parallel to Records::spans
};
RecordSnapshot snapshot(const Records& records, const emulator::GuestMemory& memory);
struct SnapshotDifference {
    size_t span = 0;
    size_t offset = 0;
    uint8_t before = 0;
    uint8_t after = 0;
};
// The first changed byte of every span that differs.
std::vector<SnapshotDifference> compare(const RecordSnapshot& before, const RecordSnapshot& after);

// The field of a record at a byte offset: "reserved_3[0]", "source.value",
// "nonlinearity[2].value", "mouse_rects[4].handler", "entry 1".
std::string field_at(const RecordSpan& span, size_t offset);

}  // namespace validate
