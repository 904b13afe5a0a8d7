#include "host/validate/validator.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/validate/hostile.h"
#include "host/validate/probe.h"
#include "host/validate/records.h"
#include "host/validate/session.h"
#include "host/validate/writable.h"

namespace bench::validate {
namespace {

// Loads the module as the validator drives it: bitmap sizes given, the
// allocation hook attached, module calls to services through the proxy, and
// variables in read-only memory reported rather than written.
struct Loaded {
    std::unique_ptr<Module> module;
    std::string hook_note;
};

// The PE file with the module's bitmaps, read at the first load and shared
// by every later one.
class Resources {
public:
    explicit Resources(const std::string& path) : path_(path) {}
    std::shared_ptr<const PeImage> get() {
        if (!path_.empty() && !image_) image_ = Module::read_resources(path_);
        return image_;
    }

private:
    const std::string& path_;
    std::shared_ptr<const PeImage> image_;
};

Loaded load(Host& host, const std::string& path, const Options& options, VariableGuard& guard, Resources& resources) {
    Loaded loaded;
    loaded.module = std::make_unique<Module>(host, path, resources.get());
    for (const auto& [id, size] : options.bitmap_sizes) {
        loaded.module->override_bitmap_size(id, size.first, size.second);
    }
    if (const AllocationWatch::Hook* hook = AllocationWatch::hook()) {
        loaded.hook_note = hook->attach(loaded.module->linkage());
    }
    loaded.module->import_table()->panels = service_proxy();
    guard.attach(*loaded.module);
    return loaded;
}

// --- Behaviour: what a fresh module shows and sends for a fixed script -------------------

struct Observation {
    std::string gauge;
    std::string element;
    std::string text;
};

// Variables of the script: fixed values per token, the same on every load.
double script_value(uint32_t token) { return static_cast<double>((token * 7919u) % 1000u) / 10.0; }

std::string describe_state(const ElementState& state) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "visible %d bitmap %u value %.17g angle %.17g frame %u at %.17g,%.17g offset %.17g,%.17g "
                  "shift %.17g,%.17g rotation %.17g",
                  state.visible ? 1 : 0, state.resource_id, state.value, state.angle, state.frame, state.x, state.y,
                  state.offset_x, state.offset_y, state.shift_x, state.shift_y, state.rotation);
    return text;
}

void observe(std::vector<Observation>& out, const GaugeRecord& gauge, const GaugeInstance& instance,
             const std::string& when) {
    for (size_t i = 0; i < instance.elements().size() && i < gauge.elements.size(); ++i) {
        out.push_back({gauge.name, gauge.elements[i].label, when + ": " + describe_state(instance.elements()[i])});
    }
}

void observe_keys(std::vector<Observation>& out, Host& host, const std::string& gauge, const std::string& when) {
    std::string text = when + ": key events";
    for (const KeyEvent& event : host.key_log()) {
        text += ' ';
        text += std::to_string(event.id);
        text += '=';
        text += std::to_string(event.value);
    }
    for (const std::string& program : host.calculator_log()) {
        text += " | program \"";
        text += program;
        text += '"';
    }
    out.push_back({gauge, "", text});
    host.clear_key_log();
}

std::vector<Observation> behaviour(Host& host, Module& module, const Records& records) {
    std::vector<Observation> out;
    for (uint32_t token = 0; token < 1024; ++token) host.vars().set(token, script_value(token));
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        GaugeInstance instance(host, module, gauge.live);
        instance.setup();
        instance.update();
        observe(out, gauge, instance, "first update");
        observe_keys(out, host, gauge.name, "first update");
        size_t box_number = 0;
        for (const MouseBox& box : instance.mouse_layout().boxes()) {
            if (!box.is_child()) continue;
            instance.exercise(box);
            instance.update();
            const std::string when = "after box " + std::to_string(++box_number);
            observe(out, gauge, instance, when);
            observe_keys(out, host, gauge.name, when);
        }
    }
    // Key events that module routines watch, and one that none does.
    const uint32_t events[] = {sim::event::kReleaseSequenceStart, sim::event::kBombReleased, sim::event::kBombReleased,
                               1};
    std::string sent = "key events";
    const char* separator = " ";
    for (uint32_t event : events) {
        host.send_key_event(event, 0);
        sent += separator + std::to_string(event);
        separator = ", ";
    }
    observe_keys(out, host, "", sent);
    return out;
}

