// The module's description for the host: the exported Linkage record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/records.h"

inline constexpr uint32_t kModuleId = 0x13;

#if FRAME_NATIVE_RECORDS
using ModuleRoutine = void(GAUGE_CALL*)();
#endif
namespace guest {
using ModuleRoutine = GuestPtr<GuestFn<void()>>;
}

// The fixed part that precedes the gauge table; the host reads this much and
// then gauge pointers up to the first null.
#define GAUGE_RECORD_LINKAGE_HEADER(F)                \
    F(uint32_t, module_id, 0, kModuleId, Data)        \
    F(ModuleRoutine, module_init, 4, nullptr, Data)   \
    F(ModuleRoutine, module_deinit, 8, nullptr, Data) \
    F(uint32_t, module_flags, 12, 0, Data)            \
    F(uint32_t, module_priority, 16, 0, Data)         \
    F(uint32_t, module_version, 20, 0, Data)
FRAME_RECORD(LINKAGE_HEADER, 24, GAUGE_RECORD_LINKAGE_HEADER);

#if FRAME_NATIVE_RECORDS
#pragma pack(push, 4)

// The exported record: the header, then the gauge table inline, ended by a
// null pointer (Slots counts the terminator). Gauge pointers are typed as the
// version-700 header; a version-800 header shares its first twelve fields.
template <size_t Slots>
struct LINKAGE {
    static_assert(Slots >= 1, "the gauge table needs at least its terminator");
    LINKAGE_HEADER header;
    GAUGEHDR* gauge_table[Slots] = {};
};

#pragma pack(pop)

static_assert(offsetof(LINKAGE<48>, gauge_table) == 24);
static_assert(sizeof(LINKAGE<48>) == 24 + 4 * 48);
#endif
