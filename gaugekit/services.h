// How gauge code calls the host's services: through the cell of the module's
// import record that the host fills, read afresh at every call, doing nothing
// while it is still null.
#pragma once

#include <cstdint>

#include "frame/records.h"
#include "frame/services.h"

// Each module defines its own exported import record.
extern "C" IMPORT_TABLE ImportTable;

namespace kit {

// Calls one service through the cell the host filled. A call made before the
// host has filled the cell (or to a slot the host left empty) does nothing,
// rather than jumping through a null pointer. Always inlined: a call made
// through an out-of-line copy costs more instructions than the two loads,
// two tests and the call themselves, and modules make a score of them every
// panel update.
template <auto Slot, typename... Args>
[[gnu::always_inline]] inline void call_service(Args... args) {
    PANELS* const table = ImportTable.panels;
    if (table == nullptr) return;
    const auto service = table->*Slot;
    if (service == nullptr) return;
    service(args...);
}

// One wrapper per service, named and typed as its slot: kit::lookup_var(var).
#define KORVANE_KIT_SERVICE(slot, name, parameters, arguments) \
    [[gnu::always_inline]] inline void name parameters { call_service<&PANELS::name> arguments; }
PANEL_SERVICES(KORVANE_KIT_SERVICE)
#undef KORVANE_KIT_SERVICE

// Gauges hand over programs for their effect alone, asking for no result.
inline void execute_calculator_code(const char* code) { execute_calculator_code(code, nullptr, nullptr, nullptr); }

}  // namespace kit
