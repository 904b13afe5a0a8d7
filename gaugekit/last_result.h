// A value callback that works out a result from its element's reading alone
// (no service, no module state) may hand back its last result while the
// reading has not changed: kit::same_reading_same_result<Compute, Read>.
#pragma once

#include <bit>
#include <cstdint>

#include "frame/calling_convention.h"

namespace kit {

// Keyed on the reading's bits rather than its value, so that 0.0 and -0.0, or
// two NaNs, are never taken for one another. Nothing else is kept: the result
// is the compute routine's own, stored as a double, and a reading that
// differs in any bit calls the routine again. The compute routine is not
// inlined into this one (gnu::noipa on it), so its floating-point code, and so
// its result, stays what it is when called directly.
template <auto Compute, auto Read, typename Element>
double GAUGE_CALL same_reading_same_result(Element* element) {
    struct Last {
        uint64_t reading_bits;
        double result;
        bool held;
    };
    constinit static Last last{};
    if (last.held && last.reading_bits == std::bit_cast<uint64_t>(Read(element))) return last.result;
    const double result = Compute(element);
    // Read again rather than kept across the call (the hit above is the
    // path that counts): a value callback changes no record.
    last = Last{std::bit_cast<uint64_t>(Read(element)), result, true};
    return result;
}

}  // namespace kit
