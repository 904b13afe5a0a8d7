#include "host/validate/probe.h"

#include <cstdio>
#include <cstring>

#include "host/host.h"

namespace bench::validate {
namespace {

// Plain globals: the hook may report allocations before main, and every
// module call runs on the validator's one thread.
constinit const AllocationWatch::Hook* g_hook = nullptr;
constinit int g_armed = 0;
constinit int g_paused = 0;
constinit uint32_t g_count = 0;

constexpr uint32_t kMxcsrStatusBits = 0x3F;

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

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))

FpControl fp_control() {
    FpControl control;
    uint16_t x87 = 0;
    uint32_t mxcsr = 0;
    asm volatile("fnstcw %0" : "=m"(x87));
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    control.x87 = x87;
    control.mxcsr = mxcsr & ~kMxcsrStatusBits;
    return control;
}

void set_fp_control(const FpControl& control) {
    uint16_t x87 = control.x87;
    uint32_t mxcsr = 0;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    mxcsr = (mxcsr & kMxcsrStatusBits) | (control.mxcsr & ~kMxcsrStatusBits);
    asm volatile("fldcw %0" : : "m"(x87));
    asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

#else
#error "the floating-point probe reads the x87 and SSE control registers"
#endif

std::string describe(const FpControl& control) {
    char text[64];
    std::snprintf(text, sizeof text, "x87 control 0x%04X, MXCSR control 0x%04X", control.x87,
                  static_cast<unsigned>(control.mxcsr));
    return text;
}

// --- The service proxy ----------------------------------------------------------

namespace {

PANELS* host_table() noexcept {
    Host* host = Host::active();
    return host != nullptr ? host->panels() : nullptr;
}

// The proxy's entries raise nothing themselves and reach the host only
// through the host's noexcept entries, which stop whatever the host raises.
template <auto Member, typename... Args>
void forward(Args... args) noexcept {
    AllocationPause pause;
    if (PANELS* table = host_table()) {
        if (const auto service = table->*Member) service(args...);
    }
}

#define BENCH_PROXY_ENTRY(slot, name, parameters, arguments) \
    void GAUGE_CALL proxy_##name parameters noexcept { forward<&PANELS::name> arguments; }
KORVANE_SERVICES(BENCH_PROXY_ENTRY)
#undef BENCH_PROXY_ENTRY

// Unserved slots: the host's trap for the same slot, so that the host logs
// the call under the slot the module used.
template <uint32_t Slot>
struct ProxyTrap {
    static void GAUGE_CALL call() noexcept {
        AllocationPause pause;
        if (PANELS* table = host_table()) {
            UnusedService trap = nullptr;
            std::memcpy(&trap, reinterpret_cast<const unsigned char*>(table) + sizeof(UnusedService) * Slot,
                        sizeof trap);
            if (trap != nullptr) trap();
        }
    }
};

PANELS make_proxy() {
    PANELS table{};
    fill_unused_slots<ProxyTrap>(table);
#define BENCH_PROXY_SERVE(slot, name, parameters, arguments) table.name = &proxy_##name;
    KORVANE_SERVICES(BENCH_PROXY_SERVE)
#undef BENCH_PROXY_SERVE
    return table;
}

}  // namespace

PANELS* service_proxy() {
    static PANELS table = make_proxy();
    return &table;
}

}  // namespace bench::validate
