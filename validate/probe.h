// Counting the host's own heap allocations (render_bench: what a panel
// update allocates). The allocations are seen by a hook that the counting
// executable links in (validate/allocation_hook.cpp); it reports each
// allocation to AllocationWatch. Without the hook nothing is counted.
//
// Module code is no concern of this watch: it runs in the emulator and
// allocates through its imports, which the module's Windows counts
// (ModuleCode::allocations(), the validator's KV301).
#pragma once

#include <cstdint>

namespace validate {

class AllocationWatch {
public:
    struct Hook {
        const char* coverage;  // what the hook sees
    };

    // Called once by the hook, before main.
    static void install(const Hook* hook);
    static const Hook* hook();

    // Called by the hook for every allocation it sees; counts only while
    // armed and not paused.
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

}  // namespace validate
