#include "runtime/module.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/text_input.h"
#include "runtime/call_context.h"
#include "runtime/host.h"
#include "runtime/module_code.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// A gauge table longer than this is taken for one without its terminator.
constexpr size_t kMaxGauges = 1024;

[[noreturn]] void fail(const std::string& path, const std::string& reason,
                       ModuleError::Kind kind = ModuleError::Kind::kFile) {
    throw ModuleError(path + ": " + reason, kind);
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The instruction a fault names: its own, or for a fault in a Windows
// function or a service, the module's call of it (whose return address the
// fault carries, the line of the call lying just before it).
std::optional<uint32_t> faulting_code(const std::exception& fault) {
    uint32_t pc = 0;
    if (const auto* guest = dynamic_cast<const emulator::GuestFault*>(&fault)) {
        pc = guest->pc();
    } else if (const auto* module = dynamic_cast<const ModuleFault*>(&fault)) {
        pc = module->pc();
    }
    if (pc == 0) return std::nullopt;
    const bool returns_there =
        std::string_view(fault.what()).find("called from " + emulator::hex(pc)) != std::string_view::npos;
    return returns_there ? pc - 1 : pc;
}

}  // namespace

std::string source_text(const SourcePlace& place) {
    std::string text = place.file.empty() ? "" : place.file + ":" + std::to_string(place.line);
    if (!place.function.empty()) text += (text.empty() ? "in " : ", in ") + place.function;
    return text;
}

std::string fault_message(const Module& module, const std::string& where, const std::exception& fault) {
    std::string text = fault.what();
    std::optional<SourcePlace> place;
    if (const std::optional<uint32_t> code = faulting_code(fault)) place = module.code().source_place(*code);
    if (place) {
        // A fault passed on through another call of the same module names its place already.
        const std::string said = " (" + source_text(*place) + ")";
        if (!text.ends_with(said)) text += said;
    }
    if (Trace* trace = module.host().trace()) {
        trace->fault(module, text,
                     place && !place->file.empty() ? place->file + ":" + std::to_string(place->line) : "");
    }
    return base_name(module.path()) + ": " + where + ": " + text;
}

ModuleResources Module::read_resources(const std::string& resource_path) {
    if (!file_exists(resource_path)) {
        fail(resource_path, "bitmap resource file not found", ModuleError::Kind::kResources);
    }
    try {
        return std::make_shared<const emulator::PeImage>(emulator::PeImage::read_file(resource_path));
    } catch (const emulator::PeError& error) {
        throw ModuleError(std::string("bitmap resources unreadable: ") + error.what(), ModuleError::Kind::kResources);
    }
}

Module::Module(Host& host, const std::string& path, const std::string& resource_path)
    : Module(host, path, resource_path.empty() ? nullptr : read_resources(resource_path)) {}

Module::Module(Host& host, const std::string& path, ModuleResources resources)
    : host_(host), path_(path), resources_(std::move(resources)) {
    if (!file_exists(path)) fail(path, "file not found");
    code_ = load_module_code(
        path, [&host](const std::optional<std::string>& window_class, const std::optional<std::string>& title) {
            return host.has_window(window_class, title);
        });
    if (!resources_) resources_ = code_->own_resources();
    emulator::GuestMemory& mem = memory();

    const std::optional<uint32_t> linkage = code_->export_address("Linkage");
    if (!linkage) fail(path, "no exported Linkage", ModuleError::Kind::kExports);
    const std::optional<uint32_t> import_table = code_->export_address("ImportTable");
    if (!import_table) fail(path, "no exported ImportTable", ModuleError::Kind::kExports);

    check_import_table(*import_table);
    read_gauge_table(*linkage);

    build_service_table();
    const guest::ModuleRoutine init = mem.read(linkage_).module_init;
    if (init) {
        try {
            const CallScope scope(*this, {}, "module_init");
            machine().call(init.address, {}, emulator::Convention::kStdcall);
        } catch (const emulator::GuestFault& fault) {
            throw ModuleError(fault_message(*this, "module_init", fault), ModuleError::Kind::kCode);
        }
    }
}

// The table the host writes its services into: where it must be, and how
// it must start and end.
void Module::check_import_table(uint32_t address) {
    emulator::GuestMemory& mem = memory();
    import_table_ = GuestPtr<guest::IMPORT_TABLE>(address);
    if (const std::optional<uint32_t> extent = code_->record_extent(import_table_.address);
        extent && *extent < sizeof(guest::IMPORT_TABLE)) {
        fail(path_, "ImportTable too small", ModuleError::Kind::kExports);
    }
    if (!mem.writable(import_table_.address, sizeof(guest::IMPORT_TABLE))) {
        fail(path_, "ImportTable does not lie in the module's writable memory", ModuleError::Kind::kExports);
    }
    const guest::IMPORT_TABLE& imports = mem.read(import_table_);
    if (imports.panels_id != kImportPanelsId) {
        fail(path_,
             "ImportTable does not start with the service table entry 0x0F (found " +
                 std::to_string(imports.panels_id) + ")",
             ModuleError::Kind::kExports);
    }
    if (imports.end_id != 0 || imports.end_pointer) {
        fail(path_, "ImportTable lacks its (0, null) end", ModuleError::Kind::kExports);
    }
}

