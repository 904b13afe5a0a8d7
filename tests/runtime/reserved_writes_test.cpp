// A host writes its working data into the records' reserved fields: here every
// one of both modules gets a pattern, then every gauge runs set-up, updates
// and its mouse boxes. A record in read-only memory faults at the first
// write; one that reads the host's fields differs from a fresh load.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"

namespace {

using frame::FieldInfo;
using frame::GuestPtr;
using frame::RecordInfo;
using runtime::ElementPtr;

// Fills what the host may write in the record of `schema` at `address`:
// reserved fields and the host's own, embedded records included, but a
// variable's value (the module may read one the host never fills).
void write_host_fields(emulator::GuestMemory& memory, const RecordInfo& schema, uint32_t address) {
    for (const FieldInfo& field : schema.fields) {
        if (field.record != nullptr) {
            write_host_fields(memory, *field.record, address + field.offset);
        } else if (field.zero_at_load() && !(&schema == &frame::schema_of<guest::MODULE_VAR>() &&
                                             field.offset == offsetof(guest::MODULE_VAR, value))) {
            const std::vector<uint8_t> pattern(field.size, 0xA5);
            memory.copy_in(address + field.offset, pattern.data(), field.size);
        }
    }
}

template <typename Record>
void write_records(emulator::GuestMemory& memory, GuestPtr<Record> first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) write_host_fields(memory, frame::schema_of<Record>(), first.at(i).address);
}

// Every record a gauge's header leads to, each once; returns the kinds written.
std::set<std::string> write_gauge(emulator::GuestMemory& memory, runtime::GaugePtr gauge) {
    std::set<std::string> kinds{"header"};
    const guest::GAUGEHDR header = memory.read(gauge);
    write_records(memory, gauge, 1);
    if (header.header_version == kHeaderVersion800) {
        const auto v800 = gauge.cast<guest::GAUGEHDR_V800>();
        const std::vector<uint8_t> tail(sizeof(guest::GAUGEHDR_V800) - sizeof(guest::GAUGEHDR), 0xA5);
        memory.copy_in(v800.address + sizeof(guest::GAUGEHDR), tail.data(), static_cast<uint32_t>(tail.size()));
    }
    if (header.mouse_rects) {
        uint32_t count = 1;
        while (memory.read(header.mouse_rects.at(count - 1)).rect_type != kMouseEnd) ++count;
        write_records(memory, header.mouse_rects.cast<guest::MOUSERECT>(), count);
        kinds.insert("mouse list");
    }
    std::set<uint32_t> seen;
    std::vector<GuestPtr<const ElementPtr>> lists{header.element_list};
    while (!lists.empty()) {
        const GuestPtr<const ElementPtr> list = lists.back();
        lists.pop_back();
        for (uint32_t i = 0; list && memory.read(list.at(i)); ++i) {
            const ElementPtr element = memory.read(list.at(i));
            if (!seen.insert(element.address).second) continue;
            const guest::ELEMENT_HEADER e = memory.read(element);
            const ElementKind* kind = element_kind(e.element_type);
            write_host_fields(
                memory,
                kind != nullptr && kind->record != nullptr ? *kind->record : frame::schema_of<guest::ELEMENT_HEADER>(),
                element.address);
            kinds.insert("element");
            if (e.failure_records) {
                uint32_t count = 1;
                while (memory.read(e.failure_records.at(count - 1)).failure_key != 0) ++count;
                write_records(memory, e.failure_records.cast<guest::FAILURE_RECORD>(), count);
                kinds.insert("failure list");
            }
            if (e.element_type == kNeedle) {
                const guest::ELEMENT_NEEDLE needle = memory.read(element.cast<guest::ELEMENT_NEEDLE>());
                if (needle.nonlinearity) {
                    write_records(memory, needle.nonlinearity, needle.nonlinearity_size);
                    kinds.insert("table");
                }
            }
            lists.push_back(e.next_element_list);
        }
    }
    return kinds;
}

struct GaugeRun {
    std::set<std::string> kinds_written;
    size_t variables_written = 0;
    std::vector<std::string> observations;
};

void observe(GaugeRun& run, const std::string& when, const runtime::GaugeInstance& instance, runtime::Host& host) {
    for (const runtime::ElementState& s : instance.elements()) {
        char text[320];
        std::snprintf(text, sizeof text, "%d %u %.17g %.17g %u %.17g %.17g %.17g %.17g %.17g %.17g %.17g %d", s.visible,
                      s.resource_id, s.value, s.angle, s.frame, s.x, s.y, s.offset_x, s.offset_y, s.shift_x, s.shift_y,
                      s.rotation, s.greyed);
        run.observations.push_back(when + ": " + text);
    }
    for (const runtime::KeyEvent& k : host.key_log()) run.observations.push_back(when + " key " + std::to_string(k.id));
    host.clear_key_log();
}

GaugeRun run_every_gauge(const std::string& file, bool write_host_fields) {
    GaugeRun run;
    runtime::Host host;
    runtime::Module module(host, test_paths::module(file));
    emulator::GuestMemory& memory = module.memory();
    for (uint32_t token = 0; token < 1024; ++token) host.vars().set(token, (token * 7919u % 1000u) / 10.0);
    for (const runtime::GaugePtr gauge : module.gauges()) {
        if (!write_host_fields) continue;
        const std::set<std::string> kinds = write_gauge(memory, gauge);
        run.kinds_written.insert(kinds.begin(), kinds.end());
    }
    for (const runtime::GaugePtr gauge : module.gauges()) {
        const std::string name = module.gauge_name(gauge);
        runtime::GaugeInstance instance(host, module, gauge);
        host.clear_service_log();
        instance.update();  // sets the gauge up first
        observe(run, name + " first update", instance, host);
        // The host writes into the stand-alone variables it is handed, too.
        for (const runtime::ServiceCall& call : host.service_log()) {
            const bool variable = call.slot == service_slot::initialize_var || call.slot == service_slot::lookup_var;
            if (!write_host_fields || !variable) continue;
            write_records(memory, GuestPtr<guest::MODULE_VAR>(call.args[0]), 1);
            ++run.variables_written;
        }
        instance.update();
        observe(run, name + " second update", instance, host);
        for (const runtime::MouseBox& box : instance.mouse_layout().boxes()) {
            if (!box.is_child()) continue;
            const guest::PIXPOINT at = instance.exercise(box);
            instance.update();
            observe(run, name + " box at " + std::to_string(at.x) + "," + std::to_string(at.y), instance, host);
        }
    }
    return run;
}

TEST(ReservedWrites, LeaveEveryGaugeRunningAsOnAFreshLoad) {
    // Module, record kinds with host fields, whether it hands the host stand-alone variables.
    const std::tuple<const char*, std::set<std::string>, bool> modules[] = {
        {"KorvaneArtless.gau", {"header", "element", "failure list", "table", "mouse list"}, true},
        {"Dropwatch.gau", {"header", "element"}, false},
    };
    for (const auto& [file, kinds, standalone] : modules) {
        SCOPED_TRACE(file);
        const GaugeRun fresh = run_every_gauge(file, false);
        const GaugeRun written = run_every_gauge(file, true);
        EXPECT_EQ(written.kinds_written, kinds);
        EXPECT_EQ(written.variables_written != 0, standalone);
        ASSERT_EQ(written.observations.size(), fresh.observations.size());
        const auto [w, f] =
            std::mismatch(written.observations.begin(), written.observations.end(), fresh.observations.begin());
        EXPECT_TRUE(w == written.observations.end()) << "host fields written: " << *w << "\n   on a fresh load: " << *f;
    }
}

}  // namespace
