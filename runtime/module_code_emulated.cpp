// The bench host's modules: the PE file itself, run in the emulator with the
// Windows functions gauge modules import.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "emulator/pe/dwarf_lines.h"
#include "emulator/machine/emulated_machine.h"
#include "emulator/gdb/gdb_stub.h"
#include "emulator/pe/pe_dependencies.h"
#include "emulator/pe/pe_module.h"
#include "emulator/win32/win32_environment.h"
#include "platform/text_input.h"
#include "runtime/call_context.h"
#include "runtime/coverage.h"
#include "runtime/coverage_report.h"
#include "runtime/debugging.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// The one debugger of the process and the module it debugs.
struct DebuggerState {
    std::unique_ptr<emulator::gdb::Stub> stub;
    NextConnection next_connection;  // where its debuggers come from
    std::string module;              // the file name; empty until the first module is loaded
    // Where the debugged module lies in each machine running it, and its
    // source lines (read once, when a stop first asks).
    std::map<const emulator::DebugTarget*, std::pair<std::string, uint32_t>> loaded;
    std::map<std::string, std::optional<emulator::DebugLines>> lines;
    std::function<void(const std::string&)> stopped;
    std::function<void()> resumed;
    std::set<std::string> seen;  // every module file loaded, for a --gdb-module that named none of them
    bool adopted = false;
};
DebuggerState& debugger_state() {
    static DebuggerState state;
    return state;
}

std::string file_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Where the DLLs a module imports are looked for after its own folder:
// GAUGEBENCH_DLL_PATH's folders (separated by ':'; set empty: none), else
// the MinGW run-time's on this machine. Read once.
const std::vector<std::string>& dll_folders() {
    static const std::vector<std::string> folders = [] {
        const char* set = std::getenv("GAUGEBENCH_DLL_PATH");
        if (set == nullptr) return emulator::mingw_dll_folders();
        std::vector<std::string> named;
        std::string_view rest(set);
        while (!rest.empty()) {
            const size_t colon = rest.find(':');
            const std::string_view folder = rest.substr(0, colon);
            if (!folder.empty()) named.emplace_back(folder);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        return named;
    }();
    return folders;
}

// The source line and function of the code at `rva`, where the line table or the symbols say.
std::optional<SourcePlace> place_of(const emulator::DebugLines& lines, uint32_t rva) {
    SourcePlace place;
    if (const emulator::FunctionSymbol* function = lines.function_at(rva)) {
        // "probe_callback", not "(anonymous namespace)::probe_callback(GAUGEHDR*, ...)".
        std::string_view name = function->name;
        constexpr std::string_view kAnonymous = "(anonymous namespace)::";
        if (name.starts_with(kAnonymous)) name.remove_prefix(kAnonymous.size());
        place.function = std::string(name.substr(0, name.find('(')));
    }
    if (const auto at = lines.location(rva)) {
        place.file = std::filesystem::path(lines.files()[at->file]).filename().string();
        place.line = at->line;
    }
    if (place.file.empty() && place.function.empty()) return std::nullopt;
    return place;
}

// A module file's line table and symbols, or none where they do not read.
std::optional<emulator::DebugLines> read_lines(const emulator::PeImage& image, const std::string& path) {
    try {
        return emulator::DebugLines::read(image, path);
    } catch (const std::exception&) {
        return std::nullopt;  // no lines to name: the address says where
    }
}

// "Korvane!Altimeter, gauge_callback (update), at 0x10001234 (.text of Korvane.gau)".
std::string describe_stop(emulator::DebugTarget& machine, uint32_t pc) {
    std::string where;
    if (const CallContext* call = current_call(); call != nullptr && call->module != nullptr) {
        where = std::filesystem::path(call->module->path()).stem().string();
        if (!call->gauge.empty()) where += "!" + std::string(call->gauge);
        where += ", " + callback_text(*call) + ", ";
    }
    char address[16];
    std::snprintf(address, sizeof address, "0x%08x", pc);
    DebuggerState& state = debugger_state();
    const auto loaded = state.loaded.find(&machine);
    if (loaded != state.loaded.end()) {
        const auto& [path, base] = loaded->second;
        auto known = state.lines.find(path);
        if (known == state.lines.end()) {
            std::optional<emulator::DebugLines> read;
            try {
                read = read_lines(emulator::PeImage::read_file(path), path);
            } catch (const std::exception&) {
                // The file went since it was loaded: the address says where.
            }
            known = state.lines.emplace(path, std::move(read)).first;
        }
        if (known->second) {
            if (const std::optional<SourcePlace> place = place_of(*known->second, pc - base);
                place && place->line != 0) {
                return where + (place->function.empty() ? "" : place->function + ", ") + place->file + ":" +
                       std::to_string(place->line);
            }
        }
    }
    return where + "at " + address + " (" + machine.describe(pc) + ")";
}

// Blocks run in each module's own image, by its file: rva -> the block.
class EmulatedCode;
struct CoverageState {
    bool on = false;
    std::map<std::string, std::map<uint32_t, ExecutedBlock>> blocks;  // of the modules gone
    std::vector<const EmulatedCode*> loaded;                          // counted as asked
};
CoverageState& coverage_state() {
    static CoverageState state;
    return state;
}

// Passes everything to the environment, noting where modules were mapped:
// the debugger places each one's symbols there.
class MappedModules : public emulator::ImportResolver {
public:
    explicit MappedModules(emulator::ImportResolver& inner) : inner_(inner) {}
    std::optional<uint32_t> resolve(std::string_view dll, std::string_view name) override {
        return inner_.resolve(dll, name);
    }
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view why) override {
        return inner_.trap(dll, name, why);
    }
    bool provides(std::string_view dll) const override { return inner_.provides(dll); }
    void module_mapped(const std::string& name, uint32_t base, uint32_t size,
                       std::function<std::optional<uint32_t>(std::string_view)> exports) override {
        bases.emplace_back(name, base);
        if (mapped) mapped(name, base);
        inner_.module_mapped(name, base, size, std::move(exports));
    }
    void module_unmapped(uint32_t base) override {
        std::erase_if(bases, [&](const auto& mapped) { return mapped.second == base; });
        inner_.module_unmapped(base);
    }
    std::vector<std::pair<std::string, uint32_t>> bases;
    std::function<void(const std::string& name, uint32_t base)> mapped;

private:
    emulator::ImportResolver& inner_;
};

