// diffdrive: drives a gauge module with the validator's hostile inputs, in a
// fixed order from a fixed seed, and writes what comes back to a file, one
// line per call, every number as its bits. Built in both trees, the Linux
// twin and the real PE give the same file exactly when they behave alike;
// tests/diff/compare.sh runs both and names the first lines that differ.
//
//   diffdrive <Module.gau> -o <results.txt> [--pe <Module.gau>] [--seed N] [--random N]
//
// A line: kind, gauge, element or field, input, then the results:
//   value     a value callback's return
//   gauge     a gauge callback with a service id: key events, services, variables
//   mouse     a mouse handler: its return, key events, services, variables
//   key       a key-event routine: key events, services, variables
//   update    the host's update of an installed gauge: each element's state
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/host_calculator.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/validate/hostile.h"
#include "host/validate/module_memory.h"
#include "host/validate/records.h"

namespace {

using bench::validate::from_bits;
using bench::validate::HostileValue;
using bench::validate::to_bits;

struct Options {
    std::string module;
    std::string pe;
    std::string output;
    uint64_t seed = 0x4B6F7276616E65ull;
    int random = 48;
};

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr,
                 "diffdrive: %s\nusage: diffdrive <Module.gau> -o <results.txt> [--pe <Module.gau>] [--seed N] "
                 "[--random N]\n",
                 problem.c_str());
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(arg + " needs a value");
            return argv[++i];
        };
        const auto number = [&](unsigned long long max) {
            const std::string text = value();
            char* end = nullptr;
            const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
            if (text.empty() || *end != '\0' || text[0] == '-' || n > max)
                usage(arg + " takes a whole number up to " + std::to_string(max) + ", not '" + text + "'");
            return n;
        };
        if (arg == "-o") {
            options.output = value();
        } else if (arg == "--pe") {
            options.pe = value();
        } else if (arg == "--seed") {
            options.seed = number(UINT64_MAX);
        } else if (arg == "--random") {
            options.random = static_cast<int>(number(100000));
        } else if (!arg.empty() && arg[0] == '-') {
            usage("unknown option " + arg);
        } else if (options.module.empty()) {
            options.module = arg;
        } else {
            usage("one module only: '" + arg + "'");
        }
    }
    if (options.module.empty()) usage("no module given");
    if (options.output.empty()) usage("no result file given (-o)");
    return options;
}

std::string hex(double value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIX64, to_bits(value));
    return text;
}

class Driver {
public:
    Driver(bench::Host& host, bench::Module& module, std::FILE* out, uint64_t seed)
        : host_(host), module_(module), out_(out), random_(seed) {
        memory_ = bench::validate::ModuleMemory::of(module.linkage());
        records_ = bench::validate::read_records(module, memory_, nullptr, false);
        for (const auto& gauge : records_.gauges) {
            for (const auto& element : gauge.elements) {
                for (const auto& var : bench::validate::embedded_variables(element.type)) {
                    if (variable(element, var.offset)->token != 0) tokens_.insert(variable(element, var.offset)->token);
                }
                if (element.type == kNeedle) {
                    const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(element.live);
                    if (needle->nonlinearity != nullptr && needle->nonlinearity_size >= 2) {
                        limits_.push_back(needle->nonlinearity[0].value);
                        limits_.push_back(needle->nonlinearity[needle->nonlinearity_size - 1].value);
                    }
                }
            }
        }
        std::sort(limits_.begin(), limits_.end());
        limits_.erase(std::unique(limits_.begin(), limits_.end()), limits_.end());
    }

    void run(int random_count) {
        std::fprintf(out_, "# diffdrive: %zu gauges, %zu tokens, %zu limits\n", records_.gauges.size(), tokens_.size(),
                     limits_.size());
        // Installed gauges first, so that callbacks find their set-up done.
        std::vector<std::pair<const bench::validate::GaugeRecord*, std::unique_ptr<bench::GaugeInstance>>> panel;
        for (const auto& gauge : records_.gauges) {
            if (!gauge.sound) continue;
            guarded("install " + gauge.name, [&] {
                panel.emplace_back(&gauge, std::make_unique<bench::GaugeInstance>(host_, module_, gauge.live));
                panel.back().second->setup();
            });
        }
        learn_tokens();

        std::vector<HostileValue> inputs = bench::validate::special_values();
        for (auto& v : bench::validate::limit_neighbours(limits_)) inputs.push_back(std::move(v));
        for (auto& v : bench::validate::random_values(random_, static_cast<size_t>(random_count), limits_))
            inputs.push_back(std::move(v));

        for (const HostileValue& input : inputs) {
            set_all_variables(input.bits);
            settle();
            value_callbacks(input);
            gauge_callbacks(input);
            for (auto& [gauge, instance] : panel) update(*gauge, *instance, input);
        }
        mouse_handlers();
        key_routines();
        panel.clear();
    }

private:
    static MODULE_VAR* variable(const bench::validate::ElementRecord& element, size_t offset) {
        return reinterpret_cast<MODULE_VAR*>(reinterpret_cast<char*>(element.live) + offset);
    }

