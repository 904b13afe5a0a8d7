// The dynamic checks: the module's gauges driven through their lifecycle and
// every callback, gauge callback, mouse handler and key-event routine fed
// hostile inputs, each direct call through the session's probe.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>

#include "host/instance.h"
#include "host/validate/hostile.h"
#include "host/validate/session.h"

namespace bench::validate {

// --- The session ---------------------------------------------------------------------

Session::Session(Report& report_, const Options& options_, Host& host_, Module& module_, std::mt19937_64& random_)
    : report(report_), options(options_), host(host_), module(module_), random(random_) {
    memory = ModuleMemory::of(module.linkage());
    records = read_records(module, memory, nullptr, false);
    allocation_hooked = AllocationWatch::hook() != nullptr;
    for (const GaugeRecord& gauge : records.gauges) {
        for (const ElementRecord& element : gauge.elements) {
            for (const EmbeddedVariable& var : embedded_variables(element.type)) {
                const auto* record =
                    reinterpret_cast<const MODULE_VAR*>(reinterpret_cast<const char*>(element.live) + var.offset);
                if (record->token != 0) tokens.insert(record->token);
            }
            if (element.type == kNeedle) {
                const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(element.live);
                if (needle->nonlinearity != nullptr && needle->nonlinearity_size >= 2) {
                    limits.push_back(needle->nonlinearity[0].value);
                    limits.push_back(needle->nonlinearity[needle->nonlinearity_size - 1].value);
                }
            } else if (element.type == kMovingImage) {
                const auto* moving = reinterpret_cast<const ELEMENT_MOVING_IMAGE*>(element.live);
                limits.insert(limits.end(), {moving->min_x, moving->max_x, moving->min_y, moving->max_y});
            }
        }
    }
    std::sort(limits.begin(), limits.end());
    limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        for (const ElementRecord& element : gauge.elements) {
            for (const EmbeddedVariable& var : embedded_variables(element.type)) {
                embedded_.push_back(reinterpret_cast<MODULE_VAR*>(reinterpret_cast<char*>(element.live) + var.offset));
            }
        }
    }
}

void Session::once(Check check, const Site& site, const std::string& message) {
    const std::string key =
        std::string(check_info(check).id) + '\x1f' + site.gauge + '\x1f' + site.element + '\x1f' + site.field;
    if (!reported_.insert(key).second) return;
    report.fail(check, site.gauge, site.element, site.field, message);
}

void Session::set_all_variables(uint64_t bits) {
    // Tokens only ever join the set, so a change of size is a change of content.
    if (token_values_.size() != tokens.size()) {
        token_values_.clear();
        for (uint32_t token : tokens) token_values_.push_back(&host.vars().slot(token));
    }
    // The host's store keeps doubles: a signalling NaN reaches stand-alone
    // records quietened, as from any host on x87.
    const double value = from_bits(bits);
    for (double* slot : token_values_) *slot = value;
    // As the host does: a variable without a token is never written. The
    // token is read on every call, since module code may write it.
    for (MODULE_VAR* record : embedded_) {
        if (record->token != 0) std::memcpy(&record->value, &bits, sizeof bits);
    }
}

void Session::learn_tokens() {
    for (const ServiceCall& call : host.service_log()) {
        if (call.slot != service_slot::lookup_var && call.slot != service_slot::initialize_var) continue;
        if (const std::optional<MODULE_VAR> var = memory.read<MODULE_VAR>(call.args[0])) {
            if (var->token != 0) tokens.insert(var->token);
        }
    }
    host.clear_service_log();
}

void Session::check_unexpected_services(const Site& site, size_t seen_before) {
    const std::vector<uint32_t>& slots = host.unexpected_slots();
    for (size_t i = seen_before; i < slots.size(); ++i) {
        once(Check::kServedServicesOnly, site,
             "called service " + std::to_string(slots[i]) + ", which the host does not serve");
    }
}

