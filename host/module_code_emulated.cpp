// The bench host's modules: the PE file itself, run in the emulator with the
// Windows functions gauge modules import.
#include <algorithm>
#include <memory>

#include "host/emulator/emulated_machine.h"
#include "host/emulator/pe_module.h"
#include "host/emulator/win32_environment.h"
#include "host/module_code.h"

namespace bench {
namespace {

class EmulatedCode : public ModuleCode {
public:
    EmulatedCode(const std::string& path, WindowQuery windows) : environment_(machine_) {
        environment_.set_window_query(std::move(windows));
        try {
            module_ = emu::PeModule::load(machine_, environment_, path);
        } catch (const emu::LoadError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emu::PeError& error) {
            throw ModuleError(error.what(), ModuleError::Kind::kFile);
        } catch (const emu::GuestFault& fault) {
            throw ModuleError(path + ": entry routine: " + fault.what(), ModuleError::Kind::kCode);
        }
    }

    emu::Machine& machine() override { return machine_; }
    std::optional<uint32_t> export_address(std::string_view name) const override {
        return module_->export_address(name);
    }
    std::optional<uint32_t> record_extent(uint32_t address) const override {
        const uint32_t rva = address - module_->base();
        for (const emu::PeSection& section : module_->image()->sections()) {
            if (rva >= section.virtual_address && rva - section.virtual_address < section.virtual_size) {
                return section.virtual_address + section.virtual_size - rva;
            }
        }
        return std::nullopt;
    }
    std::vector<CodeSection> sections() const override {
        std::vector<CodeSection> out;
        for (const emu::PeSection& section : module_->image()->sections()) {
            const uint64_t begin = uint64_t{module_->base()} + section.virtual_address;
            const uint64_t end = std::min<uint64_t>(begin + section.virtual_size, UINT32_MAX);
            out.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(end),
                           (section.characteristics & (emu::kSectionCode | emu::kSectionExecute)) != 0});
        }
        return out;
    }
    std::shared_ptr<const emu::PeImage> own_resources() const override { return module_->image(); }
    std::vector<std::string> unbound_imports() const override {
        std::vector<std::string> names;
        for (const emu::Import& import : module_->imports()) {
            if (!import.bound) names.push_back(import.dll + "!" + import.name);
        }
        return names;
    }
    std::vector<std::pair<std::string, uint64_t>> import_calls() const override {
        return {environment_.calls().begin(), environment_.calls().end()};
    }
    uint64_t allocations() const override { return environment_.allocations(); }
    std::optional<emu::ResourceUse> resources() const override { return environment_.resources(); }

private:
    // Declared in this order: the module is unloaded before the environment
    // and the machine it runs in go.
    emu::EmulatedMachine machine_;
    emu::Win32Environment environment_;
    std::unique_ptr<emu::PeModule> module_;
};

}  // namespace

void stop_all_module_calls() { emu::EmulatedMachine::stop_all_calls(); }

uint64_t instructions_run(const emu::Machine& machine) {
    const auto* emulated = dynamic_cast<const emu::EmulatedMachine*>(&machine);
    return emulated != nullptr ? emulated->instructions() : 0;
}

std::unique_ptr<ModuleCode> load_module_code(const std::string& path, WindowQuery windows) {
    return std::make_unique<EmulatedCode>(path, std::move(windows));
}

}  // namespace bench
