// Every Windows function the emulator's Win32Environment provides, one row
// each: what module code may import and what it gets. Any other import binds
// to a trap that stops the call naming DLL!name.
//
// X(DLL, name, argument words, convention, shape, note)
//   DLL         KERNEL32, USER32 or msvcrt (resolve() takes any case, with or
//               without ".dll"; msvcr70 to msvcr120 are served as msvcrt)
//   words       32-bit argument words on the stack (a double takes two); for
//               Varargs the fixed ones before the "..."
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
    X(KERNEL32, GetTickCount, 0, Stdcall, Eax, "milliseconds since the virtual start-up") \
    X(KERNEL32, GetTickCount64, 0, Stdcall, EdxEax, "the same, 64 bits") \
    X(KERNEL32, QueryPerformanceCounter, 1, Stdcall, Eax, "100 ns ticks since the virtual start-up") \
    X(KERNEL32, QueryPerformanceFrequency, 1, Stdcall, Eax, "10 MHz") \
    X(KERNEL32, GetSystemTimeAsFileTime, 1, Stdcall, Eax, "the virtual clock as a FILETIME") \
    X(KERNEL32, GetSystemTime, 1, Stdcall, Eax, "the virtual clock as a SYSTEMTIME (UTC)") \
    X(KERNEL32, GetLocalTime, 1, Stdcall, Eax, "the same: local time is UTC") \
    X(KERNEL32, Sleep, 1, Stdcall, Eax, "advances the clock, returns at once") \
    X(KERNEL32, SleepEx, 2, Stdcall, Eax, "the same; returns 0") \
    X(msvcrt, time, 1, Cdecl, Eax, "seconds since 1970 (32 bits)") \
    X(msvcrt, _time32, 1, Cdecl, Eax, "the same") \
    X(msvcrt, _time64, 1, Cdecl, EdxEax, "the same, 64 bits") \
    X(msvcrt, clock, 0, Cdecl, Eax, "milliseconds since the environment was made") \
    /* Modules */ \
    X(KERNEL32, GetModuleHandleA, 1, Stdcall, Eax, "null: the first module mapped; else a mapped module or a provided DLL by name") \
    X(KERNEL32, GetModuleHandleW, 1, Stdcall, Eax, "the same, UTF-16 name") \
    X(KERNEL32, GetModuleFileNameA, 3, Stdcall, Eax, "the name the module was mapped under") \
    X(KERNEL32, GetProcAddress, 2, Stdcall, Eax, "exports of mapped modules, this list for a provided DLL; else null, ERROR_PROC_NOT_FOUND") \
    X(KERNEL32, LoadLibraryA, 1, Stdcall, Eax, "mapped modules and provided DLLs only; else null, ERROR_MOD_NOT_FOUND") \
    X(KERNEL32, LoadLibraryW, 1, Stdcall, Eax, "the same, UTF-16 name") \
    X(KERNEL32, FreeLibrary, 1, Stdcall, Eax, "TRUE for a handle LoadLibrary gives; nothing is unloaded") \
    X(KERNEL32, DisableThreadLibraryCalls, 1, Stdcall, Eax, "TRUE: there are no other threads") \
    /* Locks and other synchronisation, for one thread */ \
    X(KERNEL32, InitializeCriticalSection, 1, Stdcall, Eax, "fills the 24-byte record: free") \
    X(KERNEL32, InitializeCriticalSectionAndSpinCount, 2, Stdcall, Eax, "the same, keeping the spin count; TRUE") \
    X(KERNEL32, EnterCriticalSection, 1, Stdcall, Eax, "counts the recursion; never blocks") \
    X(KERNEL32, TryEnterCriticalSection, 1, Stdcall, Eax, "the same; TRUE") \
    X(KERNEL32, LeaveCriticalSection, 1, Stdcall, Eax, "undoes one Enter") \
    X(KERNEL32, DeleteCriticalSection, 1, Stdcall, Eax, "clears the record") \
    X(KERNEL32, CreateEventA, 4, Stdcall, Eax, "an event handle (manual or auto reset, initial state kept)") \
    X(KERNEL32, SetEvent, 1, Stdcall, Eax, "signals it") \
    X(KERNEL32, ResetEvent, 1, Stdcall, Eax, "unsignals it") \
    X(KERNEL32, CreateSemaphoreA, 4, Stdcall, Eax, "a semaphore handle with its count and maximum") \
    X(KERNEL32, ReleaseSemaphore, 3, Stdcall, Eax, "raises the count; FALSE past the maximum") \
    X(KERNEL32, WaitForSingleObject, 2, Stdcall, Eax, "signalled: WAIT_OBJECT_0; else a finite wait times out (clock advanced), an infinite one stops the call") \
    X(KERNEL32, WaitForMultipleObjects, 4, Stdcall, Eax, "the same over several handles") \
    X(KERNEL32, CloseHandle, 1, Stdcall, Eax, "TRUE for a handle of this environment; else FALSE, ERROR_INVALID_HANDLE") \
    X(KERNEL32, DuplicateHandle, 7, Stdcall, Eax, "a new handle to the same object (the current thread's and process's too)") \
    X(KERNEL32, GetHandleInformation, 2, Stdcall, Eax, "flags 0") \
    X(KERNEL32, InterlockedIncrement, 1, Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedDecrement, 1, Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedExchange, 2, Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedExchangeAdd, 2, Stdcall, Eax, "on guest memory") \
    X(KERNEL32, InterlockedCompareExchange, 3, Stdcall, Eax, "on guest memory") \
    /* Thread-local storage: the TLS array at fs:[0x2C] */ \
    X(KERNEL32, TlsAlloc, 0, Stdcall, Eax, "the lowest free index of the 64 (modules' TLS blocks take theirs from the same allocator)") \
    X(KERNEL32, TlsGetValue, 1, Stdcall, Eax, "the slot; last error ERROR_SUCCESS") \
    X(KERNEL32, TlsSetValue, 2, Stdcall, Eax, "sets the slot") \
    X(KERNEL32, TlsFree, 1, Stdcall, Eax, "frees and clears the slot") \
    /* Virtual memory */ \
    X(KERNEL32, VirtualQuery, 3, Stdcall, Eax, "the machine's page protections; images (MEM_IMAGE) by module, VirtualAlloc's blocks (MEM_RESERVE pages apart), the rest") \
    X(KERNEL32, VirtualProtect, 4, Stdcall, Eax, "inside a mapped image or VirtualAlloc's committed pages only; else FALSE, ERROR_INVALID_ADDRESS") \
    X(KERNEL32, VirtualAlloc, 4, Stdcall, Eax, "reserves (at the address rounded down to 64 KiB, else where there is room) and commits; NULL and ERROR_NOT_ENOUGH_MEMORY when no range is free, ERROR_INVALID_ADDRESS for one taken; MEM_COMMIT alone at an address commits pages of a reservation, zeroed the first time and after a decommit") \
    X(KERNEL32, VirtualFree, 3, Stdcall, Eax, "MEM_RELEASE unmaps a whole block from its base; MEM_DECOMMIT leaves pages reserved, out of reach") \
    /* Heaps: one allocator over a guest region of its own, every block counted */ \
    X(KERNEL32, GetProcessHeap, 0, Stdcall, Eax, "the process heap's handle") \
    X(KERNEL32, HeapCreate, 3, Stdcall, Eax, "a heap handle; its blocks come from the same allocator") \
    X(KERNEL32, HeapDestroy, 1, Stdcall, Eax, "frees the heap's blocks") \
    X(KERNEL32, HeapAlloc, 3, Stdcall, Eax, "HEAP_ZERO_MEMORY honoured; null when spent") \
    X(KERNEL32, HeapReAlloc, 4, Stdcall, Eax, "HEAP_REALLOC_IN_PLACE_ONLY and HEAP_ZERO_MEMORY honoured") \
    X(KERNEL32, HeapFree, 3, Stdcall, Eax, "TRUE; a pointer the heap did not hand out stops the call") \
    X(KERNEL32, HeapSize, 3, Stdcall, Eax, "the size asked for") \
    X(KERNEL32, LocalAlloc, 2, Stdcall, Eax, "fixed memory (LMEM_ZEROINIT honoured; a movable handle is the pointer)") \
    X(KERNEL32, LocalFree, 1, Stdcall, Eax, "null") \
    X(KERNEL32, GlobalAlloc, 2, Stdcall, Eax, "as LocalAlloc") \
    X(KERNEL32, GlobalFree, 1, Stdcall, Eax, "as LocalFree") \
    /* The process, its one thread, errors and debugging */ \
    X(KERNEL32, GetCurrentProcessId, 0, Stdcall, Eax, "a fixed number") \
    X(KERNEL32, GetCurrentThreadId, 0, Stdcall, Eax, "a fixed number") \
    X(KERNEL32, GetCurrentProcess, 0, Stdcall, Eax, "the pseudo-handle -1") \
    X(KERNEL32, GetCurrentThread, 0, Stdcall, Eax, "the pseudo-handle -2") \
    X(KERNEL32, OpenProcess, 3, Stdcall, Eax, "this process only; else null, ERROR_INVALID_PARAMETER") \
    X(KERNEL32, GetThreadPriority, 1, Stdcall, Eax, "THREAD_PRIORITY_NORMAL") \
    X(KERNEL32, SetThreadPriority, 2, Stdcall, Eax, "TRUE, nothing changes") \
    X(KERNEL32, SuspendThread, 1, Stdcall, Eax, "-1: no thread may be suspended") \
    X(KERNEL32, ResumeThread, 1, Stdcall, Eax, "0: was not suspended") \
    X(KERNEL32, GetThreadContext, 2, Stdcall, Eax, "FALSE, ERROR_NOT_SUPPORTED") \
    X(KERNEL32, SetThreadContext, 2, Stdcall, Eax, "FALSE, ERROR_NOT_SUPPORTED") \
    X(KERNEL32, GetProcessAffinityMask, 3, Stdcall, Eax, "one processor") \
    X(KERNEL32, SetProcessAffinityMask, 2, Stdcall, Eax, "TRUE, nothing changes") \
    X(KERNEL32, TerminateProcess, 2, Stdcall, Eax, "stops the call naming it") \
    X(KERNEL32, ExitProcess, 1, Stdcall, Eax, "stops the call naming it") \
    X(KERNEL32, GetLastError, 0, Stdcall, Eax, "the thread's last error") \
    X(KERNEL32, SetLastError, 1, Stdcall, Eax, "sets it") \
    X(KERNEL32, OutputDebugStringA, 1, Stdcall, Eax, "kept in debug_output()") \
    X(KERNEL32, IsDebuggerPresent, 0, Stdcall, Eax, "FALSE") \
    X(KERNEL32, SetUnhandledExceptionFilter, 1, Stdcall, Eax, "kept, never called (a fault ends the call); returns the previous one") \
    X(KERNEL32, UnhandledExceptionFilter, 1, Stdcall, Eax, "EXCEPTION_CONTINUE_SEARCH") \
    X(KERNEL32, RaiseException, 4, Stdcall, Eax, "stops the call naming the exception code") \
    X(KERNEL32, AddVectoredExceptionHandler, 2, Stdcall, Eax, "kept, never called; a handle") \
    X(KERNEL32, RemoveVectoredExceptionHandler, 1, Stdcall, Eax, "1 for a handle Add gave") \
    X(KERNEL32, GetStartupInfoA, 1, Stdcall, Eax, "an empty STARTUPINFOA") \
    X(KERNEL32, GetCommandLineA, 0, Stdcall, Eax, "\"gaugebench\"") \
    X(KERNEL32, GetEnvironmentVariableA, 3, Stdcall, Eax, "0, ERROR_ENVVAR_NOT_FOUND: the environment is empty") \
    /* Strings */ \
    X(KERNEL32, lstrlenA, 1, Stdcall, Eax, "null: 0") \
    X(KERNEL32, lstrcpyA, 2, Stdcall, Eax, "the destination") \
    X(KERNEL32, lstrcpynA, 3, Stdcall, Eax, "at most n - 1 characters and a NUL") \
    X(KERNEL32, lstrcatA, 2, Stdcall, Eax, "the destination") \
    X(KERNEL32, lstrcmpA, 2, Stdcall, Eax, "-1, 0 or 1, by byte") \
    X(KERNEL32, lstrcmpiA, 2, Stdcall, Eax, "the same, ASCII case folded") \
    X(KERNEL32, MultiByteToWideChar, 6, Stdcall, Eax, "bytes as Latin-1, whatever the code page") \
    X(KERNEL32, WideCharToMultiByte, 8, Stdcall, Eax, "Latin-1; others become the default character") \
    X(KERNEL32, IsDBCSLeadByteEx, 2, Stdcall, Eax, "FALSE: single-byte code pages only") \
    /* USER32 */ \
    X(USER32, FindWindowA, 2, Stdcall, Eax, "the host's window query (set_window_query); default: no window") \
    X(USER32, MessageBoxA, 4, Stdcall, Eax, "IDOK; caption and text kept in debug_output()") \
    X(USER32, wsprintfA, 2, Cdecl, Varargs, "the printf formatter into at most 1024 bytes") \
    /* What MinGW's and MSVC's C run-time start-up and shut-down call */ \
    X(msvcrt, _initterm, 2, Cdecl, Eax, "calls each non-null pointer of the table") \
    X(msvcrt, _initterm_e, 2, Cdecl, Eax, "the same, stopping at the first non-zero result") \
    X(msvcrt, _lock, 1, Cdecl, Eax, "nothing: one thread") \
    X(msvcrt, _unlock, 1, Cdecl, Eax, "nothing") \
    X(msvcrt, __dllonexit, 3, Cdecl, Eax, "appends to the module's own table (grown on the heap)") \
    X(msvcrt, _onexit, 1, Cdecl, Eax, "kept, never called: the process outlives every module") \
    X(msvcrt, atexit, 1, Cdecl, Eax, "the same; 0") \
    X(msvcrt, _amsg_exit, 1, Cdecl, Eax, "stops the call naming the message number") \
    X(msvcrt, __getmainargs, 5, Cdecl, Eax, "argc 1, argv {\"gaugebench\"}, an empty environment") \
    X(msvcrt, __set_app_type, 1, Cdecl, Eax, "nothing") \
    X(msvcrt, __p__environ, 0, Cdecl, Eax, "&_environ") \
    X(msvcrt, __p___initenv, 0, Cdecl, Eax, "&__initenv") \
    X(msvcrt, __p__fmode, 0, Cdecl, Eax, "&_fmode") \
    X(msvcrt, __p__commode, 0, Cdecl, Eax, "&_commode") \
    X(msvcrt, _errno, 0, Cdecl, Eax, "the thread's errno cell") \
    X(msvcrt, __iob_func, 0, Cdecl, Eax, "_iob") \
    X(msvcrt, signal, 2, Cdecl, Eax, "kept, never raised; the previous handler (SIG_DFL); SIG_ERR, EINVAL for a number the C run-time has no signal of") \
    X(msvcrt, _beginthreadex, 6, Cdecl, Eax, "0, errno EAGAIN: no threads") \
    X(msvcrt, _endthreadex, 1, Cdecl, Eax, "stops the call naming it (only a thread of its own may end)") \
    X(msvcrt, _XcptFilter, 2, Cdecl, Eax, "EXCEPTION_CONTINUE_SEARCH") \
    X(msvcrt, __setusermatherr, 1, Cdecl, Eax, "nothing") \
    X(msvcrt, _cexit, 0, Cdecl, Eax, "nothing") \
    X(msvcrt, _exit, 1, Cdecl, Eax, "stops the call naming it and the status") \
    X(msvcrt, exit, 1, Cdecl, Eax, "the same") \
    X(msvcrt, abort, 0, Cdecl, Eax, "stops the call naming it") \
    X(msvcrt, _purecall, 0, Cdecl, Eax, "stops the call naming it") \
    X(msvcrt, _except_handler3, 4, Cdecl, Eax, "ExceptionContinueSearch: a fault ends the call before any handler") \
    X(msvcrt, _setjmp3, 2, Cdecl, Code, "saves EBP, EBX, EDI, ESI, ESP and the return address in the buffer; 0") \
    X(msvcrt, longjmp, 2, Cdecl, Code, "back to the _setjmp3 with the value (0 as 1); not across a host routine") \
    X(msvcrt, setlocale, 2, Cdecl, Eax, "\"C\" for a query, \"C\" or \"\"; else null") \
    X(msvcrt, localeconv, 0, Cdecl, Eax, "the C locale's lconv") \
    X(msvcrt, strerror, 1, Cdecl, Eax, "msvcrt's message for the number") \
    X(msvcrt, getenv, 1, Cdecl, Eax, "null: the environment is empty") \
    /* Heap */ \
    X(msvcrt, malloc, 1, Cdecl, Eax, "16-byte aligned; null (errno ENOMEM) when spent") \
    X(msvcrt, calloc, 2, Cdecl, Eax, "zeroed; null on overflow") \
    X(msvcrt, realloc, 2, Cdecl, Eax, "in place when it can; null pointer: malloc; size 0: free, null") \
    X(msvcrt, free, 1, Cdecl, Eax, "null: nothing; a pointer the heap did not hand out stops the call") \
    X(msvcrt, _msize, 1, Cdecl, Eax, "the size asked for") \
    X(msvcrt, _strdup, 1, Cdecl, Eax, "a heap copy") \
    X(msvcrt, strdup, 1, Cdecl, Eax, "the same") \
    /* Memory and strings: a bad pointer stops the call naming the address */ \
    X(msvcrt, memcpy, 3, Cdecl, Eax, "overlap copies as memmove does") \
    X(msvcrt, memmove, 3, Cdecl, Eax, "") \
    X(msvcrt, memset, 3, Cdecl, Eax, "") \
    X(msvcrt, memcmp, 3, Cdecl, Eax, "") \
    X(msvcrt, memchr, 3, Cdecl, Eax, "reads no further than the match") \
    X(msvcrt, strlen, 1, Cdecl, Eax, "") \
    X(msvcrt, wcslen, 1, Cdecl, Eax, "") \
    X(msvcrt, strcpy, 2, Cdecl, Eax, "") \
    X(msvcrt, strncpy, 3, Cdecl, Eax, "pads with NULs to n") \
    X(msvcrt, strcat, 2, Cdecl, Eax, "") \
    X(msvcrt, strncat, 3, Cdecl, Eax, "") \
    X(msvcrt, strcmp, 2, Cdecl, Eax, "-1, 0 or 1") \
    X(msvcrt, strncmp, 3, Cdecl, Eax, "") \
    X(msvcrt, _stricmp, 2, Cdecl, Eax, "ASCII case folded to lower case") \
    X(msvcrt, _strnicmp, 3, Cdecl, Eax, "") \
    X(msvcrt, stricmp, 2, Cdecl, Eax, "_stricmp") \
    X(msvcrt, strnicmp, 3, Cdecl, Eax, "_strnicmp") \
    X(msvcrt, strchr, 2, Cdecl, Eax, "") \
    X(msvcrt, strrchr, 2, Cdecl, Eax, "") \
    X(msvcrt, strstr, 2, Cdecl, Eax, "") \
    X(msvcrt, tolower, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, toupper, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isdigit, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isspace, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isalpha, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isalnum, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isupper, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, islower, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, isxdigit, 1, Cdecl, Eax, "C locale") \
    X(msvcrt, atoi, 1, Cdecl, Eax, "") \
    X(msvcrt, atol, 1, Cdecl, Eax, "") \
    X(msvcrt, _atoi64, 1, Cdecl, EdxEax, "") \
    X(msvcrt, strtol, 3, Cdecl, Eax, "clamped, errno ERANGE") \
    X(msvcrt, strtoul, 3, Cdecl, Eax, "") \
    X(msvcrt, atof, 1, Cdecl, St0, "") \
    X(msvcrt, strtod, 2, Cdecl, St0, "") \
    X(msvcrt, _itoa, 3, Cdecl, Eax, "radix 2 to 36; negative only in radix 10") \
    X(msvcrt, _ltoa, 3, Cdecl, Eax, "the same") \
    X(msvcrt, _ultoa, 3, Cdecl, Eax, "radix 2 to 36") \
    /* The printf family: msvcrt's text; output streams go to console_output() */ \
    X(msvcrt, sprintf, 2, Cdecl, Varargs, "a destination too small for the text stops the call") \
    X(msvcrt, vsprintf, 3, Cdecl, Eax, "the same") \
    X(msvcrt, _snprintf, 3, Cdecl, Varargs, "msvcrt's: -1 and no NUL when the text does not fit") \
    X(msvcrt, _vsnprintf, 4, Cdecl, Eax, "the same") \
    X(msvcrt, snprintf, 3, Cdecl, Varargs, "C99's: always NUL-terminated, returns the whole length") \
    X(msvcrt, vsnprintf, 4, Cdecl, Eax, "the same") \
    X(msvcrt, _scprintf, 1, Cdecl, Varargs, "the length only") \
    X(msvcrt, _vscprintf, 2, Cdecl, Eax, "the same") \
    X(msvcrt, printf, 1, Cdecl, Varargs, "to console_output()") \
    X(msvcrt, vprintf, 2, Cdecl, Eax, "the same") \
    X(msvcrt, fprintf, 2, Cdecl, Varargs, "stdout and stderr to console_output(); other _iob streams: -1") \
    X(msvcrt, vfprintf, 3, Cdecl, Eax, "the same") \
    X(msvcrt, puts, 1, Cdecl, Eax, "with a newline") \
    X(msvcrt, putchar, 1, Cdecl, Eax, "") \
    X(msvcrt, fputs, 2, Cdecl, Eax, "") \
    X(msvcrt, fputc, 2, Cdecl, Eax, "") \
    X(msvcrt, fwrite, 4, Cdecl, Eax, "the count written") \
    X(msvcrt, fflush, 1, Cdecl, Eax, "0") \
    /* Maths, with the host's libm */ \
    X(msvcrt, sin, 2, Cdecl, St0, "") \
    X(msvcrt, cos, 2, Cdecl, St0, "") \
    X(msvcrt, tan, 2, Cdecl, St0, "") \
    X(msvcrt, asin, 2, Cdecl, St0, "") \
    X(msvcrt, acos, 2, Cdecl, St0, "") \
    X(msvcrt, atan, 2, Cdecl, St0, "") \
    X(msvcrt, atan2, 4, Cdecl, St0, "") \
    X(msvcrt, sqrt, 2, Cdecl, St0, "") \
    X(msvcrt, pow, 4, Cdecl, St0, "") \
    X(msvcrt, exp, 2, Cdecl, St0, "") \
    X(msvcrt, log, 2, Cdecl, St0, "") \
    X(msvcrt, log10, 2, Cdecl, St0, "") \
    X(msvcrt, floor, 2, Cdecl, St0, "") \
    X(msvcrt, ceil, 2, Cdecl, St0, "") \
    X(msvcrt, fabs, 2, Cdecl, St0, "") \
    X(msvcrt, fmod, 4, Cdecl, St0, "") \
    X(msvcrt, modf, 3, Cdecl, St0, "the whole part through the pointer") \
    X(msvcrt, ldexp, 3, Cdecl, St0, "") \
    X(msvcrt, frexp, 3, Cdecl, St0, "the exponent through the pointer") \
    X(msvcrt, _hypot, 4, Cdecl, St0, "") \
    X(msvcrt, _copysign, 4, Cdecl, St0, "") \
    X(msvcrt, _isnan, 2, Cdecl, Eax, "") \
    X(msvcrt, _finite, 2, Cdecl, Eax, "") \
    X(msvcrt, _CIsin, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIcos, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CItan, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIasin, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIacos, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIatan, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIsqrt, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIexp, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIlog, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIlog10, 0, Cdecl, St0ToSt0, "") \
    X(msvcrt, _CIpow, 0, Cdecl, St1St0ToSt0, "x in ST(1), y in ST(0)") \
    X(msvcrt, _CIatan2, 0, Cdecl, St1St0ToSt0, "y in ST(1), x in ST(0)") \
    X(msvcrt, _CIfmod, 0, Cdecl, St1St0ToSt0, "x in ST(1), y in ST(0)") \
    X(msvcrt, _ftol, 0, Cdecl, St0ToEdxEax, "truncated toward zero; out of range: 0x8000000000000000")

// Data imports: X(DLL, name, bytes, note). The environment allocates each
// once and the import's cell gets its address.
#define WIN32_DATA(X) \
    X(msvcrt, _iob, 20 * 32, "20 FILE records: stdin, stdout, stderr, then closed streams") \
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
