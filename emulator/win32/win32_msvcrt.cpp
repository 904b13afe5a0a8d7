// The msvcrt rows of win32_functions.h but those that print (win32_msvcrt_stdio.cpp)
// and those that compute (win32_msvcrt_maths.cpp).
#include <locale.h>  // strtod_l: the C locale's strtod, whatever the host's locale

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_format.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {

constexpr uint32_t kCrtHeap = 0;  // the owner msvcrt's blocks carry

uint32_t u32(Context& context, uint32_t address) { return context.memory.read(GuestPtr<uint32_t>(address)); }

uint32_t sign(int difference) { return static_cast<uint32_t>(difference < 0 ? -1 : difference > 0 ? 1 : 0); }

int fold(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

uint32_t compare_strings(std::string_view a, std::string_view b, bool folded) {
    for (size_t i = 0;; ++i) {
        int x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        int y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (folded) {
            x = fold(x);
            y = fold(y);
        }
        if (x != y) return sign(x - y);
        if (x == 0) return 0;
    }
}

// The bytes of a string and its NUL.
std::span<const uint8_t> with_nul(Context& context, uint32_t address) {
    const uint32_t length = string_length(context.memory, address);
    return {readable(context.memory, address, length + 1), length + 1};
}

void copy(Context& context, uint32_t destination, uint32_t source, uint32_t size) {
    if (size == 0) return;
    const uint8_t* from = readable(context.memory, source, size);
    std::memmove(writable(context.memory, destination, size), from, size);
}

// --- Numbers from text -----------------------------------------------------

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct Parsed {
    uint64_t magnitude = 0;
    bool negative = false;
    bool overflow = false;  // past `limit`
    uint32_t consumed = 0;  // 0: no number
};

// strtol's grammar: space, a sign, a base prefix, digits.
Parsed parse_integer(std::string_view text, uint32_t base, uint64_t limit) {
    Parsed parsed;
    size_t at = 0;
    while (at < text.size() && is_space(static_cast<unsigned char>(text[at]))) ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) parsed.negative = text[at++] == '-';
    const bool hex_prefix = at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
    if ((base == 0 || base == 16) && hex_prefix) {
        base = 16;
        at += 2;
    } else if (base == 0) {
        base = at < text.size() && text[at] == '0' ? 8 : 10;
    }
    if (base < 2 || base > 36) return {};
    const size_t first = at;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        const uint32_t digit = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                               : c >= 'a' && c <= 'z' ? static_cast<uint32_t>(c - 'a' + 10)
                               : c >= 'A' && c <= 'Z' ? static_cast<uint32_t>(c - 'A' + 10)
                                                      : 99;
        if (digit >= base) break;
        if (parsed.magnitude > (limit - digit) / base) {
            parsed.overflow = true;
            parsed.magnitude = limit;
        } else if (!parsed.overflow) {
            parsed.magnitude = parsed.magnitude * base + digit;
        }
    }
    if (at == first) return {};  // "0x" without digits is no number either
    parsed.consumed = static_cast<uint32_t>(at);
    return parsed;
}

void set_end(Context& context, uint32_t end_pointer, uint32_t text, uint32_t consumed) {
    if (end_pointer != 0) set_u32(context, end_pointer, text + consumed);
}

double parse_real(Context& context, uint32_t text, uint32_t end_pointer) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string copy(string_at(context.memory, text));
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(copy.c_str(), &end, c_locale);
    if (errno == ERANGE) context.set_errno(kErange);
    set_end(context, end_pointer, text, static_cast<uint32_t>(end - copy.c_str()));
    return value;
}

uint32_t to_text(Context& context, uint64_t magnitude, bool negative, uint32_t buffer, uint32_t radix) {
    std::string digits;
    if (radix >= 2 && radix <= 36) {
        do {
            digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % radix]);
            magnitude /= radix;
        } while (magnitude != 0);
        if (negative) digits.insert(digits.begin(), '-');
    }
    context.memory.copy_in(buffer, digits.c_str(), static_cast<uint32_t>(digits.size()) + 1);
    return buffer;
}

// msvcrt's ctype classes, as its is* functions return them.
uint32_t classes(int32_t c) {
    if (c < 0 || c > 0x7F) return 0;
    uint32_t result = 0;
    if (c >= 'A' && c <= 'Z') result |= kCtypeUpper | kCtypeAlpha;
    if (c >= 'a' && c <= 'z') result |= kCtypeLower | kCtypeAlpha;
    if (c >= '0' && c <= '9') result |= kCtypeDigit | kCtypeHex;
    if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) result |= kCtypeHex;
    if (is_space(c)) result |= kCtypeSpace;
    return result;
}

