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
// rather than jumping through a null pointer.
template <auto Slot, typename... Args>
inline void call_service(Args... args) {
    PANELS* const table = ImportTable.panels;
    if (table == nullptr) return;
    const auto service = table->*Slot;
    if (service == nullptr) return;
    service(args...);
}

inline void element_list_query(ELEMENT_HEADER* e) { call_service<&PANELS::element_list_query>(e); }
inline void element_list_install(ELEMENT_HEADER* e, uint32_t arg) { call_service<&PANELS::element_list_install>(e, arg); }
inline void element_list_initialize(ELEMENT_HEADER* e) { call_service<&PANELS::element_list_initialize>(e); }
inline void element_list_update(ELEMENT_HEADER* e) { call_service<&PANELS::element_list_update>(e); }
inline void element_list_generate(ELEMENT_HEADER* e, uint32_t arg) { call_service<&PANELS::element_list_generate>(e, arg); }
inline void element_list_plot(ELEMENT_HEADER* e) { call_service<&PANELS::element_list_plot>(e); }
inline void element_list_kill(ELEMENT_HEADER* e) { call_service<&PANELS::element_list_kill>(e); }
inline void trigger_key_event(uint32_t event_id, uint32_t value) { call_service<&PANELS::trigger_key_event>(event_id, value); }
inline void initialize_var(MODULE_VAR* var) { call_service<&PANELS::initialize_var>(var); }
inline void lookup_var(MODULE_VAR* var) { call_service<&PANELS::lookup_var>(var); }
inline void execute_calculator_code(const char* code) {
    call_service<&PANELS::execute_calculator_code>(code, static_cast<double*>(nullptr), static_cast<int32_t*>(nullptr),
                                                   static_cast<const char**>(nullptr));
}
inline void register_key_event_handler(KeyEventHandler handler, uint32_t user_data) {
    call_service<&PANELS::register_key_event_handler>(handler, user_data);
}
inline void unregister_key_event_handler(KeyEventHandler handler, uint32_t user_data) {
    call_service<&PANELS::unregister_key_event_handler>(handler, user_data);
}

}  // namespace kit
