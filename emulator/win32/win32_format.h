// msvcrt's printf formatting over guest memory: the text a module's sprintf
// would make on Windows, from a format and arguments that lie in the
// module's memory. Where msvcrt differs from C99 it follows msvcrt: three
// exponent digits ("1.000000e+000"), floating-point digits past the 17th
// significant one printed as 0 and rounding half away from zero on those
// 17, NaN and infinity as "1.#QNAN0", "-1.#IND00", "1.#INF00" (the text
// rounded as digits would be: "%.2f" gives "1.#J"), "%p" as eight upper-case
// hex digits, "(null)" for a null string, the 0 flag padding strings too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "emulator/machine/guest_memory.h"

namespace emulator::win32 {

// The arguments after a format: 32-bit words in guest memory from `address`
// on (the caller's stack for printf, the va_list for vprintf), taken as the
// conversions ask for them; a double or a 64-bit integer takes two.
class GuestVarargs {
public:
    GuestVarargs(const GuestMemory& memory, uint32_t address) : memory_(memory), next_(address) {}
    uint32_t word();
    uint64_t quad();
    double real();
    uint32_t next() const { return next_; }  // where the next argument lies

private:
    const GuestMemory& memory_;
    uint32_t next_;
};

struct Formatted {
    std::string text;     // the text, cut at the limit
    uint64_t length = 0;  // the whole text's length, had there been room
};

// Formats `format` (at most `limit` characters of the result are kept). A
// %n conversion writes the count so far through its pointer, as msvcrt did.
Formatted format(GuestMemory& memory, std::string_view format, GuestVarargs& arguments, size_t limit = SIZE_MAX);

}  // namespace emulator::win32