const char* error_message(uint32_t number) {
    static constexpr const char* kMessages[] = {"No error",
                                                "Operation not permitted",
                                                "No such file or directory",
                                                "No such process",
                                                "Interrupted function call",
                                                "Input/output error",
                                                "No such device or address",
                                                "Arg list too long",
                                                "Exec format error",
                                                "Bad file descriptor",
                                                "No child processes",
                                                "Resource temporarily unavailable",
                                                "Not enough space",
                                                "Permission denied",
                                                "Bad address",
                                                "Unknown error",
                                                "Resource device",
                                                "File exists",
                                                "Improper link",
                                                "No such device",
                                                "Not a directory",
                                                "Is a directory",
                                                "Invalid argument",
                                                "Too many open files in system",
                                                "Too many open files",
                                                "Inappropriate I/O control operation",
                                                "Unknown error",
                                                "File too large",
                                                "No space left on device",
                                                "Invalid seek",
                                                "Read-only file system",
                                                "Too many links",
                                                "Broken pipe",
                                                "Domain error",
                                                "Result too large",
                                                "Unknown error",
                                                "Resource deadlock avoided",
                                                "Unknown error",
                                                "Filename too long",
                                                "No locks available",
                                                "Function not implemented",
                                                "Directory not empty",
                                                "Illegal byte sequence"};
    return number < std::size(kMessages) ? kMessages[number] : "Unknown error";
}

}  // namespace

// --- Time ------------------------------------------------------------------

uint32_t msvcrt_time(Context& context, uint32_t result) {
    const auto seconds = static_cast<uint32_t>(context.wall_clock() / 1'000'000);
    ++context.elapsed;
    if (result != 0) set_u32(context, result, seconds);
    return seconds;
}
uint32_t msvcrt__time32(Context& context, uint32_t result) { return msvcrt_time(context, result); }
uint64_t msvcrt__time64(Context& context, uint32_t result) {
    const auto seconds = static_cast<uint64_t>(context.wall_clock() / 1'000'000);
    ++context.elapsed;
    if (result != 0) context.memory.write(GuestPtr<uint64_t>(result)) = seconds;
    return seconds;
}
uint32_t msvcrt_clock(Context& context) { return static_cast<uint32_t>(++context.elapsed / 1000); }

// --- Start-up and shut-down ------------------------------------------------

