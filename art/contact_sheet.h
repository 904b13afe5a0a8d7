// A contact sheet: every bitmap at its own size on one PNG, labelled with its
// id and size, transparent pixels shown as a checkerboard.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "art/bmp.h"

namespace art {

struct SheetEntry {
    uint32_t id;
    const IndexedImage* image;
};

// Throws std::runtime_error when the file cannot be written.
void write_contact_sheet(const std::string& path, const std::vector<SheetEntry>& entries,
                         const std::array<Rgb, 256>& palette);

}  // namespace art
