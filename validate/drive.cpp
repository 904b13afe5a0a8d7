// The dynamic checks: the module's gauges driven through their lifecycle,
// every service id and standard routine, then the plan of hostile inputs
// (validate/plan.h), each module call watched by the session
// (validate/session.cpp): a fault of its memory or processor, its
// instruction count, heap allocations, the floating-point control state and
// the services it called.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>

#include "runtime/call_context.h"
#include "runtime/instance.h"
#include "validate/hostile.h"
#include "validate/session.h"

namespace validate {
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
        session.call(site.gauge, runtime::kMouseHandler, handler.rect.handler.address, {session.point.address, flags});
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
                    const Site site{gauge.name, "", runtime::gauge_callback_name(id)};
                    session.probe(site, "extra word " + std::to_string(extra), true, [&] {
                        session.call(gauge.name, site.field, callback, {gauge.live.address, id, extra});
                    });
                }
            }
        }
        // The standard routines, with any argument the host may pass.
        for (const Routine& routine : standard_routines(session, gauge)) {
            if (!routine.takes_argument) {
                const Site site{gauge.name, "", routine.field};
                session.probe(site, "no argument", true,
                              [&] { session.call(gauge.name, routine.field, routine.code, {}); });
                continue;
            }
            for (uint32_t argument : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
                const Site site{gauge.name, "", routine.field};
                session.probe(site, "argument " + std::to_string(argument), true,
                              [&] { session.call(gauge.name, routine.field, routine.code, {argument}); });
            }
        }
    }
    session.host.clear_key_log();
    session.host.clear_service_log();
    session.report.ran(Check::kServiceIds,
                       std::to_string(callbacks) + " gauge callbacks with service ids 0 to 31 and 3 others");
}

// --- KV101: lifecycle -----------------------------------------------------------------------

namespace {

// A sequence, not separable steps: three instances at three scales of one
// gauge installed, updated and killed in turn, each checked as it goes.
void cycle_one_gauge(Session& session, const GaugeRecord& gauge, int cycles) {
    static constexpr double kScales[] = {1.0, 0.5, 2.0};
    const Site site{gauge.name, "", "lifecycle"};
    std::unique_ptr<runtime::GaugeInstance> instances[std::size(kScales)];
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (size_t i = 0; i < std::size(kScales); ++i) {
            guarded(session, site, "install, update, kill", [&] {
                if (!instances[i]) {
                    instances[i] =
                        std::make_unique<runtime::GaugeInstance>(session.host, session.module, gauge.live, kScales[i]);
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
}

// Every gauge at once, updated in turns, some killed and set up again.
void cycle_every_gauge(Session& session) {
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
}

// What one pass of the lifecycle leaves behind, forgotten before the next.
void forget_pass(Session& session) {
    session.variables.learn();
    session.host.clear_key_log();
    session.host.clear_service_log();
}

}  // namespace

// The lifecycle in the order the host runs it.
void check_lifecycle(Session& session) {
    const int cycles = std::max(session.options.cycles, 1);
    size_t gauges = 0;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        ++gauges;
        cycle_one_gauge(session, gauge, cycles);
        forget_pass(session);
    }
    cycle_every_gauge(session);
    forget_pass(session);
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
            case CallKind::kGauge: site.field = call.field; break;
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