uint32_t msvcrt__initterm(Context& context, uint32_t first, Address end) {
    for (uint32_t entry = first; entry < end; entry += 4) {
        if (const uint32_t routine = u32(context, entry)) context.machine.call(routine, {}, Convention::kCdecl);
    }
    return 0;
}
uint32_t msvcrt__initterm_e(Context& context, uint32_t first, Address end) {
    for (uint32_t entry = first; entry < end; entry += 4) {
        const uint32_t routine = u32(context, entry);
        if (routine == 0) continue;
        if (const uint32_t result = context.machine.call(routine, {}, Convention::kCdecl)) return result;
    }
    return 0;
}
uint32_t msvcrt__lock(Context&, int32_t /*lock_number*/) { return 0; }
uint32_t msvcrt__unlock(Context&, int32_t /*lock_number*/) { return 0; }
uint32_t msvcrt___dllonexit(Context& context, Address routine, Address table_begin, Address table_end) {
    // The table is the module's: *begin to *end, grown here when full.
    if (!context.within(Budget::kRegistrations)) return 0;
    uint32_t begin = u32(context, table_begin);
    uint32_t end = u32(context, table_end);
    const uint32_t used = end - begin;
    const uint32_t capacity = begin == 0 ? 0 : context.heap_size(begin).value_or(used);
    if (used + 4 > capacity) {
        const uint32_t grown = context.heap_allocate(std::max<uint32_t>(2 * used, 32 * 4), kCrtHeap, false);
        if (grown == 0) return 0;
        copy(context, grown, begin, used);
        if (begin != 0 && context.heap_size(begin)) context.heap_free(begin);
        begin = grown;
        end = grown + used;
    }
    set_u32(context, end, routine);
    set_u32(context, table_begin, begin);
    set_u32(context, table_end, end + 4);
    ++context.dllonexit_entries;
    return routine;
}
uint32_t msvcrt__onexit(Context& context, Address routine) {
    if (!context.within(Budget::kRegistrations)) return 0;
    context.exit_routines.push_back(routine);
    return routine;
}
uint32_t msvcrt_atexit(Context& context, Address routine) {
    if (!context.within(Budget::kRegistrations)) return kAllOnes;
    context.exit_routines.push_back(routine);
    return 0;
}
uint32_t msvcrt__amsg_exit(Context& context, uint32_t code) {
    context.stop("the C run-time gave up with message " + std::to_string(code) + " (_amsg_exit)");
}
uint32_t msvcrt___getmainargs(Context& context, Address argc, Address argv, Address environment,
                              int32_t /*expand_wildcards*/, Address /*startup_info*/) {
    set_u32(context, argc, 1);
    set_u32(context, argv, u32(context, context.data("__argv")));
    set_u32(context, environment, u32(context, context.data("_environ")));
    return 0;
}
uint32_t msvcrt___set_app_type(Context&, int32_t /*app_type*/) { return 0; }
uint32_t msvcrt___p__environ(Context& context) { return context.data("_environ"); }
uint32_t msvcrt___p___initenv(Context& context) { return context.data("__initenv"); }
uint32_t msvcrt___p__fmode(Context& context) { return context.data("_fmode"); }
uint32_t msvcrt___p__commode(Context& context) { return context.data("_commode"); }
uint32_t msvcrt__errno(Context& context) { return context.errno_cell(); }
uint32_t msvcrt___iob_func(Context& context) { return context.data("_iob"); }
uint32_t msvcrt_signal(Context& context, int32_t signal_number, Address handler) {
    // The C run-time's signals only: any other number is EINVAL and SIG_ERR.
    constexpr int32_t kSignals[] = {kSigInt, kSigIll, kSigFpe, kSigSegv, kSigTerm, kSigBreak, kSigAbrt};
    if (std::find(std::begin(kSignals), std::end(kSignals), signal_number) == std::end(kSignals)) {
        context.set_errno(kEinval);
        return kSigErr;
    }
    return std::exchange(context.signal_handlers[signal_number], handler);
}
uint32_t msvcrt__beginthreadex(Context& context, Address /*security*/, uint32_t /*stack_size*/, Address /*start*/,
                               Address /*argument*/, uint32_t /*flags*/, Address /*thread_id*/) {
    context.set_errno(kEagain);
    return 0;
}
uint32_t msvcrt__endthreadex(Context& context, uint32_t exit_code) {
    context.stop("the module ended its only thread (_endthreadex with " + std::to_string(exit_code) + ")");
}
uint32_t msvcrt__XcptFilter(Context&, uint32_t /*code*/, Address /*exception_pointers*/) {
    return 0;
}  // EXCEPTION_CONTINUE_SEARCH
uint32_t msvcrt___setusermatherr(Context&, Address /*handler*/) { return 0; }
uint32_t msvcrt__cexit(Context&) { return 0; }
uint32_t msvcrt__exit(Context& context, int32_t status) {
    context.stop("the module called _exit(" + std::to_string(status) + ")");
}
uint32_t msvcrt_exit(Context& context, int32_t status) {
    context.stop("the module called exit(" + std::to_string(status) + ")");
}
uint32_t msvcrt_abort(Context& context) { context.stop("the module called abort()"); }
uint32_t msvcrt__purecall(Context& context) { context.stop("the module called a pure virtual function (_purecall)"); }
uint32_t msvcrt__except_handler3(Context&, Address /*record*/, Address /*frame*/, Address /*context_record*/,
                                 Address /*dispatcher*/) {
    return 1;
}  // ExceptionContinueSearch

std::vector<uint8_t> msvcrt__setjmp3(Context&) {
    return {
        0x8B, 0x54, 0x24, 0x04,  // mov edx, [esp + 4]: the buffer
        0x89, 0x2A,              // mov [edx], ebp
        0x89, 0x5A, 0x04,        // mov [edx + 4], ebx
        0x89, 0x7A, 0x08,        // mov [edx + 8], edi
        0x89, 0x72, 0x0C,        // mov [edx + 12], esi
        0x8D, 0x4C, 0x24, 0x04,  // lea ecx, [esp + 4]: the caller's stack once returned
        0x89, 0x4A, 0x10,        // mov [edx + 16], ecx
        0x8B, 0x0C, 0x24,        // mov ecx, [esp]: the return address
        0x89, 0x4A, 0x14,        // mov [edx + 20], ecx
        0x31, 0xC0,              // xor eax, eax
        0xC3,                    // ret
    };
}

