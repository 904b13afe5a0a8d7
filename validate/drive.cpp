// The dynamic checks: the module's gauges driven through their lifecycle,
// every service id and standard routine, then the plan of hostile inputs
// (host/validate/plan.h), each module call watched: a fault of its memory
// or processor, its instruction count, heap allocations, the floating-point
// control state and the services it called.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>

#include "emulator/emulated_machine.h"
#include "platform/text_input.h"
#include "runtime/instance.h"
#include "validate/hostile.h"
#include "validate/session.h"

namespace validate {
namespace {

// The module's machine as the emulator: it counts every instruction, those
// of calls through the host included. Null elsewhere.
const emulator::EmulatedMachine* emulated(const runtime::Module& module) {
    return dynamic_cast<const emulator::EmulatedMachine*>(&module.machine());
}

uint64_t instruction_budget() { return emulator::EmulatedMachine::Options{}.instruction_budget; }

std::string where_of(const Site& site) {
    std::string where;
    for (const std::string* part : {&site.gauge, &site.element, &site.field}) {
        if (part->empty()) continue;
        if (!where.empty()) where += ", ";
        where += part == &site.gauge ? "gauge " + *part : *part;
    }
    return where.empty() ? "module" : where;
}

// The kind of a fault the host reported in its own words (GaugeFault keeps
// the message of the GuestFault, not its kind): by the words the emulator
// and the guest memory use for each kind, and by the instructions the call
// took for the budget.
emulator::GuestFault::Kind kind_in_message(const std::string& message, uint64_t instructions) {
    using Kind = emulator::GuestFault::Kind;
    const auto says = [&](std::initializer_list<const char*> words) {
        return std::any_of(words.begin(), words.end(),
                           [&](const char* word) { return message.find(word) != std::string::npos; });
    };
    if (instructions >= instruction_budget() || says({"past its budget"})) return Kind::kBudget;
    if (says({"which the host does not provide"})) return Kind::kUnboundImport;
    if (says({"code run at "})) return Kind::kFetch;
    if (says({"read at ", "read of ", "read fault", "lie outside the module's memory",
              "lies outside the module's memory"})) {
        return Kind::kRead;
    }
    if (says({"write at ", "write of ", "write fault", " are read-only ("})) return Kind::kWrite;
    return Kind::kOther;
}

}  // namespace

Check check_of_fault(emulator::GuestFault::Kind kind) {
    using Kind = emulator::GuestFault::Kind;
    switch (kind) {
        case Kind::kRead:
        case Kind::kWrite: return Check::kMemoryAccess;
        case Kind::kBudget: return Check::kInstructions;
        case Kind::kUnboundImport: return Check::kImports;
        case Kind::kFetch:
        case Kind::kInvalidInstruction:
        case Kind::kDivide:
        case Kind::kBrokenCall:
        case Kind::kOther: break;
    }
    return Check::kCodeFaults;
}

std::string fault_text(const runtime::Module& module, const Site& site, const std::exception& error) {
    if (dynamic_cast<const emulator::GuestFault*>(&error) != nullptr)
        return runtime::fault_message(module, where_of(site), error);
    return error.what();  // the host's message names module, gauge and call already
}

namespace {

std::string once_key(Check check, const Site& site) {
    return std::string(check_info(check).id) + '\x1f' + site.gauge + '\x1f' + site.element + '\x1f' + site.field;
}

void once(Report& report, Memo& memo, Check check, const Site& site, const std::string& message) {
    if (!memo.reported.insert(once_key(check, site)).second) return;
    report.fail(check, site.gauge, site.element, site.field, message);
}

}  // namespace

uint64_t instructions_run(const runtime::Module& module) {
    const emulator::EmulatedMachine* machine = emulated(module);
    return machine != nullptr ? machine->instructions() : 0;
}

bool report_failure(Report& report, Memo& memo, const runtime::Module& module, const Site& site,
                    const std::string& input, std::exception_ptr error, Check fallback, uint64_t instructions) {
    std::optional<emulator::GuestFault::Kind> kind;
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const runtime::ModuleFault& fault) {
        // The runtime's words for the machine's fault (a key-event routine's,
        // through the host): judged as the machine's own.
        return report_failure(report, memo, module, site, input,
                              std::make_exception_ptr(runtime::guest_fault(fault)), fallback, instructions);
    } catch (const emulator::GuestFault& fault) {
        kind = fault.kind();
        text = fault_text(module, site, fault);
    } catch (const runtime::GaugeFault& fault) {
        text = fault.what();
        // The host's own write into a record the module keeps read-only (a
        // static image's picture, a variable's value): no instruction of the
        // module's did it, and KV018 says so of the record.
        const bool module_code =
            text.find("by the instruction at") != std::string::npos || text.find("called from") != std::string::npos;
        if (!module_code && text.find(" are read-only (") != std::string::npos) {
            once(report, memo, Check::kWritableRecords, site, "the host's write faults: " + text);
            return false;
        }
        kind = kind_in_message(text, instructions);
    } catch (const std::exception& failure) {
        text = failure.what();
    } catch (...) {
        text = "an exception that is no std::exception";
    }
    if (!kind) {
        once(report, memo, fallback, site, input + " failed: " + text);
        return false;
    }
    const bool budget = *kind == emulator::GuestFault::Kind::kBudget;
    once(report, memo, check_of_fault(*kind), site,
         std::string(emulator::fault_kind_name(*kind)) + ": " + text + " (" + input + ")" +
             (budget ? "; its code is called no more" : ""));
    if (budget) memo.spent.insert(site.gauge.empty() ? site.field : site.gauge);
    return budget;
}

