#include "validate/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "frame/vocabulary.h"
#include "runtime/call_context.h"
#include "runtime/module_code.h"

namespace validate {

const char* kind_name(CallKind kind) {
    switch (kind) {
        case CallKind::kInstall: return "install";
        case CallKind::kValue: return "value";
        case CallKind::kGauge: return "gauge";
        case CallKind::kUpdate: return "update";
        case CallKind::kMouse: return "mouse";
        case CallKind::kPointer: return "pointer";
        case CallKind::kKey: return "key";
        case CallKind::kEvent: return "event";
    }
    return "?";
}

std::string variables_at(const HostileValue& value) { return "variables at " + value.label; }

// --- The variables ----------------------------------------------------------------------

HostileVariables::HostileVariables(runtime::Host& host, runtime::Module& module, const Records& records)
    : host_(host), module_(module) {
    const emulator::GuestMemory& memory = module.memory();
    for (const GaugeRecord& gauge : records.gauges) {
        for (const ElementRecord& element : gauge.elements) {
            for (const EmbeddedVariable& var : embedded_variables(element.type)) {
                const frame::GuestPtr<guest::MODULE_VAR> record(element.live.address + var.offset);
                if (!memory.readable(record.address, sizeof(guest::MODULE_VAR))) continue;
                const uint32_t token = memory.read(record).token;
                if (token != 0) tokens_.insert(token);
                if (gauge.sound) embedded_.push_back(record);
            }
        }
    }
}

void HostileVariables::set_all(uint64_t bits) {
    // Tokens only ever join the set, so a change of size is a change of content.
    if (slots_.size() != tokens_.size()) {
        slots_.clear();
        for (uint32_t token : tokens_) slots_.push_back(&host_.vars().slot(token));
    }
    // Bits, not doubles: a signalling NaN passed through an x87 register
    // would come out quiet.
    for (double* slot : slots_) std::memcpy(slot, &bits, sizeof bits);
    // As the host does: a variable without a token is never written. The
    // token is read on every call, since module code may write it.
    emulator::GuestMemory& memory = module_.memory();
    constexpr uint32_t kValue = offsetof(guest::MODULE_VAR, value);
    for (const frame::GuestPtr<guest::MODULE_VAR> record : embedded_) {
        if (!memory.writable(record.address, sizeof(guest::MODULE_VAR))) continue;
        if (memory.read(record).token != 0) memory.copy_in(record.address + kValue, &bits, sizeof bits);
    }
}

void HostileVariables::learn() {
    const emulator::GuestMemory& memory = module_.memory();
    for (const runtime::ServiceCall& call : host_.service_log()) {
        if (call.slot != service_slot::lookup_var && call.slot != service_slot::initialize_var) continue;
        const auto [var] = runtime::service_arguments<service_slot::lookup_var>(call.args);
        if (!memory.readable(var.address, sizeof(guest::MODULE_VAR))) continue;
        const uint32_t token = memory.read(var).token;
        if (token != 0) tokens_.insert(token);
    }
}

// --- The calls ----------------------------------------------------------------------------

struct Plan::ValueCall {
    const GaugeRecord* gauge = nullptr;
    const ElementRecord* element = nullptr;
    const char* field = "";
    uint32_t code = 0;
    bool limited = false;
    double lower = 0.0;
    double upper = 0.0;
};

struct Plan::HandlerCall {
    const GaugeRecord* gauge = nullptr;
    size_t record = 0;
    guest::MOUSERECT rect{};
};

namespace {

bool has_gauge_callback(const GaugeRecord& gauge, const emulator::GuestMemory& memory) {
    return gauge.version != kHeaderVersion800 && static_cast<bool>(memory.read(gauge.live).gauge_callback);
}

template <typename Record>
Record element_as(const emulator::GuestMemory& memory, const ElementRecord& element) {
    return memory.read(element.live.cast<Record>());
}

}  // namespace

Plan::Plan(runtime::Host& host, runtime::Module& module, const Records& records, const PlanOptions& options)
    : host_(host),
      module_(module),
      records_(records),
      options_(options),
      random_(options.seed),
      variables_(host, module, records) {
    collect_limits();
    std::erase_if(limits_, [](double limit) { return !std::isfinite(limit); });
    std::sort(limits_.begin(), limits_.end());
    limits_.erase(std::unique(limits_.begin(), limits_.end()), limits_.end());

    inputs_ = special_values();
    for (HostileValue& value : limit_neighbours(limits_)) inputs_.push_back(std::move(value));
    for (HostileValue& value :
         random_values(random_, static_cast<size_t>(std::max(options.random_values, 0)), limits_)) {
        inputs_.push_back(std::move(value));
    }

    // Every value callback and handler of the sound gauges, in table and
    // drawing order.
    for (const GaugeRecord& gauge : records.gauges) {
        if (!gauge.sound) continue;
        for (const ElementRecord& element : gauge.elements) add_value_calls(gauge, element);
        for (size_t i = 0; i < gauge.mouse.size(); ++i) {
            const guest::MOUSERECT& rect = gauge.mouse[i];
            if (rect.rect_type == kMouseChild && rect.handler) handlers_.push_back({&gauge, i, rect});
        }
    }
}

// The limits of every element's records, readable as the walk found them:
// the values either side of them are the hostile inputs most likely to
// find an edge the module forgot.
void Plan::collect_limits() {
    const emulator::GuestMemory& memory = module_.memory();
    for (const GaugeRecord& gauge : records_.gauges) {
        for (const ElementRecord& element : gauge.elements) {
            try {
                if (element.type == kNeedle) {
                    const auto& needle = element_as<guest::ELEMENT_NEEDLE>(memory, element);
                    if (needle.nonlinearity && needle.nonlinearity_size >= 2) {
                        const auto table = memory.read_array(needle.nonlinearity, needle.nonlinearity_size);
                        limits_.push_back(table.front().value);
                        limits_.push_back(table.back().value);
                    }
                } else if (element.type == kMovingImage) {
                    const auto& moving = element_as<guest::ELEMENT_MOVING_IMAGE>(memory, element);
                    limits_.insert(limits_.end(), {moving.min_x, moving.max_x, moving.min_y, moving.max_y});
                }
            } catch (const emulator::GuestFault&) {
                // A table out of the module's memory gives no limits (KV009 says so).
            }
        }
    }
}

// The value callbacks of one element, each with the range its records
// allow its result, where they give one.
void Plan::add_value_calls(const GaugeRecord& gauge, const ElementRecord& element) {
    const emulator::GuestMemory& memory = module_.memory();
    try {
        ValueCall base;
        base.gauge = &gauge;
        base.element = &element;
        auto add = [&](const char* field, uint32_t code) -> ValueCall* {
            if (code == 0) return nullptr;
            ValueCall call = base;
            call.field = field;
            call.code = code;
            values_.push_back(call);
            return &values_.back();
        };
        auto limit = [](ValueCall* call, double a, double b) {
            if (call == nullptr) return;
            call->limited = true;
            call->lower = std::min(a, b);
            call->upper = std::max(a, b);
        };
        switch (element.type) {
            case kNeedle: {
                const auto& needle = element_as<guest::ELEMENT_NEEDLE>(memory, element);
                ValueCall* call = add("update_callback", needle.update_callback.address);
                if (needle.nonlinearity && needle.nonlinearity_size >= 2) {
                    const auto table = memory.read_array(needle.nonlinearity, needle.nonlinearity_size);
                    limit(call, table.front().value, table.back().value);
                }
                break;
            }
            case kIcon: {
                const auto& icon = element_as<guest::ELEMENT_ICON>(memory, element);
                limit(add("callback", icon.callback.address), 0.0, icon.frame_count > 0 ? icon.frame_count - 1.0 : 0.0);
                break;
            }
            case kMovingImage: {
                const auto& moving = element_as<guest::ELEMENT_MOVING_IMAGE>(memory, element);
                ValueCall* x = add("callback_x", moving.callback_x.address);
                if (moving.min_x != moving.max_x) limit(x, moving.min_x, moving.max_x);
                ValueCall* y = add("callback_y", moving.callback_y.address);
                if (moving.min_y != moving.max_y) limit(y, moving.min_y, moving.max_y);
                break;
            }
            case kSprite: {
                const auto& sprite = element_as<guest::ELEMENT_SPRITE>(memory, element);
                add("callback_x", sprite.callback_x.address);
                add("callback_y", sprite.callback_y.address);
                add("callback_rotation", sprite.callback_rotation.address);
                break;
            }
            default: break;
        }
    } catch (const emulator::GuestFault&) {
        // The walk found the records of a sound gauge readable; a table
        // that is not gives its callback no limits.
    }
}

Plan::~Plan() = default;

size_t Plan::value_callbacks() const { return values_.size(); }
size_t Plan::handlers() const { return handlers_.size(); }

size_t Plan::gauge_callbacks() const {
    size_t count = 0;
    for (const GaugeRecord& gauge : records_.gauges) {
        if (gauge.sound && has_gauge_callback(gauge, module_.memory())) ++count;
    }
    return count;
}

void Plan::settle() {
    host_.clear_key_log();
    variables_.learn();
    host_.clear_service_log();
}

// One call: admitted, made, its fault kept, its effects left to the
// observer. Whether it was made and ended without a fault.
bool Plan::call(PlanObserver& observer, PlannedCall& planned, const std::function<void(CallOutcome&)>& make) {
    if (!observer.admit(planned)) return false;
    CallOutcome outcome;
    observer.before(planned);
    try {
        try {
            make(outcome);
        } catch (const runtime::ModuleFault& fault) {
            throw runtime::guest_fault(fault);  // a key-event routine's, as the host passed it on
        }
    } catch (const emulator::GuestFault& fault) {
        std::string where = planned.gauge != nullptr ? "gauge " + planned.gauge->name + ", " : std::string();
        if (planned.element != nullptr) where += planned.element->label + ", ";
        where += planned.field.empty() ? std::string(kind_name(planned.kind)) : planned.field;
        outcome.fault = runtime::fault_message(module_, where, fault);
        outcome.guest_fault = runtime::module_fault(fault);
    } catch (const std::exception& error) {
        // The host's own report of module code that faulted (GaugeFault), or
        // of records it could not use.
        outcome.fault = error.what();
    }
    ++calls_;
    observer.after(planned, outcome);
    settle();
    return !outcome.fault.has_value();
}

void Plan::install(PlanObserver& observer) {
    for (const GaugeRecord& gauge : records_.gauges) {
        if (!gauge.sound) continue;
        PlannedCall planned{.kind = CallKind::kInstall, .gauge = &gauge, .field = {}, .input = {}};
        std::unique_ptr<runtime::GaugeInstance> instance;
        const bool installed = call(observer, planned, [&](CallOutcome& outcome) {
            instance = std::make_unique<runtime::GaugeInstance>(host_, module_, gauge.live);
            outcome.instance = instance.get();
            instance->setup();
        });
        if (installed) panel_.emplace_back(&gauge, std::move(instance));
    }
}

void Plan::value_callbacks(PlanObserver& observer, const HostileValue& input) {
    for (const ValueCall& value : values_) {
        PlannedCall planned{.kind = CallKind::kValue,
                            .gauge = value.gauge,
                            .element = value.element,
                            .field = value.field,
                            .input = input.label,
                            .code = value.code,
                            .limited = value.limited,
                            .lower = value.lower,
                            .upper = value.upper};
        call(observer, planned, [&](CallOutcome& outcome) {
            const uint32_t args[] = {value.element->live.address};
            const std::string callback = runtime::element_callback_name(value.element->type, value.field);
            const runtime::CallScope scope(module_, value.gauge->name, callback);
            outcome.value = module_.machine().call_double(value.code, args, emulator::Convention::kStdcall);
        });
    }
}

void Plan::gauge_callbacks(PlanObserver& observer, const HostileValue& input) {
    for (const GaugeRecord& gauge : records_.gauges) {
        if (!gauge.sound || !has_gauge_callback(gauge, module_.memory())) continue;
        const uint32_t code = module_.memory().read(gauge.live).gauge_callback.address;
        for (uint32_t id : {kServiceSetup, kServiceAfterSetup, kServiceUpdate}) {
            PlannedCall planned{.kind = CallKind::kGauge,
                                .gauge = &gauge,
                                .field = runtime::gauge_callback_name(id),
                                .input = input.label,
                                .code = code};
            call(observer, planned, [&](CallOutcome&) {
                const uint32_t args[] = {gauge.live.address, id, 0};
                const runtime::CallScope scope(module_, gauge.name, planned.field);
                module_.machine().call(code, args, emulator::Convention::kStdcall);
            });
        }
    }
}

void Plan::updates(PlanObserver& observer, const HostileValue& input) {
    for (auto& [gauge, instance] : panel_) {
        PlannedCall planned{.kind = CallKind::kUpdate, .gauge = gauge, .field = {}, .input = input.label};
        runtime::GaugeInstance& held = *instance;
        call(observer, planned, [&](CallOutcome& outcome) {
            outcome.instance = &held;
            held.update();
        });
    }
}

namespace {

std::string point_input(int32_t x, int32_t y, uint32_t flags, const HostileValue& variables) {
    char text[80];
    std::snprintf(text, sizeof text, "(%d, %d) flags 0x%08X, ", x, y, flags);
    return text + variables_at(variables);
}

}  // namespace

void Plan::mouse_handlers(PlanObserver& observer) {
    const std::vector<int32_t> coordinates = extreme_coordinates();
    const std::vector<HostileValue> specials = special_values();
    if (!point_) point_ = frame::GuestPtr<guest::PIXPOINT>(module_.machine().allocate(sizeof(guest::PIXPOINT)));
    size_t turn = 0;
    auto handle = [&](const HandlerCall& handler, int32_t x, int32_t y, uint32_t flags) {
        // The variables move on every 16 calls, through every special value.
        const HostileValue& at = specials[turn / 16 % specials.size()];
        if (turn++ % 16 == 0) variables_.set_all(at.bits);
        PlannedCall planned{.kind = CallKind::kMouse,
                            .gauge = handler.gauge,
                            .field = "mouse_rects[" + std::to_string(handler.record) + "]",
                            .input = point_input(x, y, flags, at),
                            .code = handler.rect.handler.address};
        call(observer, planned, [&](CallOutcome& outcome) {
            module_.memory().write(point_) = guest::PIXPOINT{x, y};
            const uint32_t args[] = {point_.address, flags};
            const runtime::CallScope scope(module_, handler.gauge->name, runtime::kMouseHandler);
            outcome.result = static_cast<int32_t>(
                module_.machine().call(handler.rect.handler.address, args, emulator::Convention::kStdcall));
        });
    };
    for (const HandlerCall& handler : handlers_) {
        const uint32_t flags[] = {handler.rect.mouse_flags, 0u, kMouseClick, kMouseRepeat, kMouseDrag, 0xFFFFFFFFu};
        for (int32_t x : coordinates) {
            for (int32_t y : coordinates) {
                for (uint32_t f : flags) handle(handler, x, y, f);
            }
        }
        // Seeded points: anywhere at all, and around the gauge.
        for (int i = 0; i < options_.random_points; ++i) {
            int32_t x = 0, y = 0;
            if (i % 2 == 0) {
                x = static_cast<int32_t>(static_cast<uint32_t>(random_()));
                y = static_cast<int32_t>(static_cast<uint32_t>(random_()));
            } else {
                x = static_cast<int32_t>(random_() % 601) - 200;
                y = static_cast<int32_t>(random_() % 601) - 200;
            }
            handle(handler, x, y, flags[static_cast<size_t>(i) % std::size(flags)]);
        }
    }
}

void Plan::pointer_actions(PlanObserver& observer) {
    static constexpr std::pair<double, const char*> kScales[] = {
        {1.0, "scale 1"},
        {runtime::GaugeInstance::kMaxScale, "scale 16"},
        {1.0 / runtime::GaugeInstance::kMaxScale, "scale 1/16"}};
    static constexpr int32_t kEnds[] = {INT32_MIN, -1, 0, INT32_MAX};
    for (const GaugeRecord& gauge : records_.gauges) {
        if (!gauge.sound) continue;
        const bool boxes = std::any_of(gauge.mouse.begin(), gauge.mouse.end(),
                                       [](const guest::MOUSERECT& rect) { return rect.rect_type == kMouseChild; });
        if (!boxes) continue;
        for (const auto& [scale, field] : kScales) {
            std::unique_ptr<runtime::GaugeInstance> instance;
            for (int32_t x : kEnds) {
                for (int32_t y : kEnds) {
                    char input[48];
                    std::snprintf(input, sizeof input, "(%d, %d)", x, y);
                    PlannedCall planned{.kind = CallKind::kPointer, .gauge = &gauge, .field = field, .input = input};
                    call(observer, planned, [&](CallOutcome& outcome) {
                        if (instance == nullptr) {
                            instance = std::make_unique<runtime::GaugeInstance>(host_, module_, gauge.live, scale);
                        }
                        outcome.instance = instance.get();
                        instance->press(x, y);
                        instance->move(y, x);
                        instance->repeat();
                        instance->release();
                    });
                }
            }
            instance.reset();
        }
    }
}

void Plan::key_routines(PlanObserver& observer) {
    const std::vector<runtime::KeyEventRegistration> routines = host_.key_event_handlers();
    routines_ = routines.size();
    std::vector<uint32_t> ids = {0u,
                                 1u,
                                 sim::event::kAltimeterSetting,
                                 sim::event::kClockMinuteBack,
                                 sim::event::kClockMinuteOn,
                                 sim::event::kReleaseSequenceStart,
                                 sim::event::kBombReleased,
                                 0x7FFFFFFFu,
                                 0x80000000u,
                                 0xFFFFFFFFu};
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        ids.insert(ids.end(), {sim::event::throttle_set(engine), sim::event::propeller_set(engine),
                               sim::event::first_magneto_toggle(engine), sim::event::second_magneto_toggle(engine),
                               sim::event::engine_start(engine), sim::event::engine_start_alternate(engine)});
    }
    for (int i = 0; i < options_.random_events; ++i) ids.push_back(static_cast<uint32_t>(random_()));
    static constexpr uint32_t kValues[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};

