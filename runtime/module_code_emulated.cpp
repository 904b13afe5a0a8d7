// The bench host's modules: the PE file itself, run in the emulator with the
// Windows functions gauge modules import.
#include <algorithm>
#include <memory>

#include "emulator/emulated_machine.h"
#include "emulator/pe_module.h"
#include "emulator/win32_environment.h"
#include "runtime/module_code.h"

namespace runtime {
namespace {

class EmulatedCode : public ModuleCode {
public:
    EmulatedCode(const std::string& path, WindowQuery windows) : environment_(machine_) {
        environment_.set_window_query(std::move(windows));
        try {
            module_ = emulator::PeModule::load(machine_, environment_, path);
        } catch (const emulator::LoadError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emulator::PeError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emulator::GuestFault& fault) {
            throw ModuleError(path + ": entry routine: " + fault.what(), ModuleError::Kind::kCode);
        }
    }

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
                           (section.characteristics & (emulator::kSectionCode | emulator::kSectionExecute)) != 0});
        }
        return out;
    }
    std::shared_ptr<const emulator::PeImage> own_resources() const override { return module_->image(); }
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

private:
    // Declared in this order: the module is unloaded before the environment
    // and the machine it runs in go.
    emulator::EmulatedMachine machine_;
    emulator::Win32Environment environment_;
    std::unique_ptr<emulator::PeModule> module_;
};

}  // namespace

void stop_all_module_calls() { emulator::EmulatedMachine::stop_all_calls(); }

uint64_t instructions_run(const emulator::Machine& machine) {
    const auto* emulated = dynamic_cast<const emulator::EmulatedMachine*>(&machine);
    return emulated != nullptr ? emulated->instructions() : 0;
}

std::unique_ptr<ModuleCode> load_module_code(const std::string& path, WindowQuery windows) {
    return std::make_unique<EmulatedCode>(path, std::move(windows));
}

}  // namespace runtime
