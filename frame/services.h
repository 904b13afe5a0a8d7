// The host's panel service table and the module's import record.
//
// The host writes the address of its service table into the `panels` cell of
// the module's exported `ImportTable` after loading the module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/records.h"

// The key-event routine the bomb counter registers: the host calls it with the
// plain C convention, unlike every other routine.
using KeyEventHandler = void (*)(uint32_t event_id, uint32_t event_value, uint32_t user_data);

using ElementListService = void(GAUGE_CALL*)(ELEMENT_HEADER* element);
using ElementListServiceWithArg = void(GAUGE_CALL*)(ELEMENT_HEADER* element, uint32_t host_argument);
using TriggerKeyEventService = void(GAUGE_CALL*)(uint32_t event_id, uint32_t value);
using VarService = void(GAUGE_CALL*)(MODULE_VAR* var);
using ExecuteCalculatorCodeService = void(GAUGE_CALL*)(const char* code, double* float_result,
                                                         int32_t* int_result, const char** string_result);
using KeyEventHandlerService = void(GAUGE_CALL*)(KeyEventHandler handler, uint32_t user_data);
using UnusedService = void(GAUGE_CALL*)();

#pragma pack(push, 4)

// Service number k is the pointer at byte offset 4 * k.
struct PANELS {
    UnusedService unused_0_23[24];
    ElementListService element_list_query;                // 24
    ElementListServiceWithArg element_list_install;       // 25
    ElementListService element_list_initialize;           // 26
    ElementListService element_list_update;               // 27
    ElementListServiceWithArg element_list_generate;      // 28
    ElementListService element_list_plot;                 // 29
    UnusedService unused_30;
    ElementListService element_list_kill;                 // 31
    UnusedService unused_32_35[4];
    TriggerKeyEventService trigger_key_event;             // 36
    UnusedService unused_37;
    VarService initialize_var;                            // 38
    UnusedService unused_39;
    VarService lookup_var;                                // 40
    UnusedService unused_41_68[28];
    ExecuteCalculatorCodeService execute_calculator_code; // 69
    UnusedService unused_70_79[10];
    KeyEventHandlerService register_key_event_handler;    // 80
    KeyEventHandlerService unregister_key_event_handler;  // 81
};

inline constexpr uint32_t kImportPanelsId = 0x0F;

struct IMPORT_TABLE {
    uint32_t panels_id = kImportPanelsId;
    PANELS* panels = nullptr;  // the host's: filled before any service call
    uint32_t end_id = 0;
    void* end_pointer = nullptr;
};

#pragma pack(pop)

inline constexpr size_t kPanelsSlotCount = 82;
static_assert(sizeof(PANELS) == 4 * kPanelsSlotCount);
static_assert(offsetof(PANELS, element_list_query) == 0x60);
static_assert(offsetof(PANELS, element_list_install) == 0x64);
static_assert(offsetof(PANELS, element_list_initialize) == 0x68);
static_assert(offsetof(PANELS, element_list_update) == 0x6C);
static_assert(offsetof(PANELS, element_list_generate) == 0x70);
static_assert(offsetof(PANELS, element_list_plot) == 0x74);
static_assert(offsetof(PANELS, unused_30) == 0x78);
static_assert(offsetof(PANELS, element_list_kill) == 0x7C);
static_assert(offsetof(PANELS, trigger_key_event) == 0x90);
static_assert(offsetof(PANELS, initialize_var) == 0x98);
static_assert(offsetof(PANELS, lookup_var) == 0xA0);
static_assert(offsetof(PANELS, execute_calculator_code) == 0x114);
static_assert(offsetof(PANELS, register_key_event_handler) == 0x140);
static_assert(offsetof(PANELS, unregister_key_event_handler) == 0x144);

static_assert(sizeof(IMPORT_TABLE) == 16);
static_assert(offsetof(IMPORT_TABLE, panels_id) == 0);
static_assert(offsetof(IMPORT_TABLE, panels) == 4);
static_assert(offsetof(IMPORT_TABLE, end_id) == 8);
static_assert(offsetof(IMPORT_TABLE, end_pointer) == 12);
