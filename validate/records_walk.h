// The walk over a module's records that read_records() makes, shared by
// the files that hold its parts (records_gauges.cpp, records_elements.cpp,
// records_tables.cpp, records_mouse.cpp) and by the spans' own functions
// (records_spans.cpp): the record tables it names fields by, and the
// Walker. No other unit includes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "emulator/machine/guest_memory.h"
#include "emulator/pe/pe_image.h"
#include "runtime/module_code.h"
#include "validate/records.h"

namespace validate::walk {

// An address as findings write it: "0x40A000" (no padding, unlike a fault's).
std::string hex(uint64_t value);
// A double as findings write it, every digit kept.
std::string number(double value);
bool all_zero(const uint8_t* bytes, size_t size);

using frame::FieldInfo;
using frame::FieldRole;
using frame::RecordInfo;

inline constexpr const RecordInfo& kVarSchema = frame::schema_of<guest::MODULE_VAR>();
inline constexpr const RecordInfo& kHeaderSchema = frame::schema_of<guest::GAUGEHDR>();
inline constexpr const RecordInfo& kElementHeaderSchema = frame::schema_of<guest::ELEMENT_HEADER>();
inline constexpr const RecordInfo& kFailureSchema = frame::schema_of<guest::FAILURE_RECORD>();
inline constexpr const RecordInfo& kTableSchema = frame::schema_of<guest::NONLINEARITY>();
inline constexpr const RecordInfo& kMouseSchema = frame::schema_of<guest::MOUSERECT>();

// The fields findings name, as the record tables spell them.
inline constexpr const char* kGaugeName = FRAME_FIELD_NAME(guest::GAUGEHDR, gauge_name);
inline constexpr const char* kHeaderVersion = FRAME_FIELD_NAME(guest::GAUGEHDR, header_version);
inline constexpr const char* kSizeX = FRAME_FIELD_NAME(guest::GAUGEHDR, size_x_mm);
inline constexpr const char* kElementList = FRAME_FIELD_NAME(guest::GAUGEHDR, element_list);
inline constexpr const char* kMouseRects = FRAME_FIELD_NAME(guest::GAUGEHDR, mouse_rects);
inline constexpr const char* kGaugeCallback = FRAME_FIELD_NAME(guest::GAUGEHDR, gauge_callback);
inline constexpr const char* kElementType = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, element_type);
inline constexpr const char* kResourceId = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, resource_id);
inline constexpr const char* kOwner = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, gauge);
inline constexpr const char* kNextList = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, next_element_list);
inline constexpr const char* kFailureRecords = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, failure_records);
inline constexpr const char* kImageFlags = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, image_flags);
inline constexpr const char* kMaxDegrees = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, max_degrees_per_tick);
inline constexpr const char* kPositionX = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, position_x);
inline constexpr const char* kPositionY = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, position_y);
inline constexpr const char* kOffsetX = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, ofs_x);
inline constexpr const char* kOffsetY = FRAME_FIELD_NAME(guest::ELEMENT_HEADER, ofs_y);
inline constexpr const char* kTable = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, nonlinearity);
inline constexpr const char* kTableSize = FRAME_FIELD_NAME(guest::ELEMENT_NEEDLE, nonlinearity_size);
inline constexpr const char* kFrameCount = FRAME_FIELD_NAME(guest::ELEMENT_ICON, frame_count);
inline constexpr const char* kTextureScaleX = FRAME_FIELD_NAME(guest::ELEMENT_SPRITE, texture_scale_x);
inline constexpr const char* kTextureScaleY = FRAME_FIELD_NAME(guest::ELEMENT_SPRITE, texture_scale_y);
inline constexpr const char* kPointValue = FRAME_FIELD_NAME(guest::NONLINEARITY, value);
inline constexpr const char* kPointDegrees = FRAME_FIELD_NAME(guest::NONLINEARITY, degrees);
inline constexpr const char* kRectType = FRAME_FIELD_NAME(guest::MOUSERECT, rect_type);
inline constexpr const char* kMouseFlags = FRAME_FIELD_NAME(guest::MOUSERECT, mouse_flags);
inline constexpr const char* kHandler = FRAME_FIELD_NAME(guest::MOUSERECT, handler);

inline bool is_variable(const FieldInfo& field) { return field.record == &kVarSchema; }

// "list[i]" and "list[i].field" for a record in a list.
inline std::string indexed(const char* list, size_t index) {
    return std::string(list) + "[" + std::to_string(index) + "]";
}
inline std::string indexed(const char* list, size_t index, const char* field) {
    return indexed(list, index) + "." + field;
}

template <typename Record>
const uint8_t* bytes_of(const Record& record) {
    return reinterpret_cast<const uint8_t*>(&record);
}

const RecordInfo* element_schema(uint32_t type);
uint32_t word_at(const std::vector<uint8_t>& bytes, size_t offset);
// The value callbacks an element record holds.
std::vector<const FieldInfo*> element_callbacks(uint32_t type);

// One reading of a module's records: the gauge table, each gauge's header,
// element tree and mouse list, and the findings each breaks; run() once.
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
    bool walk_tree(GaugeContext& context, uint32_t address);
    std::optional<std::vector<uint32_t>> read_list(const std::string& gauge, const std::string& element,
                                                   const char* field, uint32_t address);
    bool admits(const GaugeContext& context, uint32_t address, int depth, const std::string& listed_by);
    bool walk_element(GaugeContext& context, uint32_t address, int depth, const std::string& listed_by);
    void check_element(GaugeContext& context, const ElementRecord& element, const std::vector<uint8_t>& bytes);
    void check_kind_fields(const std::string& g, const std::string& e, const ElementRecord& element,
                           const std::vector<uint8_t>& bytes);
    void check_reserved(const std::string& gauge, const std::string& element, const uint8_t* bytes,
                        const RecordInfo& record, bool with_host, const std::string& prefix = "");
    void check_code(const std::string& gauge, const std::string& element, const char* field, uint32_t address,
                    bool may_be_null);
    bool check_failures(GaugeContext& context, const ElementRecord& element, uint32_t address);
    bool check_table(GaugeContext& context, const ElementRecord& element, const guest::ELEMENT_NEEDLE& needle);
    void check_table_order(const std::string& g, const std::string& e, const std::vector<guest::NONLINEARITY>& points,
                           int32_t pivot_x, int32_t pivot_y, bool pivot_in_reach);
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
    std::optional<emulator::Bitmap> present_bitmap(const std::string& g, const std::string& e, uint32_t id,
                                                   const char* role_name);
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

}  // namespace validate::walk
