// The module's description for the host: the exported Linkage record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/records.h"

using ModuleRoutine = void(GAUGE_CALL*)();

inline constexpr uint32_t kModuleId = 0x13;

#pragma pack(push, 4)

// The fixed part that precedes the gauge table; the host reads this much and
// then gauge pointers up to the first null.
struct LINKAGE_HEADER {
    uint32_t module_id = kModuleId;
    ModuleRoutine module_init = nullptr;
    ModuleRoutine module_deinit = nullptr;
    uint32_t module_flags = 0;
    uint32_t module_priority = 0;
    uint32_t module_version = 0;
};

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

static_assert(sizeof(LINKAGE_HEADER) == 24);
static_assert(offsetof(LINKAGE_HEADER, module_id) == 0);
static_assert(offsetof(LINKAGE_HEADER, module_init) == 4);
static_assert(offsetof(LINKAGE_HEADER, module_deinit) == 8);
static_assert(offsetof(LINKAGE_HEADER, module_flags) == 12);
static_assert(offsetof(LINKAGE_HEADER, module_priority) == 16);
static_assert(offsetof(LINKAGE_HEADER, module_version) == 20);
static_assert(offsetof(LINKAGE<48>, gauge_table) == 24);
static_assert(sizeof(LINKAGE<48>) == 24 + 4 * 48);