void compare_behaviour(Report& report, const std::vector<Observation>& first, const std::vector<Observation>& again) {
    if (first.size() != again.size()) {
        report.fail(Check::kReloadLikeFresh, "", "", "",
                    "the script gave " + std::to_string(again.size()) + " observations after the reload, " +
                        std::to_string(first.size()) + " on the first load");
    }
    const size_t count = std::min(first.size(), again.size());
    for (size_t i = 0; i < count; ++i) {
        if (first[i].text == again[i].text) continue;
        report.fail(
            Check::kReloadLikeFresh, again[i].gauge, again[i].element, "behaviour",
            "after the abuse and a reload: \"" + again[i].text + "\"; on the first load: \"" + first[i].text + "\"");
    }
    report.ran(Check::kReloadLikeFresh, std::to_string(count) + " observations compared");
}

// --- Phases ---------------------------------------------------------------------------------------

// Module code run outside the probe (through the host's gauge instances)
// must leave the control state as it found it too; each phase starts from
// the state the validator began with.
void restore_fp_control(Report& report, const FpControl& before, const char* during) {
    const FpControl after = fp_control();
    if (after == before) return;
    report.fail(Check::kFloatingPointState, "", "", "",
                std::string("left ") + describe(after) + " (was " + describe(before) + ") after " + during);
    set_fp_control(before);
}

bool any_sound(const Records& records) {
    for (const GaugeRecord& gauge : records.gauges) {
        if (gauge.sound) return true;
    }
    return false;
}

void skip_dynamic(Report& report, const std::string& reason) {
    for (const CheckInfo& info : kChecks) {
        if (!reads_records(info.check)) report.skip(info.check, reason);
    }
}

void skip_all(Report& report, const std::string& reason) {
    for (const CheckInfo& info : kChecks) {
        const CheckResult& result = report.check(info.check);
        if (result.finding_count == 0) report.skip(info.check, reason);
    }
}

// Fresh load: the static checks, and the behaviour of an unabused module.
bool first_load(Report& report, const std::string& path, const Options& options, VariableGuard& guard,
                Resources& resources, std::vector<Observation>& reference) {
    Host host;
    Loaded loaded;
    try {
        loaded = load(host, path, options, guard, resources);
    } catch (const ModuleError& error) {
        const bool gauge_table = error.kind() == ModuleError::Kind::kGaugeTable;
        report.fail(gauge_table ? Check::kGaugeTable : Check::kModuleLoads, "", "",
                    gauge_table ? "Linkage.gauge_table" : "", error.what());
        skip_all(report, "the module does not load");
        return false;
    }
    Module& module = *loaded.module;
    report.ran(Check::kModuleLoads);
    const ModuleMemory memory = ModuleMemory::of(module.linkage());
    const bool bitmaps_known = !options.pe.empty() || !options.bitmap_sizes.empty();
    const Records records = read_records(module, memory, &report, bitmaps_known, host.key_event_handlers());
    if (!options.dynamic) {
        skip_dynamic(report, "static checks only");
        return false;
    }
    if (!records.table_sound || !any_sound(records)) {
        skip_dynamic(report, "no gauge whose records are sound enough to drive");
        return false;
    }
    const FpControl before = fp_control();
    try {
        reference = behaviour(host, module, records);
    } catch (const std::exception& error) {
        report.fail(Check::kReloadLikeFresh, "", "", "behaviour",
                    std::string("the script failed on a fresh module: ") + error.what());
    }
    restore_fp_control(report, before, "the behaviour script on a fresh module");
    return true;
}