class EmulatedCode : public ModuleCode {
public:
    EmulatedCode(const std::string& path, WindowQuery windows) : environment_(machine_) {
        environment_.set_window_query(std::move(windows));
        // The Windows calls go to the trace of the call they are made in.
        environment_.set_call_observer(
            [](const std::string& function, const emulator::Win32Environment::CallArguments& arguments) {
                const CallContext* call = current_call();
                if (call == nullptr || call->module == nullptr) return;
                if (Trace* trace = call->module->host().trace()) trace->win32(function, arguments);
            });
        machine_.count_blocks(coverage_state().on);
        DebuggerState& debugging = debugger_state();
        bool debugged = false;
        if (debugging.stub) {
            if (debugging.module.empty()) debugging.module = file_name(path);
            debugging.seen.insert(file_name(path));
            debugged = platform::same_name(file_name(path), debugging.module);
            debugging.adopted = debugging.adopted || debugged;
        }
        const std::string full = std::filesystem::absolute(path).string();
        if (debugged) debugging.stub->adopt(machine_, [this, full] { return libraries(full); });
        mapped_.mapped = [this, full, debugged](const std::string& name, uint32_t base) {
            if (name != file_name(full)) return;
            own_base_ = base;
            if (debugged) debugger_state().loaded[&machine_] = {full, base};
        };
        try {
            module_ = dlls_.load(path);
        } catch (const emulator::LoadError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emulator::PeError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emulator::GuestFault& fault) {
            std::string text = fault.what();
            if (own_base_ != 0 && fault.pc() != 0) {
                std::optional<emulator::DebugLines> lines;
                try {
                    lines = read_lines(emulator::PeImage::read_file(path), path);
                } catch (const std::exception&) {
                    // Unreadable now: the address says where.
                }
                if (lines) {
                    if (const std::optional<SourcePlace> place = place_of(*lines, fault.pc() - own_base_))
                        text += " (" + source_text(*place) + ")";
                }
            }
            throw ModuleError(path + ": entry routine: " + text, ModuleError::Kind::kCode);
        }
        if (coverage_state().on) coverage_state().loaded.push_back(this);
    }

    ~EmulatedCode() override {
        if (coverage_state().on) {
            if (module_) keep_coverage(coverage_state().blocks);
            std::erase(coverage_state().loaded, this);
        }
    }
    EmulatedCode(const EmulatedCode&) = delete;
    EmulatedCode& operator=(const EmulatedCode&) = delete;

