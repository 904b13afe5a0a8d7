// The KERNEL32 rows of win32_functions.h.
#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/pe/pe_format.h"
#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {


std::string narrow(const std::u16string& wide) {
    std::string text;
    for (char16_t c : wide) text += c < 0x100 ? static_cast<char>(c) : '?';
    return text;
}

// --- Time ------------------------------------------------------------------

void put_system_time(Context& context, uint32_t address) {
    const int64_t microseconds = context.wall_clock();
    ++context.elapsed;
    int64_t days = microseconds / 86'400'000'000;
    int64_t of_day = microseconds % 86'400'000'000;
    if (of_day < 0) {
        of_day += 86'400'000'000;
        --days;
    }
    // Days since 1970 to a civil date (proleptic Gregorian).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t day_of_era = z - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_index = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    const int64_t weekday = ((days % 7) + 7 + 4) % 7;  // 1970-01-01 was a Thursday
    const pe::SystemTime time{
        .year = static_cast<uint16_t>(year),
        .month = static_cast<uint16_t>(month),
        .day_of_week = static_cast<uint16_t>(weekday),
        .day = static_cast<uint16_t>(day),
        .hour = static_cast<uint16_t>(of_day / 3'600'000'000),
        .minute = static_cast<uint16_t>(of_day / 60'000'000 % 60),
        .second = static_cast<uint16_t>(of_day / 1'000'000 % 60),
        .milliseconds = static_cast<uint16_t>(of_day / 1'000 % 1'000),
    };
    put(context, address, time);
}

// --- Modules ---------------------------------------------------------------

uint32_t module_handle(Context& context, std::string_view name) {
    if (const Context::Module* module = context.module_named(name)) return module->base;
    const size_t slash = name.find_last_of("/\\");
    if (const auto provided = provided_dll(slash == std::string_view::npos ? name : name.substr(slash + 1))) {
        return context.dll_handle(*provided);
    }
    return fail(context, kErrorModNotFound);
}

uint32_t first_module(Context& context) {
    const Context::Module* module = context.module_based(0);
    return module != nullptr ? module->base : fail(context, kErrorModNotFound);
}

std::optional<std::string> provided_by_handle(Context& context, uint32_t handle) {
    for (const auto& [provided, address] : context.dll_handles) {
        if (address == handle) return provided;
    }
    return std::nullopt;
}

// --- Locks -----------------------------------------------------------------

void initialize_lock(Context& context, uint32_t address, uint32_t spin_count) {
    put(context, address, pe::CriticalSection{.lock_count = kCriticalSectionFree, .spin_count = spin_count});
}

void enter_lock(Context& context, uint32_t address) {
    auto lock = get<pe::CriticalSection>(context, address);
    ++lock.lock_count;
    ++lock.recursion_count;
    lock.owning_thread = kThreadId;
    put(context, address, lock);
}

// --- Waiting ---------------------------------------------------------------

// Whether waiting on the object would return now, and taking it if so.
std::optional<bool> take(Context& context, uint32_t handle, bool consume) {
    Context::Object* object = context.object(handle);
    if (handle == kCurrentThread || handle == kCurrentProcess) return false;  // running: never signalled
    if (object == nullptr) return std::nullopt;
    switch (object->kind) {
        case Context::ObjectKind::kEvent:
            if (!object->signalled) return false;
            if (consume && !object->manual_reset) object->signalled = false;
            return true;
        case Context::ObjectKind::kSemaphore:
            if (object->count <= 0) return false;
            if (consume) --object->count;
            return true;
        case Context::ObjectKind::kThread:
        case Context::ObjectKind::kProcess: return false;
        default: return std::nullopt;
    }
}

uint32_t time_out(Context& context, const char* routine, uint32_t milliseconds) {
    if (milliseconds == kInfinite) {
        context.stop(std::string(routine) +
                     " waits forever for an object nothing can signal: the module has only the one thread");
    }
    context.elapsed += uint64_t{milliseconds} * 1000;
    return kWaitTimeout;
}

int compare(std::string_view a, std::string_view b, bool fold) {
    for (size_t i = 0;; ++i) {
        int x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        int y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (fold) {
            if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
            if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        }
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

}  // namespace

// --- Time and counters -----------------------------------------------------

uint32_t KERNEL32_GetTickCount(Context& context) { return static_cast<uint32_t>(context.read_clock() / 1000); }
uint64_t KERNEL32_GetTickCount64(Context& context) { return context.read_clock() / 1000; }
uint32_t KERNEL32_QueryPerformanceCounter(Context& context, Address counter) {
    context.memory.write(GuestPtr<uint64_t>(counter)) = context.read_clock() * 10;
    return kTrue;
}
uint32_t KERNEL32_QueryPerformanceFrequency(Context& context, Address frequency) {
    context.memory.write(GuestPtr<uint64_t>(frequency)) = 10'000'000;
    return kTrue;
}
uint32_t KERNEL32_GetSystemTimeAsFileTime(Context& context, Address file_time) {
    const uint64_t time = context.file_time();
    put(context, file_time,
        pe::FileTime{.low = static_cast<uint32_t>(time), .high = static_cast<uint32_t>(time >> 32)});
    return 0;
}
uint32_t KERNEL32_GetSystemTime(Context& context, Address system_time) {
    put_system_time(context, system_time);
    return 0;
}
uint32_t KERNEL32_GetLocalTime(Context& context, Address local_time) {
    put_system_time(context, local_time);
    return 0;
}
uint32_t KERNEL32_Sleep(Context& context, uint32_t milliseconds) {
    context.elapsed += uint64_t{milliseconds} * 1000;
    return 0;
}
uint32_t KERNEL32_SleepEx(Context& context, uint32_t milliseconds, uint32_t /*alertable*/) {
    return KERNEL32_Sleep(context, milliseconds);
}

// --- Modules ---------------------------------------------------------------

uint32_t KERNEL32_GetModuleHandleA(Context& context, Address name) {
    if (name == 0) return first_module(context);
    return module_handle(context, string_at(context.memory, name));
}
uint32_t KERNEL32_GetModuleHandleW(Context& context, Address name) {
    if (name == 0) return first_module(context);
    return module_handle(context, narrow(wide_at(context.memory, name)));
}
uint32_t KERNEL32_GetModuleFileNameA(Context& context, uint32_t handle, Address buffer, uint32_t size) {
    std::string name;
    if (const Context::Module* module = context.module_based(handle)) {
        name = module->name;
    } else if (const auto provided = provided_by_handle(context, handle)) {
        name = *provided + ".dll";
    } else {
        return fail(context, kErrorModNotFound);
    }
    if (size == 0) return fail(context, kErrorInsufficientBuffer);
    if (name.size() >= size) {
        put_string(context.memory, buffer, std::string_view(name).substr(0, size - 1));
        return fail(context, kErrorInsufficientBuffer, size);
    }
    put_string(context.memory, buffer, name);
    return static_cast<uint32_t>(name.size());
}
uint32_t KERNEL32_GetProcAddress(Context& context, uint32_t handle, uint32_t wanted) {
    const std::string name =
        wanted < kIntResourceLimit ? "#" + std::to_string(wanted) : std::string(string_at(context.memory, wanted));
    std::optional<uint32_t> address;
    if (const Context::Module* module = context.module_based(handle)) {
        if (module->exports) address = module->exports(name);
    } else if (const auto provided = provided_by_handle(context, handle)) {
        address = context.resolve(*provided, name);
    } else {
        return fail(context, kErrorModNotFound);
    }
    return address ? *address : fail(context, kErrorProcNotFound);
}
uint32_t KERNEL32_LoadLibraryA(Context& context, Address name) {
    return module_handle(context, string_at(context.memory, name));
}
uint32_t KERNEL32_LoadLibraryW(Context& context, Address name) {
    return module_handle(context, narrow(wide_at(context.memory, name)));
}
uint32_t KERNEL32_FreeLibrary(Context& context, uint32_t module) {
    if ((module != 0 && context.module_based(module)) || provided_by_handle(context, module)) return kTrue;
    return fail(context, kErrorInvalidHandle);
}
uint32_t KERNEL32_DisableThreadLibraryCalls(Context&, uint32_t /*module*/) { return kTrue; }

// --- Locks and synchronisation ---------------------------------------------

uint32_t KERNEL32_InitializeCriticalSection(Context& context, Address lock) {
    initialize_lock(context, lock, 0);
    return 0;
}
uint32_t KERNEL32_InitializeCriticalSectionAndSpinCount(Context& context, Address lock, uint32_t spin_count) {
    initialize_lock(context, lock, spin_count);
    return kTrue;
}
uint32_t KERNEL32_EnterCriticalSection(Context& context, Address lock) {
    enter_lock(context, lock);
    return 0;
}
uint32_t KERNEL32_TryEnterCriticalSection(Context& context, Address lock) {
    enter_lock(context, lock);
    return kTrue;
}
uint32_t KERNEL32_LeaveCriticalSection(Context& context, Address address) {
    writable(context.memory, address, sizeof(pe::CriticalSection));
    auto lock = get<pe::CriticalSection>(context, address);
    if (lock.recursion_count == 0) return 0;  // left more often than entered: Windows would not notice either
    --lock.recursion_count;
    --lock.lock_count;
    if (lock.recursion_count == 0) lock.owning_thread = 0;
    put(context, address, lock);
    return 0;
}
uint32_t KERNEL32_DeleteCriticalSection(Context& context, Address lock) {
    put(context, lock, pe::CriticalSection{});
    return 0;
}
uint32_t KERNEL32_CreateEventA(Context& context, Address /*attributes*/, uint32_t manual_reset, uint32_t initial_state,
                               Address /*name*/) {
    auto event = std::make_shared<Context::Object>(Context::ObjectKind::kEvent);
    event->manual_reset = manual_reset != 0;
    event->signalled = initial_state != 0;
    return context.add_object(std::move(event));
}
uint32_t KERNEL32_SetEvent(Context& context, uint32_t handle) {
    Context::Object* event = context.object(handle);
    if (event == nullptr || event->kind != Context::ObjectKind::kEvent) return fail(context, kErrorInvalidHandle);
    event->signalled = true;
    return kTrue;
}
uint32_t KERNEL32_ResetEvent(Context& context, uint32_t handle) {
    Context::Object* event = context.object(handle);
    if (event == nullptr || event->kind != Context::ObjectKind::kEvent) return fail(context, kErrorInvalidHandle);
    event->signalled = false;
    return kTrue;
}
uint32_t KERNEL32_CreateSemaphoreA(Context& context, Address /*attributes*/, int32_t initial, int32_t maximum,
                                   Address /*name*/) {
    if (maximum <= 0 || initial < 0 || initial > maximum) return fail(context, kErrorInvalidParameter);
    auto semaphore = std::make_shared<Context::Object>(Context::ObjectKind::kSemaphore);
    semaphore->count = initial;
    semaphore->maximum = maximum;
    return context.add_object(std::move(semaphore));
}
uint32_t KERNEL32_ReleaseSemaphore(Context& context, uint32_t handle, int32_t release, Address previous) {
    Context::Object* semaphore = context.object(handle);
    if (semaphore == nullptr || semaphore->kind != Context::ObjectKind::kSemaphore) {
        return fail(context, kErrorInvalidHandle);
    }
    if (release <= 0 || int64_t{semaphore->count} + release > semaphore->maximum) {
        return fail(context, kErrorTooManyPosts);
    }
    if (previous != 0) set_u32(context, previous, static_cast<uint32_t>(semaphore->count));
    semaphore->count += release;
    return kTrue;
}
uint32_t KERNEL32_WaitForSingleObject(Context& context, uint32_t handle, uint32_t timeout) {
    const auto taken = take(context, handle, true);
    if (!taken) return fail(context, kErrorInvalidHandle, kWaitFailed);
    return *taken ? 0 : time_out(context, "WaitForSingleObject", timeout);
}
uint32_t KERNEL32_WaitForMultipleObjects(Context& context, uint32_t count, Address handle_array, uint32_t wait_all,
                                         uint32_t timeout) {
    if (count == 0 || count > kMaximumWaitObjects) return fail(context, kErrorInvalidParameter, kWaitFailed);
    const auto handles = context.memory.read_array(GuestPtr<uint32_t>(handle_array), count);
    const std::vector<uint32_t> list(handles.begin(), handles.end());
    const bool all = wait_all != 0;
    std::optional<uint32_t> ready;
    bool every = true;
    for (uint32_t i = 0; i < count; ++i) {
        const auto taken = take(context, list[i], false);
        if (!taken) return fail(context, kErrorInvalidHandle, kWaitFailed);
        if (*taken && !ready) ready = i;
        every = every && *taken;
    }
    if (all && every) {
        for (uint32_t handle : list) take(context, handle, true);
        return 0;
    }
    if (!all && ready) {
        take(context, list[*ready], true);
        return *ready;
    }
    return time_out(context, "WaitForMultipleObjects", timeout);
}
uint32_t KERNEL32_CloseHandle(Context& context, uint32_t handle) {
    if (handle == kCurrentProcess || handle == kCurrentThread) return kTrue;
    if (!context.close_handle(handle)) return fail(context, kErrorInvalidHandle);
    if (handle == context.process_heap) context.process_heap = 0;
    return kTrue;
}
uint32_t KERNEL32_DuplicateHandle(Context& context, uint32_t /*source_process*/, Address source,
                                  uint32_t /*target_process*/, Address target, uint32_t /*access*/,
                                  uint32_t /*inherit*/, uint32_t options) {
    std::shared_ptr<Context::Object> object;
    if (source == kCurrentThread) {
        object = std::make_shared<Context::Object>(Context::ObjectKind::kThread);
    } else if (source == kCurrentProcess) {
        object = std::make_shared<Context::Object>(Context::ObjectKind::kProcess);
    } else if (const auto it = context.objects.find(source); it != context.objects.end()) {
        object = it->second;
    } else {
        return fail(context, kErrorInvalidHandle);
    }
    const uint32_t handle = context.add_object(std::move(object));
    if (handle == 0) return kFalse;
    if (target != 0) set_u32(context, target, handle);
    if (options & 0x1) context.close_handle(source);  // DUPLICATE_CLOSE_SOURCE
    return kTrue;
}
uint32_t KERNEL32_GetHandleInformation(Context& context, uint32_t handle, uint32_t flags) {
    if (context.object(handle) == nullptr) return fail(context, kErrorInvalidHandle);
    set_u32(context, flags, 0);
    return kTrue;
}
uint32_t KERNEL32_InterlockedIncrement(Context& context, Address target) {
    uint32_t& value = context.memory.write(GuestPtr<uint32_t>(target));
    return ++value;
}
uint32_t KERNEL32_InterlockedDecrement(Context& context, Address target) {
    uint32_t& value = context.memory.write(GuestPtr<uint32_t>(target));
    return --value;
}
uint32_t KERNEL32_InterlockedExchange(Context& context, Address target, uint32_t replacement) {
    uint32_t& value = context.memory.write(GuestPtr<uint32_t>(target));
    return std::exchange(value, replacement);
}
uint32_t KERNEL32_InterlockedExchangeAdd(Context& context, Address target, uint32_t addend) {
    uint32_t& value = context.memory.write(GuestPtr<uint32_t>(target));
    return std::exchange(value, value + addend);
}
uint32_t KERNEL32_InterlockedCompareExchange(Context& context, Address target, uint32_t exchange, uint32_t comparand) {
    uint32_t& value = context.memory.write(GuestPtr<uint32_t>(target));
    const uint32_t old = value;
    if (old == comparand) value = exchange;
    return old;
}

// --- Thread-local storage --------------------------------------------------

uint32_t KERNEL32_TlsAlloc(Context& context) {
    const auto index = context.machine.allocate_tls_index();
    if (!index) return fail(context, kErrorNoMoreItems, kAllOnes);
    context.tls_in_use[*index] = true;
    return *index;
}
uint32_t KERNEL32_TlsGetValue(Context& context, uint32_t index) {
    if (index >= EmulatedMachine::kTlsSlots) return fail(context, kErrorInvalidParameter);
    context.last_error = kErrorSuccess;
    return context.machine.tls_slot(index);
}
uint32_t KERNEL32_TlsSetValue(Context& context, uint32_t index, uint32_t value) {
    if (index >= EmulatedMachine::kTlsSlots) return fail(context, kErrorInvalidParameter);
    context.machine.set_tls_slot(index, value);
    return kTrue;
}
uint32_t KERNEL32_TlsFree(Context& context, uint32_t index) {
    if (index >= EmulatedMachine::kTlsSlots || !context.tls_in_use[index]) {
        return fail(context, kErrorInvalidParameter);
    }
    context.tls_in_use[index] = false;
    context.machine.set_tls_slot(index, 0);
    context.machine.release_tls_index(index);
    return kTrue;
}

// --- The process, its thread, errors and debugging --------------------------

uint32_t KERNEL32_GetCurrentProcessId(Context&) { return kProcessId; }
uint32_t KERNEL32_GetCurrentThreadId(Context&) { return kThreadId; }
uint32_t KERNEL32_GetCurrentProcess(Context&) { return kCurrentProcess; }
uint32_t KERNEL32_GetCurrentThread(Context&) { return kCurrentThread; }
uint32_t KERNEL32_OpenProcess(Context& context, uint32_t /*access*/, uint32_t /*inherit*/, uint32_t process_id) {
    if (process_id != kProcessId) return fail(context, kErrorInvalidParameter);
    return context.add_object(std::make_shared<Context::Object>(Context::ObjectKind::kProcess));
}
uint32_t KERNEL32_GetThreadPriority(Context&, uint32_t /*thread*/) { return 0; }
uint32_t KERNEL32_SetThreadPriority(Context&, uint32_t /*thread*/, int32_t /*priority*/) { return kTrue; }
uint32_t KERNEL32_SuspendThread(Context& context, uint32_t /*thread*/) {
    return fail(context, kErrorNotSupported, kAllOnes);
}
uint32_t KERNEL32_ResumeThread(Context&, uint32_t /*thread*/) { return 0; }
uint32_t KERNEL32_GetThreadContext(Context& context, uint32_t /*thread*/, Address /*thread_context*/) {
    return fail(context, kErrorNotSupported);
}
uint32_t KERNEL32_SetThreadContext(Context& context, uint32_t /*thread*/, Address /*thread_context*/) {
    return fail(context, kErrorNotSupported);
}
uint32_t KERNEL32_GetProcessAffinityMask(Context& context, uint32_t /*process*/, Address process_mask,
                                         Address system_mask) {
    set_u32(context, process_mask, 1);
    set_u32(context, system_mask, 1);
    return kTrue;
}
uint32_t KERNEL32_SetProcessAffinityMask(Context&, uint32_t /*process*/, uint32_t /*mask*/) { return kTrue; }
uint32_t KERNEL32_TerminateProcess(Context& context, uint32_t process, uint32_t exit_code) {
    const Context::Object* object = context.object(process);
    if (process != kCurrentProcess && (object == nullptr || object->kind != Context::ObjectKind::kProcess)) {
        return fail(context, kErrorInvalidHandle);
    }
    context.stop("the module called TerminateProcess with exit code " + std::to_string(exit_code));
}
uint32_t KERNEL32_ExitProcess(Context& context, uint32_t exit_code) {
    context.stop("the module called ExitProcess with exit code " + std::to_string(exit_code));
}
uint32_t KERNEL32_GetLastError(Context& context) { return context.last_error; }
uint32_t KERNEL32_SetLastError(Context& context, uint32_t error) {
    context.last_error = error;
    return 0;
}
uint32_t KERNEL32_OutputDebugStringA(Context& context, Address text) {
    if (text != 0) context.debug(std::string(string_at(context.memory, text)));
    return 0;
}
uint32_t KERNEL32_IsDebuggerPresent(Context&) { return kFalse; }
uint32_t KERNEL32_SetUnhandledExceptionFilter(Context& context, Address filter) {
    return std::exchange(context.unhandled_filter, filter);
}
uint32_t KERNEL32_UnhandledExceptionFilter(Context&, Address /*exception_pointers*/) {
    return 0;
}  // EXCEPTION_CONTINUE_SEARCH
uint32_t KERNEL32_RaiseException(Context& context, uint32_t code, uint32_t /*flags*/, uint32_t /*argument_count*/,
                                 Address /*arguments*/) {
    context.stop("the module raised exception " + hex(code) + " (RaiseException)");
}
uint32_t KERNEL32_AddVectoredExceptionHandler(Context& context, uint32_t /*first*/, Address handler) {
    if (!context.within(Budget::kRegistrations)) return 0;
    const uint32_t entry = context.machine.allocate(8);
    set_u32(context, entry, handler);
    context.vectored_handlers.insert(entry);
    return entry;
}
uint32_t KERNEL32_RemoveVectoredExceptionHandler(Context& context, Address entry) {
    return context.vectored_handlers.erase(entry) ? 1 : 0;
}
uint32_t KERNEL32_GetStartupInfoA(Context& context, Address info) {
    put(context, info, pe::StartupInfoA{.size = sizeof(pe::StartupInfoA)});
    return 0;
}
uint32_t KERNEL32_GetCommandLineA(Context& context) { return context.text(kCommandLine); }
uint32_t KERNEL32_GetEnvironmentVariableA(Context& context, Address name, Address /*buffer*/, uint32_t /*size*/) {
    string_at(context.memory, name);
    return fail(context, kErrorEnvvarNotFound);
}

// --- Strings ---------------------------------------------------------------

uint32_t KERNEL32_lstrlenA(Context& context, Address text) {
    return text == 0 ? 0 : string_length(context.memory, text);
}
uint32_t KERNEL32_lstrcpyA(Context& context, Address destination, Address source) {
    put_string(context.memory, destination, std::string(string_at(context.memory, source)));
    return destination;
}
uint32_t KERNEL32_lstrcpynA(Context& context, Address destination, Address source, uint32_t size) {
    if (size == 0) return destination;
    put_string(context.memory, destination, std::string(string_at(context.memory, source, size - 1)));
    return destination;
}
uint32_t KERNEL32_lstrcatA(Context& context, Address destination, Address source) {
    const uint32_t length = string_length(context.memory, destination);
    put_string(context.memory, destination + length, std::string(string_at(context.memory, source)));
    return destination;
}
uint32_t KERNEL32_lstrcmpA(Context& context, uint32_t first, uint32_t second) {
    const auto a = optional_string(context.memory, first).value_or("");
    const auto b = optional_string(context.memory, second).value_or("");
    return static_cast<uint32_t>(compare(a, b, false));
}
uint32_t KERNEL32_lstrcmpiA(Context& context, uint32_t first, uint32_t second) {
    const auto a = optional_string(context.memory, first).value_or("");
    const auto b = optional_string(context.memory, second).value_or("");
    return static_cast<uint32_t>(compare(a, b, true));
}
uint32_t KERNEL32_MultiByteToWideChar(Context& context, uint32_t /*code_page*/, uint32_t /*flags*/, uint32_t from,
                                      int32_t source_length, uint32_t to, uint32_t room) {
    if (from == 0 || source_length == 0 || source_length < -1) return fail(context, kErrorInvalidParameter);
    const uint32_t count =
        source_length == -1 ? string_length(context.memory, from) + 1 : static_cast<uint32_t>(source_length);
    const uint8_t* source = readable(context.memory, from, count);
    if (room == 0) return count;
    if (room < count) return fail(context, kErrorInsufficientBuffer);
    std::vector<uint8_t> wide(count * 2);
    for (uint32_t i = 0; i < count; ++i) wide[2 * i] = source[i];  // Latin-1: the high byte is 0
    context.memory.copy_in(to, wide.data(), count * 2);
    return count;
}
uint32_t KERNEL32_WideCharToMultiByte(Context& context, uint32_t /*code_page*/, uint32_t /*flags*/, uint32_t from,
                                      int32_t source_length, uint32_t to, uint32_t room, Address default_char,
                                      Address used_default) {
    if (from == 0 || source_length == 0 || source_length < -1) return fail(context, kErrorInvalidParameter);
    const uint32_t count =
        source_length == -1 ? wide_length(context.memory, from) + 1 : static_cast<uint32_t>(source_length);
    const uint8_t* source = readable(context.memory, from, count * 2);
    const char fallback =
        default_char != 0 ? static_cast<char>(context.memory.read(GuestPtr<uint8_t>(default_char))) : '?';
    std::string text(count, '\0');
    bool used_fallback = false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t c = source[2 * i] | source[2 * i + 1] << 8;
        used_fallback = used_fallback || c >= 0x100;
        text[i] = c < 0x100 ? static_cast<char>(c) : fallback;
    }
    if (used_default != 0) set_u32(context, used_default, used_fallback ? kTrue : kFalse);
    if (room == 0) return count;
    if (room < count) return fail(context, kErrorInsufficientBuffer);
    context.memory.copy_in(to, text.data(), count);
    return count;
}
uint32_t KERNEL32_IsDBCSLeadByteEx(Context&, uint32_t /*code_page*/, uint32_t /*byte*/) { return kFalse; }

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32