// --- The session ---------------------------------------------------------------------

Session::Session(Report& report_, const Options& options_, runtime::Host& host_, runtime::Module& module_,
                 std::mt19937_64& random_, Memo& memo_)
    : report(report_),
      options(options_),
      host(host_),
      module(module_),
      records(read_records(module_, nullptr, false)),
      random(random_),
      memo(memo_),
      variables(host_, module_, records) {
    point = frame::GuestPtr<guest::PIXPOINT>(module.machine().allocate(sizeof(guest::PIXPOINT)));
}

void Session::once(Check check, const Site& site, const std::string& message) {
    validate::once(report, memo, check, site, message);
}

void Session::check_unexpected_services(const Site& site, size_t seen_before) {
    const std::vector<uint32_t>& slots = host.unexpected_slots();
    for (size_t i = seen_before; i < slots.size(); ++i) {
        once(Check::kServedServicesOnly, site,
             "called service " + std::to_string(slots[i]) + ", which the host does not serve");
    }
}

bool Session::may_call(const Site& site) const {
    return memo.spent.count(site.gauge.empty() ? site.field : site.gauge) == 0;
}

CallStart Session::start() const {
    CallStart start{host.unexpected_slots().size(),
                    module.code().allocations(),
                    instructions_run(module),
                    module.code().resources(),
                    {}};
    if (start.resources) start.import_calls = module.code().import_calls();
    return start;
}

void Session::check_resources(const Site& site, const std::string& input, const CallStart& before) {
    const std::optional<emulator::ResourceUse> now = module.code().resources();
    if (!before.resources || !now) return;
    std::string kept;
    std::string refused;
    std::string takers;
    for (const emulator::BudgetInfo& info : emulator::kBudgets) {
        const size_t i = static_cast<size_t>(info.budget);
        // Heap blocks are KV301's, and guest memory grows only with what VirtualAlloc counts.
        const bool counted =
            info.budget != emulator::Budget::kHeapBlocks && info.budget != emulator::Budget::kGuestMemory;
        const bool grew = counted && now->held[i] > before.resources->held[i];
        const bool refusing = now->refused[i] > before.resources->refused[i];
        if (grew)
            kept += (kept.empty() ? "" : ", ") + platform::thousands(now->held[i] - before.resources->held[i]) +
                    " more " + info.label;
        if (refusing) {
            refused += (refused.empty() ? "" : ", ") +
                       platform::thousands(now->refused[i] - before.resources->refused[i]) + " past the budget of " +
                       platform::thousands(info.limit) + " " + info.label;
        }
        if (grew || refusing) takers += std::string(" ") + info.takers + " ";
    }
    if (kept.empty() && refused.empty()) return;
    // The functions that took them, with the calls made of each in this call.
    std::string named;
    for (const auto& [import, count] : module.code().import_calls()) {
        const std::string function = " " + import.substr(import.find('!') + 1) + " ";
        if (takers.find(function) == std::string::npos) continue;
        uint64_t earlier = 0;
        for (const auto& [seen, seen_count] : before.import_calls) {
            if (seen == import) earlier = seen_count;
        }
        if (count > earlier) named += (named.empty() ? "" : ", ") + import + " " + platform::thousands(count - earlier);
    }
    std::string message = kept.empty() ? "" : "kept " + kept;
    if (!refused.empty()) message += (message.empty() ? "" : "; ") + std::string("refused ") + refused;
    once(Check::kResources, site, message + " for " + input + (named.empty() ? "" : " (calls: " + named + ")"));
}

