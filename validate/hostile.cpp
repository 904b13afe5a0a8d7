#include "validate/hostile.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace validate {

double from_bits(uint64_t bits) {
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t to_bits(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string describe_bits(uint64_t bits) {
    char text[64];
    const double value = from_bits(bits);
    if (std::isnan(value)) {
        std::snprintf(text, sizeof text, "nan (bits 0x%016llX)", static_cast<unsigned long long>(bits));
        return text;
    }
    return describe_value(value);
}

std::string describe_value(double value) {
    char text[64];
    if (std::isnan(value)) {
        std::snprintf(text, sizeof text, "nan (bits 0x%016llX)", static_cast<unsigned long long>(to_bits(value)));
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
    }
    return text;
}

std::vector<HostileValue> special_values() {
    struct Bits {
        uint64_t bits;
        const char* label;
    };
    static constexpr Bits kBits[] = {
        {0x7FF8000000000000ull, "quiet NaN"},
        {0xFFF8000000000000ull, "negative quiet NaN"},
        {0x7FF8000000DEAD01ull, "quiet NaN with payload"},
        {0xFFFFFFFFFFFFFFFFull, "negative quiet NaN, all payload bits"},
        {0x7FF0000000000001ull, "signalling NaN"},
        {0xFFF0000000000001ull, "negative signalling NaN"},
        {0x7FF4000000000123ull, "signalling NaN with payload"},
        {0x7FF7FFFFFFFFFFFFull, "signalling NaN, all payload bits"},
        {0x0000000000000000ull, "+0"},
        {0x8000000000000000ull, "-0"},
        {0x0000000000000001ull, "smallest denormal"},
        {0x8000000000000001ull, "negative smallest denormal"},
        {0x000FFFFFFFFFFFFFull, "largest denormal"},
        {0x800FFFFFFFFFFFFFull, "negative largest denormal"},
        {0x0010000000000000ull, "DBL_MIN"},
        {0x8010000000000000ull, "-DBL_MIN"},
        {0x7FEFFFFFFFFFFFFFull, "DBL_MAX"},
        {0xFFEFFFFFFFFFFFFFull, "-DBL_MAX"},
        {0x7FF0000000000000ull, "+infinity"},
        {0xFFF0000000000000ull, "-infinity"},
    };
    std::vector<HostileValue> values;
    for (const Bits& b : kBits) values.push_back({b.bits, b.label});
    static constexpr double kWhole[] = {
        1.0,
        -1.0,
        0.5,
        -0.5,
        2147483647.0,
        2147483648.0,
        -2147483648.0,
        -2147483649.0,
        4294967295.0,
        4294967296.0,
        9007199254740992.0,
        9223372036854775807.0,
        -9223372036854775808.0,
        18446744073709551616.0,
        1e10,
        -1e10,
        1e300,
        -1e300,
        1e-300,
        -1e-300,
    };
    for (double w : kWhole) values.push_back({to_bits(w), describe_value(w)});
    return values;
}

std::vector<HostileValue> limit_neighbours(const std::vector<double>& limits) {
    std::vector<HostileValue> values;
    const double inf = std::numeric_limits<double>::infinity();
    for (double limit : limits) {
        if (!std::isfinite(limit)) continue;
        const std::string name = describe_value(limit);
        values.push_back({to_bits(limit), "limit " + name});
        values.push_back({to_bits(std::nextafter(limit, -inf)), "1 ulp below limit " + name});
        values.push_back({to_bits(std::nextafter(limit, inf)), "1 ulp above limit " + name});
    }
    return values;
}

namespace {

// A value within 4 of `limit` on a grid of 2^-12, or, where the double's own
// grid is coarser, some thousands of ulps from it. Whole numbers and exact
// scalings only: the i386 twin (x87) and the bench host (SSE) make the same
// bits.
uint64_t near_limit(std::mt19937_64& random, double limit) {
    const int64_t step = static_cast<int64_t>(random() % (8 * 4096 + 1)) - 4 * 4096;
    if (std::fabs(limit) < 0x1p40) {
        const int64_t grid = std::llround(std::ldexp(limit, 12));
        return to_bits(std::ldexp(static_cast<double>(grid + step), -12));
    }
    return to_bits(limit) + static_cast<uint64_t>(step);
}

}  // namespace

std::vector<HostileValue> random_values(std::mt19937_64& random, size_t count, const std::vector<double>& limits) {
    std::vector<HostileValue> values;
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = 0;
        switch (i % 3) {
            case 0: bits = random(); break;
            case 1: {
                // Within ±2^20 on a grid of 2^-20.
                const int64_t whole = static_cast<int64_t>(random() >> 23) - (int64_t{1} << 40);
                bits = to_bits(std::ldexp(static_cast<double>(whole), -20));
                break;
            }
            default: bits = near_limit(random, limits.empty() ? 0.0 : limits[random() % limits.size()]); break;
        }
        values.push_back({bits, "random " + describe_bits(bits)});
    }
    return values;
}

std::vector<int32_t> extreme_coordinates() {
    return {INT32_MIN, INT32_MIN + 1, -1073741824, -1000000,   -65536,        -1,       0,
            1,         65536,         1000000,     1073741824, INT32_MAX - 1, INT32_MAX};
}

}  // namespace validate