std::vector<uint8_t> msvcrt_longjmp(Context&) {
    return {
        0x8B, 0x54, 0x24, 0x04,        // mov edx, [esp + 4]: the buffer
        0x8B, 0x44, 0x24, 0x08,        // mov eax, [esp + 8]: the value
        0x85, 0xC0,                    // test eax, eax
        0x75, 0x05,                    // jnz over the next
        0xB8, 0x01, 0x00, 0x00, 0x00,  // mov eax, 1
        0x8B, 0x2A,                    // mov ebp, [edx]
        0x8B, 0x5A, 0x04,              // mov ebx, [edx + 4]
        0x8B, 0x7A, 0x08,              // mov edi, [edx + 8]
        0x8B, 0x72, 0x0C,              // mov esi, [edx + 12]
        0x8B, 0x62, 0x10,              // mov esp, [edx + 16]
        0xFF, 0x62, 0x14,              // jmp [edx + 20]
    };
}

uint32_t msvcrt_setlocale(Context& context, uint32_t /*category*/, Address name) {
    if (name == 0) return context.text("C");
    const std::string_view locale = string_at(context.memory, name);
    return locale.empty() || locale == "C" ? context.text("C") : 0;
}
uint32_t msvcrt_localeconv(Context& context) {
    if (const auto it = context.data_imports.find("lconv"); it != context.data_imports.end()) return it->second;
    // The C locale's: the decimal point ".", every other string empty,
    // every count and placement CHAR_MAX.
    const uint32_t empty = context.text("");
    pe::Lconv lconv{};
    lconv.decimal_point = context.text(".");
    lconv.thousands_sep = lconv.grouping = lconv.int_curr_symbol = lconv.currency_symbol = empty;
    lconv.mon_decimal_point = lconv.mon_thousands_sep = lconv.mon_grouping = empty;
    lconv.positive_sign = lconv.negative_sign = empty;
    std::memset(lconv.digits_and_placement, pe::kCharMax, sizeof lconv.digits_and_placement);
    const uint32_t record = context.machine.allocate(sizeof lconv);
    std::memcpy(writable(context.memory, record, sizeof lconv), &lconv, sizeof lconv);
    context.data_imports.emplace("lconv", record);
    return record;
}
uint32_t msvcrt_strerror(Context& context, uint32_t number) { return context.text(error_message(number)); }
uint32_t msvcrt_getenv(Context& context, Address name) {
    string_at(context.memory, name);
    return 0;
}

// --- Heap ------------------------------------------------------------------

uint32_t msvcrt_malloc(Context& context, uint32_t size) {
    const uint32_t address = context.heap_allocate(size, kCrtHeap, false);
    if (address == 0) context.set_errno(kEnomem);
    return address;
}
uint32_t msvcrt_calloc(Context& context, uint32_t count, uint32_t element_size) {
    const uint64_t size = uint64_t{count} * element_size;
    const uint32_t address = size > UINT32_MAX ? 0 : context.heap_allocate(static_cast<uint32_t>(size), kCrtHeap, true);
    if (address == 0) context.set_errno(kEnomem);
    return address;
}
uint32_t msvcrt_realloc(Context& context, Address block, uint32_t size) {
    if (size == 0 && block != 0) {
        context.heap_free(block);
        return 0;
    }
    const uint32_t address = block == 0 ? context.heap_allocate(size, kCrtHeap, false)
                                        : context.heap_reallocate(block, size, kCrtHeap, false, false);
    if (address == 0) context.set_errno(kEnomem);
    return address;
}
uint32_t msvcrt_free(Context& context, Address block) {
    if (block != 0) context.heap_free(block);
    return 0;
}
uint32_t msvcrt__msize(Context& context, Address block) {
    if (const auto size = context.heap_size(block)) return *size;
    throw GuestFault(GuestFault::Kind::kOther, block, 0,
                     "_msize of " + hex(block) + ", which the heap did not hand out");
}
uint32_t msvcrt__strdup(Context& context, Address source) {
    if (source == 0) return 0;
    const auto text = with_nul(context, source);
    const uint32_t address = context.heap_allocate(static_cast<uint32_t>(text.size()), kCrtHeap, false);
    if (address == 0) {
        context.set_errno(kEnomem);
        return 0;
    }
    context.memory.copy_in(address, text.data(), static_cast<uint32_t>(text.size()));
    return address;
}
uint32_t msvcrt_strdup(Context& context, Address source) { return msvcrt__strdup(context, source); }