void Session::finish(const Site& site, const std::string& input, const CallStart& before, bool direct,
                     std::exception_ptr error, Check fallback) {
    const uint64_t instructions = emulated(module) != nullptr ? instructions_run(module) - before.instructions
                                                              : module.machine().last_call().instructions;
    if (error != nullptr) {
        report_failure(report, memo, module, site, input, error, fallback, instructions);
    } else if (direct) {
        const emulator::CallReport& call = module.machine().last_call();
        if (!call.control_word_kept || !call.mxcsr_kept) {
            once(Check::kFloatingPointState, site,
                 std::string("left the ") +
                     (!call.control_word_kept && !call.mxcsr_kept ? "x87 control word and MXCSR"
                      : !call.control_word_kept                   ? "x87 control word"
                                                                  : "MXCSR") +
                     " changed for " + input);
        }
        if (instructions > kMaxInstructionsPerCall) {
            once(Check::kInstructions, site,
                 "took " + std::to_string(instructions) + " instructions for " + input + ", more than " +
                     std::to_string(kMaxInstructionsPerCall));
        }
    }
    if (direct && instructions > memo.most_instructions) {
        memo.most_instructions = instructions;
        memo.most_where = where_of(site) + " for " + input;
    }
    const uint64_t allocations = module.code().allocations() - before.allocations;
    if (allocations != 0) {
        once(Check::kNoAllocation, site, std::to_string(allocations) + " heap allocation(s) for " + input);
    }
    check_resources(site, input, before);
    check_unexpected_services(site, before.unexpected);
}

uint32_t Session::call(uint32_t code, std::initializer_list<uint32_t> args) {
    return module.machine().call(code, std::span<const uint32_t>(args.begin(), args.size()),
                                 emulator::Convention::kStdcall);
}

namespace {

// --- Gauge callbacks, handlers ---------------------------------------------------------

struct Handler {
    const GaugeRecord* gauge = nullptr;
    size_t record = 0;
    guest::MOUSERECT rect{};
    std::string field;
};

std::vector<Handler> handlers(const Records& records) {
    std::vector<Handler> result;
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        for (size_t i = 0; i < gauge.mouse.size(); ++i) {
            const guest::MOUSERECT& rect = gauge.mouse[i];
            if (rect.rect_type != kMouseChild || !rect.handler) continue;
            result.push_back({&gauge, i, rect, "mouse_rects[" + std::to_string(i) + "].handler"});
        }
    }
    return result;
}

std::string point_input(const guest::PIXPOINT& point, uint32_t flags) {
    char text[80];
    std::snprintf(text, sizeof text, "point (%d, %d), flags 0x%08X", point.x, point.y, flags);
    return text;
}

void call_handler(Session& session, const Handler& handler, guest::PIXPOINT point, uint32_t flags) {
    const Site site{handler.gauge->name, "", handler.field};
    session.probe(site, point_input(point, flags), true, [&] {
        session.module.memory().write(session.point) = point;
        session.call(handler.rect.handler.address, {session.point.address, flags});
    });
}

uint32_t gauge_callback(const Session& session, const GaugeRecord& gauge) {
    if (gauge.version == kHeaderVersion800) return 0;
    return session.module.memory().read(gauge.live).gauge_callback.address;
}

// The routines a header names, both versions': with the argument the host
// passes or without.
struct Routine {
    const char* field;
    uint32_t code;
    bool takes_argument;
};

std::vector<Routine> standard_routines(const Session& session, const GaugeRecord& gauge) {
    // The fields both versions share, and no more: a version-700 header is
    // the shorter.
    guest::GAUGEHDR_V800 h{};
    session.module.memory().copy_out(gauge.live.address, &h, offsetof(guest::GAUGEHDR_V800, reserved_tail));
    return {
        {"query_routine", h.query_routine.address, false},
        {"install_routine", h.install_routine.address, true},
        {"initialize_routine", h.initialize_routine.address, false},
        {"update_routine", h.update_routine.address, false},
        {"generate_routine", h.generate_routine.address, true},
        {"draw_routine", h.draw_routine.address, false},
        {"kill_routine", h.kill_routine.address, false},
    };
}

