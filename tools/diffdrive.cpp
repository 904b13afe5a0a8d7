// diffdrive: drives a gauge module with the plan of hostile inputs
// (validate/plan.h, the validator's own), in a fixed order from a fixed
// seed, and writes what comes back to a file, one line per call (an update:
// one per element), every number as its bits. Built in both trees: the
// bench host's runs the PE in its emulator, the twin's runs the i386 twin in
// its process; the two files are equal exactly when the two behave alike
// (tests/diff/compare.sh compares them and names the first lines that
// differ). The number of calls made goes to stderr at the end.
//
//   diffdrive <Module.gau> -o <results.txt> [--pe <Module.gau>] [--seed N] [--random N]
//
// --pe names the PE file whose bitmaps the module carries (the twin carries
// none: give it the PE so that both sides know the same sizes).
//
// A line, tab-separated: kind, gauge ("-" for none), element or field ("-"
// for none), input, then the results:
//   install   the host's set-up of a gauge: "ok", or "fault"
//   value     a value callback's return
//   gauge     a gauge callback with a service id: key events, services, variables
//   update    the host's update of an installed gauge, one line per element: its state
//   mouse     a mouse handler: its return, key events, services, variables
//   pointer   the host's pointer actions at the ends of the range: key events, services, variables
//   key       a key-event routine: key events, services, variables
//   event     an event sent through the host: key events, services, variables
// A call that faulted gives "fault" for its results (the fault's address
// differs between the trees; that it faulted does not). NaNs are written
// quiet (see hex()).
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <string>

#include "runtime/host.h"
#include "runtime/host_calculator.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "validate/hostile.h"
#include "validate/plan.h"
#include "validate/records.h"

namespace {

using validate::CallKind;
using validate::CallOutcome;
using validate::PlannedCall;
using validate::to_bits;

struct Options {
    std::string module;
    std::string pe;
    std::string output;
    uint64_t seed = validate::kPlanSeed;
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

// A double's bits, a signalling NaN's with its quiet bit set: the twin's
// host, on x87, quietens one wherever it passes a double through a register
// (an icon without a callback shows its variable so), the bench host's
// does not; module code on x87 quietens them alike in both trees.
std::string hex(double value) {
    uint64_t bits = to_bits(value);
    constexpr uint64_t kExponent = 0x7FF0000000000000ull;
    constexpr uint64_t kFraction = 0x000FFFFFFFFFFFFFull;
    if ((bits & kExponent) == kExponent && (bits & kFraction) != 0) bits |= 1ull << 51;
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIX64, bits);
    return text;
}

class Writer : public validate::PlanObserver {
public:
    Writer(runtime::Host& host, std::FILE* out) : host_(host), out_(out) {}

    void before(const PlannedCall&) override { before_ = host_.vars().tokens(); }

    void after(const PlannedCall& call, const CallOutcome& outcome) override {
        const std::string gauge = call.gauge != nullptr ? call.gauge->name : "-";
        std::string field = call.field.empty() ? "-" : call.field;
        if (call.element != nullptr) field = call.element->label + " " + call.field;
        const char* kind = validate::kind_name(call.kind);
        const std::string input = call.input.empty() ? "-" : call.input;
        if (outcome.fault) {
            std::fprintf(out_, "%s\t%s\t%s\t%s\tfault\n", kind, gauge.c_str(), field.c_str(), input.c_str());
            return;
        }
        switch (call.kind) {
            case CallKind::kInstall:
                std::fprintf(out_, "%s\t%s\t%s\t%s\tok\n", kind, gauge.c_str(), field.c_str(), input.c_str());
                break;
            case CallKind::kValue:
                std::fprintf(out_, "%s\t%s\t%s\t%s\t%s\n", kind, gauge.c_str(), field.c_str(), input.c_str(),
                             hex(outcome.value).c_str());
                break;
            case CallKind::kUpdate: update(call, outcome, input); break;
            case CallKind::kMouse:
                std::fprintf(out_, "%s\t%s\t%s\t%s\t%d\t%s\n", kind, gauge.c_str(), field.c_str(), input.c_str(),
                             outcome.result, effects().c_str());
                break;
            case CallKind::kGauge:
            case CallKind::kPointer:
            case CallKind::kKey:
            case CallKind::kEvent:
                std::fprintf(out_, "%s\t%s\t%s\t%s\t%s\n", kind, gauge.c_str(), field.c_str(), input.c_str(),
                             effects().c_str());
                break;
        }
    }

private:
    void update(const PlannedCall& call, const CallOutcome& outcome, const std::string& input) {
        const runtime::GaugeInstance& instance = *outcome.instance;
        const auto& elements = call.gauge->elements;
        for (size_t i = 0; i < instance.elements().size() && i < elements.size(); ++i) {
            const runtime::ElementState& s = instance.elements()[i];
            std::fprintf(out_, "update\t%s\t%s\t%s\t%d %u %u %s %s %s %s %s %s %s %s %s %s %s\n",
                         call.gauge->name.c_str(), elements[i].label.c_str(), input.c_str(), s.visible ? 1 : 0,
                         s.resource_id, s.frame, hex(s.value).c_str(), hex(s.angle).c_str(), hex(s.x).c_str(),
                         hex(s.y).c_str(), hex(s.offset_x).c_str(), hex(s.offset_y).c_str(), hex(s.fraction_x).c_str(),
                         hex(s.fraction_y).c_str(), hex(s.shift_x).c_str(), hex(s.shift_y).c_str(),
                         hex(s.rotation).c_str());
        }
    }

    // What a call left in the host: key events, service numbers, variables.
    std::string effects() const {
        std::string text = "keys";
        char item[48];
        for (const runtime::KeyEvent& key : host_.key_log()) {
            std::snprintf(item, sizeof item, " %u=%u", key.id, key.value);
            text += item;
        }
        text += "\tservices";
        for (const runtime::ServiceCall& call : host_.service_log()) {
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
        return text;
    }

    runtime::Host& host_;
    std::FILE* out_;
    std::map<uint32_t, double> before_;  // the tokens when the call began
};

// The twin runs its module code in this process: with the x87 control word
// each call in the emulator (and on Windows) starts with, 53-bit precision,
// so that both round alike.
void windows_x87_state() {
#if defined(__i386__)
    const uint16_t control = 0x027F;
    asm volatile("fldcw %0" : : "m"(control));
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::FILE* out = std::fopen(options.output.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "diffdrive: %s: cannot be written\n", options.output.c_str());
        return 1;
    }
    windows_x87_state();
    int status = 0;
    size_t calls = 0;
    try {
        runtime::Host host;
        runtime::HostCalculator calculator(host);
        runtime::Module module(host, options.module, options.pe);
        const validate::Records records = validate::read_records(module, nullptr, false);
        validate::PlanOptions plan_options;
        plan_options.seed = options.seed;
        plan_options.random_values = options.random;
        validate::Plan plan(host, module, records, plan_options);
        std::fprintf(out, "# seed %" PRIu64 ", %d random inputs\n", options.seed, options.random);
        std::fprintf(out, "# diffdrive: %zu gauges, %zu tokens, %zu limits\n", records.gauges.size(),
                     plan.variables().tokens().size(), plan.limits().size());
        Writer writer(host, out);
        plan.run(writer);
        calls = plan.calls();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "diffdrive: %s\n", error.what());
        status = 1;
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "diffdrive: %s: cannot be written\n", options.output.c_str());
        status = 1;
    }
    std::fprintf(stderr, "diffdrive: %zu calls\n", calls);
    return status;
}
