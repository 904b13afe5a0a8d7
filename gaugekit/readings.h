// How callbacks read what the host hands them. A callback must stay defined
// for whatever arrives: a missing element reads as not-a-number, which every
// limit takes to its lower end (kit::limit); a missing header has no root.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "frame/numbers.h"
#include "frame/records.h"

namespace kit {

inline constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();

// The value the host last stored in the element's own variable.
inline double reading(const ELEMENT_NEEDLE* needle) { return needle != nullptr ? needle->source.value : kNoReading; }
inline double reading_y(const ELEMENT_MOVING_IMAGE* image) {
    return image != nullptr ? image->source_y.value : kNoReading;
}
inline double reading_y(const ELEMENT_SPRITE* sprite) {
    return sprite != nullptr ? sprite->source_y.value : kNoReading;
}

// A double's bits as they lie in memory, read as an integer: comparing them
// costs x87 code no load of the value.
inline uint64_t stored_bits(const double& value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Whether the needle's variable holds a finite number (a missing needle holds
// none), told from the exponent bits where the host stored them: x87 code
// would otherwise load the value, take its magnitude and compare it.
inline bool finite_reading(const ELEMENT_NEEDLE* needle) {
    if (needle == nullptr) return false;
    uint32_t high;
    std::memcpy(&high, reinterpret_cast<const unsigned char*>(&needle->source.value) + 4, sizeof high);
    return (high & 0x7FF00000u) != 0x7FF00000u;
}

// The first entry of the header's element list: the gauge's root, from which
// the element-chain helpers walk. Null without a header or list.
[[gnu::always_inline]] inline ELEMENT_HEADER* root_element(const GAUGEHDR* gauge) {
    return gauge != nullptr && gauge->element_list != nullptr ? gauge->element_list[0] : nullptr;
}

}  // namespace kit