// Runs `operation` on gauge instances through the host: its faults become
// findings of their checks, the host's other failures of KV101.
template <typename Operation>
void guarded(Session& session, const Site& site, const char* what, Operation&& operation) {
    session.probe(site, what, false, std::forward<Operation>(operation), Check::kLifecycle);
}

// The value a needle's or icon's callback gave in an update must be a number
// the host can draw (the other kinds' values the host limits itself).
void check_states(Session& session, const GaugeRecord& gauge, const runtime::GaugeInstance& instance) {
    const emulator::GuestMemory& memory = session.module.memory();
    for (size_t i = 0; i < instance.elements().size() && i < gauge.elements.size(); ++i) {
        const runtime::ElementState& state = instance.elements()[i];
        const ElementRecord& element = gauge.elements[i];
        bool from_callback = false;
        if (element.type == kNeedle) {
            from_callback = static_cast<bool>(memory.read(element.live.cast<guest::ELEMENT_NEEDLE>()).update_callback);
        } else if (element.type == kIcon) {
            from_callback = static_cast<bool>(memory.read(element.live.cast<guest::ELEMENT_ICON>()).callback);
        }
        if (from_callback && !std::isfinite(state.value)) {
            session.once(Check::kLifecycle, Site{gauge.name, element.label, "value after update"},
                         "the callback gave " + describe_value(state.value));
        }
    }
}

uint64_t lifecycle_value(Session& session) {
    std::uniform_int_distribution<int> pick(0, 9);
    if (pick(session.random) == 0) {
        const std::vector<HostileValue> specials = special_values();
        return specials[session.random() % specials.size()].bits;
    }
    std::uniform_real_distribution<double> moderate(-1000.0, 20000.0);
    return to_bits(moderate(session.random));
}

void random_mouse(Session& session, runtime::GaugeInstance& instance) {
    std::vector<const runtime::MouseBox*> children;
    for (const runtime::MouseBox& box : instance.mouse_layout().boxes()) {
        if (box.is_child()) children.push_back(&box);
    }
    if (children.empty()) return;
    const runtime::MouseBox& box = *children[session.random() % children.size()];
    const runtime::DisplayedBox shown = runtime::displayed_box(box, instance.scale());
    const int64_t width = std::max<int64_t>(shown.right - shown.left, 1);
    const int64_t height = std::max<int64_t>(shown.bottom - shown.top, 1);
    const auto x = static_cast<int32_t>(shown.left + static_cast<int64_t>(session.random() % width));
    const auto y = static_cast<int32_t>(shown.top + static_cast<int64_t>(session.random() % height));
    instance.press(x, y);
    instance.repeat();
    instance.move(x, y + static_cast<int32_t>(session.random() % 7) - 3);
    instance.release();
}

}  // namespace

// --- KV103: mouse handlers before set-up and after kill -------------------------------------

void check_mouse_before_setup(Session& session) {
    const std::vector<Handler> all = handlers(session.records);
    const guest::PIXPOINT points[] = {
        {0, 0}, {1, 1}, {-1, -1}, {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX}};
    for (const Handler& handler : all) {
        const uint32_t flags[] = {handler.rect.mouse_flags, 0u, kMouseClick, kMouseRepeat, kMouseDrag};
        for (const guest::PIXPOINT& point : points) {
            for (uint32_t f : flags) call_handler(session, handler, point, f);
        }
        const guest::PIXPOINT centre{handler.rect.width / 2, handler.rect.height / 2};
        call_handler(session, handler, centre, handler.rect.mouse_flags);
    }
    session.report.ran(Check::kHandlersOutsideLife,
                       std::to_string(all.size()) + " handlers before any set-up and after every kill");
}

void check_handlers_after_kill(Session& session) { check_mouse_before_setup(session); }

// --- KV102: every service id -----------------------------------------------------------------

