// The gauges of Korvane.gau, in the order of the host's gauge table.
#pragma once

#include "frame/linkage.h"

namespace frame {

// Gauges built so far; grows as the instrument families are added.
inline constexpr size_t kKorvaneGaugeCount = 0;

}  // namespace frame

extern "C" LINKAGE<frame::kKorvaneGaugeCount + 1> Linkage;
