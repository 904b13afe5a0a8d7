#include "emulator/pe/pe_module.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/text_input.h"

namespace emulator {
namespace {

constexpr uint32_t kPageBytes = EmulatedMachine::kPageSize;
constexpr uint32_t kProcessAttach = 1;
constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kMaxTlsCallbacks = 256;

uint32_t pages(uint64_t bytes) { return static_cast<uint32_t>((bytes + kPageBytes - 1) / kPageBytes); }

uint8_t protection_of(const PeSection& section) {
    uint8_t protection = 0;
    if (section.characteristics & (pe::kSectionRead | pe::kSectionWrite | pe::kSectionExecute))
        protection |= EmulatedMachine::kRead;
    if (section.characteristics & pe::kSectionWrite) protection |= EmulatedMachine::kWrite;
    if (section.characteristics & pe::kSectionExecute) protection |= EmulatedMachine::kExecute;
    return protection;
}

// The image's 32-bit field at `rva`, whatever the module may do there.
uint32_t get32(const EmulatedMachine& machine, uint32_t base, uint32_t rva) {
    uint8_t bytes[4];
    machine.peek(base + rva, bytes);
    uint32_t value = 0;
    std::memcpy(&value, bytes, 4);
    return value;
}

void put32(EmulatedMachine& machine, uint32_t base, uint32_t rva, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    machine.load(base + rva, bytes);
}

// An export of the image mapped at `base`, by name or "#ordinal".
std::optional<uint32_t> export_of(const PeImage& image, uint32_t base, std::string_view name) {
    if (name.starts_with('#')) {
        uint32_t ordinal = 0;
        const auto [end, error] = std::from_chars(name.data() + 1, name.data() + name.size(), ordinal);
        if (error != std::errc() || end != name.data() + name.size() || ordinal > 0xFFFF) return std::nullopt;
        const auto found = image.export_ordinals().find(static_cast<uint16_t>(ordinal));
        if (found == image.export_ordinals().end()) return std::nullopt;
        return base + found->second;
    }
    const auto found = image.export_rvas().find(name);
    if (found == image.export_rvas().end()) return std::nullopt;
    return base + found->second;
}

// "OTHER.name" as {"OTHER.dll", "name"}: Windows names the DLL of a
// forwarder without its extension, and the function after the last dot.
std::optional<std::pair<std::string, std::string>> forwarder_of(const PeImage& image, std::string_view name) {
    const auto found = image.export_forwarders().find(name);
    if (found == image.export_forwarders().end()) return std::nullopt;
    const std::string& target = found->second;
    const size_t dot = target.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == target.size()) return std::nullopt;
    return std::pair{target.substr(0, dot) + ".dll", target.substr(dot + 1)};
}

}  // namespace

std::unique_ptr<PeModule> PeModule::load(EmulatedMachine& machine, ImportResolver& resolver, const std::string& path) {
    std::shared_ptr<const PeImage> image;
    try {
        image = std::make_shared<const PeImage>(PeImage::read_file(path));
    } catch (const PeError& error) {
        throw LoadError(error.what());
    }
    return load_image(machine, resolver, std::move(image), path);
}

std::unique_ptr<PeModule> PeModule::load(EmulatedMachine& machine, ImportResolver& resolver, std::vector<uint8_t> bytes,
                                         const std::string& name) {
    std::shared_ptr<const PeImage> image;
    try {
        image = std::make_shared<const PeImage>(PeImage::parse(std::move(bytes), name));
    } catch (const PeError& error) {
        throw LoadError(error.what());
    }
    return load_image(machine, resolver, std::move(image), name);
}

