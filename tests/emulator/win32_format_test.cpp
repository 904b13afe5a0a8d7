// The printf formatter against the text msvcrt makes: conversions, flags,
// widths and precisions, msvcrt's own ways with floating point (three
// exponent digits, 17 significant digits, half-up rounding, its NaN and
// infinity texts), the limit, and arguments that lead out of the module's
// memory.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "emulator/win32/win32_format.h"

namespace {

using emulator::GuestFault;
using emulator::win32::format;
using emulator::win32::GuestVarargs;

// One argument as the caller pushes it.
struct Arg {
    enum Kind { kWord, kQuad, kText } kind;
    uint64_t value = 0;
    const char* text = nullptr;
};
Arg w(int64_t value) { return {Arg::kWord, static_cast<uint64_t>(value)}; }
Arg q(uint64_t value) { return {Arg::kQuad, value}; }
Arg r(double value) { return {Arg::kQuad, std::bit_cast<uint64_t>(value)}; }
Arg s(const char* text) { return {Arg::kText, 0, text}; }

// 64 KiB of guest memory: strings from the bottom, arguments above.
class Scratch {
public:
    static constexpr uint32_t kBase = 0x00400000;
    static constexpr uint32_t kSize = 0x10000;

    Scratch() : bytes_(kSize) { memory.add({kBase, kSize, bytes_.data(), true, "scratch"}); }

    uint32_t text(const char* value) {
        const uint32_t address = kBase + strings_;
        std::memcpy(&bytes_[strings_], value, std::strlen(value) + 1);
        strings_ += static_cast<uint32_t>(std::strlen(value)) + 1;
        return address;
    }
    uint32_t arguments(const std::vector<Arg>& args) {
        const uint32_t address = kBase + kSize / 2;
        uint32_t at = kSize / 2;
        const auto put = [&](uint32_t word) {
            std::memcpy(&bytes_[at], &word, 4);
            at += 4;
        };
        for (const Arg& arg : args) {
            if (arg.kind == Arg::kText) {
                put(arg.text == nullptr ? 0 : text(arg.text));
            } else {
                put(static_cast<uint32_t>(arg.value));
                if (arg.kind == Arg::kQuad) put(static_cast<uint32_t>(arg.value >> 32));
            }
        }
        return address;
    }
    void fill(uint32_t address, char value, uint32_t count) { std::memset(&bytes_[address - kBase], value, count); }
    std::string formatted(const char* format_text, const std::vector<Arg>& args, size_t limit = SIZE_MAX) {
        GuestVarargs varargs(memory, arguments(args));
        return format(memory, format_text, varargs, limit).text;
    }