    for (size_t r = 0; r < routines.size(); ++r) {
        const runtime::KeyEventRegistration& routine = routines[r];
        if (routine.module == nullptr || !routine.handler) continue;
        std::vector<uint32_t> users = {routine.user_data};
        if (routine.user_data != 0xFFFFFFFFu) users.push_back(0xFFFFFFFFu);
        for (uint32_t id : ids) {
            for (uint32_t value : kValues) {
                for (uint32_t user : users) {
                    char input[80];
                    std::snprintf(input, sizeof input, "event %u, value %u, user data %u", id, value, user);
                    PlannedCall planned{.kind = CallKind::kKey,
                                        .field = "routine " + std::to_string(r),
                                        .input = input,
                                        .code = routine.handler.address};
                    call(observer, planned, [&](CallOutcome&) {
                        const uint32_t args[] = {id, value, user};
                        const runtime::CallScope scope(*routine.module, runtime::KeyEvent{id, value});
                        routine.module->machine().call(routine.handler.address, args, emulator::Convention::kCdecl);
                    });
                }
            }
        }
    }
    // Each event through the host as well: its model, then every routine.
    for (uint32_t id : ids) {
        const uint32_t value = kValues[id % std::size(kValues)];
        char input[64];
        std::snprintf(input, sizeof input, "event %u, value %u", id, value);
        PlannedCall planned{.kind = CallKind::kEvent, .field = "host", .input = input};
        call(observer, planned, [&](CallOutcome&) { host_.send_key_event(id, value); });
    }
}

void Plan::run(PlanObserver& observer) {
    calls_ = 0;
    settle();
    install(observer);
    for (const HostileValue& input : inputs_) {
        variables_.set_all(input.bits);
        value_callbacks(observer, input);
        gauge_callbacks(observer, input);
        updates(observer, input);
    }
    mouse_handlers(observer);
    pointer_actions(observer);
    key_routines(observer);
    panel_.clear();
}

}  // namespace validate
