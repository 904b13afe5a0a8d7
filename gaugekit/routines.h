// The routines every module of this system shares as source: the seven
// standard gauge routines, the empty gauge callback, the empty module
// init/deinit and the library entry routine; and the header builder that
// fills them in.
#pragma once

#include <cstdint>

#include "frame/linkage.h"
#include "frame/records.h"
#include "gaugekit/readings.h"
#include "gaugekit/services.h"

namespace kit {

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

}  // namespace kit

// The library entry routine: reports success for every reason.
extern "C" int32_t GAUGE_CALL DllMain(void* module, uint32_t reason, void* reserved);
