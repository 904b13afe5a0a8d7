// A cairo drawing surface for one bitmap, the fonts the art uses, and the
// step from cairo's ARGB pixels to palette indices.
#pragma once

#include <cairo.h>

#include <string>
#include <string_view>

#include "art/bmp.h"
#include "art/palette.h"

namespace art {

enum class Font { Regular, Bold, CondensedBold };

// The makers whose instruments share the panel: each has its own bezel and
// its own cut of the typeface, as a real panel is fitted from several
// suppliers. The maker drawn for is set before a bitmap is painted (artgen
// sets it from the bitmap's gauge); Flight unless set.
enum class Maker { Flight, Engine, Timepiece };
void set_maker(Maker maker);
Maker maker();
// Whose instrument a gauge of the module is, by its name.
Maker maker_of(std::string_view gauge);

// The typeface's files (Gillius ADF No2 for the flight instruments and the
// timepieces, Gillius ADF for the engine instruments), loaded directly (no
// font lookup by name, so the drawing depends on the files alone). Load once
// before any drawing.
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
