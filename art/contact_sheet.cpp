#include "art/contact_sheet.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "art/canvas.h"
#include "art/draw.h"

namespace art {
namespace {

constexpr int kSheetWidth = 1480;
constexpr int kGap = 14;
constexpr int kLabel = 16;

struct Placed {
    SheetEntry entry;
    int x;
    int y;
};

}  // namespace

void write_contact_sheet(const std::string& path, const std::vector<SheetEntry>& entries,
                         const std::array<Rgb, 256>& palette) {
    // Rows filled left to right in table order.
    std::vector<Placed> placed;
    int x = kGap;
    int y = kGap;
    int row_height = 0;
    for (const SheetEntry& entry : entries) {
        const int w = std::max<int>(entry.image->width, 64);
        const int h = int(entry.image->height) + kLabel;
        if (x + w + kGap > kSheetWidth && x > kGap) {
            x = kGap;
            y += row_height + kGap;
            row_height = 0;
        }
        placed.push_back({entry, x, y});
        x += w + kGap;
        row_height = std::max(row_height, h);
    }
    const int height = y + row_height + kGap;

    Canvas sheet(kSheetWidth, height);
    cairo_t* cr = sheet.cr();
    fill_rect(cr, 0, 0, kSheetWidth, height, Rgb{72, 76, 80});
    cairo_surface_t* surface = sheet.surface();
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (const Placed& p : placed) {
        const IndexedImage& image = *p.entry.image;
        for (uint32_t row = 0; row < image.height; ++row) {
            for (uint32_t col = 0; col < image.width; ++col) {
                const uint8_t index = image.at(col, row);
                Rgb c = palette[index];
                if (index == 0) {
                    const bool light = ((col / 6) + (row / 6)) % 2 == 0;
                    c = light ? Rgb{150, 150, 150} : Rgb{110, 110, 110};
                }
                const uint32_t pixel = 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
                std::memcpy(data + size_t(p.y + row) * stride + size_t(p.x + col) * 4, &pixel, 4);
            }
        }
    }
    cairo_surface_mark_dirty(surface);
    for (const Placed& p : placed) {
        const std::string label = std::to_string(p.entry.id) + "  " + std::to_string(p.entry.image->width) + "\u00d7" +
                                  std::to_string(p.entry.image->height);
        cairo_set_font_face(cr, Fonts::face(Font::Bold));
        cairo_set_font_size(cr, 10.0);
        cairo_move_to(cr, p.x, p.y + p.entry.image->height + 12.0);
        set_colour(cr, Rgb{240, 240, 240});
        cairo_show_text(cr, label.c_str());
    }
    cairo_surface_flush(surface);
    if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace art
