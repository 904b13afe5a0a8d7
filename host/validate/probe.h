// Watching module calls: heap allocations made while module code runs, and
// the floating-point control state a call leaves behind.
//
// Allocations are seen by a hook that the validating executable links in
// (host/validate/allocation_hook.cpp); it reports each allocation to
// AllocationWatch. Without the hook the allocation check is skipped. The
// host's own services, called from module code, run with counting paused:
// the module reaches them through ServiceProxy, a service table that pauses
// counting around each service of the real host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/services.h"

namespace bench::validate {

class AllocationWatch {
public:
    struct Hook {
        // What the hook sees, for the report.
        const char* coverage;
        // Called for each module the validator loads (before any probed
        // call): a hook that works on the module's imports patches them
        // here. Returns what it covered in that module ("" when it has
        // nothing to add).
        std::string (*attach)(const void* address_in_module);
    };

    // Called once by the hook, before main.
    static void install(const Hook* hook);
    static const Hook* hook();

    // Called by the hook for every allocation it sees; counts only while a
    // probed call runs and no host service is running inside it.
    static void note_allocation();

    static void arm();
    static uint32_t disarm();  // the allocations counted since arm()
    static void pause() noexcept;
    static void resume() noexcept;
};

// Pauses counting for its lifetime.
class AllocationPause {
public:
    AllocationPause() { AllocationWatch::pause(); }
    ~AllocationPause() { AllocationWatch::resume(); }
    AllocationPause(const AllocationPause&) = delete;
    AllocationPause& operator=(const AllocationPause&) = delete;
};

// The x87 control word and the control bits of MXCSR (status bits left out:
// a call may raise exception flags, but not change masks, rounding or
// precision).
struct FpControl {
    uint16_t x87 = 0;
    uint32_t mxcsr = 0;
    bool operator==(const FpControl&) const = default;
};

FpControl fp_control();
void set_fp_control(const FpControl& control);
std::string describe(const FpControl& control);

// A service table that forwards every slot to the active host's table with
// allocation counting paused. Served slots keep their signatures; every
// other slot forwards to the host's trap for that slot.
PANELS* service_proxy();

}  // namespace bench::validate