void Session::after_call(const Site& site, const std::string& input, const FpControl& before, size_t unexpected) {
    const uint32_t allocations = allocation_hooked ? AllocationWatch::disarm() : 0;
    const FpControl now = fp_control();
    if (now != before) {
        once(Check::kFloatingPointState, site,
             "left " + describe(now) + " (was " + describe(before) + ") for " + input);
        set_fp_control(before);
    }
    if (allocations != 0) {
        once(Check::kNoAllocation, site, std::to_string(allocations) + " heap allocation(s) for " + input);
    }
    check_unexpected_services(site, unexpected);
}

namespace {

template <typename Function>
bool present(Function function) {
    return function != nullptr;
}

// --- Value callbacks -------------------------------------------------------------------

enum class Axis { kNeedle, kIcon, kMovingX, kMovingY, kSpriteX, kSpriteY, kSpriteRotation };

struct ValueCallback {
    const GaugeRecord* gauge = nullptr;
    const ElementRecord* element = nullptr;
    Axis axis = Axis::kNeedle;
    const char* field = "";
    bool limited = false;
    double lower = 0.0;
    double upper = 0.0;
};

void limit_to(ValueCallback& callback, double a, double b) {
    callback.limited = true;
    callback.lower = std::min(a, b);
    callback.upper = std::max(a, b);
}

std::vector<ValueCallback> value_callbacks(const Records& records) {
    std::vector<ValueCallback> callbacks;
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        for (const ElementRecord& element : gauge.elements) {
            ValueCallback base;
            base.gauge = &gauge;
            base.element = &element;
            switch (element.type) {
                case kNeedle: {
                    const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(element.live);
                    if (!present(needle->update_callback)) break;
                    ValueCallback c = base;
                    c.axis = Axis::kNeedle;
                    c.field = "update_callback";
                    if (needle->nonlinearity != nullptr && needle->nonlinearity_size >= 2) {
                        limit_to(c, needle->nonlinearity[0].value,
                                 needle->nonlinearity[needle->nonlinearity_size - 1].value);
                    }
                    callbacks.push_back(c);
                    break;
                }
                case kIcon: {
                    const auto* icon = reinterpret_cast<const ELEMENT_ICON*>(element.live);
                    if (!present(icon->callback)) break;
                    ValueCallback c = base;
                    c.axis = Axis::kIcon;
                    c.field = "callback";
                    limit_to(c, 0.0, icon->frame_count > 0 ? icon->frame_count - 1.0 : 0.0);
                    callbacks.push_back(c);
                    break;
                }
                case kMovingImage: {
                    const auto* moving = reinterpret_cast<const ELEMENT_MOVING_IMAGE*>(element.live);
                    if (present(moving->callback_x)) {
                        ValueCallback c = base;
                        c.axis = Axis::kMovingX;
                        c.field = "callback_x";
                        if (moving->min_x != moving->max_x) limit_to(c, moving->min_x, moving->max_x);
                        callbacks.push_back(c);
                    }
                    if (present(moving->callback_y)) {
                        ValueCallback c = base;
                        c.axis = Axis::kMovingY;
                        c.field = "callback_y";
                        if (moving->min_y != moving->max_y) limit_to(c, moving->min_y, moving->max_y);
                        callbacks.push_back(c);
                    }
                    break;
                }
                case kSprite: {
                    const auto* sprite = reinterpret_cast<const ELEMENT_SPRITE*>(element.live);
                    const std::pair<bool, Axis> axes[] = {{present(sprite->callback_x), Axis::kSpriteX},
                                                          {present(sprite->callback_y), Axis::kSpriteY},
                                                          {present(sprite->callback_rotation), Axis::kSpriteRotation}};
                    static constexpr const char* kFields[] = {"callback_x", "callback_y", "callback_rotation"};
                    for (size_t i = 0; i < 3; ++i) {
                        if (!axes[i].first) continue;
                        ValueCallback c = base;
                        c.axis = axes[i].second;
                        c.field = kFields[i];
                        callbacks.push_back(c);
                    }
                    break;
                }
                default: break;
            }
        }
    }
    return callbacks;
}