    emulator::Machine& machine() override { return machine_; }
    std::optional<uint32_t> export_address(std::string_view name) const override {
        return module_->export_address(name);
    }
    std::optional<uint32_t> record_extent(uint32_t address) const override {
        const uint32_t rva = address - module_->base();
        for (const emulator::PeSection& section : module_->image()->sections()) {
            if (rva >= section.virtual_address && rva - section.virtual_address < section.virtual_size) {
                return section.virtual_address + section.virtual_size - rva;
            }
        }
        return std::nullopt;
    }
    std::vector<CodeSection> sections() const override {
        std::vector<CodeSection> out;
        for (const emulator::PeSection& section : module_->image()->sections()) {
            const uint64_t begin = uint64_t{module_->base()} + section.virtual_address;
            const uint64_t end = std::min<uint64_t>(begin + section.virtual_size, UINT32_MAX);
            out.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(end),
                           (section.characteristics & (emulator::pe::kSectionCode | emulator::pe::kSectionExecute)) != 0});
        }
        return out;
    }
    std::shared_ptr<const emulator::PeImage> own_resources() const override { return module_->image(); }
    std::vector<ModuleLibrary> libraries() const override {
        std::vector<ModuleLibrary> out;
        for (const emulator::DependentDll& dll : dlls_.loaded()) out.push_back({dll.path, dll.imported_by});
        return out;
    }
    std::vector<std::string> unbound_imports() const override {
        std::vector<std::string> names;
        for (const emulator::Import& import : module_->imports()) {
            if (!import.bound) names.push_back(import.dll + "!" + import.name);
        }
        return names;
    }
    std::vector<std::pair<std::string, uint64_t>> import_calls() const override {
        return {environment_.calls().begin(), environment_.calls().end()};
    }
    uint64_t allocations() const override { return environment_.allocations(); }
    std::optional<emulator::ResourceUse> resources() const override { return environment_.resources(); }
    std::optional<SourcePlace> source_place(uint32_t address) const override {
        const uint32_t rva = address - module_->base();
        if (rva >= module_->image()->size_of_image()) return std::nullopt;
        // Read once, when a fault first asks, from the image the module was loaded from.
        std::call_once(lines_read_, [this] { lines_ = read_lines(*module_->image(), module_->path()); });
        return lines_ ? place_of(*lines_, rva) : std::nullopt;
    }

private:
public:
    // Adds the blocks module code ran in the module's own image to `blocks`, by its file.
    void keep_coverage(std::map<std::string, std::map<uint32_t, ExecutedBlock>>& blocks) const noexcept {
        try {
            auto& kept = blocks[std::filesystem::absolute(module_->path()).string()];
            const uint32_t base = module_->base(), size = module_->image()->size_of_image();
            for (const emulator::EmulatedMachine::BlockCount& count : machine_.block_counts()) {
                if (count.address - base >= size) continue;
                ExecutedBlock& block = kept[count.address - base];
                block.rva = count.address - base;
                block.size = std::max(block.size, count.size);
                block.hits += count.runs;
            }
        } catch (...) {
            // What a module ran is not worth failing its unloading for.
        }
    }

private:
    std::vector<emulator::gdb::Library> libraries(const std::string& full) const {
        std::vector<emulator::gdb::Library> out;
        const std::vector<emulator::DependentDll> dlls = dlls_.loaded();
        for (const auto& [name, base] : mapped_.bases) {
            // The module's own file, or a DLL loaded for it; a name alone
            // for one still loading.
            std::string path = name == file_name(full) ? full : name;
            for (const emulator::DependentDll& dll : dlls) {
                if (file_name(dll.path) == name) path = dll.path;
            }
            uint32_t first = 0x1000;
            try {
                const emulator::PeImage image = emulator::PeImage::read_file(path);
                if (!image.sections().empty()) first = image.sections().front().virtual_address;
            } catch (const std::exception&) {
                // The file changed since: its sections' usual place.
            }
            out.push_back({path, base + first});
        }
        return out;
    }

    // Declared in this order: the module is unloaded before the environment
    // and the machine it runs in go.
    emulator::EmulatedMachine machine_;
    // Where the debugger finds the module goes with the machine, also when
    // loading fails.
    struct Unlisted {
        const emulator::EmulatedMachine* machine;
        ~Unlisted() { debugger_state().loaded.erase(machine); }
    } unlisted_{&machine_};
    emulator::Win32Environment environment_;
    MappedModules mapped_{environment_};
    emulator::DependentDlls dlls_{machine_, mapped_, dll_folders()};
    std::unique_ptr<emulator::PeModule> module_;
    uint32_t own_base_ = 0;  // where the module was mapped, once it was
    mutable std::once_flag lines_read_;
    mutable std::optional<emulator::DebugLines> lines_;
};

}  // namespace

