// The record set of Dropwatch.gau's one gauge, an inert black picture, and
// the module's one bitmap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame/records.h"

namespace dropwatch {

namespace bitmap {

// The resource id dropwatch.rc gives the picture.
enum : uint32_t { kBlack = 4096 };

}  // namespace bitmap

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

// The header, the picture and the list that names it. No member is const:
// the host writes into the reserved fields of every record.
struct DropwatchGaugeRecords {
    GaugeHeader header;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> element_list;
};

extern DropwatchGaugeRecords gauge;

}  // namespace dropwatch
