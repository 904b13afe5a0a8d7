// Text built inside a signal handler: a fixed buffer, filled without
// allocating, for the handler's last line and the /proc paths it reads.
#pragma once

#include <cstddef>

namespace platform {

struct SignalLine {
    static constexpr size_t kBytes = 4096 + 256;
    char text[kBytes];
    size_t size = 0;
    void add(const char* more) {
        for (; *more != '\0' && size + 1 < sizeof text; ++more) text[size++] = *more;
    }
    void add(long number) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number > 0 && count < 23);
        while (count > 0 && size + 1 < sizeof text) text[size++] = digits[--count];
    }
};

}  // namespace platform
