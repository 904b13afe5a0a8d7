// Every Windows function the emulator's Win32Environment provides, one row
// each: what module code may import and what it gets. Any other import binds
// to a trap that stops the call naming DLL!name.
//
// X(DLL, name, (parameters), convention, shape, note)
//   DLL         KERNEL32, USER32 or msvcrt (resolve() takes any case, with or
//               without ".dll"; msvcr70 to msvcr120 are served as msvcrt)
//   parameters  typed and named as the routine DLL_name takes them after its
//               Context (win32_context.h declares it from them); the
//               argument words on the stack follow from the types (a double
//               takes two), and --trace names the arguments by them. An
//               Address is a guest address. Varargs: the fixed ones before
//               the "...", the routine takes where the rest begin after them.
//               Code: what its code reads from the stack (the routine takes
//               none)
//   convention  Stdcall (the callee pops) or Cdecl (the caller pops)
//   shape       how the result comes back and, for the x87 helpers, how the
//               arguments come in:
//                 Eax         EAX
//                 EdxEax      a 64-bit result in EDX:EAX
//                 St0         a double in ST(0)
//                 Varargs     EAX; the arguments after the fixed ones are read
//                             from the caller's stack
//                 St0ToSt0    argument in ST(0), result in ST(0) (MSVC's _CI*)
//                 St1St0ToSt0 arguments x in ST(1), y in ST(0), result in ST(0)
//                 St0ToEdxEax argument in ST(0), popped; result in EDX:EAX
//                 Code        x86 code of the environment's own, no host
//                             routine (what has to move registers)
//
// Time is a virtual clock (Win32Environment::advance_clock): it starts at
// 2024-01-01 00:00:00 UTC one hour after a virtual start-up, the time zone is
// UTC, and it moves 1 µs with every reading of it, by Sleep's argument, and
// when the host advances it; so a run repeats exactly. There is one thread:
// locks are bookkeeping, a wait that could never end stops the call.
//
// What the functions hand out (handles, heaps, heap blocks, virtual memory,
// exit routines) counts against the module's budgets (win32_budgets.h);
// past one a function fails as it does on Windows when the system runs short.
#pragma once

