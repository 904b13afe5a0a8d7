// How the flight instruments' value callbacks read their element's variable.
//
// The host hands every callback its own element, but a callback must stay
// defined for whatever arrives: a missing element reads as not-a-number, which
// the limited callbacks turn into their lower limit (frame::limit), and the
// unlimited ones (plain angles) show their zero reading for any value that is
// not a finite number, since "infinity degrees" names no direction.
#pragma once

#include <cmath>
#include <limits>

#include "frame/records.h"

namespace flight {

inline constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();

inline double reading(const ELEMENT_NEEDLE* needle) { return needle != nullptr ? needle->source.value : kNoReading; }
inline double reading_y(const ELEMENT_MOVING_IMAGE* image) {
    return image != nullptr ? image->source_y.value : kNoReading;
}
inline double reading_y(const ELEMENT_SPRITE* sprite) { return sprite != nullptr ? sprite->source_y.value : kNoReading; }

inline double finite_or_zero(double value) { return std::isfinite(value) ? value : 0.0; }

}  // namespace flight
