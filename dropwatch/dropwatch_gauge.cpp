// The records of Dropwatch.gau: Linkage and its one gauge, an inert black
// picture. Reads no simulator variable and calls no service itself; the
// standard routines call the element-list services on the picture.
#include "dropwatch/dropwatch_gauge.h"

#include "dropwatch/bomb_counter.h"
#include "frame/linkage.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"

namespace dropwatch {
namespace {

inline constexpr uint32_t kModuleVersion = 0x900;

constexpr DropwatchGaugeRecords dropwatch_gauge(DropwatchGaugeRecords& self) {
    return {
        .header = {.v800 =
                       {
                           .header_version = kHeaderVersion800,
                           .gauge_name = "Dropwatch",
                           .element_list = self.element_list.data(),
                           .query_routine = kit::standard_query,
                           .install_routine = kit::standard_install,
                           .initialize_routine = kit::standard_initialize,
                           .update_routine = kit::standard_update,
                           .generate_routine = kit::standard_generate,
                           .draw_routine = kit::standard_draw,
                           .kill_routine = kit::standard_kill,
                           .size_x_mm = 100,
                       }},
        .background = {.header = kit::element_header(kStaticImage, bitmap::kBlack, {0, 0}, &self.header.as_listed,
                                                     nullptr, nullptr, kFlagsPlainBackground)},
        .element_list = kit::element_list(self.background),
    };
}

}  // namespace

constinit DropwatchGaugeRecords gauge = dropwatch_gauge(gauge);

}  // namespace dropwatch

extern "C" {

constinit LINKAGE<2> Linkage{
    .header =
        {
            .module_id = kModuleId,
            .module_init = dropwatch::register_key_events,
            .module_deinit = dropwatch::unregister_key_events,
            .module_flags = 0,
            .module_priority = 0,
            .module_version = dropwatch::kModuleVersion,
        },
    .gauge_table = {&dropwatch::gauge.header.as_listed, nullptr},
};

}  // extern "C"

namespace kit {

ELEMENT_HEADER* first_gauge_root() { return root_of_first_gauge(Linkage.gauge_table); }

}  // namespace kit