// The gauges the module offers, up to the table's null end.
void Module::read_gauge_table(uint32_t address) {
    emulator::GuestMemory& mem = memory();
    linkage_ = GuestPtr<guest::LINKAGE_HEADER>(address);
    // The record reaches no further than its section (or symbol): a table
    // without its null there is refused, whatever lies beyond.
    const std::optional<uint32_t> extent = code_->record_extent(linkage_.address);
    const uint64_t header_and_end = sizeof(guest::LINKAGE_HEADER) + sizeof(GaugePtr);
    if (!mem.readable(linkage_.address, sizeof(guest::LINKAGE_HEADER)) || (extent && *extent < header_and_end)) {
        fail(path_, "Linkage too small", ModuleError::Kind::kExports);
    }
    // The id tells the host the Linkage is a gauge module's: one with
    // another is refused before any of its records are believed.
    if (const uint32_t id = mem.read(linkage_).module_id; id != kModuleId) {
        char text[96];
        std::snprintf(text, sizeof text, "Linkage.module_id is 0x%X, the host expects 0x%X", id, kModuleId);
        fail(path_, text, ModuleError::Kind::kExports);
    }
    uint32_t slots = kMaxGauges + 1;
    if (extent) slots = std::min<uint32_t>(slots, (*extent - sizeof(guest::LINKAGE_HEADER)) / sizeof(GaugePtr));
    const GuestPtr<const GaugePtr> table(linkage_.address + sizeof(guest::LINKAGE_HEADER));
    for (uint32_t i = 0;; ++i) {
        if (i == slots || !mem.readable(table.at(i).address, sizeof(GaugePtr))) {
            fail(path_, "gauge table without its null end", ModuleError::Kind::kGaugeTable);
        }
        const GaugePtr gauge = mem.read(table.at(i));
        if (!gauge) break;
        gauges_.push_back(gauge);
    }
}

emulator::Machine& Module::machine() const { return code_->machine(); }

emulator::GuestMemory& Module::memory() const { return code_->machine().memory(); }

std::vector<std::string> Module::unbound_imports() const { return code_->unbound_imports(); }

std::vector<ModuleLibrary> Module::libraries() const { return code_->libraries(); }

uint64_t Module::instructions() const { return instructions_run(code_->machine()); }

uint64_t Module::emulator_entries() const { return runtime::emulator_entries(code_->machine()); }

uint64_t Module::allocations() const { return code_->allocations(); }

uint64_t Module::own_bitmap_bytes() const {
    uint64_t bytes = 0;
    if (const std::shared_ptr<const emulator::PeImage> own = code_->own_resources()) {
        for (const auto& [id, bitmap] : own->bitmaps()) bytes += bitmap.dib().size();
    }
    return bytes;
}

std::vector<std::string> Module::budget_warnings() const {
    std::vector<std::string> warnings;
    const std::optional<emulator::ResourceUse> use = code_->resources();
    if (!use) return warnings;
    for (const emulator::BudgetInfo& info : emulator::kBudgets) {
        const uint64_t refused = use->refused[static_cast<size_t>(info.budget)];
        if (refused == 0) continue;
        warnings.push_back(path_ + ": " + platform::thousands(refused) + (refused == 1 ? " call" : " calls") +
                           " of its code refused past its budget of " + platform::thousands(info.limit) + " " +
                           info.label);
    }
    return warnings;
}

Module::~Module() {
    host_.forget(*this);
    try {
        const guest::ModuleRoutine deinit = memory().read(linkage_).module_deinit;
        const CallScope scope(*this, {}, "module_deinit");
        if (deinit) machine().call(deinit.address, {}, emulator::Convention::kStdcall);
    } catch (const std::exception&) {
        // The module is going whatever its deinit did.
    }
}

// Every slot holds a routine: the served ones dispatch to the host, the
// others log the slot as unexpected, so a module calling a service it should
// not is caught with the slot it used.
void Module::build_service_table() {
    emulator::Machine& m = machine();
    const uint32_t table = m.allocate(4 * kPanelsSlotCount);
    for (uint32_t slot = 0; slot < kPanelsSlotCount; ++slot) {
        const ServiceShape* shape = service_shape(slot);
        uint32_t routine = 0;
        if (shape != nullptr) {
            routine = m.host_routine(shape->name, shape->words, emulator::Convention::kStdcall,
                                     [this, slot](std::span<const uint32_t> args) {
                                         host_.serve(*this, slot, args);
                                         return 0u;
                                     });
        } else {
            routine = m.host_routine("unused service " + std::to_string(slot), 0, emulator::Convention::kStdcall,
                                     [this, slot](std::span<const uint32_t>) {
                                         host_.record_unexpected(slot);
                                         return 0u;
                                     });
        }
        memory().write(GuestPtr<uint32_t>(table + 4 * slot)) = routine;
    }
    panels_ = GuestPtr<guest::PANELS>(table);
    memory().write(import_table_).panels = panels_;
}

GaugePtr Module::gauge(std::string_view name) const {
    for (GaugePtr gauge : gauges_) {
        if (gauge_name(gauge) == name) return gauge;
    }
    return nullptr;
}

std::string Module::gauge_name(GaugePtr gauge) const {
    try {
        const GuestPtr<const char> name = memory().read(gauge).gauge_name;
        return name ? memory().read_string(name, 256) : std::string();
    } catch (const emulator::GuestFault&) {
        return {};
    }
}

std::optional<Bitmap> Module::bitmap(uint32_t resource_id) const {
    if (auto it = overrides_.find(resource_id); it != overrides_.end()) return it->second;
    if (!resources_) return std::nullopt;
    const auto& bitmaps = resources_->bitmaps();
    if (auto it = bitmaps.find(resource_id); it != bitmaps.end()) return it->second;
    return std::nullopt;
}

void Module::override_bitmap_size(uint32_t resource_id, uint32_t width, uint32_t height) {
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bits_per_pixel = 8;
    overrides_[resource_id] = std::move(bitmap);
}

void Module::override_bitmap(uint32_t resource_id, Bitmap bitmap) { overrides_[resource_id] = std::move(bitmap); }

}  // namespace runtime