    template <typename Operation>
    void guarded(const std::string& what, Operation&& operation) {
        try {
            operation();
        } catch (const std::exception& error) {
            std::fprintf(out_, "error\t%s\t%s\n", what.c_str(), error.what());
        }
    }

    void set_all_variables(uint64_t bits) {
        for (uint32_t token : tokens_) host_.vars().set(token, from_bits(bits));
        for (const auto& gauge : records_.gauges) {
            if (!gauge.sound) continue;
            for (const auto& element : gauge.elements) {
                for (const auto& var : bench::validate::embedded_variables(element.type)) {
                    MODULE_VAR* record = variable(element, var.offset);
                    if (record->token != 0) std::memcpy(&record->value, &bits, sizeof bits);
                }
            }
        }
    }

    void learn_tokens() {
        for (const bench::ServiceCall& call : host_.service_log()) {
            if (call.slot != service_slot::lookup_var && call.slot != service_slot::initialize_var) continue;
            if (const auto var = memory_.read<MODULE_VAR>(call.args[0]); var && var->token != 0)
                tokens_.insert(var->token);
        }
        settle();
    }

    // What a call left in the host: key events, service numbers, variables.
    std::string effects() {
        std::string text = "keys";
        char item[48];
        for (const bench::KeyEvent& key : host_.key_log()) {
            std::snprintf(item, sizeof item, " %u=%u", key.id, key.value);
            text += item;
        }
        text += "\tservices";
        for (const bench::ServiceCall& call : host_.service_log()) {
            std::snprintf(item, sizeof item, " %u", call.slot);
            text += item;
        }
        text += "\tvars";
        // Tokens the call changed (by bits: NaNs included); names are few, all.
        for (const auto& [token, value] : host_.vars().tokens()) {
            const auto before = before_.find(token);
            if (before != before_.end() && to_bits(before->second) == to_bits(value)) continue;
            std::snprintf(item, sizeof item, " %u=%016" PRIX64, token, to_bits(value));
            text += item;
        }
        for (const auto& [name, value] : host_.vars().names()) {
            std::snprintf(item, sizeof item, "=%016" PRIX64, to_bits(value));
            text += ' ';
            text += name;
            text += item;
        }
        settle();
        return text;
    }

    void settle() {
        host_.clear_key_log();
        host_.clear_service_log();
        before_ = host_.vars().tokens();
    }

    void value_callbacks(const HostileValue& input) {
        for (const auto& gauge : records_.gauges) {
            if (!gauge.sound) continue;
            for (const auto& element : gauge.elements) {
                ELEMENT_HEADER* live = element.live;
                const auto line = [&](const char* field, double result) {
                    std::fprintf(out_, "value\t%s\t%s %s\t%s\t%s\n", gauge.name.c_str(), element.label.c_str(), field,
                                 input.label.c_str(), hex(result).c_str());
                };
                switch (element.type) {
                    case kNeedle: {
                        auto* needle = reinterpret_cast<ELEMENT_NEEDLE*>(live);
                        if (needle->update_callback) line("update_callback", needle->update_callback(needle));
                        break;
                    }
                    case kIcon: {
                        auto* icon = reinterpret_cast<ELEMENT_ICON*>(live);
                        if (icon->callback) line("callback", icon->callback(icon));
                        break;
                    }
                    case kMovingImage: {
                        auto* moving = reinterpret_cast<ELEMENT_MOVING_IMAGE*>(live);
                        if (moving->callback_x) line("callback_x", moving->callback_x(moving));
                        if (moving->callback_y) line("callback_y", moving->callback_y(moving));
                        break;
                    }
                    case kSprite: {
                        auto* sprite = reinterpret_cast<ELEMENT_SPRITE*>(live);
                        if (sprite->callback_x) line("callback_x", sprite->callback_x(sprite));
                        if (sprite->callback_y) line("callback_y", sprite->callback_y(sprite));
                        if (sprite->callback_rotation) line("callback_rotation", sprite->callback_rotation(sprite));
                        break;
                    }
                    default: break;
                }
            }
        }
        settle();
    }

