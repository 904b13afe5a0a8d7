// The emulator's Windows called as module code calls it, on an emulated
// machine: binding, the routines' results, what returns in EDX and ST(0)
// and takes its arguments from the x87 stack, hostile pointers, the heap,
// the virtual clock, virtual memory, and the routines that end the call.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/win32/win32_environment.h"

namespace {

using emulator::Convention;
using emulator::EmulatedMachine;
using emulator::GuestFault;
using emulator::GuestPtr;
using Kind = emulator::GuestFault::Kind;

constexpr uint32_t kPage = EmulatedMachine::kPageSize;

std::vector<uint8_t>& operator<<(std::vector<uint8_t>& code, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) code.push_back(static_cast<uint8_t>(word >> shift));
    return code;
}
std::vector<uint8_t>& operator<<(std::vector<uint8_t>& code, std::initializer_list<uint8_t> bytes) {
    code.insert(code.end(), bytes);
    return code;
}

// A machine with the environment, a page for test code, a writable page and
// a read-only one to point at.
class Windows {
public:
    Windows() : environment(machine) {
        code_ = machine.reserve(kPage, 0x30000000);
        machine.map(code_, kPage, EmulatedMachine::kRead | EmulatedMachine::kExecute, "test code");
        page = machine.reserve(kPage, 0x31000000);
        machine.map(page, kPage, EmulatedMachine::kRead | EmulatedMachine::kWrite, "test page");
        constants = machine.reserve(kPage, 0x32000000);
        machine.map(constants, kPage, EmulatedMachine::kRead, "test constants");
    }

    uint32_t routine(std::string_view dll, std::string_view name) {
        const auto address = environment.resolve(dll, name);
        if (!address) throw std::invalid_argument(std::string(name) + " is not provided");
        return *address;
    }
    uint32_t crt(std::string_view name, const std::vector<uint32_t>& args) {
        return machine.call(routine("msvcrt.dll", name), args, Convention::kCdecl);
    }
    uint32_t kernel(std::string_view name, const std::vector<uint32_t>& args = {}) {
        return machine.call(routine("KERNEL32.dll", name), args, Convention::kStdcall);
    }
    uint32_t user(std::string_view name, const std::vector<uint32_t>& args) {
        return machine.call(routine("USER32.dll", name), args, Convention::kStdcall);
    }
    uint32_t text(std::string_view value) {
        const uint32_t address = machine.allocate(static_cast<uint32_t>(value.size()) + 1);
        machine.memory().copy_in(address, value.data(), static_cast<uint32_t>(value.size()));
        return address;
    }
    uint32_t real(double value) {
        const uint32_t address = machine.allocate(8);
        machine.memory().write(GuestPtr<double>(address)) = value;
        return address;
    }
    std::string string_at(uint32_t address) { return machine.memory().read_string(GuestPtr<const char>(address)); }
    uint32_t word(uint32_t address) { return machine.memory().read(GuestPtr<uint32_t>(address)); }
    uint32_t place(const std::vector<uint8_t>& code) {
        machine.load(code_ + used_, code);
        const uint32_t address = code_ + used_;
        used_ += (static_cast<uint32_t>(code.size()) + 15) & ~15u;
        return address;
    }

    EmulatedMachine machine;
    emulator::Win32Environment environment;
    uint32_t page = 0;
    uint32_t constants = 0;

private:
    uint32_t code_ = 0;
    uint32_t used_ = 0;
};