// clang-format off
#define WIN32_FUNCTIONS(X) \
    /* Time and counters */ \
    X(KERNEL32, GetTickCount, (), Stdcall, Eax, "milliseconds since the virtual start-up") \
    X(KERNEL32, GetTickCount64, (), Stdcall, EdxEax, "the same, 64 bits") \
    X(KERNEL32, QueryPerformanceCounter, (Address counter), Stdcall, Eax, "100 ns ticks since the virtual start-up") \
    X(KERNEL32, QueryPerformanceFrequency, (Address frequency), Stdcall, Eax, "10 MHz") \
    X(KERNEL32, GetSystemTimeAsFileTime, (Address file_time), Stdcall, Eax, "the virtual clock as a FILETIME") \
    X(KERNEL32, GetSystemTime, (Address system_time), Stdcall, Eax, "the virtual clock as a SYSTEMTIME (UTC)") \
    X(KERNEL32, GetLocalTime, (Address local_time), Stdcall, Eax, "the same: local time is UTC") \
    X(KERNEL32, Sleep, (uint32_t milliseconds), Stdcall, Eax, "advances the clock, returns at once") \
    X(KERNEL32, SleepEx, (uint32_t milliseconds, uint32_t alertable), Stdcall, Eax, "the same; returns 0") \
    X(msvcrt, time, (uint32_t result), Cdecl, Eax, "seconds since 1970 (32 bits)") \
    X(msvcrt, _time32, (uint32_t result), Cdecl, Eax, "the same") \
    X(msvcrt, _time64, (uint32_t result), Cdecl, EdxEax, "the same, 64 bits") \
    X(msvcrt, clock, (), Cdecl, Eax, "milliseconds since the environment was made") \
    /* Modules */ \
    X(KERNEL32, GetModuleHandleA, (Address name), Stdcall, Eax, "null: the first module mapped; else a mapped module or a provided DLL by name") \
    X(KERNEL32, GetModuleHandleW, (Address name), Stdcall, Eax, "the same, UTF-16 name") \
    X(KERNEL32, GetModuleFileNameA, (uint32_t handle, Address buffer, uint32_t size), Stdcall, Eax, "the name the module was mapped under") \
    X(KERNEL32, GetProcAddress, (uint32_t handle, uint32_t wanted), Stdcall, Eax, "exports of mapped modules, this list for a provided DLL; else null, ERROR_PROC_NOT_FOUND") \
    X(KERNEL32, LoadLibraryA, (Address name), Stdcall, Eax, "mapped modules and provided DLLs only; else null, ERROR_MOD_NOT_FOUND") \
    X(KERNEL32, LoadLibraryW, (Address name), Stdcall, Eax, "the same, UTF-16 name") \
    X(KERNEL32, FreeLibrary, (uint32_t module), Stdcall, Eax, "TRUE for a handle LoadLibrary gives; nothing is unloaded") \
    X(KERNEL32, DisableThreadLibraryCalls, (uint32_t module), Stdcall, Eax, "TRUE: there are no other threads") \
    /* Locks and other synchronisation, for one thread */ \
    X(KERNEL32, InitializeCriticalSection, (Address lock), Stdcall, Eax, "fills the 24-byte record: free") \
    X(KERNEL32, InitializeCriticalSectionAndSpinCount, (Address lock, uint32_t spin_count), Stdcall, Eax, "the same, keeping the spin count; TRUE") \
    X(KERNEL32, EnterCriticalSection, (Address lock), Stdcall, Eax, "counts the recursion; never blocks") \
    X(KERNEL32, TryEnterCriticalSection, (Address lock), Stdcall, Eax, "the same; TRUE") \
    X(KERNEL32, LeaveCriticalSection, (Address address), Stdcall, Eax, "undoes one Enter") \
    X(KERNEL32, DeleteCriticalSection, (Address lock), Stdcall, Eax, "clears the record") \
    X(KERNEL32, CreateEventA, (Address attributes, uint32_t manual_reset, uint32_t initial_state, Address name), Stdcall, Eax, "an event handle (manual or auto reset, initial state kept)") \
    X(KERNEL32, SetEvent, (uint32_t handle), Stdcall, Eax, "signals it") \
    X(KERNEL32, ResetEvent, (uint32_t handle), Stdcall, Eax, "unsignals it") \
    X(KERNEL32, CreateSemaphoreA, (Address attributes, int32_t initial, int32_t maximum, Address name), Stdcall, Eax, "a semaphore handle with its count and maximum") \
    X(KERNEL32, ReleaseSemaphore, (uint32_t handle, int32_t release, Address previous), Stdcall, Eax, "raises the count; FALSE past the maximum") \
    X(KERNEL32, WaitForSingleObject, (uint32_t handle, uint32_t timeout), Stdcall, Eax, "signalled: WAIT_OBJECT_0; else a finite wait times out (clock advanced), an infinite one stops the call") \
    X(KERNEL32, WaitForMultipleObjects, (uint32_t count, Address handle_array, uint32_t wait_all, uint32_t timeout), Stdcall, Eax, "the same over several handles") \
    X(KERNEL32, CloseHandle, (uint32_t handle), Stdcall, Eax, "TRUE for a handle of this environment; else FALSE, ERROR_INVALID_HANDLE") \
    X(KERNEL32, DuplicateHandle, (uint32_t source_process, Address source, uint32_t target_process, Address target, uint32_t access, uint32_t inherit, uint32_t options), Stdcall, Eax, "a new handle to the same object (the current thread's and process's too)") \
    X(KERNEL32, GetHandleInformation, (uint32_t handle, uint32_t flags), Stdcall, Eax, "flags 0") \
    X(KERNEL32, InterlockedIncrement, (Address target), Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedDecrement, (Address target), Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedExchange, (Address target, uint32_t replacement), Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedExchangeAdd, (Address target, uint32_t addend), Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedCompareExchange, (Address target, uint32_t exchange, uint32_t comparand), Stdcall, Eax, "on guest memory") \
    /* Thread-local storage: the TLS array at fs:[0x2C] */ \
    X(KERNEL32, TlsAlloc, (), Stdcall, Eax, "the lowest free index of the 64 (modules' TLS blocks take theirs from the same allocator)") \
    X(KERNEL32, TlsGetValue, (uint32_t index), Stdcall, Eax, "the slot; last error ERROR_SUCCESS") \
    X(KERNEL32, TlsSetValue, (uint32_t index, uint32_t value), Stdcall, Eax, "sets the slot") \
    X(KERNEL32, TlsFree, (uint32_t index), Stdcall, Eax, "frees and clears the slot") \
    /* Virtual memory */ \
    X(KERNEL32, VirtualQuery, (Address address, Address buffer, uint32_t buffer_size), Stdcall, Eax, "the machine's page protections; images (MEM_IMAGE) by module, VirtualAlloc's blocks (MEM_RESERVE pages apart), the rest") \
    X(KERNEL32, VirtualProtect, (Address address, uint32_t size, uint32_t protect, Address old_protect), Stdcall, Eax, "inside a mapped image or VirtualAlloc's committed pages only; else FALSE, ERROR_INVALID_ADDRESS") \
    X(KERNEL32, VirtualAlloc, (Address address, uint32_t length, uint32_t type, uint32_t protect), Stdcall, Eax, "reserves (at the address rounded down to 64 KiB, else where there is room) and commits; NULL and ERROR_NOT_ENOUGH_MEMORY when no range is free, ERROR_INVALID_ADDRESS for one taken; MEM_COMMIT alone at an address commits pages of a reservation, zeroed the first time and after a decommit") \
    X(KERNEL32, VirtualFree, (Address address, uint32_t size, uint32_t type), Stdcall, Eax, "MEM_RELEASE unmaps a whole block from its base; MEM_DECOMMIT leaves pages reserved, out of reach") \
    /* Heaps: one allocator over a guest region of its own, every block counted */ \
    X(KERNEL32, GetProcessHeap, (), Stdcall, Eax, "the process heap's handle") \
    X(KERNEL32, HeapCreate, (uint32_t options, uint32_t initial_size, uint32_t maximum_size), Stdcall, Eax, "a heap handle; its blocks come from the same allocator") \
    X(KERNEL32, HeapDestroy, (uint32_t heap), Stdcall, Eax, "frees the heap's blocks") \
    X(KERNEL32, HeapAlloc, (uint32_t heap, uint32_t flags, uint32_t size), Stdcall, Eax, "HEAP_ZERO_MEMORY honoured; null when spent") \
    X(KERNEL32, HeapReAlloc, (uint32_t heap, uint32_t flags, Address block, uint32_t size), Stdcall, Eax, "HEAP_REALLOC_IN_PLACE_ONLY and HEAP_ZERO_MEMORY honoured") \
    X(KERNEL32, HeapFree, (uint32_t heap, uint32_t flags, Address block), Stdcall, Eax, "TRUE; a pointer the heap did not hand out stops the call") \
    X(KERNEL32, HeapSize, (uint32_t heap, uint32_t flags, Address block), Stdcall, Eax, "the size asked for") \
    X(KERNEL32, LocalAlloc, (uint32_t flags, uint32_t size), Stdcall, Eax, "fixed memory (LMEM_ZEROINIT honoured; a movable handle is the pointer)") \
    X(KERNEL32, LocalFree, (Address block), Stdcall, Eax, "null") \
    X(KERNEL32, GlobalAlloc, (uint32_t flags, uint32_t size), Stdcall, Eax, "as LocalAlloc") \
    X(KERNEL32, GlobalFree, (Address block), Stdcall, Eax, "as LocalFree") \
    /* The process, its one thread, errors and debugging */ \
    X(KERNEL32, GetCurrentProcessId, (), Stdcall, Eax, "a fixed number") \
    X(KERNEL32, GetCurrentThreadId, (), Stdcall, Eax, "a fixed number") \
    X(KERNEL32, GetCurrentProcess, (), Stdcall, Eax, "the pseudo-handle -1") \
    X(KERNEL32, GetCurrentThread, (), Stdcall, Eax, "the pseudo-handle -2") \
    X(KERNEL32, OpenProcess, (uint32_t access, uint32_t inherit, uint32_t process_id), Stdcall, Eax, "this process only; else null, ERROR_INVALID_PARAMETER") \
    X(KERNEL32, GetThreadPriority, (uint32_t thread), Stdcall, Eax, "THREAD_PRIORITY_NORMAL") \
    X(KERNEL32, SetThreadPriority, (uint32_t thread, int32_t priority), Stdcall, Eax, "TRUE, nothing changes") \
    X(KERNEL32, SuspendThread, (uint32_t thread), Stdcall, Eax, "-1: no thread may be suspended") \
    X(KERNEL32, ResumeThread, (uint32_t thread), Stdcall, Eax, "0: was not suspended") \
    X(KERNEL32, GetThreadContext, (uint32_t thread, Address thread_context), Stdcall, Eax, "FALSE, ERROR_NOT_SUPPORTED") \
    X(KERNEL32, SetThreadContext, (uint32_t thread, Address thread_context), Stdcall, Eax, "FALSE, ERROR_NOT_SUPPORTED") \
    X(KERNEL32, GetProcessAffinityMask, (uint32_t process, Address process_mask, Address system_mask), Stdcall, Eax, "one processor") \
    X(KERNEL32, SetProcessAffinityMask, (uint32_t process, uint32_t mask), Stdcall, Eax, "TRUE, nothing changes") \
    X(KERNEL32, TerminateProcess, (uint32_t process, uint32_t exit_code), Stdcall, Eax, "stops the call naming it") \
    X(KERNEL32, ExitProcess, (uint32_t exit_code), Stdcall, Eax, "stops the call naming it") \
    X(KERNEL32, GetLastError, (), Stdcall, Eax, "the thread's last error") \
    X(KERNEL32, SetLastError, (uint32_t error), Stdcall, Eax, "sets it") \
    X(KERNEL32, OutputDebugStringA, (Address text), Stdcall, Eax, "kept in debug_output()") \
    X(KERNEL32, IsDebuggerPresent, (), Stdcall, Eax, "FALSE") \
    X(KERNEL32, SetUnhandledExceptionFilter, (Address filter), Stdcall, Eax, "kept, never called (a fault ends the call); returns the previous one") \
    X(KERNEL32, UnhandledExceptionFilter, (Address exception_pointers), Stdcall, Eax, "EXCEPTION_CONTINUE_SEARCH") \
    X(KERNEL32, RaiseException, (uint32_t code, uint32_t flags, uint32_t argument_count, Address arguments), Stdcall, Eax, "stops the call naming the exception code") \
    X(KERNEL32, AddVectoredExceptionHandler, (uint32_t first, Address handler), Stdcall, Eax, "kept, never called; a handle") \
    X(KERNEL32, RemoveVectoredExceptionHandler, (Address entry), Stdcall, Eax, "1 for a handle Add gave") \
    X(KERNEL32, GetStartupInfoA, (Address info), Stdcall, Eax, "an empty STARTUPINFOA") \
    X(KERNEL32, GetCommandLineA, (), Stdcall, Eax, "\"gaugebench\"") \
    X(KERNEL32, GetEnvironmentVariableA, (Address name, Address buffer, uint32_t size), Stdcall, Eax, "0, ERROR_ENVVAR_NOT_FOUND: the environment is empty") \
    /* Strings */ \
    X(KERNEL32, lstrlenA, (Address text), Stdcall, Eax, "null: 0") \
    X(KERNEL32, lstrcpyA, (Address destination, Address source), Stdcall, Eax, "the destination") \
    X(KERNEL32, lstrcpynA, (Address destination, Address source, uint32_t size), Stdcall, Eax, "at most n - 1 characters and a NUL") \
    X(KERNEL32, lstrcatA, (Address destination, Address source), Stdcall, Eax, "the destination") \
    X(KERNEL32, lstrcmpA, (uint32_t first, uint32_t second), Stdcall, Eax, "-1, 0 or 1, by byte") \
    X(KERNEL32, lstrcmpiA, (uint32_t first, uint32_t second), Stdcall, Eax, "the same, ASCII case folded") \
    X(KERNEL32, MultiByteToWideChar, (uint32_t code_page, uint32_t flags, uint32_t from, int32_t source_length, uint32_t to, uint32_t room), Stdcall, Eax, "bytes as Latin-1, whatever the code page") \
    X(KERNEL32, WideCharToMultiByte, (uint32_t code_page, uint32_t flags, uint32_t from, int32_t source_length, uint32_t to, uint32_t room, Address default_char, Address used_default), Stdcall, Eax, "Latin-1; others become the default character") \
    X(KERNEL32, IsDBCSLeadByteEx, (uint32_t code_page, uint32_t byte), Stdcall, Eax, "FALSE: single-byte code pages only") \
    /* USER32 */ \
    X(USER32, FindWindowA, (Address class_name, Address window_name), Stdcall, Eax, "the host's window query (set_window_query); default: no window") \
    X(USER32, MessageBoxA, (uint32_t window, Address text, Address caption_text, uint32_t type), Stdcall, Eax, "IDOK; caption and text kept in debug_output()") \
    X(USER32, wsprintfA, (Address destination, Address format_string), Cdecl, Varargs, "the printf formatter into at most 1024 bytes") \
    /* What MinGW's and MSVC's C run-time start-up and shut-down call */ \
    X(msvcrt, _initterm, (uint32_t first, Address end), Cdecl, Eax, "calls each non-null pointer of the table") \
    X(msvcrt, _initterm_e, (uint32_t first, Address end), Cdecl, Eax, "the same, stopping at the first non-zero result") \
    X(msvcrt, _lock, (int32_t lock_number), Cdecl, Eax, "nothing: one thread") \
    X(msvcrt, _unlock, (int32_t lock_number), Cdecl, Eax, "nothing") \
    X(msvcrt, __dllonexit, (Address routine, Address table_begin, Address table_end), Cdecl, Eax, "appends to the module's own table (grown on the heap)") \
    X(msvcrt, _onexit, (Address routine), Cdecl, Eax, "kept, never called: the process outlives every module") \
    X(msvcrt, atexit, (Address routine), Cdecl, Eax, "the same; 0") \
    X(msvcrt, _amsg_exit, (uint32_t code), Cdecl, Eax, "stops the call naming the message number") \
    X(msvcrt, __getmainargs, (Address argc, Address argv, Address environment, int32_t expand_wildcards, Address startup_info), Cdecl, Eax, "argc 1, argv {\"gaugebench\"}, an empty environment") \
    X(msvcrt, __set_app_type, (int32_t app_type), Cdecl, Eax, "nothing") \
    X(msvcrt, __p__environ, (), Cdecl, Eax, "&_environ") \
    X(msvcrt, __p___initenv, (), Cdecl, Eax, "&__initenv") \
    X(msvcrt, __p__fmode, (), Cdecl, Eax, "&_fmode") \
    X(msvcrt, __p__commode, (), Cdecl, Eax, "&_commode") \
    X(msvcrt, _errno, (), Cdecl, Eax, "the thread's errno cell") \
    X(msvcrt, __iob_func, (), Cdecl, Eax, "_iob") \
    X(msvcrt, signal, (int32_t signal_number, Address handler), Cdecl, Eax, "kept, never raised; the previous handler (SIG_DFL); SIG_ERR, EINVAL for a number the C run-time has no signal of") \
    X(msvcrt, _beginthreadex, (Address security, uint32_t stack_size, Address start, Address argument, uint32_t flags, Address thread_id), Cdecl, Eax, "0, errno EAGAIN: no threads") \
    X(msvcrt, _endthreadex, (uint32_t exit_code), Cdecl, Eax, "stops the call naming it (only a thread of its own may end)") \
    X(msvcrt, _XcptFilter, (uint32_t code, Address exception_pointers), Cdecl, Eax, "EXCEPTION_CONTINUE_SEARCH") \
    X(msvcrt, __setusermatherr, (Address handler), Cdecl, Eax, "nothing") \
    X(msvcrt, _cexit, (), Cdecl, Eax, "nothing") \
    X(msvcrt, _exit, (int32_t status), Cdecl, Eax, "stops the call naming it and the status") \
    X(msvcrt, exit, (int32_t status), Cdecl, Eax, "the same") \
    X(msvcrt, abort, (), Cdecl, Eax, "stops the call naming it") \
    X(msvcrt, _purecall, (), Cdecl, Eax, "stops the call naming it") \
    X(msvcrt, _except_handler3, (Address record, Address frame, Address context_record, Address dispatcher), Cdecl, Eax, "ExceptionContinueSearch: a fault ends the call before any handler") \
    X(msvcrt, _setjmp3, (Address buffer, uint32_t count), Cdecl, Code, "saves EBP, EBX, EDI, ESI, ESP and the return address in the buffer; 0") \
    X(msvcrt, longjmp, (Address buffer, int32_t value), Cdecl, Code, "back to the _setjmp3 with the value (0 as 1); not across a host routine") \
    X(msvcrt, setlocale, (uint32_t category, Address name), Cdecl, Eax, "\"C\" for a query, \"C\" or \"\"; else null") \
    X(msvcrt, localeconv, (), Cdecl, Eax, "the C locale's lconv") \
    X(msvcrt, strerror, (uint32_t number), Cdecl, Eax, "msvcrt's message for the number") \
    X(msvcrt, getenv, (Address name), Cdecl, Eax, "null: the environment is empty") \
    /* Heap */ \
    X(msvcrt, malloc, (uint32_t size), Cdecl, Eax, "16-byte aligned; null (errno ENOMEM) when spent") \
    X(msvcrt, calloc, (uint32_t count, uint32_t element_size), Cdecl, Eax, "zeroed; null on overflow") \
    X(msvcrt, realloc, (Address block, uint32_t size), Cdecl, Eax, "in place when it can; null pointer: malloc; size 0: free, null") \
    X(msvcrt, free, (Address block), Cdecl, Eax, "null: nothing; a pointer the heap did not hand out stops the call") \
    X(msvcrt, _msize, (Address block), Cdecl, Eax, "the size asked for") \
    X(msvcrt, _strdup, (Address source), Cdecl, Eax, "a heap copy") \
    X(msvcrt, strdup, (Address source), Cdecl, Eax, "the same") \
    /* Memory and strings: a bad pointer stops the call naming the address */ \
    X(msvcrt, memcpy, (Address destination, Address source, uint32_t size), Cdecl, Eax, "overlap copies as memmove does") \
    X(msvcrt, memmove, (Address destination, Address source, uint32_t size), Cdecl, Eax, "") \
    X(msvcrt, memset, (Address destination, uint32_t value, uint32_t size), Cdecl, Eax, "") \
    X(msvcrt, memcmp, (uint32_t first, uint32_t second, uint32_t size), Cdecl, Eax, "") \
    X(msvcrt, memchr, (uint32_t bytes, uint32_t value, uint32_t size), Cdecl, Eax, "reads no further than the match") \
    X(msvcrt, strlen, (Address text), Cdecl, Eax, "") \
    X(msvcrt, wcslen, (Address text), Cdecl, Eax, "") \
    X(msvcrt, strcpy, (Address destination, Address source), Cdecl, Eax, "") \
    X(msvcrt, strncpy, (Address target, Address source, uint32_t size), Cdecl, Eax, "pads with NULs to n") \
    X(msvcrt, strcat, (Address destination, Address source), Cdecl, Eax, "") \
    X(msvcrt, strncat, (Address destination, Address source, uint32_t count), Cdecl, Eax, "") \
    X(msvcrt, strcmp, (uint32_t first, uint32_t second), Cdecl, Eax, "-1, 0 or 1") \
    X(msvcrt, strncmp, (uint32_t first, uint32_t second, uint32_t count), Cdecl, Eax, "") \
    X(msvcrt, _stricmp, (uint32_t first, uint32_t second), Cdecl, Eax, "ASCII case folded to lower case") \
    X(msvcrt, _strnicmp, (uint32_t first, uint32_t second, uint32_t count), Cdecl, Eax, "") \
    X(msvcrt, stricmp, (uint32_t first, uint32_t second), Cdecl, Eax, "_stricmp") \
    X(msvcrt, strnicmp, (uint32_t first, uint32_t second, uint32_t count), Cdecl, Eax, "_strnicmp") \
    X(msvcrt, strchr, (Address text, uint32_t c), Cdecl, Eax, "") \
    X(msvcrt, strrchr, (Address text, uint32_t c), Cdecl, Eax, "") \
    X(msvcrt, strstr, (Address haystack, Address needle), Cdecl, Eax, "") \
    X(msvcrt, tolower, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, toupper, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isdigit, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isspace, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isalpha, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isalnum, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isupper, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, islower, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, isxdigit, (int32_t c), Cdecl, Eax, "C locale") \
    X(msvcrt, atoi, (Address text), Cdecl, Eax, "") \
    X(msvcrt, atol, (Address text), Cdecl, Eax, "") \
    X(msvcrt, _atoi64, (Address text), Cdecl, EdxEax, "") \
    X(msvcrt, strtol, (Address text, Address end, Address base), Cdecl, Eax, "clamped, errno ERANGE") \
    X(msvcrt, strtoul, (Address text, Address end, Address base), Cdecl, Eax, "") \
    X(msvcrt, atof, (Address text), Cdecl, St0, "") \
    X(msvcrt, strtod, (Address text, Address end), Cdecl, St0, "") \
    X(msvcrt, _itoa, (uint32_t number, Address buffer, uint32_t radix), Cdecl, Eax, "radix 2 to 36; negative only in radix 10") \
    X(msvcrt, _ltoa, (uint32_t number, Address buffer, uint32_t radix), Cdecl, Eax, "the same") \
    X(msvcrt, _ultoa, (uint32_t value, Address buffer, uint32_t radix), Cdecl, Eax, "radix 2 to 36") \
    /* The printf family: msvcrt's text; output streams go to console_output() */ \
    X(msvcrt, sprintf, (Address destination, Address format_string), Cdecl, Varargs, "a destination too small for the text stops the call") \
    X(msvcrt, vsprintf, (Address destination, Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, _snprintf, (Address destination, uint32_t room, Address format_string), Cdecl, Varargs, "msvcrt's: -1 and no NUL when the text does not fit") \
    X(msvcrt, _vsnprintf, (Address destination, uint32_t room, Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, snprintf, (Address destination, uint32_t room, Address format_string), Cdecl, Varargs, "C99's: always NUL-terminated, returns the whole length") \
    X(msvcrt, vsnprintf, (Address destination, uint32_t room, Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, _scprintf, (Address format_string), Cdecl, Varargs, "the length only") \
    X(msvcrt, _vscprintf, (Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, printf, (Address format_string), Cdecl, Varargs, "to console_output()") \
    X(msvcrt, vprintf, (Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, fprintf, (Address stream, Address format_string), Cdecl, Varargs, "stdout and stderr to console_output(); other _iob streams: -1") \
    X(msvcrt, vfprintf, (Address stream, Address format_string, Address arguments), Cdecl, Eax, "the same") \
    X(msvcrt, puts, (Address text), Cdecl, Eax, "with a newline") \
    X(msvcrt, putchar, (uint32_t character), Cdecl, Eax, "") \
    X(msvcrt, fputs, (Address string, Address stream), Cdecl, Eax, "") \
    X(msvcrt, fputc, (uint32_t character, Address stream), Cdecl, Eax, "") \
    X(msvcrt, fwrite, (Address data, uint32_t element_size, uint32_t count, Address stream), Cdecl, Eax, "the count written") \
    X(msvcrt, fflush, (Address stream), Cdecl, Eax, "0") \
    /* Maths, with the host's libm */ \
    X(msvcrt, sin, (double x), Cdecl, St0, "") \
    X(msvcrt, cos, (double x), Cdecl, St0, "") \
    X(msvcrt, tan, (double x), Cdecl, St0, "") \
    X(msvcrt, asin, (double x), Cdecl, St0, "") \
    X(msvcrt, acos, (double x), Cdecl, St0, "") \
    X(msvcrt, atan, (double x), Cdecl, St0, "") \
    X(msvcrt, atan2, (double y, double x), Cdecl, St0, "") \
    X(msvcrt, sqrt, (double x), Cdecl, St0, "") \
    X(msvcrt, pow, (double x, double y), Cdecl, St0, "") \
    X(msvcrt, exp, (double x), Cdecl, St0, "") \
    X(msvcrt, log, (double x), Cdecl, St0, "") \
    X(msvcrt, log10, (double x), Cdecl, St0, "") \
    X(msvcrt, floor, (double x), Cdecl, St0, "") \
    X(msvcrt, ceil, (double x), Cdecl, St0, "") \
    X(msvcrt, fabs, (double x), Cdecl, St0, "") \
    X(msvcrt, fmod, (double x, double y), Cdecl, St0, "") \
    X(msvcrt, modf, (double x, Address whole_part), Cdecl, St0, "the whole part through the pointer") \
    X(msvcrt, ldexp, (double x, int32_t exponent), Cdecl, St0, "") \
    X(msvcrt, frexp, (double x, Address exponent_cell), Cdecl, St0, "the exponent through the pointer") \
    X(msvcrt, _hypot, (double x, double y), Cdecl, St0, "") \
    X(msvcrt, _copysign, (double x, double y), Cdecl, St0, "") \
    X(msvcrt, _isnan, (double x), Cdecl, Eax, "") \
    X(msvcrt, _finite, (double x), Cdecl, Eax, "") \
    X(msvcrt, _CIsin, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIcos, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CItan, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIasin, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIacos, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIatan, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIsqrt, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIexp, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIlog, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIlog10, (double x), Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIpow, (double x, double y), Cdecl, St1St0ToSt0, "x in ST(1), y in ST(0)") \
    X(msvcrt, _CIatan2, (double y, double x), Cdecl, St1St0ToSt0, "y in ST(1), x in ST(0)") \
    X(msvcrt, _CIfmod, (double x, double y), Cdecl, St1St0ToSt0, "x in ST(1), y in ST(0)") \
    X(msvcrt, _ftol, (double x), Cdecl, St0ToEdxEax, "truncated toward zero; out of range: 0x8000000000000000")

// Data imports: X(DLL, name, bytes, note). The environment allocates each
// once and the import's cell gets its address.
#define WIN32_DATA(X) \
    X(msvcrt, _iob, pe::kCrtStreams * sizeof(pe::CrtFile), "20 FILE records: stdin, stdout, stderr, then closed streams") \
    X(msvcrt, _commode, 4, "0") \
    X(msvcrt, _fmode, 4, "0 (_O_TEXT)") \
    X(msvcrt, __initenv, 4, "an empty environment") \
    X(msvcrt, _environ, 4, "the same") \
    X(msvcrt, _acmdln, 4, "\"gaugebench\"") \
    X(msvcrt, __argc, 4, "1") \
    X(msvcrt, __argv, 4, "{\"gaugebench\", null}") \
    X(msvcrt, __mb_cur_max, 4, "1") \
    X(msvcrt, _adjust_fdiv, 4, "0: no Pentium FDIV workaround")
// clang-format on