    void gauge_callbacks(const HostileValue& input) {
        for (const auto& gauge : records_.gauges) {
            if (!gauge.sound || gauge.version == kHeaderVersion800 || gauge.live->gauge_callback == nullptr) continue;
            for (uint32_t id : {kServiceSetup, kServiceAfterSetup, kServiceUpdate}) {
                gauge.live->gauge_callback(gauge.live, id, 0);
                std::fprintf(out_, "gauge\t%s\tservice %u\t%s\t%s\n", gauge.name.c_str(), id, input.label.c_str(),
                             effects().c_str());
            }
        }
    }

    void update(const bench::validate::GaugeRecord& gauge, bench::GaugeInstance& instance, const HostileValue& input) {
        guarded("update " + gauge.name, [&] { instance.update(); });
        for (size_t i = 0; i < instance.elements().size() && i < gauge.elements.size(); ++i) {
            const bench::ElementState& s = instance.elements()[i];
            std::fprintf(out_, "update\t%s\t%s\t%s\t%d %u %u %s %s %s %s %s %s %s %s %s %s %s\n", gauge.name.c_str(),
                         gauge.elements[i].label.c_str(), input.label.c_str(), s.visible ? 1 : 0, s.resource_id,
                         s.frame, hex(s.value).c_str(), hex(s.angle).c_str(), hex(s.x).c_str(), hex(s.y).c_str(),
                         hex(s.offset_x).c_str(), hex(s.offset_y).c_str(), hex(s.fraction_x).c_str(),
                         hex(s.fraction_y).c_str(), hex(s.shift_x).c_str(), hex(s.shift_y).c_str(),
                         hex(s.rotation).c_str());
        }
        settle();
    }

    void mouse_handlers() {
        const std::vector<int32_t> coordinates = bench::validate::extreme_coordinates();
        const std::vector<HostileValue> specials = bench::validate::special_values();
        size_t turn = 0;
        for (const auto& gauge : records_.gauges) {
            if (!gauge.sound) continue;
            for (size_t r = 0; r < gauge.mouse.size(); ++r) {
                const MOUSERECT& rect = gauge.mouse[r];
                if (rect.rect_type != kMouseChild || rect.handler == nullptr) continue;
                const uint32_t flags[] = {rect.mouse_flags, 0u, kMouseRepeat, kMouseDrag, 0xFFFFFFFFu};
                for (int32_t x : coordinates) {
                    for (int32_t y : coordinates) {
                        const HostileValue& at = specials[turn / 16 % specials.size()];
                        if (turn % 16 == 0) {
                            set_all_variables(at.bits);
                            settle();
                        }
                        const uint32_t flag = flags[turn++ % std::size(flags)];
                        PIXPOINT point{x, y};
                        const int result = rect.handler(&point, flag);
                        std::fprintf(out_,
                                     "mouse\t%s\tmouse_rects[%zu]\t(%d, %d) flags 0x%08X, variables at %s\t%d\t%s\n",
                                     gauge.name.c_str(), r, x, y, flag, at.label.c_str(), result, effects().c_str());
                    }
                }
            }
        }
    }

    void key_routines() {
        const std::vector<bench::KeyEventRegistration> routines = host_.key_event_handlers();
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
        for (int i = 0; i < 16; ++i) ids.push_back(static_cast<uint32_t>(random_()));
        for (size_t r = 0; r < routines.size(); ++r) {
            for (uint32_t id : ids) {
                for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
                    routines[r].handler(id, value, routines[r].user_data);
                    std::fprintf(out_, "key\troutine %zu\tevent %u\tvalue %u\t%s\n", r, id, value, effects().c_str());
                }
            }
        }
    }

    bench::Host& host_;
    bench::Module& module_;
    std::FILE* out_;
    std::mt19937_64 random_;
    bench::validate::ModuleMemory memory_;
    bench::validate::Records records_;
    std::set<uint32_t> tokens_;
    std::vector<double> limits_;
    std::map<uint32_t, double> before_;  // the tokens when the call began
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::FILE* out = std::fopen(options.output.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "diffdrive: %s: cannot be written\n", options.output.c_str());
        return 1;
    }
    int status = 0;
    try {
        bench::Host host;
        bench::HostCalculator calculator(host);
        bench::Module module(host, options.module, options.pe);
        std::fprintf(out, "# seed %" PRIu64 ", %d random inputs\n", options.seed, options.random);
        Driver(host, module, out, options.seed).run(options.random);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "diffdrive: %s\n", error.what());
        status = 1;
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "diffdrive: %s: cannot be written\n", options.output.c_str());
        status = 1;
    }
    return status;
}
