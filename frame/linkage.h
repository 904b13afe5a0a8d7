// The module's description for the host, and the routines every module of
// this system shares as source: the seven standard gauge routines, the empty
// gauge callback, the empty module init/deinit and the library entry routine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/readings.h"
#include "frame/records.h"
#include "frame/services.h"

using ModuleRoutine = void(GAUGE_CALL*)();

inline constexpr uint32_t kModuleId = 0x13;

#pragma pack(push, 4)

// The fixed part that precedes the gauge table; the host reads this much and
// then gauge pointers up to the first null.
struct LINKAGE_HEADER {
    uint32_t module_id = kModuleId;
    ModuleRoutine module_init = nullptr;
    ModuleRoutine module_deinit = nullptr;
    uint32_t module_flags = 0;
    uint32_t module_priority = 0;
    uint32_t module_version = 0;
};

// The exported record: the header, then the gauge table inline, ended by a
// null pointer (Slots counts the terminator). Gauge pointers are typed as the
// version-700 header; a version-800 header shares its first twelve fields.
template <size_t Slots>
struct LINKAGE {
    static_assert(Slots >= 1, "the gauge table needs at least its terminator");
    LINKAGE_HEADER header;
    GAUGEHDR* gauge_table[Slots] = {};
};

#pragma pack(pop)

static_assert(sizeof(LINKAGE_HEADER) == 24);
static_assert(offsetof(LINKAGE_HEADER, module_id) == 0);
static_assert(offsetof(LINKAGE_HEADER, module_init) == 4);
static_assert(offsetof(LINKAGE_HEADER, module_deinit) == 8);
static_assert(offsetof(LINKAGE_HEADER, module_flags) == 12);
static_assert(offsetof(LINKAGE_HEADER, module_priority) == 16);
static_assert(offsetof(LINKAGE_HEADER, module_version) == 20);
static_assert(offsetof(LINKAGE<48>, gauge_table) == 24);
static_assert(sizeof(LINKAGE<48>) == 24 + 4 * 48);

namespace frame {

// The root of the first gauge in this module's gauge table (null while the
// table is empty). Each module defines it beside its gauge table; the seven
// standard routines act on this element whichever header they are taken from.
ELEMENT_HEADER* first_gauge_root();

// The root of the first gauge of a gauge table; null while the table is empty.
inline ELEMENT_HEADER* root_of_first_gauge(GAUGEHDR* const* gauge_table) { return root_element(gauge_table[0]); }

void GAUGE_CALL standard_query();
void GAUGE_CALL standard_install(uint32_t host_argument);
void GAUGE_CALL standard_initialize();
void GAUGE_CALL standard_update();
void GAUGE_CALL standard_generate(uint32_t host_argument);
void GAUGE_CALL standard_draw();
void GAUGE_CALL standard_kill();

void GAUGE_CALL empty_gauge_callback(GAUGEHDR* gauge, uint32_t service_id, uint32_t extra);
void GAUGE_CALL empty_module_routine();

// The header fields every gauge of a module shares: version 700, the seven
// standard routines and the default width.
constexpr GAUGEHDR gauge_header(const char* name, ELEMENT_HEADER* const* element_list, const MOUSERECT* mouse_rects,
                                GaugeCallback callback = empty_gauge_callback) {
    return GAUGEHDR{
        .header_version = kHeaderVersion700,
        .gauge_name = name,
        .element_list = element_list,
        .query_routine = standard_query,
        .install_routine = standard_install,
        .initialize_routine = standard_initialize,
        .update_routine = standard_update,
        .generate_routine = standard_generate,
        .draw_routine = standard_draw,
        .kill_routine = standard_kill,
        .size_x_mm = 100,
        .mouse_rects = mouse_rects,
        .gauge_callback = callback,
    };
}

}  // namespace frame

// The library entry routine: reports success for every reason.
extern "C" int32_t GAUGE_CALL DllMain(void* module, uint32_t reason, void* reserved);