void make_stub(const std::string& module, std::function<void(const std::string& line)> say,
               NextConnection next_connection) {
    DebuggerState& state = debugger_state();
    state.stub = std::make_unique<emulator::gdb::Stub>();
    state.module = module;
    state.next_connection = std::move(next_connection);
    state.stub->next_connection = [&state] { return state.next_connection(0); };
    state.stub->say = std::move(say);
    state.stub->describe = describe_stop;
    state.stub->on_stop = [&state](const std::string& where) {
        if (state.stopped) state.stopped(where);
    };
    state.stub->on_resume = [&state] {
        if (state.resumed) state.resumed();
    };
}

bool wait_for_debugger() {
    DebuggerState& state = debugger_state();
    // How long a wait looks away from the program's own end.
    constexpr int kPollMs = 100;
    while (!state.stub->attached()) {
        if (emulator::EmulatedMachine::calls_stopping()) return false;
        state.stub->connect(state.next_connection(kPollMs));
    }
    return true;
}

bool debugger_started() { return debugger_state().stub != nullptr; }

void end_debugger(int status) {
    DebuggerState& state = debugger_state();
    if (!state.stub) return;
    if (!state.adopted && !state.module.empty() && state.stub->say) {
        std::string loaded;
        for (const std::string& name : state.seen) loaded += (loaded.empty() ? "" : ", ") + name;
        state.stub->say("warning: --gdb-module " + state.module + ": no module of that name was loaded" +
                        (loaded.empty() ? std::string(" (none was)") : " (loaded: " + loaded + ")") +
                        ", so the debugger saw no module code");
    }
    state.stub->end(status);
}

void observe_debugger(std::function<void(const std::string& where)> stopped, std::function<void()> resumed) {
    debugger_state().stopped = std::move(stopped);
    debugger_state().resumed = std::move(resumed);
}

void start_coverage() { coverage_state().on = true; }

std::string coverage_tracefile(const std::string& test_name, const SourceFilter& filter,
                               std::vector<std::string>& warnings, CoverageSummary& summary) {
    std::vector<ModuleCoverage> modules;
    auto all = coverage_state().blocks;
    for (const EmulatedCode* code : coverage_state().loaded) code->keep_coverage(all);
    for (const auto& [path, blocks] : all) {
        ModuleCoverage module;
        module.file = path;
        try {
            module.code = read_code_map(path, warnings);
        } catch (const std::exception& error) {
            // Replaced or removed since it ran: the others are still worth reporting.
            warnings.push_back(std::string(error.what()) + ": left out of the coverage report");
            continue;
        }
        for (const auto& [rva, block] : blocks) module.blocks.push_back(block);
        choose_sources(module, filter, summary.sources);
        modules.push_back(std::move(module));
    }
    if (modules.empty() && !all.empty()) throw std::runtime_error("no module's coverage could be reported");
    return lcov_tracefile(test_name, modules, warnings, &summary.totals);
}

void stop_all_module_calls() { emulator::EmulatedMachine::stop_all_calls(); }

void run_module_calls_together(void (*work)(void*), void* context) {
    emulator::EmulatedMachine::run_batched(work, context);
}

uint64_t instructions_run(const emulator::Machine& machine) {
    const auto* emulated = dynamic_cast<const emulator::EmulatedMachine*>(&machine);
    return emulated != nullptr ? emulated->instructions() : 0;
}

uint64_t emulator_entries(const emulator::Machine& machine) {
    const auto* emulated = dynamic_cast<const emulator::EmulatedMachine*>(&machine);
    return emulated != nullptr ? emulated->engine_starts() : 0;
}

std::unique_ptr<ModuleCode> load_module_code(const std::string& path, WindowQuery windows) {
    return std::make_unique<EmulatedCode>(path, std::move(windows));
}

}  // namespace runtime