double call_value_callback(const ValueCallback& callback) {
    ELEMENT_HEADER* element = callback.element->live;
    switch (callback.axis) {
        case Axis::kNeedle: {
            auto* needle = reinterpret_cast<ELEMENT_NEEDLE*>(element);
            return needle->update_callback(needle);
        }
        case Axis::kIcon: {
            auto* icon = reinterpret_cast<ELEMENT_ICON*>(element);
            return icon->callback(icon);
        }
        case Axis::kMovingX: {
            auto* moving = reinterpret_cast<ELEMENT_MOVING_IMAGE*>(element);
            return moving->callback_x(moving);
        }
        case Axis::kMovingY: {
            auto* moving = reinterpret_cast<ELEMENT_MOVING_IMAGE*>(element);
            return moving->callback_y(moving);
        }
        case Axis::kSpriteX: {
            auto* sprite = reinterpret_cast<ELEMENT_SPRITE*>(element);
            return sprite->callback_x(sprite);
        }
        case Axis::kSpriteY: {
            auto* sprite = reinterpret_cast<ELEMENT_SPRITE*>(element);
            return sprite->callback_y(sprite);
        }
        case Axis::kSpriteRotation: {
            auto* sprite = reinterpret_cast<ELEMENT_SPRITE*>(element);
            return sprite->callback_rotation(sprite);
        }
    }
    return 0.0;
}

std::vector<HostileValue> all_inputs(Session& session, int random_count) {
    std::vector<HostileValue> inputs = special_values();
    for (HostileValue& v : limit_neighbours(session.limits)) inputs.push_back(std::move(v));
    for (HostileValue& v :
         random_values(session.random, static_cast<size_t>(std::max(random_count, 0)), session.limits)) {
        inputs.push_back(std::move(v));
    }
    return inputs;
}

std::string bounds(double lower, double upper) {
    std::string text = "[";
    text += describe_value(lower);
    text += ", ";
    text += describe_value(upper);
    return text + "]";
}

// --- Gauge callbacks, handlers -----------------------------------------------------------

struct Handler {
    const GaugeRecord* gauge = nullptr;
    size_t record = 0;
    MOUSERECT rect{};
    std::string field;
};

std::vector<Handler> handlers(const Records& records) {
    std::vector<Handler> result;
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        for (size_t i = 0; i < gauge.mouse.size(); ++i) {
            const MOUSERECT& rect = gauge.mouse[i];
            if (rect.rect_type != kMouseChild || rect.handler == nullptr) continue;
            result.push_back({&gauge, i, rect, "mouse_rects[" + std::to_string(i) + "].handler"});
        }
    }
    return result;
}

std::string point_input(const PIXPOINT& point, uint32_t flags) {
    char text[80];
    std::snprintf(text, sizeof text, "point (%d, %d), flags 0x%08X", point.x, point.y, flags);
    return text;
}

void call_handler(Session& session, const Handler& handler, PIXPOINT point, uint32_t flags) {
    const Site site{handler.gauge->name, "", handler.field};
    PIXPOINT argument = point;
    const MouseHandler function = handler.rect.handler;
    session.probe(site, point_input(point, flags), [&] { return function(&argument, flags); });
}

bool has_gauge_callback(const GaugeRecord& gauge) {
    return gauge.version != kHeaderVersion800 && gauge.live->gauge_callback != nullptr;
}

// Runs `operation` on a gauge instance, turning an exception into a finding
// and checking the floating-point control state around it.
template <typename Operation>
void guarded(Session& session, const Site& site, const char* what, Operation&& operation) {
    const FpControl before = fp_control();
    try {
        operation();
    } catch (const std::exception& error) {
        session.once(Check::kLifecycle, site, std::string(what) + " failed: " + error.what());
    }
    const FpControl after = fp_control();
    if (after != before) {
        session.once(Check::kFloatingPointState, site,
                     std::string("left ") + describe(after) + " (was " + describe(before) + ") during " + what);
        set_fp_control(before);
    }
}