// Second load: everything hostile, then whether the records held.
void abuse(Report& report, const std::string& path, const Options& options, VariableGuard& guard, Resources& resources,
           std::mt19937_64& random) {
    Host host;
    Loaded loaded = load(host, path, options, guard, resources);
    Session session(report, options, host, *loaded.module, random);
    const RecordSnapshot before = snapshot(session.records, session.memory);
    const FpControl fp_at_start = fp_control();

    check_mouse_before_setup(session);
    check_service_ids(session);
    check_lifecycle(session);
    check_value_callbacks(session);
    check_gauge_callbacks(session);
    check_mouse_handlers(session);
    check_key_routines(session);
    session.check_unexpected_services(Site{"", "", "lifecycle"}, 0);

    restore_fp_control(report, fp_at_start, "the abuse");
    const std::vector<SnapshotDifference> changed = compare(before, snapshot(session.records, session.memory));
    for (const SnapshotDifference& difference : changed) {
        const RecordSpan& span = session.records.spans[difference.span];
        char text[96];
        std::snprintf(text, sizeof text, "byte %zu changed from 0x%02X to 0x%02X while the module ran",
                      difference.offset, difference.before, difference.after);
        report.fail(Check::kRecordsUnchanged, session.records.gauges[span.gauge].name, span.what,
                    field_at(span, difference.offset), text);
    }
    report.ran(Check::kRecordsUnchanged, std::to_string(session.records.spans.size()) + " records compared");

    if (session.allocation_hooked) {
        const std::string covered = AllocationWatch::hook()->coverage;
        report.ran(Check::kNoAllocation, loaded.hook_note.empty() ? covered : covered + "; " + loaded.hook_note);
    } else {
        report.skip(Check::kNoAllocation, "no allocation hook in this executable");
    }
    report.ran(Check::kFloatingPointState);
    report.ran(Check::kServedServicesOnly);
}

// Loads and unloads: each unload takes back what the load registered.
void reload_cycles(Report& report, const std::string& path, const Options& options, VariableGuard& guard,
                   Resources& resources) {
    Host host;
    for (int cycle = 0; cycle < 4; ++cycle) {
        { Loaded loaded = load(host, path, options, guard, resources); }
        if (!host.key_event_handlers().empty()) {
            report.fail(Check::kLifecycle, "", "", "module_deinit",
                        "leaves " + std::to_string(host.key_event_handlers().size()) +
                            " key-event routine(s) registered after unloading");
            return;
        }
    }
}

// Why the PE named for the bitmaps cannot serve (empty: it can, or none is
// named). Read up front: a bad PE is the bitmap check's failure alone, while
// the module loads and every other check runs without it.
std::string pe_fault(const std::string& pe) {
    if (pe.empty()) return {};
    try {
        PeImage::read_file(pe);
    } catch (const PeError& error) {
        return error.what();
    }
    return {};
}

void validate_loaded(Report& report, const std::string& path, const Options& options) {
    std::mt19937_64 random(options.seed);
    VariableGuard guard(report);
    Resources resources(options.pe);
    std::vector<Observation> reference;
    if (!first_load(report, path, options, guard, resources, reference)) return;
    abuse(report, path, options, guard, resources, random);
    reload_cycles(report, path, options, guard, resources);

    Host host;
    Loaded loaded = load(host, path, options, guard, resources);
    const ModuleMemory memory = ModuleMemory::of(loaded.module->linkage());
    const Records records = read_records(*loaded.module, memory, nullptr, false);
    const FpControl before = fp_control();
    try {
        compare_behaviour(report, reference, behaviour(host, *loaded.module, records));
    } catch (const std::exception& error) {
        report.fail(Check::kReloadLikeFresh, "", "", "behaviour",
                    std::string("the script failed after a reload: ") + error.what());
    }
    restore_fp_control(report, before, "the behaviour script after a reload");
}

}  // namespace

Report validate_module(const std::string& path, const Options& options) {
    Report report;
    report.module = path;
    report.pe = options.pe;
    report.seed = options.seed;
    const std::string bad_pe = pe_fault(options.pe);
    if (bad_pe.empty()) {
        validate_loaded(report, path, options);
    } else {
        Options without_pe = options;
        without_pe.pe.clear();
        validate_loaded(report, path, without_pe);
        report.fail(Check::kBitmaps, "", "", "", "the PE named for the bitmaps cannot be used: " + bad_pe);
        report.ran(Check::kBitmaps, "bitmaps unchecked");
    }
    return report;
}

}  // namespace bench::validate
