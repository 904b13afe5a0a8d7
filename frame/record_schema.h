// Each record's fields are written once, as a list; the record's struct, the
// proofs of its layout and a table of its fields that the host reads at run
// time all come from that list. A list is a macro applying F to every field
// in storage order:
//
//     F(type, name, byte offset, initial value, use)
//
// `use` is Data (the module's), Reserved (zero in the module's data; the host
// may use it while it runs) or Host (the host's to write while the gauge runs;
// zero in the module's data). An array is written as its type, uint32_t[8].
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace frame {

enum class FieldUse : uint8_t { kData, kReserved, kHost };

// What a field holds, from its use and its type.
enum class FieldRole : uint8_t {
    kValue,     // a number of the module's
    kPointer,   // an address in the module's data, or null
    kCode,      // the address of a routine in the module's code, or null
    kRecord,    // a record embedded whole: an element's header, a variable
    kReserved,  // zero in the module's data; the host may use it while it runs
    kHost,      // the host writes it while the gauge runs; zero in the module's data
};

struct RecordInfo;

struct FieldInfo {
    const char* name;
    uint32_t offset;
    uint32_t size;
    FieldRole role;
    bool floating;             // a float or a double
    const RecordInfo* record;  // kRecord: the embedded record's own schema

    constexpr bool holds(size_t byte) const { return byte >= offset && byte - offset < size; }
    // Zero in the module's data, whatever the host later writes there.
    constexpr bool zero_at_load() const { return role == FieldRole::kReserved || role == FieldRole::kHost; }
};

struct RecordInfo {
    const char* name;
    uint32_t size;
    std::span<const FieldInfo> fields;

    // The field holding byte `byte`, or null past the record's end.
    constexpr const FieldInfo* field_at(size_t byte) const {
        for (const FieldInfo& field : fields) {
            if (field.holds(byte)) return &field;
        }
        return nullptr;
    }
};

// Defined for every record by FRAME_RECORD.
template <typename Record>
struct RecordSchema;

template <typename T>
concept HasSchema = requires {
    RecordSchema<T>::info;
};

template <typename Record>
constexpr const RecordInfo& schema_of() {
    return RecordSchema<Record>::info;
}

template <typename T>
constexpr FieldRole role_of(FieldUse use) {
    if (use == FieldUse::kReserved) return FieldRole::kReserved;
    if (use == FieldUse::kHost) return FieldRole::kHost;
    if constexpr (HasSchema<T>) return FieldRole::kRecord;
    if constexpr (std::is_pointer_v<T> && std::is_function_v<std::remove_pointer_t<T>>) return FieldRole::kCode;
    if constexpr (std::is_pointer_v<T>) return FieldRole::kPointer;
    return FieldRole::kValue;
}

template <typename T>
constexpr const RecordInfo* embedded_schema() {
    if constexpr (HasSchema<T>) return &schema_of<T>();
    return nullptr;
}

// The fields follow one another without a gap and end where the record does.
template <typename Record>
constexpr bool covers_every_byte() {
    size_t next = 0;
    for (const FieldInfo& field : RecordSchema<Record>::fields) {
        if (field.offset != next) return false;
        next += field.size;
    }
    return next == sizeof(Record);
}

void no_such_field();  // not constexpr: naming a missing field stops the build

// The table's name for the field at `offset`, which the caller spells `name`:
// a field renamed in its list no longer compiles where it is named.
template <typename Record>
consteval const char* checked_name(size_t offset, std::string_view name) {
    for (const FieldInfo& field : RecordSchema<Record>::fields) {
        if (field.offset == offset && field.name == name) return field.name;
    }
    no_such_field();
    return nullptr;
}

}  // namespace frame

// Inside a record's struct: the field with its initial value.
#define FRAME_FIELD_MEMBER(type, name, offset, initial, use) ::std::type_identity_t<type> name = initial;

#define FRAME_FIELD_PROOF(type, name, offset, initial, use) \
    static_assert(offsetof(Record, name) == (offset), "field " #name " is not at byte " #offset);

#define FRAME_FIELD_INFO(type, name, offset, initial, use)                \
    ::frame::FieldInfo{#name,                                             \
                       (offset),                                          \
                       sizeof(type),                                      \
                       ::frame::role_of<type>(::frame::FieldUse::k##use), \
                       ::std::is_floating_point_v<type>,                  \
                       ::frame::embedded_schema<type>()},

// The record's struct from its list, packed to 4 as every record is, then
// its layout proofs and its field table. A record embedded in another is
// declared before it.
#define FRAME_RECORD(Record_, size_, LIST)                                            \
    _Pragma("pack(push, 4)") struct Record_ { LIST(FRAME_FIELD_MEMBER) };             \
    _Pragma("pack(pop)") template <>                                                  \
    struct frame::RecordSchema<Record_> {                                             \
        using Record = Record_;                                                       \
        LIST(FRAME_FIELD_PROOF)                                                       \
        static constexpr ::frame::FieldInfo fields[] = {LIST(FRAME_FIELD_INFO)};      \
        static constexpr ::frame::RecordInfo info{#Record_, sizeof(Record_), fields}; \
    };                                                                                \
    static_assert(sizeof(Record_) == (size_), #Record_ " is not " #size_ " bytes");   \
    static_assert(::frame::covers_every_byte<Record_>(), #Record_ "'s fields leave a gap")

// The name of Record::member as the tables spell it.
#define FRAME_FIELD_NAME(Record, member) (::frame::checked_name<Record>(offsetof(Record, member), #member))