// The value a needle's or icon's callback gave in an update must be a number
// the host can draw (the other kinds' values the host limits itself).
void check_states(Session& session, const GaugeRecord& gauge, const GaugeInstance& instance) {
    for (size_t i = 0; i < instance.elements().size() && i < gauge.elements.size(); ++i) {
        const ElementState& state = instance.elements()[i];
        const ElementRecord& element = gauge.elements[i];
        bool from_callback = false;
        if (element.type == kNeedle) {
            from_callback = reinterpret_cast<const ELEMENT_NEEDLE*>(element.live)->update_callback != nullptr;
        } else if (element.type == kIcon) {
            from_callback = reinterpret_cast<const ELEMENT_ICON*>(element.live)->callback != nullptr;
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

void random_mouse(Session& session, GaugeInstance& instance) {
    std::vector<const MouseBox*> children;
    for (const MouseBox& box : instance.mouse_layout().boxes()) {
        if (box.is_child()) children.push_back(&box);
    }
    if (children.empty()) return;
    const MouseBox& box = *children[session.random() % children.size()];
    const DisplayedBox shown = displayed_box(box, instance.scale());
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

// --- KV103: mouse handlers before set-up ----------------------------------------------------

void check_mouse_before_setup(Session& session) {
    const std::vector<Handler> all = handlers(session.records);
    const PIXPOINT points[] = {
        {0, 0}, {1, 1}, {-1, -1}, {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX}};
    for (const Handler& handler : all) {
        const uint32_t flags[] = {handler.rect.mouse_flags, 0u, kMouseClick, kMouseRepeat, kMouseDrag};
        for (const PIXPOINT& point : points) {
            for (uint32_t f : flags) call_handler(session, handler, point, f);
        }
        const PIXPOINT centre{handler.rect.width / 2, handler.rect.height / 2};
        call_handler(session, handler, centre, handler.rect.mouse_flags);
    }
    session.report.ran(Check::kHandlersOutsideLife,
                       std::to_string(all.size()) + " handlers before any set-up and after every kill");
}

// --- KV102: every service id -----------------------------------------------------------------

void check_service_ids(Session& session) {
    size_t callbacks = 0;
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id < 32; ++id) ids.push_back(id);
    ids.insert(ids.end(), {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu});
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        if (has_gauge_callback(gauge)) {
            ++callbacks;
            const GaugeCallback callback = gauge.live->gauge_callback;
            for (uint32_t id : ids) {
                for (uint32_t extra : {0u, 0xFFFFFFFFu}) {
                    const Site site{gauge.name, "", "gauge_callback, service id " + std::to_string(id)};
                    session.probe(site, "extra word " + std::to_string(extra),
                                  [&] { callback(gauge.live, id, extra); });
                }
            }
        }
        // The standard routines, with any argument the host may pass.
        GAUGEHDR* header = gauge.live;
        const std::pair<const char*, StandardRoutine> plain[] = {
            {"query_routine", header->query_routine},   {"initialize_routine", header->initialize_routine},
            {"update_routine", header->update_routine}, {"draw_routine", header->draw_routine},
            {"kill_routine", header->kill_routine},
        };
        for (const auto& [field, routine] : plain) {
            session.probe(Site{gauge.name, "", field}, "no argument", [&] { routine(); });
        }
        const std::pair<const char*, StandardRoutineWithArg> with_argument[] = {
            {"install_routine", header->install_routine}, {"generate_routine", header->generate_routine}};
        for (const auto& [field, routine] : with_argument) {
            for (uint32_t argument : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
                session.probe(Site{gauge.name, "", field}, "argument " + std::to_string(argument),
                              [&] { routine(argument); });
            }
        }
    }
    session.report.ran(Check::kServiceIds,
                       std::to_string(callbacks) + " gauge callbacks with service ids 0 to 31 and 3 others");
}

// --- KV101: lifecycle -----------------------------------------------------------------------

void check_lifecycle(Session& session) {
    static constexpr double kScales[] = {1.0, 0.5, 2.0};
    const int cycles = std::max(session.options.cycles, 1);
    size_t gauges = 0;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        ++gauges;
        const Site site{gauge.name, "", "lifecycle"};
        std::unique_ptr<GaugeInstance> instances[std::size(kScales)];
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (size_t i = 0; i < std::size(kScales); ++i) {
                guarded(session, site, "install, update, kill", [&] {
                    if (!instances[i]) {
                        instances[i] =
                            std::make_unique<GaugeInstance>(session.host, session.module, gauge.live, kScales[i]);
                    }
                    GaugeInstance& instance = *instances[i];
                    instance.setup();
                    for (int update = 0; update < 2; ++update) {
                        session.set_all_variables(lifecycle_value(session));
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
        for (auto& instance : instances) {
            guarded(session, site, "take down", [&] { instance.reset(); });
        }
        session.host.clear_key_log();
        session.host.clear_service_log();
    }

    // Every gauge at once, updated in turns.
    std::vector<std::pair<const GaugeRecord*, std::unique_ptr<GaugeInstance>>> panel;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        guarded(session, Site{gauge.name, "", "lifecycle"}, "install beside every other gauge", [&] {
            panel.emplace_back(&gauge, std::make_unique<GaugeInstance>(session.host, session.module, gauge.live));
            panel.back().second->setup();
        });
    }
    for (int round = 0; round < 4; ++round) {
        session.set_all_variables(lifecycle_value(session));
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
    session.host.clear_key_log();
    session.host.clear_service_log();
    session.report.ran(Check::kLifecycle, std::to_string(gauges) + " gauges, " + std::to_string(cycles) +
                                              " cycles of 3 instances each, then all at once");
}

// --- KV201: value callbacks --------------------------------------------------------------------

void check_value_callbacks(Session& session) {
    const std::vector<ValueCallback> callbacks = value_callbacks(session.records);
    // A first round at zero shows which stand-alone records the callbacks look up.
    session.set_all_variables(to_bits(0.0));
    for (const ValueCallback& callback : callbacks) {
        session.probe(Site{callback.gauge->name, callback.element->label, callback.field}, "0",
                      [&] { return call_value_callback(callback); });
    }
    session.learn_tokens();

    const std::vector<HostileValue> inputs = all_inputs(session, session.options.random_values);
    for (const HostileValue& input : inputs) {
        session.set_all_variables(input.bits);
        for (const ValueCallback& callback : callbacks) {
            const Site site{callback.gauge->name, callback.element->label, callback.field};
            const double result = session.probe(site, input.label, [&] { return call_value_callback(callback); });
            if (!std::isfinite(result)) {
                session.once(Check::kHostileValues, site, "returns " + describe_value(result) + " for " + input.label);
            } else if (callback.limited && (result < callback.lower || result > callback.upper)) {
                session.once(Check::kHostileValues, site,
                             "returns " + describe_value(result) + " for " + input.label + ", outside its limits " +
                                 bounds(callback.lower, callback.upper));
            }
        }
        session.host.clear_key_log();
        session.host.clear_service_log();
    }
    session.report.ran(Check::kHostileValues, std::to_string(callbacks.size()) + " callbacks, " +
                                                  std::to_string(inputs.size()) + " inputs each");
}

// --- KV202: gauge callbacks ---------------------------------------------------------------------

void check_gauge_callbacks(Session& session) {
    session.set_all_variables(to_bits(0.0));
    size_t count = 0;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound || !has_gauge_callback(gauge)) continue;
        ++count;
        gauge.live->gauge_callback(gauge.live, kServiceUpdate, 0);
    }
    session.learn_tokens();

    const std::vector<HostileValue> inputs = all_inputs(session, session.options.random_values / 3);
    for (const HostileValue& input : inputs) {
        session.set_all_variables(input.bits);
        for (const GaugeRecord& gauge : session.records.gauges) {
            if (!gauge.sound || !has_gauge_callback(gauge)) continue;
            const GaugeCallback callback = gauge.live->gauge_callback;
            for (uint32_t id : {kServiceSetup, kServiceAfterSetup, kServiceUpdate}) {
                const Site site{gauge.name, "", "gauge_callback, service id " + std::to_string(id)};
                session.probe(site, "variables at " + input.label, [&] { callback(gauge.live, id, 0); });
            }
        }
        session.host.clear_key_log();
        session.host.clear_service_log();
    }
    session.report.ran(Check::kHostileGaugeCalls, std::to_string(count) + " gauge callbacks, " +
                                                      std::to_string(inputs.size()) + " variable settings each");
}

// --- KV203: mouse handlers ------------------------------------------------------------------------

void check_mouse_handlers(Session& session) {
    const std::vector<Handler> all = handlers(session.records);
    const std::vector<int32_t> coordinates = extreme_coordinates();
    const std::vector<HostileValue> specials = special_values();
    static constexpr double kScales[] = {1.0, GaugeInstance::kMaxScale, 1.0 / GaugeInstance::kMaxScale};
    size_t calls = 0;
    for (const GaugeRecord& gauge : session.records.gauges) {
        if (!gauge.sound) continue;
        std::vector<const Handler*> own;
        for (const Handler& handler : all) {
            if (handler.gauge == &gauge) own.push_back(&handler);
        }
        if (own.empty()) continue;
        for (double scale : kScales) {
            GaugeInstance instance(session.host, session.module, gauge.live, scale);
            guarded(session, Site{gauge.name, "", "mouse"}, "set-up", [&] { instance.setup(); });
            size_t turn = 0;
            for (const Handler* handler : own) {
                const uint32_t flags[] = {handler->rect.mouse_flags, 0u, kMouseRepeat, kMouseDrag, 0xFFFFFFFFu};
                for (int32_t x : coordinates) {
                    for (int32_t y : coordinates) {
                        if (turn % 16 == 0) session.set_all_variables(specials[turn / 16 % specials.size()].bits);
                        call_handler(session, *handler, PIXPOINT{x, y}, flags[turn % std::size(flags)]);
                        ++turn;
                        ++calls;
                    }
                }
                std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
                std::uniform_int_distribution<int32_t> near(-200, 400);
                for (int i = 0; i < 40; ++i) {
                    const PIXPOINT point = i % 2 == 0 ? PIXPOINT{any(session.random), any(session.random)}
                                                      : PIXPOINT{near(session.random), near(session.random)};
                    call_handler(session, *handler, point, flags[static_cast<size_t>(i) % std::size(flags)]);
                    ++calls;
                }
            }
            // The same through the host's routing, at the ends of the range.
            guarded(session, Site{gauge.name, "", "mouse"}, "pointer actions at extreme positions", [&] {
                for (int32_t x : {INT32_MIN, -1, 0, INT32_MAX}) {
                    for (int32_t y : {INT32_MIN, -1, 0, INT32_MAX}) {
                        instance.press(x, y);
                        instance.move(y, x);
                        instance.repeat();
                        instance.release();
                    }
                }
            });
            session.host.clear_key_log();
            session.host.clear_service_log();
        }
    }
    // Every instance is gone: the handlers must still hold.
    check_mouse_before_setup(session);
    session.report.ran(Check::kHostilePoints,
                       std::to_string(all.size()) + " handlers, " + std::to_string(calls) + " calls");
}

// --- KV204: key-event routines --------------------------------------------------------------------

void check_key_routines(Session& session) {
    const std::vector<KeyEventRegistration> routines = session.host.key_event_handlers();
    if (routines.empty()) {
        session.report.skip(Check::kHostileKeyEvents, "the module registers no key-event routine");
        return;
    }
    std::vector<uint32_t> ids = {0u,     1u,     66586u,      66587u,      66588u,     66657u,
                                 66658u, 66659u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    for (int i = 0; i < 40; ++i) ids.push_back(static_cast<uint32_t>(session.random()));
    const uint32_t values[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, static_cast<uint32_t>(session.random())};
    size_t calls = 0;
    for (const KeyEventRegistration& routine : routines) {
        for (uint32_t id : ids) {
            for (uint32_t value : values) {
                for (uint32_t user : {routine.user_data, 0xFFFFFFFFu}) {
                    char input[64];
                    std::snprintf(input, sizeof input, "event %u, value %u, user data %u", id, value, user);
                    session.probe(Site{"", "", "key-event routine"}, input, [&] { routine.handler(id, value, user); });
                    ++calls;
                }
            }
            session.host.send_key_event(id, values[id % std::size(values)]);
        }
    }
    session.host.clear_key_log();
    session.host.clear_service_log();
    session.report.ran(Check::kHostileKeyEvents,
                       std::to_string(routines.size()) + " routine(s), " + std::to_string(calls) + " calls");
}

}  // namespace bench::validate
