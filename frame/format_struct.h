// The on-disk structures of the formats the host reads and writes (the PE
// file's headers, the bitmap file's), each written once as a list of its
// fields in storage order,
//
//     F(type, name, byte offset)
//
// from which come the packed little-endian struct and the proof that every
// field lies at its offset and the struct has the format's size. Readers
// copy a structure whole out of a checked byte span (read_struct) and
// writers append it whole (append_struct); no byte offset into a header is
// written anywhere else.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace frame {

static_assert(std::endian::native == std::endian::little, "the structures are read in the host's byte order");

// The structure at `offset` of `bytes`, which the caller has checked to hold it.
template <typename T>
T read_struct(std::span<const uint8_t> bytes, size_t offset) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// `value`'s bytes, as stored, after what `out` holds.
template <typename T>
void append_struct(std::vector<uint8_t>& out, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    // Grown, then copied: GCC 12 takes an insert into an empty vector for
    // an overflow (-Wstringop-overflow).
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

}  // namespace frame

#define FRAME_FORMAT_MEMBER(type, name, offset) ::std::type_identity_t<type> name{};
#define FRAME_FORMAT_OFFSET(type, name, offset) \
    static_assert(offsetof(Self, name) == (offset), "field at the wrong offset: " #name);
// The struct `Struct` of `size` bytes from its field list.
#define FRAME_FORMAT_STRUCT(Struct, LIST, size)               \
    struct __attribute__((packed)) Struct {                   \
        LIST(FRAME_FORMAT_MEMBER)                             \
    };                                                        \
    static_assert(sizeof(Struct) == (size), #Struct " size"); \
    static_assert(std::is_trivially_copyable_v<Struct>);      \
    namespace layout_of_##Struct {                            \
        using Self = Struct;                                  \
        LIST(FRAME_FORMAT_OFFSET)                             \
    }
