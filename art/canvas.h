// A cairo drawing surface for one bitmap, the fonts the art uses, and the
// step from cairo's ARGB pixels to palette indices.
#pragma once

#include <cairo.h>

#include <string>

#include "art/bmp.h"
#include "art/palette.h"

namespace art {

enum class Font { Regular, Bold, CondensedBold };

// The typeface's files (Gillius ADF No2), loaded directly (no font lookup by name, so the
// drawing depends on the files alone). Load once before any drawing.
class Fonts {
public:
    static void load(const std::string& directory);  // throws std::runtime_error naming a missing file
    static void unload();
    static cairo_font_face_t* face(Font font);
};

// An ARGB32 surface that starts fully transparent.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    cairo_t* cr() const { return cr_; }
    cairo_surface_t* surface() const { return surface_; }

    IndexedImage to_indexed(Palette& palette) const;

private:
    int width_;
    int height_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

}  // namespace art