    emulator::GuestMemory memory;

private:
    std::vector<uint8_t> bytes_;
    uint32_t strings_ = 0;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
    const char* format;
    std::vector<Arg> args;
    const char* expected;
};

TEST(Win32Format, MakesWhatMsvcrtMakes) {
    const Case cases[] = {
        {"%d|%i|%u", {w(-5), w(7), w(-1)}, "-5|7|4294967295"},
        {"[%5d][%-5d][%05d][%+d][% d]", {w(42), w(42), w(42), w(42), w(42)}, "[   42][42   ][00042][+42][ 42]"},
        {"%x %X %#x %#X %#o %o", {w(255), w(255), w(255), w(255), w(8), w(8)}, "ff FF 0xff 0XFF 010 10"},
        {"[%.3d][%.0d][%#x][%08.3d]", {w(7), w(0), w(0), w(-7)}, "[007][][0][    -007]"},
        {"%hd %hu %hhd", {w(0x12345678), w(0xFFFF8000), w(0x1FF)}, "22136 32768 -1"},
        {"%I64d %lld %I64x %I64u",
         {q(static_cast<uint64_t>(-1234567890123)), q(uint64_t{1} << 40), q(0xDEADBEEFCAFE), q(UINT64_MAX)},
         "-1234567890123 1099511627776 deadbeefcafe 18446744073709551615"},
        {"%c%c%3c|%-3c|", {w('o'), w('k'), w('x'), w('y')}, "ok  x|y  |"},
        {"%s|%.2s|%5s|%-5s|%05s", {s("abc"), s("abc"), s("abc"), s("abc"), s("abc")}, "abc|ab|  abc|abc  |00abc"},
        {"%s %.3s", {s(nullptr), s(nullptr)}, "(null) (nu"},
        {"%p %p", {w(0x12AB), w(-1)}, "000012AB FFFFFFFF"},
        {"[%*d][%-*d][%.*f][%*.*f]",
         {w(4), w(7), w(-4), w(7), w(2), r(3.14159), w(8), w(1), r(2.25)},
         "[   7][7   ][3.14][     2.3]"},
        {"%%|%y", {}, "%|y"},
        // Half up on the digits, where C99's printf rounds to even on the exact value.
        {"%f|%.3f|%.0f|%.0f|%.2f|%#.0f",
         {r(3.14159), r(2.0 / 3), r(2.5), r(0.5), r(0.125), r(3.0)},
         "3.141590|0.667|3|1|0.13|3."},
        // No digits past the 17th significant one.
        {"%.20f|%f|%.0f",
         {r(0.1), r(1e20), r(std::ldexp(1.0, 80))},
         "0.10000000000000001000|100000000000000000000.000000|1208925819614629200000000"},
        {"%e|%E|%.2e|%e|%.0e",
         {r(1.0), r(12345.678), r(0.0), r(1e-300), r(5e10)},
         "1.000000e+000|1.234568E+004|0.00e+000|1.000000e-300|5e+010"},
        {"%g|%g|%g|%g|%g|%#g|%G|%g",
         {r(0.0001), r(1e20), r(123456789.0), r(100000.0), r(0.5), r(1.0), r(1e-5), r(0.0)},
         "0.0001|1e+020|1.23457e+008|100000|0.5|1.00000|1E-005|0"},
        {"[%10.3f][%-10.2e][%+.1f][%010.2f]",
         {r(-3.14159), r(1234.5), r(0.25), r(-1.5)},
         "[    -3.142][1.23e+003 ][+0.3][-000001.50]"},
        // Infinity and NaN: quiet, the indefinite one an invalid operation
        // gives, signalling; then their texts rounded as digits.
        {"%f|%f|%f|%f|%f",
         {r(kInf), r(-kInf), q(0x7FF8000000000000), q(0xFFF8000000000000), q(0x7FF0000000000001)},
         "1.#INF00|-1.#INF00|1.#QNAN0|-1.#IND00|1.#SNAN0"},
        {"%.2f|%.3f|%e|%g|%.3g|%g|%.0f|%.1f",
         {r(kInf), q(0xFFFFFFFFFFFFFFFF), r(kInf), r(kInf), r(kInf), q(0xFFF8000000000000), r(kInf), r(kInf)},
         "1.#J|-1.#QO|1.#INF00e+000|1.#INF|1.#J|-1.#IND|1|1.$"},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        EXPECT_EQ(scratch.formatted(c.format, c.args), c.expected) << c.format;
    }
}

TEST(Win32Format, KeepsTheLimitAndCountsTheWhole) {
    Scratch scratch;
    GuestVarargs varargs(scratch.memory, scratch.arguments({w(1234567890), w(-1), r(1e300)}));
    const auto out = format(scratch.memory, "%d%.400u%f", varargs, 4);
    EXPECT_EQ(out.text, "1234");
    EXPECT_EQ(out.length, 10u + 400u + 301u + 7u);
    EXPECT_EQ(varargs.next(), scratch.arguments({}) + 16) << "every argument taken, the double as two words";
}

TEST(Win32Format, CountsThroughPercentN) {
    Scratch scratch;
    const uint32_t count = scratch.text("....");
    EXPECT_EQ(scratch.formatted("abc%ndef", {w(count)}), "abcdef");
    EXPECT_EQ(scratch.memory.read(emulator::GuestPtr<uint32_t>(count)), 3u);
}

TEST(Win32Format, ArgumentsOutsideTheModulesMemoryAreFaults) {
    struct Hostile {
        const char* format;
        std::vector<Arg> args;
        uint32_t address;  // what the fault names
    };
    Scratch scratch;
    const uint32_t unterminated = Scratch::kBase + Scratch::kSize - 3;
    scratch.fill(unterminated, 'x', 3);
    const Hostile cases[] = {
        {"%s", {w(0x10)}, 0x10},
        {"%s", {w(unterminated)}, unterminated},
        {"%n", {w(0x20)}, 0x20},
        {"%ls", {w(0x30)}, 0x30},
    };
    for (const Hostile& c : cases) {
        try {
            scratch.formatted(c.format, c.args);
            ADD_FAILURE() << c.format << " formatted";
        } catch (const GuestFault& fault) {
            EXPECT_EQ(fault.address(), c.address) << c.format << ": " << fault.what();
        }
    }
    // Arguments past the end of the memory: a vararg list that runs out.
    GuestVarargs short_list(scratch.memory, Scratch::kBase + Scratch::kSize - 4);
    EXPECT_THROW(format(scratch.memory, "%d %d", short_list), GuestFault);
}

}  // namespace