std::vector<uint32_t> words(double value) {
    const auto bits = std::bit_cast<uint64_t>(value);
    return {static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}

TEST(Win32Environment, BindsEachFunctionOnceWhateverTheDllsSpelling) {
    Windows w;
    const uint32_t tick = w.routine("KERNEL32.dll", "GetTickCount");
    EXPECT_EQ(w.routine("kernel32", "GetTickCount"), tick);
    EXPECT_EQ(w.routine("Kernel32.DLL", "GetTickCount"), tick);
    EXPECT_EQ(w.routine("MSVCR71.dll", "malloc"), w.routine("msvcrt.dll", "malloc"));
    EXPECT_FALSE(w.environment.resolve("KERNEL32.dll", "CreateFileA"));
    EXPECT_FALSE(w.environment.resolve("NOSUCH.dll", "GetTickCount"));

    const uint32_t iob = w.routine("msvcrt.dll", "_iob");
    EXPECT_EQ(w.word(iob + 32 + 16), 1u) << "stdout, the second FILE, is file 1";
    EXPECT_EQ(w.crt("__iob_func", {}), iob);

    w.kernel("GetTickCount");
    w.kernel("GetTickCount");
    EXPECT_EQ(w.environment.calls().at("KERNEL32.dll!GetTickCount"), 2u);

    try {
        w.machine.call(w.environment.trap("NOSUCH.dll", "Function", "nowhere to be found"), {}, Convention::kStdcall);
        ADD_FAILURE() << "the trap returned";
    } catch (const GuestFault& fault) {
        EXPECT_EQ(fault.kind(), Kind::kUnboundImport);
        EXPECT_TRUE(std::string_view(fault.what())
                        .starts_with("call of NOSUCH.dll!Function, which the host does not provide: "
                                     "nowhere to be found (called from "))
            << fault.what();
    }
}

TEST(Win32Environment, StringFunctionsGiveMsvcrtsResults) {
    using Value = std::variant<uint32_t, const char*>;
    struct Case {
        const char* dll;
        const char* name;
        std::vector<Value> args;
        int64_t expected;
        bool into_first = false;  // expected: an offset into the first argument's string
    };
    const Case cases[] = {
        {"msvcrt", "strlen", {"hello"}, 5},
        {"msvcrt", "strcmp", {"abc", "abd"}, -1},
        {"msvcrt", "strcmp", {"b", "a"}, 1},
        {"msvcrt", "strncmp", {"abcd", "abcz", 3u}, 0},
        {"msvcrt", "_stricmp", {"Hello", "hELLO"}, 0},
        {"msvcrt", "_strnicmp", {"ab_", "AB-", 3u}, 1},
        {"msvcrt", "strchr", {"hello", uint32_t{'l'}}, 2, true},
        {"msvcrt", "strrchr", {"hello", uint32_t{'l'}}, 3, true},
        {"msvcrt", "strchr", {"hello", uint32_t{'z'}}, 0},
        {"msvcrt", "strstr", {"gauge panel", "panel"}, 6, true},
        {"msvcrt", "memchr", {"hello", uint32_t{'o'}, 5u}, 4, true},
        {"msvcrt", "atoi", {"  -42knots"}, -42},
        {"msvcrt", "strtol", {"0x1F", 0u, 0u}, 31},
        {"msvcrt", "strtol", {"99999999999", 0u, 10u}, INT32_MAX},
        {"msvcrt", "strtoul", {"777", 0u, 8u}, 511},
        {"msvcrt", "tolower", {uint32_t{'Q'}}, 'q'},
        {"msvcrt", "isdigit", {uint32_t{'7'}}, 4},
        {"msvcrt", "isspace", {uint32_t{'x'}}, 0},
        {"KERNEL32", "lstrlenA", {0u}, 0},
        {"KERNEL32", "lstrcmpiA", {"Abc", "abd"}, -1},
    };
    Windows w;
    for (const Case& c : cases) {
        std::vector<uint32_t> args;
        for (const Value& value : c.args) {
            args.push_back(std::holds_alternative<uint32_t>(value) ? std::get<uint32_t>(value)
                                                                   : w.text(std::get<const char*>(value)));
        }
        const bool cdecl = std::string_view(c.dll) == "msvcrt";
        const uint32_t result =
            w.machine.call(w.routine(c.dll, c.name), args, cdecl ? Convention::kCdecl : Convention::kStdcall);
        const auto expected = static_cast<uint32_t>(c.into_first ? args[0] + c.expected : c.expected);
        EXPECT_EQ(result, expected) << c.name;
    }
}

TEST(Win32Environment, HostilePointersStopTheCallNotTheHost) {
    struct Case {
        const char* name;
        std::vector<uint32_t> args;
        Kind kind;
    };
    Windows w;
    w.machine.load(w.page, std::vector<uint8_t>(kPage, 'x'));  // no NUL to the end of the page
    const uint32_t end = w.page + kPage;
    const uint32_t good = w.text("hello");
    const Case cases[] = {
        {"strlen", {0x10}, Kind::kRead},
        {"strlen", {end - 3}, Kind::kRead},
        {"strcpy", {w.constants, good}, Kind::kWrite},
        {"strcpy", {end - 2, good}, Kind::kWrite},
        {"strcat", {good, end - 3}, Kind::kRead},
        {"memcpy", {w.page, good, 0xFFFFFFFF}, Kind::kRead},
        {"memset", {0x1000, 0, 4}, Kind::kWrite},
        {"memcmp", {good, 0x10, 1}, Kind::kRead},
        {"strncpy", {w.page, 0x10, 4}, Kind::kRead},
        {"sprintf", {end - 4, w.text("%s"), good}, Kind::kWrite},
        {"free", {good}, Kind::kOther},
        {"_msize", {good}, Kind::kOther},
        {"fprintf", {good, w.text("%d")}, Kind::kOther},
    };
    for (const Case& c : cases) {
        try {
            w.crt(c.name, c.args);
            ADD_FAILURE() << c.name << " returned";
        } catch (const GuestFault& fault) {
            EXPECT_EQ(fault.kind(), c.kind) << c.name << ": " << fault.what();
        }
        EXPECT_EQ(w.crt("strlen", {good}), 5u) << "the machine goes on after " << c.name;
    }
}

TEST(Win32Environment, ThePrintfFamilyKeepsToItsBounds) {
    Windows w;
    const uint32_t buffer = w.machine.allocate(16);
    const auto fill = [&] { w.machine.memory().copy_in(buffer, "################", 16); };
    const std::vector<uint32_t> real = words(2.5);
    EXPECT_EQ(w.crt("sprintf", {buffer, w.text("%d %s %.2f"), 42, w.text("kt"), real[0], real[1]}), 10u);
    EXPECT_EQ(w.string_at(buffer), "42 kt 2.50");

    fill();
    EXPECT_EQ(w.crt("_snprintf", {buffer, 4, w.text("%d"), 123456}), 0xFFFFFFFFu) << "msvcrt's: -1 when cut";
    EXPECT_EQ(w.string_at(buffer).substr(0, 5), "1234#") << "and no NUL";
    EXPECT_EQ(w.crt("snprintf", {buffer, 4, w.text("%d"), 123456}), 6u) << "C99's: the whole length";
    EXPECT_EQ(w.string_at(buffer), "123");

    const uint32_t va_list = w.machine.allocate(8);
    w.machine.memory().write(GuestPtr<uint32_t>(va_list)) = 1;
    w.machine.memory().write(GuestPtr<uint32_t>(va_list + 4)) = 2;
    EXPECT_EQ(w.crt("_vsnprintf", {buffer, 16, w.text("%d-%d"), va_list}), 3u);
    EXPECT_EQ(w.string_at(buffer), "1-2");
    EXPECT_EQ(w.machine.call(w.routine("USER32.dll", "wsprintfA"),
                             std::vector<uint32_t>{buffer, w.text("%04X"), 0xBEEF}, Convention::kCdecl),
              4u);
    EXPECT_EQ(w.string_at(buffer), "BEEF");

    const uint32_t iob = w.routine("msvcrt.dll", "_iob");
    w.crt("printf", {w.text("x=%d\n"), 5});
    w.crt("fprintf", {iob + 2 * 32, w.text("%s!"), w.text("err")});
    EXPECT_EQ(w.crt("fprintf", {iob, w.text("in")}), 0xFFFFFFFFu) << "stdin takes no output";
    EXPECT_EQ(w.environment.console_output(), "x=5\nerr!");
}

TEST(Win32Environment, ResultsInEdxAndSt0AndArgumentsOnTheX87Stack) {
    Windows w;
    const std::vector<uint32_t> two_and_a_quarter = words(2.25);
    EXPECT_EQ(w.machine.call_double(w.routine("msvcrt", "sqrt"), two_and_a_quarter, Convention::kCdecl), 1.5);
    const uint32_t number = w.text("  -1.25e2xyz");
    const uint32_t end = w.machine.allocate(4);
    EXPECT_EQ(
        w.machine.call_double(w.routine("msvcrt", "strtod"), std::vector<uint32_t>{number, end}, Convention::kCdecl),
        -125.0);
    EXPECT_EQ(w.word(end), number + 9);

    // fld qword [2]; fld qword [10]; call _CIpow; ret
    std::vector<uint8_t> power;
    power << std::initializer_list<uint8_t>{0xDD, 0x05} << w.real(2.0);
    power << std::initializer_list<uint8_t>{0xDD, 0x05} << w.real(10.0);
    power << std::initializer_list<uint8_t>{0xB8} << w.routine("msvcrt", "_CIpow");
    power << std::initializer_list<uint8_t>{0xFF, 0xD0, 0xC3};
    EXPECT_EQ(w.machine.call_double(w.place(power), {}, Convention::kCdecl), 1024.0);

    // fld qword [-5e9]; call _ftol; mov [high], edx; ret
    const uint32_t high = w.machine.allocate(4);
    std::vector<uint8_t> truncate;
    truncate << std::initializer_list<uint8_t>{0xDD, 0x05} << w.real(-5e9);
    truncate << std::initializer_list<uint8_t>{0xB8} << w.routine("msvcrt", "_ftol");
    truncate << std::initializer_list<uint8_t>{0xFF, 0xD0, 0x89, 0x15} << high;
    truncate << std::initializer_list<uint8_t>{0xC3};
    EXPECT_EQ(w.machine.call(w.place(truncate), {}, Convention::kCdecl), 0xD5FA0E00u);
    EXPECT_EQ(w.word(high), 0xFFFFFFFEu);

    // call GetTickCount64; mov [high], edx; ret — once the count has passed 2^32 ms
    w.environment.advance_clock((uint64_t{1} << 32) * 1000);
    std::vector<uint8_t> ticks;
    ticks << std::initializer_list<uint8_t>{0xB8} << w.routine("KERNEL32", "GetTickCount64");
    ticks << std::initializer_list<uint8_t>{0xFF, 0xD0, 0x89, 0x15} << high;
    ticks << std::initializer_list<uint8_t>{0xC3};
    EXPECT_EQ(w.machine.call(w.place(ticks), {}, Convention::kCdecl), 3'600'000u);
    EXPECT_EQ(w.word(high), 1u);
}

// What an observer of the calls (--trace) hears: each argument named and
// typed by the function's row, addresses in hex, doubles from two words.
struct ObservedCase {
    const char* dll;
    const char* name;
    Convention convention;
    std::vector<uint32_t> args;
    const char* heard;
};

TEST(Win32Environment, ObserversHearEachArgumentByName) {
    const ObservedCase cases[] = {
        {"KERNEL32", "Sleep", Convention::kStdcall, {10}, "KERNEL32.dll!Sleep milliseconds=10"},
        {"KERNEL32",
         "SetThreadPriority",
         Convention::kStdcall,
         {0xFFFFFFFE, 0xFFFFFFFF},
         "KERNEL32.dll!SetThreadPriority thread=4294967294, priority=-1"},
        {"msvcrt",
         "memset",
         Convention::kCdecl,
         {0x31000000, 7, 4},
         "msvcrt.dll!memset destination=0x31000000, value=7, size=4"},
        {"msvcrt", "_isnan", Convention::kCdecl, {0, 0x3FE00000}, "msvcrt.dll!_isnan x=0.5"},
    };
    for (const ObservedCase& c : cases) {
        Windows w;
        std::vector<std::string> heard;
        w.environment.set_call_observer(
            [&heard](const std::string& function, const emulator::Win32Environment::CallArguments& arguments) {
                heard.push_back(function + " " + arguments());
            });
        w.machine.call(w.routine(c.dll, c.name), c.args, c.convention);
        EXPECT_EQ(heard, std::vector<std::string>{c.heard}) << c.name;
    }
}

TEST(Win32Environment, LongjmpReturnsToSetjmpWithItsValue) {
    Windows w;
    const uint32_t buffer = w.machine.allocate(64);
    std::vector<uint8_t> code;
    code << std::initializer_list<uint8_t>{0x6A, 0x00, 0x68} << buffer;               // push 0; push buffer
    code << std::initializer_list<uint8_t>{0xB8} << w.routine("msvcrt", "_setjmp3");  // mov eax, _setjmp3
    code << std::initializer_list<uint8_t>{0xFF, 0xD0, 0x83, 0xC4, 0x08};             // call eax; add esp, 8
    code << std::initializer_list<uint8_t>{0x85, 0xC0, 0x75, 0x0E};                   // test eax, eax; jnz ret
    code << std::initializer_list<uint8_t>{0x6A, 0x07, 0x68} << buffer;               // push 7; push buffer
    code << std::initializer_list<uint8_t>{0xB8} << w.routine("msvcrt", "longjmp");   // mov eax, longjmp
    code << std::initializer_list<uint8_t>{0xFF, 0xD0, 0xC3};                         // call eax; ret
    EXPECT_EQ(w.machine.call(w.place(code), {}, Convention::kCdecl), 7u);
    EXPECT_EQ(w.environment.calls().at("msvcrt.dll!longjmp"), 1u);
}

TEST(Win32Environment, HeapRoutinesCountTheirBlocksAndCheckTheirPointers) {
    Windows w;
    const uint32_t block = w.crt("malloc", {100});
    w.machine.memory().copy_in(block, "abc", 4);
    const uint32_t moved = w.crt("realloc", {block, 5000});
    EXPECT_EQ(w.string_at(moved), "abc");
    const uint32_t heap = w.kernel("HeapCreate", {0, 0, 0});
    const uint32_t zeroed = w.kernel("HeapAlloc", {heap, 0x8, 32});
    EXPECT_EQ(w.word(zeroed + 28), 0u);
    EXPECT_EQ(w.environment.allocations(), 3u);
    EXPECT_EQ(w.environment.live_blocks(), 2u);
    EXPECT_EQ(w.kernel("HeapDestroy", {heap}), 1u);
    w.crt("free", {moved});
    EXPECT_EQ(w.environment.live_blocks(), 0u);

    EXPECT_EQ(w.crt("calloc", {0x10000, 0x10000}), 0u) << "4 GiB overflows";
    EXPECT_EQ(w.word(w.crt("_errno", {})), 12u) << "ENOMEM";
    try {
        w.crt("free", {moved});
        ADD_FAILURE() << "freed twice";
    } catch (const GuestFault& fault) {
        EXPECT_EQ(fault.address(), moved);
    }
}

TEST(Win32Environment, TheClockIsVirtualAndRepeats) {
    Windows w;
    EXPECT_EQ(w.kernel("GetTickCount"), 3'600'000u) << "an hour after the virtual start-up";
    w.environment.advance_clock(2'500'000);
    EXPECT_EQ(w.kernel("GetTickCount"), 3'602'500u);
    w.kernel("Sleep", {100});
    EXPECT_EQ(w.kernel("GetTickCount"), 3'602'600u);

    const uint32_t time = w.machine.allocate(16);
    w.kernel("GetSystemTime", {time});
    const auto fields = w.machine.memory().read_array(GuestPtr<uint16_t>(time), 8);
    EXPECT_EQ(std::vector<uint16_t>(fields.begin(), fields.end()), (std::vector<uint16_t>{2024, 1, 1, 1, 0, 0, 2, 600}))
        << "Monday 2024-01-01 00:00:02.600 UTC";
    EXPECT_EQ(w.crt("time", {0}), 1'704'067'202u);
    w.environment.set_wall_clock(1'000'000'000);
    EXPECT_EQ(w.crt("time", {0}), 1'000'000'000u);
}

TEST(Win32Environment, VirtualMemoryIsTheModulesOwnOnly) {
    Windows w;
    const uint32_t info = w.machine.allocate(28);
    const auto query = [&](uint32_t address) {
        EXPECT_EQ(w.kernel("VirtualQuery", {address, info, 28}), 28u);
        const auto fields = w.machine.memory().read_array(GuestPtr<uint32_t>(info), 7);
        return std::vector<uint32_t>(fields.begin(), fields.end());
    };
    const uint32_t block = w.kernel("VirtualAlloc", {0, 0x2000, 0x1000, 0x04});  // MEM_COMMIT, PAGE_READWRITE
    // BaseAddress, AllocationBase, AllocationProtect, RegionSize, State, Protect, Type
    EXPECT_EQ(query(block + 0x10), (std::vector<uint32_t>{block, block, 0x04, 0x2000, 0x1000, 0x04, 0x20000}));
    const uint32_t old = w.machine.allocate(4);
    EXPECT_EQ(w.kernel("VirtualProtect", {block, 0x1000, 0x02, old}), 1u);
    EXPECT_EQ(w.word(old), 0x04u);
    EXPECT_FALSE(w.machine.memory().writable(block, 1));
    EXPECT_EQ(query(block)[3], 0x1000u) << "the read-only page alone";

    EXPECT_EQ(w.kernel("VirtualProtect", {w.page, 0x1000, 0x40, old}), 0u) << "the host's page, not the module's";
    EXPECT_EQ(w.kernel("GetLastError"), 487u);  // ERROR_INVALID_ADDRESS
    EXPECT_EQ(w.kernel("VirtualFree", {block, 0, 0x8000}), 1u);
    EXPECT_EQ(query(block)[4], 0x10000u) << "MEM_FREE";

    // What Windows refuses comes back NULL with the reason, and the module goes on.
    const struct {
        uint32_t size, type, error;
    } refused[] = {
        {0x80000000, 0x3000, 1455},  // past the module's budget: ERROR_COMMITMENT_LIMIT
        {0xFFFFFFFF, 0x1000, 8},     // more than the address space: ERROR_NOT_ENOUGH_MEMORY
        {0, 0x3000, 87},             // ERROR_INVALID_PARAMETER
        {0x1000, 0, 87},             // neither committing nor reserving
        {0x1000, 0x1000 | 0x80000000, 87},
    };
    for (const auto& row : refused) {
        EXPECT_EQ(w.kernel("VirtualAlloc", {0, row.size, row.type, 0x04}), 0u) << std::hex << row.size;
        EXPECT_EQ(w.kernel("GetLastError"), row.error) << std::hex << row.size << " " << row.type;
    }
    EXPECT_NE(w.crt("malloc", {64}), 0u) << "the refusals took nothing";
}

// Whatever module code takes, it takes up to its budget: the next call
// fails as Windows fails it, the refusal is counted, and what was given back
// can be taken again.
TEST(Win32Environment, BudgetsRefuseAsWindowsDoes) {
    using Take = uint32_t (*)(Windows&);
    using GiveBack = void (*)(Windows&, uint32_t);
    const struct {
        emulator::Budget budget;
        Take take;
        GiveBack give_back;
        uint64_t per_take;
    } rows[] = {
        {emulator::Budget::kHandles,
         [](Windows& w) {
             return w.kernel("CreateEventA", {0, 1, 0, 0});
         },
         [](Windows& w, uint32_t handle) { w.kernel("CloseHandle", {handle}); }, 1},
        {emulator::Budget::kHandles,
         [](Windows& w) {
             return w.kernel("DuplicateHandle", {0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF, w.page, 0, 0, 2});
         },
         [](Windows& w, uint32_t) { w.kernel("CloseHandle", {w.word(w.page)}); }, 1},
        {emulator::Budget::kHeaps,
         [](Windows& w) {
             return w.kernel("HeapCreate", {0, 0, 0});
         },
         [](Windows& w, uint32_t heap) { w.kernel("HeapDestroy", {heap}); }, 1},
        {emulator::Budget::kRegistrations, [](Windows& w) { return w.crt("_onexit", {0x1234}); }, nullptr, 1},
        {emulator::Budget::kVirtualMemory,
         [](Windows& w) {
             return w.kernel("VirtualAlloc", {0, 32u << 20, 0x3000, 0x04});
         },
         [](Windows& w, uint32_t block) {
             w.kernel("VirtualFree", {block, 0, 0x8000});
         },
         32u << 20},
    };
    for (const auto& row : rows) {
        Windows w;
        const emulator::BudgetInfo& info = emulator::budget_info(row.budget);
        SCOPED_TRACE(info.label);
        const auto index = static_cast<size_t>(row.budget);
        uint64_t taken = 0;
        uint32_t last = 0;
        for (uint32_t result; (result = row.take(w)) != 0 && taken <= info.limit; ++taken) last = result;
        EXPECT_EQ(w.environment.resources().held[index], info.limit / row.per_take * row.per_take);
        EXPECT_EQ(w.environment.resources().refused[index], 1u);
        if (info.error != 0) {
            EXPECT_EQ(w.kernel("GetLastError"), info.error);
        }
        if (row.give_back != nullptr) {
            row.give_back(w, last);
            EXPECT_NE(row.take(w), 0u) << "what was given back is there to take";
        }
        EXPECT_NE(w.crt("malloc", {64}), 0u) << "the heap is not one of them";
    }
}

TEST(Win32Environment, ThreadLocalStorageLocksAndModules) {
    Windows w;
    const uint32_t index = w.kernel("TlsAlloc");
    ASSERT_LT(index, EmulatedMachine::kTlsSlots);
    w.kernel("TlsSetValue", {index, 0x1234});
    EXPECT_EQ(w.machine.tls_slot(index), 0x1234u) << "the TLS array at fs:[0x2C]";
    EXPECT_EQ(w.kernel("TlsGetValue", {index}), 0x1234u);
    EXPECT_EQ(w.kernel("TlsFree", {index}), 1u);
    EXPECT_EQ(w.kernel("TlsFree", {index}), 0u);

    const uint32_t lock = w.machine.allocate(24);
    w.kernel("InitializeCriticalSection", {lock});
    w.kernel("EnterCriticalSection", {lock});
    w.kernel("EnterCriticalSection", {lock});
    w.kernel("LeaveCriticalSection", {lock});
    EXPECT_EQ(w.word(lock + 8), 1u) << "RecursionCount";
    EXPECT_EQ(w.word(lock + 12), w.kernel("GetCurrentThreadId")) << "OwningThread";

    const uint32_t kernel32 = w.kernel("GetModuleHandleA", {w.text("kernel32.dll")});
    EXPECT_EQ(w.kernel("GetProcAddress", {kernel32, w.text("GetTickCount")}), w.routine("KERNEL32", "GetTickCount"));
    EXPECT_EQ(w.kernel("GetProcAddress", {kernel32, w.text("CreateFileA")}), 0u);
    EXPECT_EQ(w.kernel("GetLastError"), 127u);  // ERROR_PROC_NOT_FOUND
    EXPECT_EQ(w.kernel("LoadLibraryA", {w.text("MSVCRT")}), w.kernel("GetModuleHandleA", {w.text("msvcrt.dll")}));
    EXPECT_EQ(w.kernel("LoadLibraryA", {w.text("nosuch.dll")}), 0u);
    EXPECT_EQ(w.kernel("GetLastError"), 126u);  // ERROR_MOD_NOT_FOUND
}

TEST(Win32Environment, WindowsAndDebugOutputGoToTheHost) {
    Windows w;
    w.kernel("OutputDebugStringA", {w.text("hello")});
    EXPECT_EQ(w.user("MessageBoxA", {0, w.text("text"), w.text("caption"), 0}), 1u);  // IDOK
    EXPECT_EQ(w.environment.debug_output(), (std::vector<std::string>{"hello", "caption: text"}));

    EXPECT_EQ(w.user("FindWindowA", {0, w.text("Panel")}), 0u) << "no window by default";
    w.environment.set_window_query([](const auto& window_class, const auto& title) {
        return !window_class && title == std::optional<std::string>("Panel");
    });
    EXPECT_NE(w.user("FindWindowA", {0, w.text("Panel")}), 0u);
    EXPECT_EQ(w.user("FindWindowA", {w.text("Other"), 0}), 0u);
}

TEST(Win32Environment, EndingTheProcessEndsTheCallNamingWhy) {
    struct Case {
        const char* dll;
        const char* name;
        std::vector<uint32_t> args;
        const char* why;
    };
    Windows w;
    const uint32_t event = w.kernel("CreateEventA", {0, 1, 0, 0});
    const Case cases[] = {
        {"msvcrt", "exit", {3}, "exit(3)"},
        {"msvcrt", "abort", {}, "abort"},
        {"msvcrt", "_amsg_exit", {25}, "message 25"},
        {"KERNEL32", "ExitProcess", {2}, "ExitProcess"},
        {"KERNEL32", "RaiseException", {0xC0000005, 0, 0, 0}, "0xC0000005"},
        {"KERNEL32", "WaitForSingleObject", {event, 0xFFFFFFFF}, "waits forever"},
    };
    for (const Case& c : cases) {
        const bool cdecl = std::string_view(c.dll) == "msvcrt";
        try {
            w.machine.call(w.routine(c.dll, c.name), c.args, cdecl ? Convention::kCdecl : Convention::kStdcall);
            ADD_FAILURE() << c.name << " returned";
        } catch (const GuestFault& fault) {
            EXPECT_EQ(fault.kind(), Kind::kOther) << c.name;
            EXPECT_NE(std::string(fault.what()).find(c.why), std::string::npos) << fault.what();
        }
    }
    EXPECT_EQ(w.kernel("WaitForSingleObject", {event, 250}), 0x102u) << "WAIT_TIMEOUT";
    w.kernel("SetEvent", {event});
    EXPECT_EQ(w.kernel("WaitForSingleObject", {event, 0xFFFFFFFF}), 0u) << "signalled";
}

}  // namespace

// Reserving, committing, decommitting, protecting and releasing in the
// orders Windows programs use them: each row's steps in turn, addresses
// relative to what its first step reserved.
TEST(Win32Environment, ReservedPagesCommitDecommitAndReleaseInAnyOrder) {
    constexpr uint32_t kCommit = 0x1000, kReserve = 0x2000, kDecommit = 0x4000, kRelease = 0x8000;
    constexpr uint32_t kNoAccess = 0x01, kReadOnly = 0x02, kReadWrite = 0x04;
    constexpr uint32_t kNull = 0xFA017;   // a failed VirtualAlloc; a touch that faulted
    constexpr uint32_t kAt = 0x20000000;  // the address asked for, where a row asks for one
    enum Op { kAlloc, kAllocAt, kFree, kProtect, kTouch, kState };
    struct Step {
        Op op;
        uint32_t offset, size = 0, how = 0, protect = 0;
        uint32_t result = 0;  // VirtualAlloc: the offset returned; a touch: the word read
        uint32_t error = 0;   // the last error of a call that fails
    };
    const auto alloc = [](uint32_t offset, uint32_t size, uint32_t type, uint32_t protect, uint32_t result,
                          uint32_t error = 0) { return Step{kAlloc, offset, size, type, protect, result, error}; };
    const auto release = [](uint32_t offset, uint32_t size, uint32_t type, uint32_t result, uint32_t error = 0) {
        return Step{kFree, offset, size, type, 0, result, error};
    };
    const auto protect = [](uint32_t offset, uint32_t protection, uint32_t result, uint32_t error = 0) {
        return Step{kProtect, offset, 0x1000, protection, 0, result, error};
    };
    const auto touch = [](uint32_t offset, uint32_t result) { return Step{kTouch, offset, 0, 0, 0, result}; };
    const auto state = [](uint32_t offset, uint32_t size, uint32_t state) { return Step{kState, offset, size, state}; };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        {"a page committed in a reservation of no access",
         {alloc(0, 0x100000, kReserve, kNoAccess, 0), state(0, 0x100000, kReserve), touch(0, kNull),
          protect(0, kReadWrite, 0, 487), alloc(0x10, 0xFF0, kCommit, kReadWrite, 0), touch(0, 0), touch(0, 0x5A5A5A5A),
          touch(0x1000, kNull), state(0, 0x1000, kCommit), state(0x1000, 0xFF000, kReserve)}},
        {"a reservation of read-write committed whole",
         {alloc(0, 0x10000, kReserve, kReadWrite, 0), alloc(0, 0x10000, kCommit, kReadWrite, 0), touch(0xF000, 0),
          state(0, 0x10000, kCommit)}},
        {"decommitted pages fault, and come back zeroed",
         {alloc(0, 0x2000, kReserve | kCommit, kReadWrite, 0), touch(0, 0), touch(0x1000, 0),
          release(0, 0x1000, kDecommit, 1), touch(0, kNull), touch(0x1000, 0x5A5A5A5A), state(0, 0x1000, kReserve),
          alloc(0, 0x1000, kCommit, kReadWrite, 0), touch(0, 0), release(0, 0, kDecommit, 1),
          state(0, 0x2000, kReserve)}},
        {"committing again keeps what the page holds",
         {alloc(0, 0x1000, kReserve | kCommit, kReadWrite, 0), touch(0, 0), alloc(0, 0x1000, kCommit, kReadWrite, 0),
          touch(0, 0x5A5A5A5A)}},
        {"made read-only, then writable again",
         {alloc(0, 0x1000, kCommit, kReadWrite, 0), protect(0, kReadOnly, 1), touch(0, kNull),
          protect(0, kReadWrite, 1), touch(0, 0)}},
        {"committed with no access",
         {alloc(0, 0x1000, kCommit, kNoAccess, 0), touch(0, kNull), state(0, 0x1000, kCommit),
          protect(0, kReadWrite, 1), touch(0, 0)}},
        {"at an address, rounded down to 64 KiB",
         {Step{kAllocAt, 0x1234, 0x1000, kReserve, kReadWrite, 0},
          Step{kAllocAt, 0, 0x1000, kReserve, kReadWrite, kNull, 487},
          alloc(0x2000, 0x1000, kCommit, kReadWrite, 0x2000), alloc(0x3000, 0x1000, kCommit, kReadWrite, kNull, 487),
          touch(0x2000, 0)}},
        {"released only whole, from its base",
         {alloc(0, 0x2000, kReserve | kCommit, kReadWrite, 0), release(0x1000, 0, kRelease, 0, 87),
          release(0, 0x2000, kRelease, 0, 87), release(0, 0, kRelease | kDecommit, 0, 87), release(0, 0, kRelease, 1),
          touch(0, kNull), alloc(0, 0x1000, kCommit, kReadWrite, kNull, 487), release(0, 0, kRelease, 0, 487)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Windows w;
        // mov ecx, [esp+4]; mov eax, [ecx]; mov dword [ecx], 0x5A5A5A5A; ret: the word, then overwritten
        std::vector<uint8_t> overwrite;
        overwrite << std::initializer_list<uint8_t>{0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x01, 0xC7, 0x01} << 0x5A5A5A5Au;
        overwrite << std::initializer_list<uint8_t>{0xC3};
        const uint32_t overwrite_code = w.place(overwrite);
        const uint32_t info = w.machine.allocate(28), old = w.machine.allocate(4);
        uint32_t base = 0;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            const uint32_t at = base + step.offset;
            switch (step.op) {
                case kAlloc:
                case kAllocAt: {
                    const uint32_t asked = step.op == kAllocAt ? kAt + step.offset : i == 0 ? 0 : at;
                    const uint32_t result = w.kernel("VirtualAlloc", {asked, step.size, step.how, step.protect});
                    if (i == 0) base = result;
                    if (i == 0 && step.op == kAllocAt) {
                        EXPECT_EQ(result, kAt);
                    }
                    EXPECT_EQ(result, step.result == kNull ? 0 : base + step.result);
                    break;
                }
                case kFree: EXPECT_EQ(w.kernel("VirtualFree", {at, step.size, step.how}), step.result); break;
                case kProtect:
                    EXPECT_EQ(w.kernel("VirtualProtect", {at, step.size, step.how, old}), step.result);
                    break;
                case kTouch: {
                    uint32_t word = kNull;
                    try {
                        word = w.machine.call(overwrite_code, std::vector<uint32_t>{at}, Convention::kCdecl);
                    } catch (const GuestFault&) {}
                    EXPECT_EQ(word, step.result) << std::hex << at;
                    break;
                }
                case kState: {
                    ASSERT_EQ(w.kernel("VirtualQuery", {at, info, 28}), 28u);
                    const auto fields = w.machine.memory().read_array(GuestPtr<uint32_t>(info), 7);
                    EXPECT_EQ(fields[1], base) << "AllocationBase";
                    EXPECT_EQ(fields[3], step.size) << "RegionSize";
                    EXPECT_EQ(fields[4], step.how) << "State";
                    EXPECT_EQ(fields[5] == 0, step.how == kReserve) << "Protect: none while reserved";
                    break;
                }
            }
            if (step.error != 0) {
                EXPECT_EQ(w.kernel("GetLastError"), step.error);
            }
        }
    }
}

// Module code reserves and commits in one call, and commits and decommits a
// page over and over: the page works after each commit.
TEST(Win32Environment, ModuleCodeCommitsWhatItReserved) {
    Windows w;
    const uint32_t alloc = w.routine("KERNEL32", "VirtualAlloc"), free = w.routine("KERNEL32", "VirtualFree");
    std::vector<uint8_t> code;
    const auto push = [&](uint32_t word) { code << std::initializer_list<uint8_t>{0x68} << word; };
    const auto call = [&](uint32_t routine) {
        code << std::initializer_list<uint8_t>{0xB8} << routine << std::initializer_list<uint8_t>{0xFF, 0xD0};
    };
    code << std::initializer_list<uint8_t>{0x53, 0x56};              // push ebx; push esi
    push(0x01), push(0x2000), push(0x100000), push(0), call(alloc);  // reserve 1 MiB, no access
    code << std::initializer_list<uint8_t>{0x89, 0xC3};              // mov ebx, eax
    code << std::initializer_list<uint8_t>{0xBE} << 1000u;           // mov esi, 1000
    const auto loop = static_cast<uint8_t>(code.size());
    push(0x04), push(0x1000), push(0x1000), code << std::initializer_list<uint8_t>{0x53}, call(alloc);  // commit a page
    code << std::initializer_list<uint8_t>{0xFF, 0x00};                                    // inc dword [eax]
    push(0x4000), push(0x1000), code << std::initializer_list<uint8_t>{0x53}, call(free);  // decommit it
    code << std::initializer_list<uint8_t>{0x4E, 0x75, static_cast<uint8_t>(loop - code.size() - 3)};  // dec esi; jnz
    push(0x04), push(0x1000), push(0x1000), code << std::initializer_list<uint8_t>{0x53}, call(alloc);
    code << std::initializer_list<uint8_t>{0xC7, 0x00} << 7u;              // mov dword [eax], 7
    code << std::initializer_list<uint8_t>{0x8B, 0x00, 0x5E, 0x5B, 0xC3};  // mov eax, [eax]; pop esi; pop ebx; ret
    EXPECT_EQ(w.machine.call(w.place(code), {}, Convention::kCdecl), 7u);
}
