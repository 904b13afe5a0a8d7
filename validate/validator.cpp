#include "validate/validator.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>

#include "frame/vocabulary.h"
#include "platform/text_input.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "validate/hostile.h"
#include "validate/records.h"
#include "validate/session.h"
#include "validate/writable.h"

namespace validate {
namespace {

// The PE file with the module's bitmaps, read at the first load and shared
// by every later one.
class Resources {
public:
    explicit Resources(const std::string& path) : path_(path) {}
    std::shared_ptr<const emulator::PeImage> get() {
        if (!path_.empty() && !image_) image_ = runtime::Module::read_resources(path_);
        return image_;
    }

private:
    const std::string& path_;
    std::shared_ptr<const emulator::PeImage> image_;
};

// Loads the module as the validator drives it: bitmap sizes given, and the
// variable services guarded, so that a variable in read-only memory is
// reported rather than written.
std::unique_ptr<runtime::Module> load(runtime::Host& host, const std::string& path, const Options& options,
                                      VariableGuard& guard, Resources& resources) {
    host.set_trace(options.trace);
    auto module = std::make_unique<runtime::Module>(host, path, resources.get());
    for (const auto& [id, size] : options.bitmap_sizes) module->override_bitmap_size(id, size.first, size.second);
    guard.attach(*module);
    return module;
}

// --- Behaviour: what a fresh module shows and sends for a fixed script -------------------

struct Observation {
    std::string gauge;
    std::string element;
    std::string text;
};

// Variables of the script: fixed values per token, the same on every load.
double script_value(uint32_t token) { return static_cast<double>((token * 7919u) % 1000u) / 10.0; }

std::string describe_state(const runtime::ElementState& state) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "visible %d bitmap %u value %.17g angle %.17g frame %u at %.17g,%.17g offset %.17g,%.17g "
                  "shift %.17g,%.17g rotation %.17g",
                  state.visible ? 1 : 0, state.resource_id, state.value, state.angle, state.frame, state.x, state.y,
                  state.offset_x, state.offset_y, state.shift_x, state.shift_y, state.rotation);
    return text;
}

void observe(std::vector<Observation>& out, const GaugeRecord& gauge, const runtime::GaugeInstance& instance,
             const std::string& when) {
    for (size_t i = 0; i < instance.elements().size() && i < gauge.elements.size(); ++i) {
        out.push_back({gauge.name, gauge.elements[i].label, when + ": " + describe_state(instance.elements()[i])});
    }
}

