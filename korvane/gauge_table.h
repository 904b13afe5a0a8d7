// The gauges of Korvane.gau: korvane/gauge_table.cpp registers each, in the
// order of the host's gauge table, and makes the exported Linkage from them.
#pragma once

#include <cstddef>

namespace korvane {

inline constexpr size_t kGaugeCount = 47;

}  // namespace korvane