// --- Memory and strings ----------------------------------------------------

uint32_t msvcrt_memcpy(Context& context, Address destination, Address source, uint32_t size) {
    copy(context, destination, source, size);
    return destination;
}
uint32_t msvcrt_memmove(Context& context, Address destination, Address source, uint32_t size) {
    return msvcrt_memcpy(context, destination, source, size);
}
uint32_t msvcrt_memset(Context& context, Address destination, uint32_t value, uint32_t size) {
    if (size != 0) std::memset(writable(context.memory, destination, size), static_cast<uint8_t>(value), size);
    return destination;
}
uint32_t msvcrt_memcmp(Context& context, uint32_t first, uint32_t second, uint32_t size) {
    if (size == 0) return 0;
    const uint8_t* a = readable(context.memory, first, size);
    const uint8_t* b = readable(context.memory, second, size);
    return sign(std::memcmp(a, b, size));
}
uint32_t msvcrt_memchr(Context& context, uint32_t bytes, uint32_t value, uint32_t size) {
    const auto at = context.memory.find_byte(bytes, static_cast<uint8_t>(value), size);
    return at ? bytes + *at : 0;
}
uint32_t msvcrt_strlen(Context& context, Address text) { return string_length(context.memory, text); }
uint32_t msvcrt_wcslen(Context& context, Address text) { return wide_length(context.memory, text); }
uint32_t msvcrt_strcpy(Context& context, Address destination, Address source) {
    copy(context, destination, source, string_length(context.memory, source) + 1);
    return destination;
}
uint32_t msvcrt_strncpy(Context& context, Address target, Address source, uint32_t size) {
    if (size == 0) return target;
    const uint32_t length = string_length(context.memory, source, size);
    uint8_t* destination = writable(context.memory, target, size);
    if (length > 0) std::memmove(destination, readable(context.memory, source, length), length);
    std::memset(destination + length, 0, size - length);
    return target;
}
uint32_t msvcrt_strcat(Context& context, Address destination, Address source) {
    const uint32_t end = destination + string_length(context.memory, destination);
    copy(context, end, source, string_length(context.memory, source) + 1);
    return destination;
}
uint32_t msvcrt_strncat(Context& context, Address destination, Address source, uint32_t count) {
    const uint32_t end = destination + string_length(context.memory, destination);
    const uint32_t length = string_length(context.memory, source, count);
    copy(context, end, source, length);
    context.memory.write(GuestPtr<uint8_t>(end + length)) = 0;
    return destination;
}
uint32_t msvcrt_strcmp(Context& context, uint32_t first, uint32_t second) {
    return compare_strings(string_at(context.memory, first), string_at(context.memory, second), false);
}
uint32_t msvcrt_strncmp(Context& context, uint32_t first, uint32_t second, uint32_t count) {
    return compare_strings(string_at(context.memory, first, count), string_at(context.memory, second, count), false);
}
uint32_t msvcrt__stricmp(Context& context, uint32_t first, uint32_t second) {
    return compare_strings(string_at(context.memory, first), string_at(context.memory, second), true);
}
uint32_t msvcrt__strnicmp(Context& context, uint32_t first, uint32_t second, uint32_t count) {
    return compare_strings(string_at(context.memory, first, count), string_at(context.memory, second, count), true);
}
uint32_t msvcrt_stricmp(Context& context, uint32_t first, uint32_t second) {
    return msvcrt__stricmp(context, first, second);
}
uint32_t msvcrt_strnicmp(Context& context, uint32_t first, uint32_t second, uint32_t count) {
    return msvcrt__strnicmp(context, first, second, count);
}
// The first (or last) `wanted` in the string at `address`; its NUL counts as part of it.
uint32_t find_char(Context& context, uint32_t address, uint32_t wanted, bool last) {
    const std::string_view text = string_at(context.memory, address);
    const char c = static_cast<char>(wanted);
    if (c == '\0') return address + static_cast<uint32_t>(text.size());
    const size_t at = last ? text.rfind(c) : text.find(c);
    return at == std::string_view::npos ? 0 : address + static_cast<uint32_t>(at);
}
uint32_t msvcrt_strchr(Context& context, Address text, uint32_t c) { return find_char(context, text, c, false); }
uint32_t msvcrt_strrchr(Context& context, Address text, uint32_t c) { return find_char(context, text, c, true); }
uint32_t msvcrt_strstr(Context& context, Address haystack, Address needle) {
    const std::string_view text = string_at(context.memory, haystack);
    const size_t at = text.find(string_at(context.memory, needle));
    return at == std::string_view::npos ? 0 : haystack + static_cast<uint32_t>(at);
}
uint32_t msvcrt_tolower(Context&, int32_t c) {
    return static_cast<uint32_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}