// The loader's steps in the order Windows takes them (sections, page
// protection, relocations, imports, thread-local storage, attach), each on
// the state the one before left; kept in one piece, marked step by step, so
// that order, which modules rely on, reads from top to bottom.
std::unique_ptr<PeModule> PeModule::load_image(EmulatedMachine& machine, ImportResolver& resolver,
                                               std::shared_ptr<const PeImage> image, const std::string& name) {
    const PeImage& pe = *image;
    const auto fail = [&name](const std::string& what) { throw LoadError(name + ": " + what); };
    if (pe.machine() != pe::kMachineI386) {
        char machine_id[8];
        std::snprintf(machine_id, sizeof machine_id, "0x%04X", pe.machine());
        fail(std::string("built for machine ") + machine_id + ", not i386 (0x014C)");
    }
    if (!pe.is_dll()) fail("not a DLL");
    const std::string file = platform::file_name_of(name);

    std::unique_ptr<PeModule> module(new PeModule);
    module->machine_ = &machine;
    module->path_ = name;
    module->image_ = image;
    module->image_size_ = pages(pe.size_of_image()) * kPageBytes;

    if (module->image_size_ > machine.memory_room()) {
        fail("its image of " + std::to_string(module->image_size_ >> 20) + " MiB (SizeOfImage) is more than the " +
             std::to_string(machine.memory_room() >> 20) + " MiB of memory a module may still have");
    }
    // Where it wants to be, else wherever its relocations allow.
    const uint32_t base = machine.reserve(module->image_size_, pe.image_base());
    if (base != pe.image_base() && (!pe.relocatable() || (pe.characteristics() & pe::kRelocationsStripped) != 0)) {
        machine.unmap(base, module->image_size_);
        fail("its base " + hex(pe.image_base()) + " is taken and it carries no base relocations to move it");
    }
    machine.map(base, module->image_size_, EmulatedMachine::kRead, "headers of " + file);
    module->base_ = base;

    // The file's bytes where they belong; the rest of each section is zero.
    const std::span<const uint8_t> bytes = pe.file();
    machine.load(base, bytes.first(std::min<size_t>(pe.size_of_headers(), bytes.size())));
    for (const PeSection& section : pe.sections()) {
        if (section.raw_size != 0)
            machine.load(base + section.virtual_address, bytes.subspan(section.raw_offset, section.raw_size));
    }

    // Each page's protection: the headers read-only, a section's pages as
    // its flags say, the more permissive where sections share a page.
    const uint32_t page_count = module->image_size_ / kPageBytes;
    std::vector<uint8_t> protection(page_count, 0);
    std::vector<std::string> label(page_count);
    const auto mark = [&](uint64_t from, uint64_t to, uint8_t access, const std::string& part) {
        for (uint32_t page = static_cast<uint32_t>(from / kPageBytes); page < pages(to) && page < page_count; ++page) {
            protection[page] |= access;
            if (label[page].empty()) {
                label[page] = part;
            } else if (label[page].find(part) == std::string::npos) {
                label[page] += ", " + part;
            }
        }
    };
    mark(0, std::max<uint32_t>(pe.size_of_headers(), 1), EmulatedMachine::kRead, "headers");
    for (const PeSection& section : pe.sections()) {
        if (section.virtual_size == 0) continue;
        mark(section.virtual_address, uint64_t{section.virtual_address} + section.virtual_size, protection_of(section),
             section.name.empty() ? "a nameless section" : section.name);
    }
    for (uint32_t first = 0; first < page_count;) {
        uint32_t end = first + 1;
        while (end < page_count && protection[end] == protection[first] && label[end] == label[first]) ++end;
        const std::string part = label[first].empty() ? "pages no section holds" : label[first];
        machine.protect(base + first * kPageBytes, (end - first) * kPageBytes, protection[first], part + " of " + file);
        first = end;
    }

    // Base relocations, where it moved.
    const uint32_t delta = base - pe.image_base();
    if (delta != 0) {
        for (const PeRelocation& relocation : pe.relocations()) {
            if (relocation.type != pe::kRelocationHighLow) {
                fail("base relocation of type " + std::to_string(relocation.type) + " at RVA " + hex(relocation.rva) +
                     ": only HIGHLOW (3) is supported");
            }
            put32(machine, base, relocation.rva, get32(machine, base, relocation.rva) + delta);
        }
    }

    // Known to the resolver before its imports are bound: a DLL they load
    // may import it back. The lookup holds the image, not the module, so
    // that a resolver that keeps it past the module finds nothing amiss.
    resolver.module_mapped(file, base, module->image_size_,
                           [image, base, resolver = &resolver](std::string_view wanted) -> std::optional<uint32_t> {
                               if (const auto address = export_of(*image, base, wanted)) return address;
                               if (const auto target = forwarder_of(*image, wanted))
                                   return resolver->resolve(target->first, target->second);
                               return std::nullopt;
                           });
    module->resolver_ = &resolver;

    // Imports: each cell gets the resolver's address, or a trap naming it.
    for (const PeImportDll& dll : pe.imports()) {
        for (const PeImportFunction& function : dll.functions) {
            Import import{dll.dll, function.name, base + function.iat_rva, false};
            std::optional<uint32_t> address = resolver.resolve(dll.dll, function.name);
            import.bound = address.has_value();
            put32(machine, base, function.iat_rva, address ? *address : resolver.trap(dll.dll, function.name, {}));
            module->imports_.push_back(std::move(import));
        }
    }

    // Thread-local storage: the block from its template, its index where the
    // module looks for it, then the callbacks.
    if (pe.tls()) {
        const PeTls& tls = *pe.tls();
        const auto rva = [&pe](uint32_t address) { return address - pe.image_base(); };
        const uint32_t template_size = tls.raw_data_end - tls.raw_data_start;
        const uint32_t alignment_field = (tls.characteristics >> 20) & 0xF;
        const uint32_t alignment = alignment_field == 0 ? 1 : 1u << (alignment_field - 1);
        const uint32_t extra = alignment > 8 ? alignment : 0;
        uint32_t block = 0;
        try {
            block = machine.allocate(template_size + tls.zero_fill + extra);
        } catch (const std::bad_alloc&) {
            fail("no host memory left for its TLS block");
        }
        block = (block + alignment - 1) / alignment * alignment;
        if (template_size != 0) {
            std::vector<uint8_t> initial(template_size);
            machine.peek(base + rva(tls.raw_data_start), initial);
            machine.memory().copy_in(block, initial.data(), template_size);
        }
        const std::optional<uint32_t> index = machine.allocate_tls_index();
        if (!index) fail("no TLS index left");
        module->tls_index_ = index;
        machine.set_tls_slot(*index, block);
        if (tls.index_address != 0) put32(machine, base, rva(tls.index_address), *index);
        if (tls.callbacks_address != 0) {
            for (uint32_t at = rva(tls.callbacks_address);
                 at + 4 <= module->image_size_ && module->tls_callbacks_.size() < kMaxTlsCallbacks; at += 4) {
                const uint32_t callback = get32(machine, base, at);
                if (callback == 0) break;
                module->tls_callbacks_.push_back(callback);
            }
        }
    }

    // DLL_PROCESS_ATTACH: the TLS callbacks, then the entry routine. One
    // that faults leaves the module unattached (no detach call); one that
    // returns FALSE gets its detach call, as Windows gives it.
    const uint32_t attach[] = {base, kProcessAttach, 0};
    for (const uint32_t callback : module->tls_callbacks_) machine.call(callback, attach, Convention::kStdcall);
    uint32_t accepted = 1;
    if (pe.entry_point() != 0) {
        module->entry_ = base + pe.entry_point();
        accepted = machine.call(module->entry_, attach, Convention::kStdcall);
    }
    module->attached_ = true;
    if (accepted == 0) fail("entry routine refused to load (returned FALSE)");
    return module;
}

PeModule::~PeModule() {
    if (machine_ == nullptr) return;
    if (attached_) {
        const uint32_t detach[] = {base_, kProcessDetach, 0};
        try {
            if (entry_ != 0) machine_->call(entry_, detach, Convention::kStdcall);
        } catch (...) {}
        for (const uint32_t callback : tls_callbacks_) {
            try {
                machine_->call(callback, detach, Convention::kStdcall);
            } catch (...) {}
        }
    }
    if (resolver_ != nullptr) {
        try {
            resolver_->module_unmapped(base_);
        } catch (...) {}
    }
    if (tls_index_) {
        try {
            machine_->set_tls_slot(*tls_index_, 0);
        } catch (...) {}
        machine_->release_tls_index(*tls_index_);
    }
    if (base_ != 0) {
        try {
            machine_->unmap(base_, image_size_);
        } catch (...) {}
    }
}

std::optional<uint32_t> PeModule::export_address(std::string_view name) const {
    return export_of(*image_, base_, name);
}

std::optional<std::pair<std::string, std::string>> PeModule::forwarder(std::string_view name) const {
    return forwarder_of(*image_, name);
}

}  // namespace emulator
