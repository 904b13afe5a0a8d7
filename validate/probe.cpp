#include "validate/probe.h"

namespace validate {
namespace {

// Plain globals: the hook may report allocations before main.
constinit const AllocationWatch::Hook* g_hook = nullptr;
constinit int g_armed = 0;
constinit int g_paused = 0;
constinit uint32_t g_count = 0;

}  // namespace

void AllocationWatch::install(const Hook* hook) { g_hook = hook; }
const AllocationWatch::Hook* AllocationWatch::hook() { return g_hook; }

[[gnu::no_sanitize_address]] [[gnu::no_sanitize_undefined]] void AllocationWatch::note_allocation() {
    if (g_armed > 0 && g_paused == 0) ++g_count;
}

void AllocationWatch::arm() {
    g_count = 0;
    g_paused = 0;
    g_armed = 1;
}

uint32_t AllocationWatch::disarm() {
    g_armed = 0;
    return g_count;
}

void AllocationWatch::pause() noexcept { ++g_paused; }
void AllocationWatch::resume() noexcept { --g_paused; }

}  // namespace validate
