// A host reads the records in place and writes its working data into their
// reserved fields. Here every reserved field of every record of both modules
// gets a pattern, as such a host leaves them, and every gauge then runs
// set-up, updates and each of its mouse boxes through the bench host. A
// record the module keeps in read-only memory faults at the first write; a
// gauge that reads the host's fields shows something other than a fresh load
// without the patterns does.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "frame/records.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/mouse.h"
#include "host/validate/module_memory.h"
#include "host/validate/records.h"
#include "support/test_paths.h"

namespace {

using bench::validate::RecordSpan;
using Kind = RecordSpan::Kind;

constexpr unsigned char kPattern = 0xA5;

struct Field {
    size_t offset;
    size_t size;
};
#define RESERVED(record, member) Field{offsetof(record, member), sizeof(record::member)}

const std::vector<Field> kHeader700 = {RESERVED(GAUGEHDR, reserved_1), RESERVED(GAUGEHDR, reserved_2),
                                       RESERVED(GAUGEHDR, reserved_3)};
// The bench host reads every header through the version-700 view, so the two
// tail words where that view keeps the mouse list and the gauge callback
// stay zero.
const std::vector<Field> kHeader800 = {
    RESERVED(GAUGEHDR_V800, reserved_1),
    {offsetof(GAUGEHDR_V800, reserved_tail), offsetof(GAUGEHDR, mouse_rects) - offsetof(GAUGEHDR_V800, reserved_tail)},
    {offsetof(GAUGEHDR, reserved_3), sizeof(GAUGEHDR_V800) - offsetof(GAUGEHDR, reserved_3)}};
const std::vector<Field> kElementHeader = {RESERVED(ELEMENT_HEADER, reserved_1), RESERVED(ELEMENT_HEADER, reserved_2),
                                           RESERVED(ELEMENT_HEADER, reserved_3), RESERVED(ELEMENT_HEADER, reserved_4)};
const std::vector<Field> kVariable = {RESERVED(MODULE_VAR, reserved_1), RESERVED(MODULE_VAR, reserved_2)};

// Past the element header, by element type.
std::vector<Field> element_fields(uint32_t type) {
    switch (type) {
    case kStaticImage: return {RESERVED(ELEMENT_STATIC_IMAGE, image), RESERVED(ELEMENT_STATIC_IMAGE, reserved)};
    case kNeedle:
        return {RESERVED(ELEMENT_NEEDLE, reserved_1), RESERVED(ELEMENT_NEEDLE, reserved_2),
                RESERVED(ELEMENT_NEEDLE, reserved_3), RESERVED(ELEMENT_NEEDLE, reserved_4)};
    case kSlider:
        return {RESERVED(ELEMENT_SLIDER, reserved_1), RESERVED(ELEMENT_SLIDER, reserved_2),
                RESERVED(ELEMENT_SLIDER, reserved_3), RESERVED(ELEMENT_SLIDER, reserved_4)};
    case kIcon:
        return {RESERVED(ELEMENT_ICON, reserved_1), RESERVED(ELEMENT_ICON, reserved_2),
                RESERVED(ELEMENT_ICON, reserved_3)};
    case kMovingImage:
        return {RESERVED(ELEMENT_MOVING_IMAGE, reserved_1), RESERVED(ELEMENT_MOVING_IMAGE, reserved_2),
                RESERVED(ELEMENT_MOVING_IMAGE, reserved_3), RESERVED(ELEMENT_MOVING_IMAGE, reserved_4),
                RESERVED(ELEMENT_MOVING_IMAGE, reserved_5), RESERVED(ELEMENT_MOVING_IMAGE, reserved_6)};
    case kSprite:
        return {RESERVED(ELEMENT_SPRITE, reserved_1), RESERVED(ELEMENT_SPRITE, reserved_2),
                RESERVED(ELEMENT_SPRITE, reserved_3), RESERVED(ELEMENT_SPRITE, reserved_4),
                RESERVED(ELEMENT_SPRITE, reserved_5)};
    default: return {};
    }
}

// Fields repeated through a list, one set per record of `stride` bytes.
std::vector<Field> repeated(size_t span_size, size_t stride, Field field) {
    std::vector<Field> fields;
    for (size_t at = 0; at + stride <= span_size; at += stride) fields.push_back({at + field.offset, field.size});
    return fields;
}

std::vector<Field> reserved_fields(const RecordSpan& span, uint32_t header_version) {
    switch (span.kind) {
    case Kind::kHeader: return header_version == kHeaderVersion800 ? kHeader800 : kHeader700;
    case Kind::kFailureList: return repeated(span.size, sizeof(FAILURE_RECORD), RESERVED(FAILURE_RECORD, reserved));
    case Kind::kMouseList: return repeated(span.size, sizeof(MOUSERECT), RESERVED(MOUSERECT, reserved));
    case Kind::kTable: return repeated(span.size, sizeof(NONLINEARITY), RESERVED(NONLINEARITY, degrees));
    case Kind::kElement: break;
    case Kind::kName:
    case Kind::kElementList: return {};
    }
    std::vector<Field> fields = kElementHeader;
    for (const Field& field : element_fields(span.element_type)) fields.push_back(field);
    for (const bench::validate::EmbeddedVariable& var : bench::validate::embedded_variables(span.element_type)) {
        for (const Field& field : kVariable) fields.push_back({var.offset + field.offset, field.size});
    }
    return fields;
}

#undef RESERVED

void write_pattern(uintptr_t record, const std::vector<Field>& fields) {
    for (const Field& field : fields) std::memset(reinterpret_cast<void*>(record + field.offset), kPattern, field.size);
}

// --- One run of every gauge ---------------------------------------------------------------

struct GaugeRun {
    size_t sound_gauges = 0;
    std::set<Kind> kinds_written;
    size_t variables_written = 0;
    std::vector<std::string> observations;
};

void observe(GaugeRun& run, const std::string& gauge, const std::string& when, const bench::GaugeInstance& instance,
             bench::Host& host) {
    for (const bench::ElementState& s : instance.elements()) {
        char text[320];
        std::snprintf(text, sizeof text, "%d %u %.17g %.17g %u %.17g %.17g %.17g %.17g %.17g %.17g %.17g %d",
                      s.visible ? 1 : 0, s.resource_id, s.value, s.angle, s.frame, s.x, s.y, s.offset_x, s.offset_y,
                      s.shift_x, s.shift_y, s.rotation, s.greyed ? 1 : 0);
        run.observations.push_back(gauge + ", " + when + ": " + text);
    }
    std::string keys = gauge + ", " + when + ": key events";
    for (const bench::KeyEvent& event : host.key_log()) keys += " " + std::to_string(event.id) + "=" + std::to_string(event.value);
    run.observations.push_back(keys);
    host.clear_key_log();
}

// The stand-alone variables the module handed to the variable services since
// the log was last cleared: records of the module the host writes into.
void write_handed_variables(GaugeRun& run, bench::Host& host, const bench::validate::ModuleMemory& memory) {
    for (const bench::ServiceCall& call : host.service_log()) {
        if (call.slot != bench::kSlotInitializeVar && call.slot != bench::kSlotLookupVar) continue;
        if (!memory.holds_data(call.args[0], sizeof(MODULE_VAR))) continue;
        write_pattern(call.args[0], kVariable);
        ++run.variables_written;
    }
    host.clear_service_log();
}

GaugeRun run_every_gauge(const std::string& file, bool write_reserved) {
    GaugeRun run;
    bench::Host host;
    bench::Module module(host, test_paths::module(file), test_paths::pe(file));
    for (uint32_t token = 0; token < 1024; ++token) host.vars().set(token, static_cast<double>(token * 7919u % 1000u) / 10.0);
    const auto memory = bench::validate::ModuleMemory::of(module.linkage());
    const bench::validate::Records records = bench::validate::read_records(module, memory, nullptr, false);
    if (write_reserved) {
        for (const RecordSpan& span : records.spans) {
            const std::vector<Field> fields = reserved_fields(span, records.gauges[span.gauge].version);
            if (fields.empty()) continue;
            write_pattern(span.begin, fields);
            run.kinds_written.insert(span.kind);
        }
    }
    for (const bench::validate::GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        ++run.sound_gauges;
        bench::GaugeInstance instance(host, module, gauge.live);
        host.clear_service_log();
        instance.setup();
        instance.update();
        observe(run, gauge.name, "first update", instance, host);
        if (write_reserved) write_handed_variables(run, host, memory);
        instance.update();
        observe(run, gauge.name, "second update", instance, host);
        size_t box_number = 0;
        for (const bench::MouseBox& box : instance.mouse_layout().boxes()) {
            if (!box.is_child()) continue;
            const bench::DisplayedBox shown = bench::displayed_box(box, instance.scale());
            const auto x = static_cast<int32_t>((shown.left + shown.right) / 2);
            const auto y = static_cast<int32_t>((shown.top + shown.bottom) / 2);
            instance.press(x, y);
            instance.repeat();
            instance.move(x, y + 3);
            instance.release();
            instance.update();
            observe(run, gauge.name, "after box " + std::to_string(++box_number), instance, host);
        }
        instance.kill();
    }
    return run;
}

struct ModuleCase {
    const char* file;
    size_t gauges;
    std::set<Kind> kinds;  // the record kinds with reserved fields the module holds
    bool standalone;       // whether it hands the host stand-alone variables
};

const ModuleCase kModules[] = {
    {"Korvane.gau", 47, {Kind::kHeader, Kind::kElement, Kind::kFailureList, Kind::kTable, Kind::kMouseList}, true},
    {"Dropwatch.gau", 1, {Kind::kHeader, Kind::kElement}, false},
};

class ReservedWrites : public testing::TestWithParam<ModuleCase> {};

TEST_P(ReservedWrites, LeaveEveryGaugeRunningAsOnAFreshLoad) {
    const ModuleCase& module = GetParam();
    const GaugeRun fresh = run_every_gauge(module.file, false);
    const GaugeRun written = run_every_gauge(module.file, true);
    EXPECT_EQ(written.sound_gauges, module.gauges);
    EXPECT_EQ(written.kinds_written, module.kinds);
    EXPECT_EQ(written.variables_written != 0, module.standalone);
    ASSERT_EQ(written.observations.size(), fresh.observations.size());
    size_t differences = 0;
    for (size_t i = 0; i < fresh.observations.size() && differences < 5; ++i) {
        if (written.observations[i] == fresh.observations[i]) continue;
        ++differences;
        ADD_FAILURE() << "with the host's fields written: " << written.observations[i]
                      << "\n               on a fresh load: " << fresh.observations[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, ReservedWrites, testing::ValuesIn(kModules),
                         [](const testing::TestParamInfo<ModuleCase>& info) {
                             const std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