void observe_keys(std::vector<Observation>& out, runtime::Host& host, const std::string& gauge,
                  const std::string& when) {
    std::string text = when + ": key events";
    for (const runtime::KeyEvent& event : host.key_log()) {
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

// The script: every sound gauge whose code has not run out of its budget set
// up, updated and every mouse box exercised, then a few key events. A gauge
// whose part fails is reported (under the check of its fault) and observed
// as failing, and the script goes on.
std::vector<Observation> behaviour(Report& report, Memo& memo, runtime::Host& host, runtime::Module& module,
                                   const Records& records, const std::string& when) {
    std::vector<Observation> out;
    auto part = [&](const Site& site, auto&& run) {
        const uint64_t before = instructions_run(module);
        try {
            run();
        } catch (...) {
            report_failure(report, memo, module, site, "the behaviour script " + when, std::current_exception(),
                           Check::kReloadLikeFresh, instructions_run(module) - before);
            out.push_back({site.gauge, "", "the script failed"});
            host.clear_key_log();
        }
    };
    for (uint32_t token = 0; token < 1024; ++token) host.vars().set(token, script_value(token));
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        if (memo.spent.count(gauge.name) != 0) {
            out.push_back({gauge.name, "", "the script failed"});  // as when its code first ran out of its budget
            continue;
        }
        part(Site{gauge.name, "", "behaviour script"}, [&] {
            runtime::GaugeInstance instance(host, module, gauge.live);
            instance.setup();
            instance.update();
            observe(out, gauge, instance, "first update");
            observe_keys(out, host, gauge.name, "first update");
            size_t box_number = 0;
            for (const runtime::MouseBox& box : instance.mouse_layout().boxes()) {
                if (!box.is_child()) continue;
                instance.exercise(box);
                instance.update();
                const std::string at = "after box " + std::to_string(++box_number);
                observe(out, gauge, instance, at);
                observe_keys(out, host, gauge.name, at);
            }
        });
    }
    // Key events that module routines watch, and one that none does.
    const Site events_site{"", "", "key events through the host"};
    if (memo.spent.count(events_site.field) != 0) {
        out.push_back({"", "", "the script failed"});
    } else {
        part(events_site, [&] {
            const uint32_t events[] = {sim::event::kReleaseSequenceStart, sim::event::kBombReleased,
                                       sim::event::kBombReleased, 1};
            std::string sent = "key events";
            const char* separator = " ";
            for (uint32_t event : events) {
                host.send_key_event(event, 0);
                sent += separator + std::to_string(event);
                separator = ", ";
            }
            observe_keys(out, host, "", sent);
        });
    }
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

bool any_sound(const Records& records) {
    for (const GaugeRecord& gauge : records.gauges) {
        if (gauge.sound) return true;
    }
    return false;
}

// The checks that run module code, but those with findings already (the
// imports' static part).
void skip_dynamic(Report& report, const std::string& reason) {
    for (const CheckInfo& info : kChecks) {
        if (!reads_records(info.check) && report.check(info.check).finding_count == 0) report.skip(info.check, reason);
    }
}

void skip_all(Report& report, const std::string& reason) {
    for (const CheckInfo& info : kChecks) {
        const CheckResult& result = report.check(info.check);
        if (result.finding_count == 0) report.skip(info.check, reason);
    }
}

// KV307, its static part: every import the host does not provide binds to a
// trap that stops the call; a module may import what it never calls.
void check_unbound_imports(Report& report, const runtime::Module& module) {
    for (const std::string& import : module.code().unbound_imports()) {
        report.warn(Check::kImports, "", "", import,
                    "is not provided by the host: a call of it stops the module's call with a fault");
    }
}

// Fresh load: the static checks, and the behaviour of an unabused module.
std::vector<Observation> first_load(Report& report, Memo& memo, const std::string& path, const Options& options,
                                    VariableGuard& guard, Resources& resources, bool& drive) {
    drive = false;
    runtime::Host host;
    std::unique_ptr<runtime::Module> module;
    try {
        module = load(host, path, options, guard, resources);
    } catch (const runtime::ModuleError& error) {
        const bool gauge_table = error.kind() == runtime::ModuleError::Kind::kGaugeTable;
        report.no_gauge_module = !gauge_table && error.kind() != runtime::ModuleError::Kind::kCode;
        report.fail(gauge_table ? Check::kGaugeTable : Check::kModuleLoads, "", "",
                    gauge_table ? "Linkage.gauge_table" : "", error.what());
        skip_all(report, "the module does not load");
        return {};
    }
    report.ran(Check::kModuleLoads);
    for (const runtime::ModuleLibrary& library : module->libraries())
        report.info(Check::kModuleLoads, "", "", "DLL", library.path + ", which " + library.imported_by + " imports");
    check_unbound_imports(report, *module);
    const bool bitmaps_known = !options.pe.empty() || !options.bitmap_sizes.empty();
    const Records records = read_records(*module, &report, bitmaps_known, host.key_event_handlers());
    if (!options.dynamic) {
        skip_dynamic(report, "static checks only");
        return {};
    }
    if (!records.table_sound || !any_sound(records)) {
        skip_dynamic(report, "no gauge whose records are sound enough to drive");
        return {};
    }
    drive = true;
    return behaviour(report, memo, host, *module, records, "on a fresh module");
}

// Second load: everything hostile, then whether the records held.
void abuse(Report& report, Memo& memo, const std::string& path, const Options& options, VariableGuard& guard,
           Resources& resources, std::mt19937_64& random) {
    runtime::Host host;
    const std::unique_ptr<runtime::Module> module = load(host, path, options, guard, resources);
    Session session(report, options, host, *module, random, memo);
    const RecordSnapshot before = snapshot(session.records, module->memory());

    check_mouse_before_setup(session);
    check_service_ids(session);
    check_lifecycle(session);
    check_hostile_plan(session);
    check_handlers_after_kill(session);
    session.check_unexpected_services(Site{"", "", "lifecycle"}, 0);

    const std::vector<SnapshotDifference> changed = compare(before, snapshot(session.records, module->memory()));
    for (const SnapshotDifference& difference : changed) {
        const RecordSpan& span = session.records.spans[difference.span];
        char text[96];
        std::snprintf(text, sizeof text, "byte %zu changed from 0x%02X to 0x%02X while the module ran",
                      difference.offset, difference.before, difference.after);
        report.fail(Check::kRecordsUnchanged, session.records.gauges[span.gauge].name, span.what,
                    field_at(span, difference.offset), text);
    }
    report.ran(Check::kRecordsUnchanged, std::to_string(session.records.spans.size()) + " records compared");

    report.ran(Check::kNoAllocation, "heap allocations through the module's imports, counted in every call");
    report.ran(Check::kResources, "what module code holds against the emulator's budgets, before and after every call");
    report.ran(Check::kFloatingPointState, "x87 control word and MXCSR after every direct call");
    report.ran(Check::kServedServicesOnly);
    report.ran(Check::kMemoryAccess, "every call in the emulator, whose memory is the module's alone");
    report.ran(Check::kCodeFaults);

    // KV306: the figures.
    if (memo.most_instructions != 0) {
        report.info(Check::kInstructions, "", "", "most for one call",
                    platform::thousands(memo.most_instructions) + " instructions (" + memo.most_where + ")");
    }
    if (!memo.panel_updates.empty()) {
        uint64_t most = 0, total = 0;
        for (uint64_t update : memo.panel_updates) {
            most = std::max(most, update);
            total += update;
        }
        report.info(Check::kInstructions, "", "", "panel update",
                    platform::thousands(most) + " instructions at most, " +
                        platform::thousands(total / memo.panel_updates.size()) + " on average, over " +
                        std::to_string(memo.panel_updates.size()) + " updates of every installed gauge");
    }
    report.ran(Check::kInstructions, "a call fails above " + platform::thousands(kMaxInstructionsPerCall) +
                                         " instructions, or when it never returns");

    // KV307: what the module called of its imports.
    std::string called;
    for (const auto& [import, count] : module->code().import_calls()) {
        if (!called.empty()) called += ", ";
        called += import + " " + std::to_string(count);
    }
    if (!called.empty()) report.info(Check::kImports, "", "", "imports called", called);
    report.ran(Check::kImports);
}

// Loads and unloads: each unload takes back what the load registered. The
// host forgets a module's routines as it goes, so what module_deinit left is
// read from the service log: registrations its unregistrations did not match.
void reload_cycles(Report& report, const std::string& path, const Options& options, VariableGuard& guard,
                   Resources& resources) {
    runtime::Host host;
    for (int cycle = 0; cycle < 2; ++cycle) {
        host.clear_service_log();
        { const std::unique_ptr<runtime::Module> module = load(host, path, options, guard, resources); }
        std::map<std::pair<uint32_t, uint32_t>, int> registered;
        for (const runtime::ServiceCall& call : host.service_log()) {
            if (call.slot == service_slot::register_key_event_handler) {
                const auto [handler, user_data] =
                    runtime::service_arguments<service_slot::register_key_event_handler>(call.args);
                ++registered[{handler.address, user_data}];
            }
            if (call.slot == service_slot::unregister_key_event_handler) {
                const auto [handler, user_data] =
                    runtime::service_arguments<service_slot::unregister_key_event_handler>(call.args);
                auto found = registered.find({handler.address, user_data});
                if (found != registered.end() && found->second > 0) --found->second;
            }
        }
        int left = 0;
        for (const auto& [routine, count] : registered) left += count;
        if (left != 0) {
            report.fail(Check::kLifecycle, "", "", "module_deinit",
                        "leaves " + std::to_string(left) + " key-event routine(s) registered after unloading");
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
        emulator::PeImage::read_file(pe);
    } catch (const emulator::PeError& error) {
        return error.what();
    }
    return {};
}

void validate_loaded(Report& report, const std::string& path, const Options& options) {
    std::mt19937_64 random(options.seed);
    VariableGuard guard(report);
    Resources resources(options.pe);
    Memo memo;
    bool drive = false;
    const std::vector<Observation> reference = first_load(report, memo, path, options, guard, resources, drive);
    if (!drive) return;
    // Whatever goes wrong beyond the calls (each judged on its own) stops the
    // validation with a finding, never the validator.
    try {
        abuse(report, memo, path, options, guard, resources, random);
        reload_cycles(report, path, options, guard, resources);
        runtime::Host host;
        const std::unique_ptr<runtime::Module> module = load(host, path, options, guard, resources);
        const Records records = read_records(*module, nullptr, false);
        compare_behaviour(report, reference, behaviour(report, memo, host, *module, records, "after a reload"));
    } catch (const std::exception& error) {
        report.fail(Check::kLifecycle, "", "", "", std::string("the validation stopped: ") + error.what());
    }
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

}  // namespace validate
