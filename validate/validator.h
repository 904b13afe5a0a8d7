// The validator: checks a gauge module the way a simulator's plug-in
// validators do. It reads every record through the module's guest memory
// (the KV0xx checks), then, on fresh loads of the module in the emulator,
// drives every gauge through its lifecycle, feeds every callback and handler
// the plan of hostile inputs (validate/plan.h), and watches each module
// call: its memory accesses and faults, its instructions, heap allocations
// through its imports, the floating-point control state it leaves, the
// services and imports it calls (KV1xx to KV3xx). A module whose code faults
// or never returns fails a check naming module, gauge, callback, guest
// address and fault; it never stops the validator. See
// validate/report.h for the check ids.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "validate/report.h"

namespace runtime {
class Trace;
}

namespace validate {

inline constexpr uint64_t kDefaultSeed = 20240611;

struct Options {
    // The PE file that carries the module's bitmaps ("" none: then the
    // bitmap check is skipped, unless sizes are given below).
    std::string pe;
    // emulator::Bitmap sizes (width, height) to give a module without bitmaps; they
    // stand for 8-bit bitmaps of the module.
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> bitmap_sizes;
    // Seeds every random choice: the same seed repeats a run.
    uint64_t seed = kDefaultSeed;
    // false: the static checks only (the module is loaded, read and unloaded).
    bool dynamic = true;
    // Rounds of install, update and kill per gauge.
    int cycles = 12;
    // Random values fed to each callback, beside the special ones.
    int random_values = 150;
    // Where every call into module code is traced (null: nowhere).
    runtime::Trace* trace = nullptr;
};

// Validates the module at `path`. A module that cannot be loaded fails
// KV000 (KV001 for a gauge table without its end) and every other check is
// skipped; a PE in `options.pe` that cannot be read fails KV014 alone, and
// the other checks run without bitmaps.
Report validate_module(const std::string& path, const Options& options);

}  // namespace validate