void check_service_ids(Session& session) {
    size_t callbacks = 0;
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id < 32; ++id) ids.push_back(id);
    ids.insert(ids.end(), {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu});
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        if (const uint32_t callback = gauge_callback(session, gauge)) {
            ++callbacks;
            for (uint32_t id : ids) {
                for (uint32_t extra : {0u, 0xFFFFFFFFu}) {
                    const Site site{gauge.name, "", "gauge_callback, service id " + std::to_string(id)};
                    session.probe(site, "extra word " + std::to_string(extra), true, [&] {
                        session.call(callback, {gauge.live.address, id, extra});
                    });
                }
            }
        }
        // The standard routines, with any argument the host may pass.
        for (const Routine& routine : standard_routines(session, gauge)) {
            if (!routine.takes_argument) {
                session.probe(Site{gauge.name, "", routine.field}, "no argument", true,
                              [&] { session.call(routine.code, {}); });
                continue;
            }
            for (uint32_t argument : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
                session.probe(Site{gauge.name, "", routine.field}, "argument " + std::to_string(argument), true,
                              [&] { session.call(routine.code, {argument}); });
            }
        }
    }
    session.host.clear_key_log();
    session.host.clear_service_log();
    session.report.ran(Check::kServiceIds,
                       std::to_string(callbacks) + " gauge callbacks with service ids 0 to 31 and 3 others");
}

// --- KV101: lifecycle -----------------------------------------------------------------------

// The lifecycle in the order the host runs it, each step checked as it
// happens: a sequence, not separable steps.
void check_lifecycle(Session& session) {
    static constexpr double kScales[] = {1.0, 0.5, 2.0};
    const int cycles = std::max(session.options.cycles, 1);
    size_t gauges = 0;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        ++gauges;
        const Site site{gauge.name, "", "lifecycle"};
        std::unique_ptr<runtime::GaugeInstance> instances[std::size(kScales)];
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (size_t i = 0; i < std::size(kScales); ++i) {
                guarded(session, site, "install, update, kill", [&] {
                    if (!instances[i]) {
                        instances[i] = std::make_unique<runtime::GaugeInstance>(session.host, session.module,
                                                                                gauge.live, kScales[i]);
                    }
                    runtime::GaugeInstance& instance = *instances[i];
                    instance.setup();
                    for (int update = 0; update < 2; ++update) {
                        session.variables.set_all(lifecycle_value(session));
                        instance.update();
                        check_states(session, gauge, instance);
                        random_mouse(session, instance);
                    }
                    if ((cycle + static_cast<int>(i)) % 2 == 0) instance.kill();
                });
            }
            // Now and then an instance goes altogether while the others live on.
            if (cycle % 4 == 3) instances[static_cast<size_t>(cycle / 4) % std::size(kScales)].reset();
        }
        for (auto& instance : instances) instance.reset();
        session.variables.learn();
        session.host.clear_key_log();
        session.host.clear_service_log();
    }

    // Every gauge at once, updated in turns.
    std::vector<std::pair<const GaugeRecord*, std::unique_ptr<runtime::GaugeInstance>>> panel;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        guarded(session, Site{gauge.name, "", "lifecycle"}, "install beside every other gauge", [&] {
            panel.emplace_back(&gauge,
                               std::make_unique<runtime::GaugeInstance>(session.host, session.module, gauge.live));
            panel.back().second->setup();
        });
    }
    for (int round = 0; round < 4; ++round) {
        session.variables.set_all(lifecycle_value(session));
        for (size_t i = 0; i < panel.size(); ++i) {
            auto& [gauge, instance] = panel[i];
            guarded(session, Site{gauge->name, "", "lifecycle"}, "update beside every other gauge", [&] {
                instance->update();
                check_states(session, *gauge, *instance);
                random_mouse(session, *instance);
                if ((i + static_cast<size_t>(round)) % 3 == 0) {
                    instance->kill();
                    instance->setup();
                }
            });
        }
    }
    panel.clear();
    session.variables.learn();
    session.host.clear_key_log();
    session.host.clear_service_log();
    session.report.ran(Check::kLifecycle, std::to_string(gauges) + " gauges, " + std::to_string(cycles) +
                                              " cycles of 3 instances each, then all at once");
}

// --- KV201 to KV204: the plan of hostile inputs ------------------------------------------------

namespace {

std::string bounds(double lower, double upper) {
    return "[" + describe_value(lower) + ", " + describe_value(upper) + "]";
}

class Judge : public PlanObserver {
public:
    explicit Judge(Session& session) : session_(session) {}

    bool admit(const PlannedCall& call) override { return session_.may_call(site_of(call)); }
    void before(const PlannedCall&) override { start_ = session_.start(); }

