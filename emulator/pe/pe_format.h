// The on-disk and in-guest structures of 32-bit Windows the emulator reads
// and fills: the PE file's headers and directories, and the records the
// Windows functions hand to module code, each written once as a field list
// (frame/format_struct.h). The bitmaps a module carries have theirs in
// frame/bitmap_format.h.
#pragma once

#include <cstdint>

#include "frame/format_struct.h"

namespace emulator::pe {

// clang-format off

// --- The PE file ------------------------------------------------------------

// The format's numbers, each beside the structure that holds it.

// DosHeader::magic and PeHeader::signature.
enum Signature : uint32_t {
    kDosMagic = 0x5A4D,        // "MZ"
    kPeSignature = 0x00004550,  // "PE\0\0"
};

// PeHeader::machine (IMAGE_FILE_MACHINE_*): the one this emulator runs.
enum MachineType : uint16_t { kMachineI386 = 0x14C };

// PeHeader::characteristics (IMAGE_FILE_*) the loader reads.
enum Characteristics : uint16_t {
    kRelocationsStripped = 0x0001,  // the image cannot be relocated
    kDll = 0x2000,
};

// OptionalHeader32::magic.
enum OptionalHeaderMagic : uint16_t { kPe32Magic = 0x10B };

// The data directories after the optional header, by index (IMAGE_DIRECTORY_ENTRY_*).
enum DataDirectoryIndex : uint32_t {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kResourceDirectory = 2,
    kRelocationDirectory = 5,
    kTlsDirectory = 9,
    kDataDirectoryCount = 16,  // the most an image may declare
};

// SectionHeader::characteristics (IMAGE_SCN_*) the loader reads.
enum SectionCharacteristics : uint32_t {
    kSectionCode = 0x00000020,
    kSectionUninitializedData = 0x00000080,
    kSectionExecute = 0x20000000,
    kSectionRead = 0x40000000,
    kSectionWrite = 0x80000000,
};

// The high bit of ResourceEntry::name and ::target, and of an import lookup
// entry.
enum HighBit : uint32_t {
    kResourceNamed = 0x80000000u,         // name: an offset to a name, not an id
    kResourceSubdirectory = 0x80000000u,  // target: a directory, not a data entry
    kImportByOrdinal = 0x80000000u,       // an import by ordinal, not by name
};

// The resource types (RT_*) a module's resource directory is read for.
enum ResourceType : uint32_t { kResourceTypeBitmap = 2 };

// Base relocation types (IMAGE_REL_BASED_*), the top four bits of each entry
// after a RelocationBlock; ABSOLUTE entries are padding.
enum BaseRelocationType : uint8_t {
    kRelocationAbsolute = 0,
    kRelocationHighLow = 3,
};

#define EMULATOR_PE_DOS_HEADER(F) \
    F(uint16_t, magic, 0)  /* "MZ" */ \
    F(uint16_t, last_page_bytes, 2) \
    F(uint16_t, pages, 4) \
    F(uint16_t, relocations, 6) \
    F(uint16_t, header_paragraphs, 8) \
    F(uint16_t, min_alloc, 10) \
    F(uint16_t, max_alloc, 12) \
    F(uint16_t, initial_ss, 14) \
    F(uint16_t, initial_sp, 16) \
    F(uint16_t, checksum, 18) \
    F(uint16_t, initial_ip, 20) \
    F(uint16_t, initial_cs, 22) \
    F(uint16_t, relocation_table, 24) \
    F(uint16_t, overlay, 26) \
    F(uint16_t[4], reserved, 28) \
    F(uint16_t, oem_id, 36) \
    F(uint16_t, oem_info, 38) \
    F(uint16_t[10], reserved2, 40) \
    F(uint32_t, pe_header_offset, 60)  /* e_lfanew: where "PE\0\0" lies */
FRAME_FORMAT_STRUCT(DosHeader, EMULATOR_PE_DOS_HEADER, 64)

#define EMULATOR_PE_COFF_HEADER(F) \
    F(uint32_t, signature, 0)  /* "PE\0\0" */ \
    F(uint16_t, machine, 4) \
    F(uint16_t, section_count, 6) \
    F(uint32_t, time_date_stamp, 8) \
    F(uint32_t, symbol_table, 12) \
    F(uint32_t, symbol_count, 16) \
    F(uint16_t, optional_header_size, 20) \
    F(uint16_t, characteristics, 22)
// The PE signature and the COFF file header after it.
FRAME_FORMAT_STRUCT(PeHeader, EMULATOR_PE_COFF_HEADER, 24)

// The PE32 optional header's fields before the data directories.
#define EMULATOR_PE_OPTIONAL_HEADER(F) \
    F(uint16_t, magic, 0) \
    F(uint8_t, major_linker_version, 2) \
    F(uint8_t, minor_linker_version, 3) \
    F(uint32_t, size_of_code, 4) \
    F(uint32_t, size_of_initialized_data, 8) \
    F(uint32_t, size_of_uninitialized_data, 12) \
    F(uint32_t, entry_point, 16) \
    F(uint32_t, base_of_code, 20) \
    F(uint32_t, base_of_data, 24) \
    F(uint32_t, image_base, 28) \
    F(uint32_t, section_alignment, 32) \
    F(uint32_t, file_alignment, 36) \
    F(uint16_t, major_os_version, 40) \
    F(uint16_t, minor_os_version, 42) \
    F(uint16_t, major_image_version, 44) \
    F(uint16_t, minor_image_version, 46) \
    F(uint16_t, major_subsystem_version, 48) \
    F(uint16_t, minor_subsystem_version, 50) \
    F(uint32_t, win32_version, 52) \
    F(uint32_t, size_of_image, 56) \
    F(uint32_t, size_of_headers, 60) \
    F(uint32_t, checksum, 64) \
    F(uint16_t, subsystem, 68) \
    F(uint16_t, dll_characteristics, 70) \
    F(uint32_t, stack_reserve, 72) \
    F(uint32_t, stack_commit, 76) \
    F(uint32_t, heap_reserve, 80) \
    F(uint32_t, heap_commit, 84) \
    F(uint32_t, loader_flags, 88) \
    F(uint32_t, directory_count, 92)
FRAME_FORMAT_STRUCT(OptionalHeader32, EMULATOR_PE_OPTIONAL_HEADER, 96)

#define EMULATOR_PE_DATA_DIRECTORY(F) \
    F(uint32_t, rva, 0) \
    F(uint32_t, size, 4)
FRAME_FORMAT_STRUCT(DataDirectory, EMULATOR_PE_DATA_DIRECTORY, 8)

#define EMULATOR_PE_SECTION_HEADER(F) \
    F(char[8], name, 0)  /* NUL-padded, not terminated when 8 long */ \
    F(uint32_t, virtual_size, 8) \
    F(uint32_t, virtual_address, 12) \
    F(uint32_t, raw_size, 16) \
    F(uint32_t, raw_offset, 20) \
    F(uint32_t, relocations, 24) \
    F(uint32_t, line_numbers, 28) \
    F(uint16_t, relocation_count, 32) \
    F(uint16_t, line_number_count, 34) \
    F(uint32_t, characteristics, 36)
FRAME_FORMAT_STRUCT(SectionHeader, EMULATOR_PE_SECTION_HEADER, 40)

// A record of the COFF symbol table (IMAGE_SYMBOL); aux_count records of
// the same size follow it. A name whose first four bytes are zero lies in
// the string table, at the offset in the next four.
#define EMULATOR_PE_COFF_SYMBOL(F) \
    F(char[8], name, 0) \
    F(uint32_t, value, 8)  /* in an image: the offset in its section */ \
    F(int16_t, section, 12)  /* 1-based; 0 and below: no section */ \
    F(uint16_t, type, 14) \
    F(uint8_t, storage_class, 16) \
    F(uint8_t, aux_count, 17)
FRAME_FORMAT_STRUCT(CoffSymbol, EMULATOR_PE_COFF_SYMBOL, 18)

#define EMULATOR_PE_IMPORT_DESCRIPTOR(F) \
    F(uint32_t, lookup_table, 0)  /* OriginalFirstThunk */ \
    F(uint32_t, time_date_stamp, 4) \
    F(uint32_t, forwarder_chain, 8) \
    F(uint32_t, name, 12) \
    F(uint32_t, address_table, 16)  /* FirstThunk */
FRAME_FORMAT_STRUCT(ImportDescriptor, EMULATOR_PE_IMPORT_DESCRIPTOR, 20)

#define EMULATOR_PE_EXPORT_DIRECTORY(F) \
    F(uint32_t, characteristics, 0) \
    F(uint32_t, time_date_stamp, 4) \
    F(uint16_t, major_version, 8) \
    F(uint16_t, minor_version, 10) \
    F(uint32_t, name, 12) \
    F(uint32_t, ordinal_base, 16) \
    F(uint32_t, function_count, 20) \
    F(uint32_t, name_count, 24) \
    F(uint32_t, functions, 28) \
    F(uint32_t, names, 32) \
    F(uint32_t, ordinals, 36)
FRAME_FORMAT_STRUCT(ExportDirectory, EMULATOR_PE_EXPORT_DIRECTORY, 40)

// A block of base relocations: 16-bit entries (type << 12 | offset) follow.
#define EMULATOR_PE_RELOCATION_BLOCK(F) \
    F(uint32_t, page, 0) \
    F(uint32_t, block_size, 4)
FRAME_FORMAT_STRUCT(RelocationBlock, EMULATOR_PE_RELOCATION_BLOCK, 8)

#define EMULATOR_PE_TLS_DIRECTORY(F) \
    F(uint32_t, raw_data_start, 0) \
    F(uint32_t, raw_data_end, 4) \
    F(uint32_t, index_address, 8) \
    F(uint32_t, callbacks_address, 12) \
    F(uint32_t, zero_fill, 16) \
    F(uint32_t, characteristics, 20)
FRAME_FORMAT_STRUCT(TlsDirectory32, EMULATOR_PE_TLS_DIRECTORY, 24)

// A resource directory: its named entries, then its numbered ones, follow.
#define EMULATOR_PE_RESOURCE_DIRECTORY(F) \
    F(uint32_t, characteristics, 0) \
    F(uint32_t, time_date_stamp, 4) \
    F(uint16_t, major_version, 8) \
    F(uint16_t, minor_version, 10) \
    F(uint16_t, named_entries, 12) \
    F(uint16_t, id_entries, 14)
FRAME_FORMAT_STRUCT(ResourceDirectory, EMULATOR_PE_RESOURCE_DIRECTORY, 16)

#define EMULATOR_PE_RESOURCE_ENTRY(F) \
    F(uint32_t, name, 0)    /* the id, or a name's offset with the high bit set */ \
    F(uint32_t, target, 4)  /* a data entry, or a subdirectory with the high bit set */
FRAME_FORMAT_STRUCT(ResourceEntry, EMULATOR_PE_RESOURCE_ENTRY, 8)

#define EMULATOR_PE_RESOURCE_DATA_ENTRY(F) \
    F(uint32_t, data_rva, 0) \
    F(uint32_t, size, 4) \
    F(uint32_t, code_page, 8) \
    F(uint32_t, reserved, 12)
FRAME_FORMAT_STRUCT(ResourceDataEntry, EMULATOR_PE_RESOURCE_DATA_ENTRY, 16)

// --- What the Windows functions fill ----------------------------------------

#define EMULATOR_PE_MEMORY_BASIC_INFORMATION(F) \
    F(uint32_t, base_address, 0) \
    F(uint32_t, allocation_base, 4) \
    F(uint32_t, allocation_protect, 8) \
    F(uint32_t, region_size, 12) \
    F(uint32_t, state, 16) \
    F(uint32_t, protect, 20) \
    F(uint32_t, type, 24)
FRAME_FORMAT_STRUCT(MemoryBasicInformation, EMULATOR_PE_MEMORY_BASIC_INFORMATION, 28)

#define EMULATOR_PE_SYSTEMTIME(F) \
    F(uint16_t, year, 0) \
    F(uint16_t, month, 2) \
    F(uint16_t, day_of_week, 4) \
    F(uint16_t, day, 6) \
    F(uint16_t, hour, 8) \
    F(uint16_t, minute, 10) \
    F(uint16_t, second, 12) \
    F(uint16_t, milliseconds, 14)
FRAME_FORMAT_STRUCT(SystemTime, EMULATOR_PE_SYSTEMTIME, 16)

#define EMULATOR_PE_FILETIME(F) \
    F(uint32_t, low, 0) \
    F(uint32_t, high, 4)
FRAME_FORMAT_STRUCT(FileTime, EMULATOR_PE_FILETIME, 8)

#define EMULATOR_PE_STARTUPINFO(F) \
    F(uint32_t, size, 0) \
    F(uint32_t, reserved, 4) \
    F(uint32_t, desktop, 8) \
    F(uint32_t, title, 12) \
    F(uint32_t, x, 16) \
    F(uint32_t, y, 20) \
    F(uint32_t, x_size, 24) \
    F(uint32_t, y_size, 28) \
    F(uint32_t, x_count_chars, 32) \
    F(uint32_t, y_count_chars, 36) \
    F(uint32_t, fill_attribute, 40) \
    F(uint32_t, flags, 44) \
    F(uint16_t, show_window, 48) \
    F(uint16_t, reserved2_size, 50) \
    F(uint32_t, reserved2, 52) \
    F(uint32_t, std_input, 56) \
    F(uint32_t, std_output, 60) \
    F(uint32_t, std_error, 64)
FRAME_FORMAT_STRUCT(StartupInfoA, EMULATOR_PE_STARTUPINFO, 68)

#define EMULATOR_PE_CRITICAL_SECTION(F) \
    F(uint32_t, debug_info, 0) \
    F(uint32_t, lock_count, 4)  /* 0xFFFFFFFF: free */ \
    F(uint32_t, recursion_count, 8) \
    F(uint32_t, owning_thread, 12) \
    F(uint32_t, lock_semaphore, 16) \
    F(uint32_t, spin_count, 20)
FRAME_FORMAT_STRUCT(CriticalSection, EMULATOR_PE_CRITICAL_SECTION, 24)

// msvcrt's FILE, as its _iob array holds them.
#define EMULATOR_PE_CRT_FILE(F) \
    F(uint32_t, next, 0)  /* _ptr */ \
    F(int32_t, left, 4)   /* _cnt */ \
    F(uint32_t, buffer, 8) \
    F(uint32_t, flags, 12)  /* _IOREAD 0x1, _IOWRT 0x2 */ \
    F(uint32_t, descriptor, 16) \
    F(uint32_t, char_buffer, 20) \
    F(uint32_t, buffer_size, 24) \
    F(uint32_t, temporary_name, 28)
FRAME_FORMAT_STRUCT(CrtFile, EMULATOR_PE_CRT_FILE, 32)

// clang-format on

// --- The Windows functions' numbers -----------------------------------------
// Each beside the structure or call that carries it; the shims in
// emulator/win32/ take them from here by name.

// MemoryBasicInformation::state and ::type, and VirtualAlloc's and
// VirtualFree's allocation types (MEM_*).
enum MemoryFlags : uint32_t {
    kMemCommit = 0x1000,
    kMemReserve = 0x2000,
    kMemDecommit = 0x4000,
    kMemRelease = 0x8000,
    kMemFree = 0x10000,
    kMemPrivate = 0x20000,
    kMemTopDown = 0x100000,
    kMemImage = 0x1000000,
};

// MemoryBasicInformation::protect and VirtualAlloc's protection (PAGE_*):
// the access is the low byte; the bits above it (PAGE_GUARD, PAGE_NOCACHE)
// modify it.
enum PageProtection : uint32_t {
    kPageNoAccess = 0x01,
    kPageReadOnly = 0x02,
    kPageReadWrite = 0x04,
    kPageWriteCopy = 0x08,
    kPageExecute = 0x10,
    kPageExecuteRead = 0x20,
    kPageExecuteReadWrite = 0x40,
    kPageExecuteWriteCopy = 0x80,
    kPageAccessMask = 0xFF,
};

// Where VirtualAlloc places a reservation: a multiple of this.
enum : uint32_t { kAllocationGranularity = 0x10000 };

// HeapAlloc's and HeapReAlloc's flags (HEAP_*) and LocalAlloc's (LMEM_*).
enum HeapFlags : uint32_t {
    kHeapZeroMemory = 0x08,
    kHeapReallocInPlaceOnly = 0x10,
    kLocalZeroInit = 0x40,
};

// What the wait functions take and return (INFINITE, WAIT_*).
enum WaitNumbers : uint32_t {
    kInfinite = 0xFFFFFFFF,
    kWaitObject0 = 0,
    kWaitTimeout = 0x102,
    kWaitFailed = 0xFFFFFFFF,
    kMaximumWaitObjects = 64,
};

// The all-ones word Windows functions return for "none" where zero is a
// valid answer: TLS_OUT_OF_INDEXES, SuspendThread's failure, a heap
// block's size when the block is not one.
enum : uint32_t { kAllOnes = 0xFFFFFFFF };

// A name argument below this is a number, not a string's address: an
// ordinal to GetProcAddress (MAKEINTRESOURCE), an atom as a window class
// (MAKEINTATOM).
enum : uint32_t { kIntResourceLimit = 0x10000 };

// CriticalSection::lock_count of a section no thread holds.
enum : uint32_t { kCriticalSectionFree = 0xFFFFFFFF };

// The pseudo-handles GetCurrentProcess and GetCurrentThread return.
enum PseudoHandle : uint32_t {
    kCurrentProcess = 0xFFFFFFFF,
    kCurrentThread = 0xFFFFFFFE,
};

// GetLastError's codes (ERROR_*) the functions set.
enum ErrorCode : uint32_t {
    kErrorSuccess = 0,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorBadLength = 24,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorEnvvarNotFound = 203,
    kErrorNoMoreItems = 259,
    kErrorTooManyPosts = 298,
    kErrorInvalidAddress = 487,
    kErrorNoAccess = 998,
};

// The C runtime's errno values (msvcrt's errno.h).
enum CrtErrno : int32_t {
    kEagain = 11,
    kEnomem = 12,
    kEinval = 22,
    kErange = 34,
};

// The C runtime's signals (SIG*) and signal()'s failure, SIG_ERR.
enum CrtSignal : int32_t {
    kSigInt = 2,
    kSigIll = 4,
    kSigFpe = 8,
    kSigSegv = 11,
    kSigTerm = 15,
    kSigBreak = 21,
    kSigAbrt = 22,
};
enum : uint32_t { kSigErr = 0xFFFFFFFF };

// The character classes of msvcrt's ctype table (_UPPER, _LOWER, ...).
enum CrtCharacterClass : uint32_t {
    kCtypeUpper = 0x1,
    kCtypeLower = 0x2,
    kCtypeDigit = 0x4,
    kCtypeSpace = 0x8,
    kCtypeHex = 0x80,
    kCtypeAlpha = 0x100,
};

// The streams' end-of-file and how many FILE records _iob holds.
enum : uint32_t { kCrtEof = 0xFFFFFFFF, kCrtStreams = 20 };

using frame::read_struct;

// The thread information block FS points at (NT_TIB and the start of the
// TEB): what module code and the C runtime read of their thread.
#define EMULATOR_PE_THREAD_INFORMATION_BLOCK(F) \
    F(uint32_t, exception_list, 0)  /* the SEH chain's head; kExceptionChainEnd when empty */ \
    F(uint32_t, stack_base, 4)      /* the stack's top (it grows down from here) */ \
    F(uint32_t, stack_limit, 8)     /* its lowest committed address */ \
    F(uint32_t, sub_system_tib, 12) \
    F(uint32_t, fiber_data, 16) \
    F(uint32_t, arbitrary_user_pointer, 20) \
    F(uint32_t, self, 24)           /* the block's own linear address */ \
    F(uint32_t, environment_pointer, 28) \
    F(uint32_t, process_id, 32) \
    F(uint32_t, thread_id, 36) \
    F(uint32_t, active_rpc_handle, 40) \
    F(uint32_t, tls_pointer, 44)    /* ThreadLocalStoragePointer: the TLS slots' array */ \
    F(uint32_t, process_environment_block, 48)
FRAME_FORMAT_STRUCT(ThreadInformationBlock, EMULATOR_PE_THREAD_INFORMATION_BLOCK, 52)

// ThreadInformationBlock::exception_list with no handler registered, and
// where the thread environment block that begins with it keeps the TLS
// slots (TlsSlots, which tls_pointer points at).
enum : uint32_t { kExceptionChainEnd = 0xFFFFFFFFu, kTebTlsSlots = 0xE10 };

// The C runtime's numeric and monetary conventions (struct lconv), as
// localeconv() returns them: ten strings, then eight CHAR_MAX-able bytes.
#define EMULATOR_PE_LCONV(F) \
    F(uint32_t, decimal_point, 0) \
    F(uint32_t, thousands_sep, 4) \
    F(uint32_t, grouping, 8) \
    F(uint32_t, int_curr_symbol, 12) \
    F(uint32_t, currency_symbol, 16) \
    F(uint32_t, mon_decimal_point, 20) \
    F(uint32_t, mon_thousands_sep, 24) \
    F(uint32_t, mon_grouping, 28) \
    F(uint32_t, positive_sign, 32) \
    F(uint32_t, negative_sign, 36) \
    F(uint8_t[8], digits_and_placement, 40)  /* int_frac_digits .. n_sign_posn */
FRAME_FORMAT_STRUCT(Lconv, EMULATOR_PE_LCONV, 48)

// What the C locale's lconv holds beyond its strings: "not available".
enum : uint8_t { kCharMax = 127 };

}  // namespace emulator::pe
