// Small pieces the engine and systems gauges share: reading a needle's own
// variable and finding a gauge's root element.
#pragma once

#include <limits>

#include "frame/records.h"

namespace engine {

// The value the host last stored in the needle's variable. Without an element
// there is no reading: NaN, which every limit takes to its lower end.
inline double source_value(const ELEMENT_NEEDLE* needle) {
    return needle != nullptr ? needle->source.value : std::numeric_limits<double>::quiet_NaN();
}

// The first entry of the header's element list: the element the chain
// helpers walk from. Null when the host hands no header.
inline ELEMENT_HEADER* root_element(const GAUGEHDR* gauge) {
    return gauge != nullptr && gauge->element_list != nullptr ? gauge->element_list[0] : nullptr;
}

}  // namespace engine
