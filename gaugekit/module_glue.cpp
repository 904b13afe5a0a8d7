// Shared as source by both modules: each module links this file beside its
// own gauge table, which supplies first_gauge_root(). It holds the module's
// exported import record, which the host fills before any service call.
#include "gaugekit/routines.h"

extern "C" {
constinit IMPORT_TABLE ImportTable{};
}

namespace kit {

// Without a first gauge there is no tree to hand on; the host gets no call.
void GAUGE_CALL standard_query() {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_query(root);
}
void GAUGE_CALL standard_install(uint32_t host_argument) {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_install(root, host_argument);
}
void GAUGE_CALL standard_initialize() {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_initialize(root);
}
void GAUGE_CALL standard_update() {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_update(root);
}
void GAUGE_CALL standard_generate(uint32_t host_argument) {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_generate(root, host_argument);
}
void GAUGE_CALL standard_draw() {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_plot(root);
}
void GAUGE_CALL standard_kill() {
    if (ELEMENT_HEADER* root = first_gauge_root()) element_list_kill(root);
}

void GAUGE_CALL empty_gauge_callback(GAUGEHDR*, uint32_t, uint32_t) {}
void GAUGE_CALL empty_module_routine() {}

}  // namespace kit

extern "C" int32_t GAUGE_CALL DllMain(void*, uint32_t, void*) { return 1; }