uint32_t msvcrt_toupper(Context&, int32_t c) {
    return static_cast<uint32_t>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}
uint32_t msvcrt_isdigit(Context&, int32_t c) { return classes(c) & kCtypeDigit; }
uint32_t msvcrt_isspace(Context&, int32_t c) { return classes(c) & kCtypeSpace; }
uint32_t msvcrt_isalpha(Context&, int32_t c) { return classes(c) & (kCtypeAlpha | kCtypeUpper | kCtypeLower); }
uint32_t msvcrt_isalnum(Context&, int32_t c) { return classes(c) & (kCtypeAlpha | kCtypeUpper | kCtypeLower | kCtypeDigit); }
uint32_t msvcrt_isupper(Context&, int32_t c) { return classes(c) & kCtypeUpper; }
uint32_t msvcrt_islower(Context&, int32_t c) { return classes(c) & kCtypeLower; }
uint32_t msvcrt_isxdigit(Context&, int32_t c) { return classes(c) & kCtypeHex; }
uint32_t msvcrt_atoi(Context& context, Address text) {
    // msvcrt's atoi wraps on overflow rather than clamping as strtol does.
    const Parsed parsed = parse_integer(string_at(context.memory, text), 10, UINT64_MAX);
    const auto value = static_cast<uint32_t>(parsed.magnitude);
    return parsed.negative ? 0u - value : value;
}
uint32_t msvcrt_atol(Context& context, Address text) { return msvcrt_atoi(context, text); }
uint64_t msvcrt__atoi64(Context& context, Address text) {
    const Parsed parsed = parse_integer(string_at(context.memory, text), 10, UINT64_MAX);
    return parsed.negative ? 0 - parsed.magnitude : parsed.magnitude;
}
uint32_t msvcrt_strtol(Context& context, Address text, Address end, Address base) {
    const Parsed probe = parse_integer(string_at(context.memory, text), base, UINT64_MAX);
    const uint64_t limit = probe.negative ? uint64_t{1} << 31 : INT32_MAX;
    const Parsed parsed = parse_integer(string_at(context.memory, text), base, limit);
    set_end(context, end, text, parsed.consumed);
    if (parsed.overflow) {
        context.set_errno(kErange);
        return parsed.negative ? 0x80000000u : static_cast<uint32_t>(INT32_MAX);
    }
    const auto value = static_cast<uint32_t>(parsed.magnitude);
    return parsed.negative ? 0u - value : value;
}
uint32_t msvcrt_strtoul(Context& context, Address text, Address end, Address base) {
    const Parsed parsed = parse_integer(string_at(context.memory, text), base, UINT32_MAX);
    set_end(context, end, text, parsed.consumed);
    if (parsed.overflow) {
        context.set_errno(kErange);
        return UINT32_MAX;
    }
    const auto value = static_cast<uint32_t>(parsed.magnitude);
    return parsed.negative ? 0u - value : value;
}
double msvcrt_atof(Context& context, Address text) { return parse_real(context, text, 0); }
double msvcrt_strtod(Context& context, Address text, Address end) { return parse_real(context, text, end); }
uint32_t msvcrt__itoa(Context& context, uint32_t number, Address buffer, uint32_t radix) {
    const int32_t value = static_cast<int32_t>(number);
    if (radix == 10 && value < 0) return to_text(context, 0u - static_cast<uint32_t>(value), true, buffer, 10);
    return to_text(context, number, false, buffer, radix);
}
uint32_t msvcrt__ltoa(Context& context, uint32_t number, Address buffer, uint32_t radix) {
    return msvcrt__itoa(context, number, buffer, radix);
}
uint32_t msvcrt__ultoa(Context& context, uint32_t value, Address buffer, uint32_t radix) {
    return to_text(context, value, false, buffer, radix);
}

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32
