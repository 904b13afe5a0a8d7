// How host and modules treat the numbers in records alike: the one limit
// shape of every limited value (the host clamps an element's value with the
// same shape a module's callback uses), truncation that stays defined, and
// the zero reading of an unlimited angle.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

namespace frame {

// Above the upper limit: the upper limit; otherwise, if not at or above the
// lower limit (a value that is not a number included): the lower limit.
constexpr double limit(double value, double lower, double upper) {
#if defined(__i386__) && defined(__GNUC__)
    // The same choice in x87 conditional moves: a module limits a score of
    // readings every update, and the branches the compiler makes of it cost
    // half as many instructions again. A choice rounds nothing, so the result
    // is the same bit for bit.
    if (!std::is_constant_evaluated()) {
        asm("fcomi %1, %%st\n\t"     // value against upper: above only when ordered
            "fcmovnbe %1, %%st"
            : "+t"(value)
            : "f"(upper)
            : "cc");
        asm("fcomi %1, %%st\n\t"     // below lower, or not a number
            "fcmovb %1, %%st"
            : "+t"(value)
            : "f"(lower)
            : "cc");
        return value;
    }
#endif
    if (value > upper) return upper;
    if (!(value >= lower)) return lower;
    return value;
}

// Truncation toward zero that stays defined for every input: NaN gives 0 and
// values beyond the int32 range rest on its ends.
constexpr int32_t trunc_to_int32(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Unlimited angles show their zero reading for a value that is not a finite
// number, since "infinity degrees" names no direction.
inline double finite_or_zero(double value) { return std::isfinite(value) ? value : 0.0; }

}  // namespace frame
