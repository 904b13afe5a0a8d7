// A host writes its working data into the records' reserved fields: here every one of both
// modules gets a pattern, then every gauge runs set-up, updates and its mouse boxes. A record in
// read-only memory faults at the first write; one that reads the host's fields differs from a fresh load.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/validate/records.h"
#include "support/test_paths.h"

namespace {

using bench::validate::RecordSpan;
using Kind = RecordSpan::Kind;

// By the records' field names: every reserved_*, a table's degrees, a static
// image's image, a version-800 header's tail past the version-700 view (the
// bench host reads every header so: its mouse list and callback words stay 0).
bool host_field(const RecordSpan& span, size_t offset) {
    std::string name = bench::validate::field_at(span, offset);
    name = name.substr(name.rfind('.') + 1);
    name = name.substr(0, name.find('['));
    return name.rfind("reserved", 0) == 0 || name == "degrees" || name == "image" ||
           (span.kind == Kind::kHeader && name.rfind("byte ", 0) == 0);
}

void write(uintptr_t address, size_t size) { std::memset(reinterpret_cast<void*>(address), 0xA5, size); }

struct GaugeRun {
    size_t sound_gauges = 0;
    std::set<Kind> kinds_written;
    size_t variables_written = 0;
    std::vector<std::string> observations;
};

void observe(GaugeRun& run, const std::string& when, const bench::GaugeInstance& instance, bench::Host& host) {
    for (const bench::ElementState& s : instance.elements()) {
        char text[320];
        std::snprintf(text, sizeof text, "%d %u %.17g %.17g %u %.17g %.17g %.17g %.17g %.17g %.17g %.17g %d", s.visible,
                      s.resource_id, s.value, s.angle, s.frame, s.x, s.y, s.offset_x, s.offset_y, s.shift_x, s.shift_y,
                      s.rotation, s.greyed);
        run.observations.push_back(when + ": " + text);
    }
    for (const bench::KeyEvent& k : host.key_log()) run.observations.push_back(when + " key " + std::to_string(k.id));
    host.clear_key_log();
}

GaugeRun run_every_gauge(const std::string& file, bool write_host_fields) {
    GaugeRun run;
    bench::Host host;
    bench::Module module(host, test_paths::module(file), test_paths::pe(file));
    for (uint32_t token = 0; token < 1024; ++token) host.vars().set(token, (token * 7919u % 1000u) / 10.0);
    const auto memory = bench::validate::ModuleMemory::of(module.linkage());
    const bench::validate::Records records = bench::validate::read_records(module, memory, nullptr, false);
    for (const RecordSpan& span : records.spans) {
        for (size_t offset = 0; write_host_fields && offset < span.size; ++offset) {
            if (!host_field(span, offset)) continue;
            write(span.begin + offset, 1);
            run.kinds_written.insert(span.kind);
        }
    }
    for (const bench::validate::GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        ++run.sound_gauges;
        bench::GaugeInstance instance(host, module, gauge.live);
        instance.update();  // sets the gauge up first
        observe(run, gauge.name + " first update", instance, host);
        // The host writes into the stand-alone variables it is handed, too.
        for (const bench::ServiceCall& call : host.service_log()) {
            const bool variable = call.slot == service_slot::initialize_var || call.slot == service_slot::lookup_var;
            if (!write_host_fields || !variable || !memory.holds_data(call.args[0], sizeof(MODULE_VAR))) continue;
            write(call.args[0] + offsetof(MODULE_VAR, reserved_1), sizeof(MODULE_VAR::reserved_1));
            write(call.args[0] + offsetof(MODULE_VAR, reserved_2), sizeof(MODULE_VAR::reserved_2));
            ++run.variables_written;
        }
        instance.update();
        observe(run, gauge.name + " second update", instance, host);
        for (const bench::MouseBox& box : instance.mouse_layout().boxes()) {
            if (!box.is_child()) continue;
            const PIXPOINT at = instance.exercise(box);
            instance.update();
            observe(run, gauge.name + " box at " + std::to_string(at.x) + "," + std::to_string(at.y), instance, host);
        }
    }
    return run;
}

TEST(ReservedWrites, LeaveEveryGaugeRunningAsOnAFreshLoad) {
    // Module, gauges, record kinds with host fields, whether it hands the host stand-alone variables.
    const std::tuple<const char*, size_t, std::set<Kind>, bool> modules[] = {
        {"Korvane.gau", 47, {Kind::kHeader, Kind::kElement, Kind::kFailureList, Kind::kTable, Kind::kMouseList}, true},
        {"Dropwatch.gau", 1, {Kind::kHeader, Kind::kElement}, false},
    };
    for (const auto& [file, gauges, kinds, standalone] : modules) {
        SCOPED_TRACE(file);
        const GaugeRun fresh = run_every_gauge(file, false);
        const GaugeRun written = run_every_gauge(file, true);
        EXPECT_EQ(written.sound_gauges, gauges);
        EXPECT_EQ(written.kinds_written, kinds);
        EXPECT_EQ(written.variables_written != 0, standalone);
        ASSERT_EQ(written.observations.size(), fresh.observations.size());
        const auto [w, f] =
            std::mismatch(written.observations.begin(), written.observations.end(), fresh.observations.begin());
        EXPECT_TRUE(w == written.observations.end()) << "host fields written: " << *w << "\n   on a fresh load: " << *f;
    }
}

}  // namespace
