// The host's panel service table and the module's import record.
//
// The host writes the address of its service table into the `panels` cell of
// the module's exported `ImportTable` after loading the module.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame/records.h"

// The key-event routine the bomb counter registers: the host calls it with the
// plain C convention, unlike every other routine.
#if FRAME_NATIVE_RECORDS
using KeyEventHandler = void (*)(uint32_t event_id, uint32_t event_value, uint32_t user_data);
#endif
namespace guest {
using KeyEventHandler = GuestPtr<GuestFn<void(uint32_t event_id, uint32_t event_value, uint32_t user_data)>>;
}

// The services the host serves, the one list of them: service number, name,
// parameters, and the same parameters as arguments. Service number k is the
// pointer at byte offset 4 * k; every number not listed is an unused slot.
// Every service returns nothing and is called with the host convention.
// Rows stay in ascending service number: the table's layout follows them.
// clang-format off
#define PANEL_SERVICES(X)                                                                                    \
    X(24, element_list_query, (ELEMENT_HEADER* element), (element))                                           \
    X(25, element_list_install, (ELEMENT_HEADER* element, uint32_t host_argument), (element, host_argument))  \
    X(26, element_list_initialize, (ELEMENT_HEADER* element), (element))                                      \
    X(27, element_list_update, (ELEMENT_HEADER* element), (element))                                          \
    X(28, element_list_generate, (ELEMENT_HEADER* element, uint32_t host_argument), (element, host_argument)) \
    X(29, element_list_plot, (ELEMENT_HEADER* element), (element))                                            \
    X(31, element_list_kill, (ELEMENT_HEADER* element), (element))                                            \
    X(36, trigger_key_event, (uint32_t event_id, uint32_t value), (event_id, value))                           \
    X(38, initialize_var, (MODULE_VAR* var), (var))                                                           \
    X(40, lookup_var, (MODULE_VAR* var), (var))                                                               \
    X(69, execute_calculator_code,                                                                             \
      (const char* code, double* float_result, int32_t* int_result, const char** string_result),               \
      (code, float_result, int_result, string_result))                                                         \
    X(80, register_key_event_handler, (KeyEventHandler handler, uint32_t user_data), (handler, user_data))     \
    X(81, unregister_key_event_handler, (KeyEventHandler handler, uint32_t user_data), (handler, user_data))
// clang-format on

// Service numbers by name: service_slot::lookup_var is 40.
namespace service_slot {
#define PANEL_SERVICE_SLOT(slot, name, parameters, arguments) inline constexpr uint32_t name = slot;
PANEL_SERVICES(PANEL_SERVICE_SLOT)
#undef PANEL_SERVICE_SLOT
}  // namespace service_slot

inline constexpr auto kServedSlots = std::to_array<uint32_t>({
#define PANEL_SERVICE_NUMBER(slot, name, parameters, arguments) slot,
    PANEL_SERVICES(PANEL_SERVICE_NUMBER)
#undef PANEL_SERVICE_NUMBER
});

// The table ends with the last service served.
inline constexpr size_t kPanelsSlotCount = kServedSlots.back() + 1;

// Each service's signature as the host sees it, every argument a 32-bit word
// (guest::lookup_var_service is void(GuestPtr<guest::MODULE_VAR>)).
namespace guest {
#define PANEL_GUEST_SERVICE(slot, name, parameters, arguments) using name##_service = frame::guest_t<void parameters>;
PANEL_SERVICES(PANEL_GUEST_SERVICE)
#undef PANEL_GUEST_SERVICE
}  // namespace guest

#if FRAME_NATIVE_RECORDS
// What an unused slot holds in the host's table: a caller that passes
// arguments is already at fault, so none are declared.
using UnusedService = void(GAUGE_CALL*)() noexcept;

// The unused slots First .. First + Count - 1, between two served ones. An
// empty run takes no room (the member holding it is [[no_unique_address]]).
template <uint32_t First, uint32_t Count>
struct UnusedSlots {
    UnusedService slots[Count];
};
template <uint32_t First>
struct UnusedSlots<First, 0> {};

// The first unused slot before service number `slot`: just after the
// service served before it.
constexpr uint32_t first_unused_before(uint32_t slot) {
    uint32_t first = 0;
    for (const uint32_t served : kServedSlots) {
        if (served == slot) break;
        first = served + 1;
    }
    return first;
}

#pragma pack(push, 4)

// The service pointers are noexcept: no exception may unwind into the module
// code that calls them, so only noexcept entries fit, and each entry stops
// whatever is raised beneath it itself.
struct PANELS {
// clang-format off
#define PANEL_SERVICES_MEMBER(slot, name, parameters, arguments)                                     \
    [[no_unique_address]] UnusedSlots<first_unused_before(slot), (slot) - first_unused_before(slot)> \
        unused_before_##name;                                                                        \
    void(GAUGE_CALL* name) parameters noexcept;
    // clang-format on
    PANEL_SERVICES(PANEL_SERVICES_MEMBER)
#undef PANEL_SERVICES_MEMBER
};

#pragma pack(pop)
#endif

namespace guest {
struct PANELS;  // the host's table, seen from the host: only its address
}

inline constexpr uint32_t kImportPanelsId = 0x0F;

// `panels` is the host's table, filled before any service call.
#define GAUGE_RECORD_IMPORT_TABLE(F)                 \
    F(uint32_t, panels_id, 0, kImportPanelsId, Data) \
    F(PANELS*, panels, 4, nullptr, Host)             \
    F(uint32_t, end_id, 8, 0, Data)                  \
    F(void*, end_pointer, 12, nullptr, Data)
FRAME_RECORD(IMPORT_TABLE, 16, GAUGE_RECORD_IMPORT_TABLE);

constexpr bool served_slots_ascend() {
    for (size_t i = 1; i < kServedSlots.size(); ++i) {
        if (kServedSlots[i] <= kServedSlots[i - 1]) return false;
    }
    return true;
}
static_assert(served_slots_ascend(), "the service list runs in ascending service number");

#if FRAME_NATIVE_RECORDS
static_assert(sizeof(PANELS) == 4 * kPanelsSlotCount);
#define PANEL_SERVICE_OFFSET(slot, name, parameters, arguments) \
    static_assert(offsetof(PANELS, name) == 4 * (slot), "service " #name " is the pointer at 4 * its number");
PANEL_SERVICES(PANEL_SERVICE_OFFSET)
#undef PANEL_SERVICE_OFFSET

#endif
