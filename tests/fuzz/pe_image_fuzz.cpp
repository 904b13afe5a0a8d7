// PE modules: parse, list exports, imports and bitmap resources, decode every
// bitmap. Any file gives an image or PeError; every bitmap gives a picture or
// DibError, and one the reader accepted as plain rows of a depth the decoder
// knows decodes. Then the loader: the file loaded as a DLL into an emulated
// machine whose every import traps gives a module, or LoadError, PeError or
// GuestFault (its TLS callbacks or entry routine run, and may fault or call
// an import).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_image.h"
#include "emulator/pe/pe_module.h"
#include "runtime/dib.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Binds nothing: each import is a trap that stops the call naming it.
class TrapEveryImport : public emulator::ImportResolver {
public:
    explicit TrapEveryImport(emulator::EmulatedMachine& machine) : machine_(machine) {}
    std::optional<uint32_t> resolve(std::string_view, std::string_view) override { return std::nullopt; }
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view) override {
        const std::string key = std::string(dll) + "!" + std::string(name);
        return machine_.host_routine(
            key, 0, emulator::Convention::kStdcall, [key](std::span<const uint32_t>) -> uint32_t {
                throw emulator::GuestFault(emulator::GuestFault::Kind::kUnboundImport, 0, 0, "call of " + key);
            });
    }
    void module_mapped(const std::string&, uint32_t, uint32_t,
                       std::function<std::optional<uint32_t>(std::string_view)>) override {}

private:
    emulator::EmulatedMachine& machine_;
};

void load(const uint8_t* data, size_t size) {
    // A start-up routine that never returns is a fault after a million
    // instructions, not a slow input; the module needs no host memory.
    emulator::EmulatedMachine::Options options;
    options.instruction_budget = 1'000'000;
    options.stack_size = 64u << 10;
    options.host_memory_size = 64u << 10;
    emulator::EmulatedMachine machine(options);
    TrapEveryImport resolver(machine);
    try {
        const auto module =
            emulator::PeModule::load(machine, resolver, std::vector<uint8_t>(data, data + size), "fuzz.gau");
        FUZZ_CHECK(module->base() % emulator::EmulatedMachine::kPageSize == 0 && module->image_size() > 0,
                   "a loaded module sits on whole pages");
        for (const emulator::Import& import : module->imports())
            FUZZ_CHECK(!import.bound, "no import is bound where the resolver binds none");
    } catch (const emulator::LoadError&) {
    } catch (const emulator::PeError&) {
    } catch (const emulator::GuestFault&) {}
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    emulator::PeImage image;
    try {
        image = emulator::PeImage::parse(std::vector<uint8_t>(data, data + size), "fuzz.gau");
    } catch (const emulator::PeError&) {
        return 0;
    }
    size_t names = 0;
    for (const auto& name : image.exports()) names += name.size();
    for (const auto& name : image.imported_dlls()) names += name.size();
    FUZZ_CHECK(names <= size, "names come from the file");
    for (const auto& [id, bitmap] : image.bitmaps()) {
        const uint16_t bits = bitmap.bits_per_pixel;
        const bool decodable = bitmap.compression == 0 && bits != 16;
        try {
            const runtime::Picture picture = runtime::decode_dib(bitmap);
            FUZZ_CHECK(picture.rgb.size() == size_t{picture.width} * picture.height && picture.width == bitmap.width &&
                           picture.height == bitmap.height,
                       "the picture has the bitmap's size");
        } catch (const runtime::DibError&) {
            FUZZ_CHECK(!decodable, "a bitmap the reader accepted as plain rows decodes");
        }
    }
    load(data, size);
    return 0;
}
