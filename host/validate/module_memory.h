// Where a loaded module lies in memory: its mapped ranges (code and data),
// as the platform's loader placed them, and which of their bytes the host may
// write. The validator follows a pointer from the records only after this map
// says the bytes behind it belong to the module, and reads them with copies
// that no sanitizer instruments, so a list without its end is reported rather
// than read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench::validate {

class ModuleMemory {
public:
    struct Range {
        uintptr_t begin = 0;
        uintptr_t end = 0;  // exclusive
        bool executable = false;
        bool writable = false;  // as mapped, before the loader locks anything
    };

    // The map of the module that holds `address` (e.g. its Linkage); empty
    // when the platform does not know the address as part of a module.
    static ModuleMemory of(const void* address);
    // A map of the given ranges (for tests); `locked` are parts the loader
    // made read-only after mapping them.
    static ModuleMemory from_ranges(std::vector<Range> ranges, std::vector<Range> locked = {});

    const std::vector<Range>& ranges() const { return ranges_; }
    // Parts of writable ranges that are read-only once the module is loaded:
    // on the Linux twin the RELRO part, protected after relocation; on
    // Windows every region whose page protection allows no writing.
    const std::vector<Range>& locked() const { return locked_; }
    bool empty() const { return ranges_.empty(); }
    uintptr_t base() const { return ranges_.empty() ? 0 : ranges_.front().begin; }

    // `size` bytes from `address` lie in one mapped range of the module.
    bool holds(uintptr_t address, size_t size) const;
    // A non-executable range holds them (where records live).
    bool holds_data(uintptr_t address, size_t size) const;
    // `address` lies in the module's executable code.
    bool is_code(uintptr_t address) const;
    // Every one of `size` bytes from `address` is the module's and may be
    // written: the host writes its working data into records there.
    bool writable(uintptr_t address, size_t size) const;

    // Copies `size` bytes when holds() says they are the module's.
    bool read(uintptr_t address, void* out, size_t size) const;
    template <typename T>
    std::optional<T> read(uintptr_t address) const {
        T value{};
        if (!read(address, &value, sizeof value)) return std::nullopt;
        return value;
    }
    // A zero-terminated string of at most `max_length` characters.
    std::optional<std::string> read_string(uintptr_t address, size_t max_length) const;

private:
    const Range* range_of(uintptr_t address, size_t size) const;
    std::vector<Range> ranges_;
    std::vector<Range> locked_;
};

// Copies bytes of the module's memory without sanitizer checks (the caller
// has established that they are mapped).
void copy_module_bytes(const void* from, void* to, size_t size);

}  // namespace bench::validate
