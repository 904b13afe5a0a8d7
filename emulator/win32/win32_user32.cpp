// The USER32 rows of win32_functions.h: a gauge's few dealings with windows.
#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_format.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {

constexpr uint32_t kWindowHandle = 0x00020010;

}  // namespace

uint32_t USER32_FindWindowA(Context& context, Address class_name, Address window_name) {
    // A class given as an atom (below 0x10000) is no name the host could match.
    const auto window_class = class_name < kIntResourceLimit ? std::nullopt : optional_string(context.memory, class_name);
    const auto title = optional_string(context.memory, window_name);
    return context.window_query && context.window_query(window_class, title) ? kWindowHandle : 0;
}
uint32_t USER32_MessageBoxA(Context& context, uint32_t /*window*/, Address text, Address caption_text,
                            uint32_t /*type*/) {
    const std::string caption = optional_string(context.memory, caption_text).value_or("Error");
    context.debug(caption + ": " + optional_string(context.memory, text).value_or(""));
    return 1;  // IDOK
}
uint32_t USER32_wsprintfA(Context& context, Address destination, Address format_string, Varargs varargs) {
    constexpr size_t kLimit = 1024;  // wsprintf's buffer, its NUL included
    GuestVarargs arguments(context.memory, varargs.address);
    const Formatted text = format(context.memory, string_at(context.memory, format_string), arguments, kLimit - 1);
    put_string(context.memory, destination, text.text);
    return static_cast<uint32_t>(text.text.size());
}

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32
