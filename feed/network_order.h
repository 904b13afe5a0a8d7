// Network byte order (big-endian) for the fixed-width fields of the
// simulator's packets: an integer, a float or a double turned whole, never
// loaded into a floating-point register as the wrong bytes.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace feed {

template <typename T>
constexpr T network_order(T value) {
    if constexpr (std::endian::native == std::endian::big) {
        return value;
    } else {
        auto bytes = std::bit_cast<std::array<uint8_t, sizeof(T)>>(value);
        std::reverse(bytes.begin(), bytes.end());
        return std::bit_cast<T>(bytes);
    }
}

}  // namespace feed
