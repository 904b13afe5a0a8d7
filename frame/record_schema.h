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
//
// Every record comes twice from its list. The module's own struct, with
// native pointers, exists where pointers are 32 bits wide (the modules and the
// i386 twin). The guest view, `guest::Record`, exists everywhere: the same
// bytes with every pointer a 32-bit guest address (frame::GuestPtr) and no
// alignment of its own, so a host of any width reads a module's records where
// they lie in the module's memory. The field tables describe the guest view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace frame {

// A routine in guest code with its signature in guest types.
template <typename Signature>
struct GuestFn;

// A 32-bit address in a module's memory, pointing at a T. Only the host's
// guest-memory accessor turns it into host memory.
template <typename T>
struct __attribute__((packed)) GuestPtr {
    uint32_t address = 0;

    constexpr GuestPtr() = default;
    constexpr GuestPtr(std::nullptr_t) {}
    constexpr explicit GuestPtr(uint32_t guest_address) : address(guest_address) {}
    constexpr explicit operator bool() const { return address != 0; }
    constexpr bool operator==(const GuestPtr&) const = default;
    // The index-th T from here; the address wraps as the guest's would.
    constexpr GuestPtr at(uint32_t index) const {
        return GuestPtr(static_cast<uint32_t>(address + index * static_cast<uint32_t>(sizeof_pointee())));
    }
    template <typename U>
    constexpr GuestPtr<U> cast() const {
        return GuestPtr<U>(address);
    }

private:
    static constexpr size_t sizeof_pointee() {
        if constexpr (std::is_void_v<T> || std::is_function_v<T>) {
            return 1;
        } else {
            return sizeof(T);
        }
    }
};
static_assert(sizeof(GuestPtr<int>) == 4 && alignof(GuestPtr<int>) == 1);

// The guest view's type for a field's native type: pointers become guest
// addresses, arrays arrays of the element's view, cv kept.
template <typename T>
struct GuestType {
    using type = T;
};
template <typename T>
using guest_t = typename GuestType<T>::type;
template <typename T>
struct GuestType<T*> {
    using type = GuestPtr<guest_t<T>>;
};
template <typename T>
struct GuestType<const T> {
    using type = const guest_t<T>;
};
template <typename T, size_t N>
struct GuestType<T[N]> {
    using type = guest_t<T>[N];
};
template <typename R, typename... A>
struct GuestType<R(A...)> {
    using type = guest_t<R>(guest_t<A>...);
};

// How many arguments a signature takes.
template <typename Signature>
struct Arity;
template <typename R, typename... A>
struct Arity<R(A...)> {
    static constexpr size_t value = sizeof...(A);
};
template <typename Signature>
inline constexpr size_t arity_of = Arity<Signature>::value;

template <typename T>
struct IsCode : std::false_type {};
template <typename S>
struct IsCode<GuestPtr<GuestFn<S>>> : std::true_type {};
template <typename S>
struct IsCode<GuestPtr<const GuestFn<S>>> : std::true_type {};
template <typename T>
struct IsGuestPtr : std::false_type {};
template <typename T>
struct IsGuestPtr<GuestPtr<T>> : std::true_type {};
template <typename T>
struct IsText : std::false_type {};
template <>
struct IsText<GuestPtr<const char>> : std::true_type {};
template <>
struct IsText<GuestPtr<char>> : std::true_type {};

enum class FieldUse : uint8_t { kData, kReserved, kHost };

// What a field holds, from its use and its type.
enum class FieldRole : uint8_t {
    kValue,     // a number of the module's
    kPointer,   // an address in the module's data, or null
    kText,      // the address of a NUL-terminated string in the module's data, or null
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

// `T` is the field's guest type.
template <typename T>
constexpr FieldRole role_of(FieldUse use) {
    if (use == FieldUse::kReserved) return FieldRole::kReserved;
    if (use == FieldUse::kHost) return FieldRole::kHost;
    if constexpr (HasSchema<std::remove_cv_t<T>>) return FieldRole::kRecord;
    if constexpr (IsCode<std::remove_cv_t<T>>::value) return FieldRole::kCode;
    if constexpr (IsText<std::remove_cv_t<T>>::value) return FieldRole::kText;
    if constexpr (IsGuestPtr<std::remove_cv_t<T>>::value) return FieldRole::kPointer;
    return FieldRole::kValue;
}

template <typename T>
constexpr const RecordInfo* embedded_schema() {
    if constexpr (HasSchema<std::remove_cv_t<T>>) return &schema_of<std::remove_cv_t<T>>();
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
// Inside the guest view (expanded in namespace guest, so a record's name is
// its view's): the field's guest type.
#define FRAME_GUEST_MEMBER(type, name, offset, initial, use) ::frame::guest_t<type> name = initial;

#define FRAME_FIELD_PROOF(type, name, offset, initial, use) \
    static_assert(offsetof(Record, name) == (offset), "field " #name " is not at byte " #offset);

// Expanded in the schema of the guest view, whose member types it takes.
#define FRAME_FIELD_INFO(type, name, offset, initial, use)                                  \
    ::frame::FieldInfo{#name,                                                               \
                       (offset),                                                            \
                       sizeof(Record::name),                                                \
                       ::frame::role_of<decltype(Record::name)>(::frame::FieldUse::k##use), \
                       ::std::is_floating_point_v<decltype(Record::name)>,                  \
                       ::frame::embedded_schema<decltype(Record::name)>()},

// The module's struct, packed to 4 as every record is, with its layout
// proofs; only where pointers are the format's 32 bits.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define FRAME_NATIVE_RECORDS 1
#define FRAME_NATIVE_RECORD(Record_, size_, LIST)                         \
    _Pragma("pack(push, 4)") struct Record_ { LIST(FRAME_FIELD_MEMBER) }; \
    _Pragma("pack(pop)") namespace frame::native_proofs {                 \
        struct Record_##_proof {                                          \
            using Record = ::Record_;                                     \
            LIST(FRAME_FIELD_PROOF)                                       \
        };                                                                \
    }                                                                     \
    static_assert(sizeof(Record_) == (size_), #Record_ " is not " #size_ " bytes");
#else
#define FRAME_NATIVE_RECORDS 0
#define FRAME_NATIVE_RECORD(Record_, size_, LIST)
#endif

// The record's struct(s) from its list, then the guest view's layout proofs
// and field table. A record embedded in another is declared before it.
#define FRAME_RECORD(Record_, size_, LIST)                                                   \
    FRAME_NATIVE_RECORD(Record_, size_, LIST)                                                \
    namespace guest {                                                                        \
    _Pragma("pack(push, 1)") struct Record_ { LIST(FRAME_GUEST_MEMBER) };                    \
    _Pragma("pack(pop)")                                                                     \
    }                                                                                        \
    template <>                                                                              \
    struct frame::RecordSchema<guest::Record_> {                                             \
        using Record = guest::Record_;                                                       \
        LIST(FRAME_FIELD_PROOF)                                                              \
        static constexpr ::frame::FieldInfo fields[] = {LIST(FRAME_FIELD_INFO)};             \
        static constexpr ::frame::RecordInfo info{#Record_, sizeof(guest::Record_), fields}; \
    };                                                                                       \
    static_assert(sizeof(guest::Record_) == (size_), #Record_ " is not " #size_ " bytes");   \
    static_assert(::frame::covers_every_byte<guest::Record_>(), #Record_ "'s fields leave a gap")

// The name of Record::member as the tables spell it (Record: a guest view).
#define FRAME_FIELD_NAME(Record, member) (::frame::checked_name<Record>(offsetof(Record, member), #member))
