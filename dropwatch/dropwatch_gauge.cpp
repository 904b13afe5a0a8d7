// The records of Dropwatch.gau: Linkage and its one gauge, an
// inert black picture. Reads no simulator variable; the standard routines
// call the element-list services on the picture.
#include <cstddef>

#include "dropwatch/bomb_counter.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"

namespace dropwatch {

inline constexpr uint32_t kModuleVersion = 0x900;
inline constexpr uint32_t kBlackBitmap = 4096;

// The gauge table and the element records type their gauge pointers as the
// version-700 header. The version-800 header shares its first twelve fields,
// so the host reads it through that type; the union gives the record that
// view without a cast, which keeps every record constant-initialised.
union GaugeHeader {
    GAUGEHDR_V800 v800;
    GAUGEHDR as_listed;
};
static_assert(sizeof(GaugeHeader) == sizeof(GAUGEHDR_V800));
static_assert(offsetof(GaugeHeader, as_listed) == offsetof(GaugeHeader, v800));

// The exported record, laid out as LINKAGE<2>: one gauge, then the null.
struct DropwatchLinkage {
    LINKAGE_HEADER header;
    GAUGEHDR* gauge_table[2];
};
static_assert(sizeof(DropwatchLinkage) == sizeof(LINKAGE<2>));
static_assert(offsetof(DropwatchLinkage, gauge_table) == offsetof(LINKAGE<2>, gauge_table));

extern GaugeHeader gauge;
extern ELEMENT_STATIC_IMAGE background;

constinit ELEMENT_HEADER* background_list[] = {&background.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = kit::element_header(kStaticImage, kBlackBitmap, {0, 0}, &gauge.as_listed, nullptr, nullptr,
                                    kFlagsPlainBackground),
};

constinit GaugeHeader gauge{
    .v800 =
        {
            .header_version = kHeaderVersion800,
            .gauge_name = "Dropwatch",
            .element_list = background_list,
            .query_routine = kit::standard_query,
            .install_routine = kit::standard_install,
            .initialize_routine = kit::standard_initialize,
            .update_routine = kit::standard_update,
            .generate_routine = kit::standard_generate,
            .draw_routine = kit::standard_draw,
            .kill_routine = kit::standard_kill,
            .size_x_mm = 100,
        },
};

}  // namespace dropwatch

extern "C" {


constinit dropwatch::DropwatchLinkage Linkage{
    .header =
        {
            .module_id = kModuleId,
            .module_init = dropwatch::register_key_events,
            .module_deinit = dropwatch::unregister_key_events,
            .module_flags = 0,
            .module_priority = 0,
            .module_version = dropwatch::kModuleVersion,
        },
    .gauge_table = {&dropwatch::gauge.as_listed, nullptr},
};

}  // extern "C"

namespace kit {

ELEMENT_HEADER* first_gauge_root() { return root_of_first_gauge(Linkage.gauge_table); }

}  // namespace kit
