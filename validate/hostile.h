// The inputs the validator feeds module callbacks: every special double
// (quiet and signalling NaNs with and without payload, signed zeros,
// denormals, the largest finite values, infinities), each limit of the
// module's records and its neighbours one ulp away, seeded random values,
// and pointer positions at the ends of the 32-bit range.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace validate {

// The double with these IEEE 754 bits. On x87 a signalling NaN that passes
// through a register (as a double result does) comes out quiet: inputs are
// kept as bits and written to the module's variables as bits, so that a
// callback meets the signalling NaN itself.
double from_bits(uint64_t bits);
uint64_t to_bits(double value);

struct HostileValue {
    uint64_t bits = 0;
    std::string label;  // how a finding names the input

    double value() const { return from_bits(bits); }
};

// NaNs (quiet and signalling, either sign, with payloads), ±0, the smallest
// and largest denormals, ±DBL_MIN, ±DBL_MAX, ±infinity, and whole numbers at
// the edges of the integer types a callback might convert to.
std::vector<HostileValue> special_values();

// Each limit, and the doubles one ulp below and above it.
std::vector<HostileValue> limit_neighbours(const std::vector<double>& limits);

// `count` values from `random`: a third raw 64-bit patterns (any double at
// all), a third spread over ±2^20, a third within 4 of a limit. Made from
// whole numbers and exact scalings only, so that every tree, x87 or SSE,
// makes the same bits from the same seed.
std::vector<HostileValue> random_values(std::mt19937_64& random, size_t count, const std::vector<double>& limits);

// Pointer coordinates: the ends of int32, their neighbours, far outside any
// gauge and around zero.
std::vector<int32_t> extreme_coordinates();

// "nan (bits 0x7FF8000000000001)", "-inf", "1.0000000000000002".
std::string describe_value(double value);
// As describe_value, with a NaN's bits as given (signalling ones included).
std::string describe_bits(uint64_t bits);

}  // namespace validate
