#include "host/validate/probe.h"

#include <cstdio>
#include <cstring>
#include <utility>

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

void AllocationWatch::pause() { ++g_paused; }
void AllocationWatch::resume() { --g_paused; }

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

PANELS* host_table() {
    Host* host = Host::active();
    return host != nullptr ? host->panels() : nullptr;
}

template <auto Member, typename... Args>
void forward(Args... args) {
    AllocationPause pause;
    if (PANELS* table = host_table()) {
        if (const auto service = table->*Member) service(args...);
    }
}

void GAUGE_CALL proxy_query(ELEMENT_HEADER* e) { forward<&PANELS::element_list_query>(e); }
void GAUGE_CALL proxy_install(ELEMENT_HEADER* e, uint32_t a) { forward<&PANELS::element_list_install>(e, a); }
void GAUGE_CALL proxy_initialize(ELEMENT_HEADER* e) { forward<&PANELS::element_list_initialize>(e); }
void GAUGE_CALL proxy_update(ELEMENT_HEADER* e) { forward<&PANELS::element_list_update>(e); }
void GAUGE_CALL proxy_generate(ELEMENT_HEADER* e, uint32_t a) { forward<&PANELS::element_list_generate>(e, a); }
void GAUGE_CALL proxy_plot(ELEMENT_HEADER* e) { forward<&PANELS::element_list_plot>(e); }
void GAUGE_CALL proxy_kill(ELEMENT_HEADER* e) { forward<&PANELS::element_list_kill>(e); }
void GAUGE_CALL proxy_trigger_key_event(uint32_t id, uint32_t value) { forward<&PANELS::trigger_key_event>(id, value); }
void GAUGE_CALL proxy_initialize_var(MODULE_VAR* var) { forward<&PANELS::initialize_var>(var); }
void GAUGE_CALL proxy_lookup_var(MODULE_VAR* var) { forward<&PANELS::lookup_var>(var); }
void GAUGE_CALL proxy_execute_calculator_code(const char* code, double* f, int32_t* i, const char** s) {
    forward<&PANELS::execute_calculator_code>(code, f, i, s);
}
void GAUGE_CALL proxy_register(KeyEventHandler handler, uint32_t data) {
    forward<&PANELS::register_key_event_handler>(handler, data);
}
void GAUGE_CALL proxy_unregister(KeyEventHandler handler, uint32_t data) {
    forward<&PANELS::unregister_key_event_handler>(handler, data);
}

// Unserved slots: the host's trap for the same slot, so that the host logs
// the call under the slot the module used.
template <uint32_t Slot>
void GAUGE_CALL proxy_trap() {
    AllocationPause pause;
    if (PANELS* table = host_table()) {
        UnusedService trap = nullptr;
        std::memcpy(&trap, reinterpret_cast<const unsigned char*>(table) + sizeof(UnusedService) * Slot, sizeof trap);
        if (trap != nullptr) trap();
    }
}

// Service number k is the pointer at byte offset 4 * k.
template <size_t... Slot>
void fill_traps(PANELS& table, std::index_sequence<Slot...>) {
    const UnusedService traps[] = {&proxy_trap<static_cast<uint32_t>(Slot)>...};
    static_assert(sizeof traps == sizeof(PANELS));
    std::memcpy(&table, traps, sizeof traps);
}

PANELS make_proxy() {
    // Every slot first gets its trap, then the served ones their services.
    PANELS table{};
    fill_traps(table, std::make_index_sequence<kPanelsSlotCount>{});
    table.element_list_query = proxy_query;
    table.element_list_install = proxy_install;
    table.element_list_initialize = proxy_initialize;
    table.element_list_update = proxy_update;
    table.element_list_generate = proxy_generate;
    table.element_list_plot = proxy_plot;
    table.element_list_kill = proxy_kill;
    table.trigger_key_event = proxy_trigger_key_event;
    table.initialize_var = proxy_initialize_var;
    table.lookup_var = proxy_lookup_var;
    table.execute_calculator_code = proxy_execute_calculator_code;
    table.register_key_event_handler = proxy_register;
    table.unregister_key_event_handler = proxy_unregister;
    return table;
}

}  // namespace

PANELS* service_proxy() {
    static PANELS table = make_proxy();
    return &table;
}

}  // namespace bench::validate
