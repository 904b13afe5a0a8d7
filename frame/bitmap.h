// A device-independent bitmap as a module carries it in an RT_BITMAP
// resource: what the emulator's PE reader finds and the runtime's decoder
// draws, so both sides of the runtime name the one type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

namespace frame {

// Its bytes are shared, not copied: every bitmap read from one file points
// into that file's bytes, however many ids name the same data.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits_per_pixel = 0;
    uint32_t compression = 0;      // 0 = uncompressed
    bool top_down = false;         // stored with a negative height: first row on top
    uint32_t palette_entries = 0;  // colour table entries after the header
    uint32_t pixel_offset = 0;     // where the pixel rows start in dib()

    // The resource bytes: header, palette, pixels (empty: a size only).
    std::span<const uint8_t> dib() const {
        return storage_ ? std::span<const uint8_t>(*storage_).subspan(offset_, size_) : std::span<const uint8_t>();
    }
    // Bytes of its own (synthetic pictures).
    void set_dib(std::vector<uint8_t> bytes) {
        size_ = bytes.size();
        offset_ = 0;
        storage_ = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    }
    // `size` bytes at `offset` of shared bytes (which must hold them).
    void set_dib(std::shared_ptr<const std::vector<uint8_t>> storage, size_t offset, size_t size) {
        if (storage == nullptr || offset > storage->size() || size > storage->size() - offset)
            throw std::out_of_range("Bitmap::set_dib: bytes beyond the storage");
        storage_ = std::move(storage);
        offset_ = offset;
        size_ = size;
    }

private:
    std::shared_ptr<const std::vector<uint8_t>> storage_;
    size_t offset_ = 0;
    size_t size_ = 0;
};

}  // namespace frame