    void after(const PlannedCall& call, const CallOutcome& outcome) override {
        const Site site = site_of(call);
        std::exception_ptr error;
        if (outcome.guest_fault) {
            error = std::make_exception_ptr(runtime::guest_fault(*outcome.guest_fault));
        } else if (outcome.fault) {
            error = std::make_exception_ptr(runtime::GaugeFault(*outcome.fault));
        }
        const bool direct = call.code != 0;
        const Check fallback =
            call.kind == CallKind::kInstall || call.kind == CallKind::kUpdate || call.kind == CallKind::kPointer
                ? Check::kLifecycle
                : Check::kHostileGaugeCalls;
        session_.finish(site, input_of(call), start_, direct, error, fallback);
        if (call.kind == CallKind::kUpdate) {
            const uint64_t instructions = instructions_run(session_.module) - start_.instructions;
            if (call.input != panel_input_) {
                panel_input_ = call.input;
                session_.memo.panel_updates.push_back(0);
            }
            session_.memo.panel_updates.back() += instructions;
        }
        if (call.kind == CallKind::kValue && !outcome.fault) judge_value(call, site, outcome.value);
        if (call.kind == CallKind::kValue) ++values_;
        if (call.kind == CallKind::kMouse) ++mouse_;
        if (call.kind == CallKind::kKey) ++keys_;
    }

    size_t values_ = 0, mouse_ = 0, keys_ = 0;

private:
    static Site site_of(const PlannedCall& call) {
        Site site;
        if (call.gauge != nullptr) site.gauge = call.gauge->name;
        if (call.element != nullptr) site.element = call.element->label;
        switch (call.kind) {
            case CallKind::kInstall: site.field = "install"; break;
            case CallKind::kUpdate: site.field = "update"; break;
            case CallKind::kGauge: site.field = "gauge_callback, " + call.field; break;
            case CallKind::kMouse: site.field = call.field + ".handler"; break;
            case CallKind::kPointer: site.field = "pointer actions at " + call.field; break;
            case CallKind::kKey: {
                char text[48];
                std::snprintf(text, sizeof text, "key-event routine at 0x%08X", call.code);
                site.field = text;
                break;
            }
            case CallKind::kEvent: site.field = "key events through the host"; break;
            case CallKind::kValue: site.field = call.field; break;
        }
        return site;
    }
    static std::string input_of(const PlannedCall& call) {
        switch (call.kind) {
            case CallKind::kInstall: return "set-up";
            case CallKind::kValue:
            case CallKind::kGauge:
            case CallKind::kUpdate: return variables_at(HostileValue{0, call.input});
            default: return call.input;
        }
    }

    void judge_value(const PlannedCall& call, const Site& site, double result) {
        if (!std::isfinite(result)) {
            session_.once(Check::kHostileValues, site, "returns " + describe_value(result) + " for " + call.input);
        } else if (call.limited && (result < call.lower || result > call.upper)) {
            session_.once(Check::kHostileValues, site,
                          "returns " + describe_value(result) + " for " + call.input + ", outside its limits " +
                              bounds(call.lower, call.upper));
        }
    }

    Session& session_;
    CallStart start_;
    std::string panel_input_;
};

}  // namespace

void check_hostile_plan(Session& session) {
    PlanOptions options;
    options.seed = session.random();
    options.random_values = std::max(session.options.random_values, 0);
    Plan plan(session.host, session.module, session.records, options);
    Judge judge(session);
    plan.run(judge);
    session.variables.learn();

    const std::string inputs = std::to_string(plan.inputs().size()) + " inputs";
    session.report.ran(Check::kHostileValues,
                       std::to_string(plan.value_callbacks()) + " callbacks, " + inputs + " each");
    session.report.ran(Check::kHostileGaugeCalls, std::to_string(plan.gauge_callbacks()) +
                                                      " gauge callbacks with service ids 2, 4 and 6, " + inputs +
                                                      " each, and the host's update of every gauge");
    session.report.ran(Check::kHostilePoints,
                       std::to_string(plan.handlers()) + " handlers, " + std::to_string(judge.mouse_) + " calls");
    if (plan.routines() == 0) {
        session.report.skip(Check::kHostileKeyEvents, "the module registers no key-event routine");
    } else {
        session.report.ran(Check::kHostileKeyEvents,
                           std::to_string(plan.routines()) + " routine(s), " + std::to_string(judge.keys_) + " calls");
    }
}

}  // namespace validate
