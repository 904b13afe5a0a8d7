// The msvcrt rows of win32_functions.h that print: the printf family and
// the console streams.
#include <climits>

#include "emulator/pe/pe_format.h"
#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_format.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {

constexpr uint32_t kFileSize = sizeof(pe::CrtFile);

// --- Streams ---------------------------------------------------------------

enum class Stream : uint8_t { kConsole, kClosed };

// The _iob stream a FILE pointer names: stdout and stderr print, stdin and
// the rest of _iob are closed for writing. Anything else is no stream the
// module can have: fopen is not provided.
Stream stream_of(Context& context, const char* routine, uint32_t file) {
    const uint32_t iob = context.data("_iob");
    const uint32_t offset = file - iob;
    if (offset >= kCrtStreams * kFileSize || offset % kFileSize != 0) {
        throw GuestFault(GuestFault::Kind::kOther, file, 0,
                         std::string(routine) + " on " + hex(file) + ", which is no stream of _iob");
    }
    const uint32_t index = offset / kFileSize;
    return index == 1 || index == 2 ? Stream::kConsole : Stream::kClosed;
}

uint32_t length_result(uint64_t length) { return length > INT32_MAX ? kCrtEof : static_cast<uint32_t>(length); }

Formatted format_at(Context& context, uint32_t format_address, uint32_t arguments, size_t limit = SIZE_MAX) {
    GuestVarargs varargs(context.memory, arguments);
    return format(context.memory, string_at(context.memory, format_address), varargs, limit);
}

// sprintf: the destination is as large as the module's memory lets it be.
uint32_t print_to(Context& context, const char* routine, uint32_t destination, uint32_t format_address,
                  uint32_t arguments) {
    const uint32_t room = writable_room(context.memory, destination);
    const Formatted text = format_at(context, format_address, arguments, room);
    if (text.length >= room) {
        throw GuestFault(GuestFault::Kind::kWrite, destination + room, 0,
                         std::string(routine) + "'s text of " + std::to_string(text.length) + " characters at " +
                             hex(destination) + " runs past the end of the memory the module may write");
    }
    context.memory.copy_in(destination, text.text.c_str(), static_cast<uint32_t>(text.text.size()) + 1);
    return length_result(text.length);
}

// _snprintf: msvcrt's, -1 without a NUL when the text does not fit.
uint32_t print_counted(Context& context, uint32_t destination, uint32_t size, uint32_t format_address,
                       uint32_t arguments) {
    const Formatted text = format_at(context, format_address, arguments, size);
    const auto written = static_cast<uint32_t>(text.text.size());
    if (written > 0) context.memory.copy_in(destination, text.text.data(), written);
    if (text.length < size) {
        context.memory.write(GuestPtr<char>(destination + written)) = '\0';
        return static_cast<uint32_t>(text.length);
    }
    return text.length == size ? size : kCrtEof;
}

// snprintf: C99's, NUL-terminated whenever there is room for anything.
uint32_t print_bounded(Context& context, uint32_t destination, uint32_t size, uint32_t format_address,
                       uint32_t arguments) {
    if (size == 0) return length_result(format_at(context, format_address, arguments, 0).length);
    const Formatted text = format_at(context, format_address, arguments, size - 1);
    context.memory.copy_in(destination, text.text.c_str(), static_cast<uint32_t>(text.text.size()) + 1);
    return length_result(text.length);
}

uint32_t print_stream(Context& context, const char* routine, uint32_t file, uint32_t format_address,
                      uint32_t arguments) {
    if (stream_of(context, routine, file) == Stream::kClosed) return kCrtEof;
    const Formatted text = format_at(context, format_address, arguments);
    context.print(text.text);
    return length_result(text.length);
}

}  // namespace

// --- The printf family -----------------------------------------------------

uint32_t msvcrt_sprintf(Context& context, Address destination, Address format_string, Varargs varargs) {
    return print_to(context, "sprintf", destination, format_string, varargs.address);
}
uint32_t msvcrt_vsprintf(Context& context, Address destination, Address format_string, Address arguments) {
    return print_to(context, "vsprintf", destination, format_string, arguments);
}
uint32_t msvcrt__snprintf(Context& context, Address destination, uint32_t room, Address format_string,
                          Varargs varargs) {
    return print_counted(context, destination, room, format_string, varargs.address);
}
uint32_t msvcrt__vsnprintf(Context& context, Address destination, uint32_t room, Address format_string,
                           Address arguments) {
    return print_counted(context, destination, room, format_string, arguments);
}
uint32_t msvcrt_snprintf(Context& context, Address destination, uint32_t room, Address format_string, Varargs varargs) {
    return print_bounded(context, destination, room, format_string, varargs.address);
}
uint32_t msvcrt_vsnprintf(Context& context, Address destination, uint32_t room, Address format_string,
                          Address arguments) {
    return print_bounded(context, destination, room, format_string, arguments);
}
uint32_t msvcrt__scprintf(Context& context, Address format_string, Varargs varargs) {
    return length_result(format_at(context, format_string, varargs.address, 0).length);
}
uint32_t msvcrt__vscprintf(Context& context, Address format_string, Address arguments) {
    return length_result(format_at(context, format_string, arguments, 0).length);
}
uint32_t msvcrt_printf(Context& context, Address format_string, Varargs varargs) {
    const Formatted text = format_at(context, format_string, varargs.address);
    context.print(text.text);
    return length_result(text.length);
}
uint32_t msvcrt_vprintf(Context& context, Address format_string, Address arguments) {
    const Formatted text = format_at(context, format_string, arguments);
    context.print(text.text);
    return length_result(text.length);
}
uint32_t msvcrt_fprintf(Context& context, Address stream, Address format_string, Varargs varargs) {
    return print_stream(context, "fprintf", stream, format_string, varargs.address);
}
uint32_t msvcrt_vfprintf(Context& context, Address stream, Address format_string, Address arguments) {
    return print_stream(context, "vfprintf", stream, format_string, arguments);
}
uint32_t msvcrt_puts(Context& context, Address text) {
    context.print(string_at(context.memory, text));
    context.print("\n");
    return 0;
}
uint32_t msvcrt_putchar(Context& context, uint32_t character) {
    const char c = static_cast<char>(character);
    context.print(std::string_view(&c, 1));
    return character & 0xFF;
}
uint32_t msvcrt_fputs(Context& context, Address string, Address stream) {
    const std::string_view text = string_at(context.memory, string);
    if (stream_of(context, "fputs", stream) == Stream::kClosed) return kCrtEof;
    context.print(text);
    return 0;
}
uint32_t msvcrt_fputc(Context& context, uint32_t character, Address stream) {
    if (stream_of(context, "fputc", stream) == Stream::kClosed) return kCrtEof;
    const char c = static_cast<char>(character);
    context.print(std::string_view(&c, 1));
    return character & 0xFF;
}
uint32_t msvcrt_fwrite(Context& context, Address data, uint32_t element_size, uint32_t count, Address stream) {
    const uint64_t size = uint64_t{element_size} * count;
    if (size == 0) return 0;
    if (size > UINT32_MAX) {
        throw GuestFault(GuestFault::Kind::kRead, data, 0, "fwrite of " + std::to_string(size) + " bytes");
    }
    const uint8_t* bytes = readable(context.memory, data, static_cast<uint32_t>(size));
    if (stream_of(context, "fwrite", stream) == Stream::kClosed) return 0;
    context.print(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size)));
    return count;
}
uint32_t msvcrt_fflush(Context& context, Address stream) {
    if (stream != 0) stream_of(context, "fflush", stream);
    return 0;
}

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32
