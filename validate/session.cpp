#include "validate/session.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "emulator/machine/emulated_machine.h"
#include "platform/text_input.h"
#include "runtime/call_context.h"

// The watch over every module call of a validation: the fault it raised,
// told by kind, and what it left behind (allocations, resources, the
// floating-point control state, services the host does not serve).
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
        return report_failure(report, memo, module, site, input, std::make_exception_ptr(runtime::guest_fault(fault)),
                              fallback, instructions);
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

uint32_t Session::call(std::string_view gauge, std::string_view callback, uint32_t code,
                       std::initializer_list<uint32_t> args) {
    const runtime::CallScope scope(module, gauge, callback);
    return module.machine().call(code, std::span<const uint32_t>(args.begin(), args.size()),
                                 emulator::Convention::kStdcall);
}

}  // namespace validate
