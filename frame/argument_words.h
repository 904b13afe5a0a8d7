// A call's 32-bit stack words as the callee's typed parameters: how the host
// unpacks what module code pushed, for the panel services and the Windows
// functions alike. A double takes two words (low first); any other
// parameter one, an integer by conversion and a class (a guest pointer, an
// address) made from the word.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

namespace argument_words {

template <typename T>
inline constexpr size_t kWordsOf = std::is_same_v<T, double> ? 2 : 1;

// The words a parameter list takes on the stack.
template <typename... P>
inline constexpr size_t kWords = (size_t{0} + ... + kWordsOf<P>);

// Where each parameter's first word lies.
template <typename... P>
constexpr std::array<size_t, sizeof...(P)> offsets() {
    std::array<size_t, sizeof...(P)> result{};
    [[maybe_unused]] size_t at = 0;
    [[maybe_unused]] size_t i = 0;
    ((result[i++] = at, at += kWordsOf<P>), ...);
    return result;
}

// One parameter from the words at `at`; a word past the end reads as 0 (the
// caller decides whether a short call is an error).
template <typename T>
T parameter(std::span<const uint32_t> words, size_t at) {
    const auto word = [&](size_t i) { return i < words.size() ? words[i] : uint32_t{0}; };
    if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<double>(uint64_t{word(at)} | uint64_t{word(at + 1)} << 32);
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<T>(word(at));
    } else {
        return T(word(at));
    }
}

template <typename... P, size_t... I>
std::tuple<P...> unpack([[maybe_unused]] std::span<const uint32_t> words, std::index_sequence<I...>) {
    [[maybe_unused]] constexpr auto at = offsets<P...>();
    return std::tuple<P...>{parameter<P>(words, at[I])...};
}

// The words as the parameters P...
template <typename... P>
std::tuple<P...> unpack(std::span<const uint32_t> words) {
    return unpack<P...>(words, std::index_sequence_for<P...>{});
}

}  // namespace argument_words
