#include "art/canvas.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstring>
#include <stdexcept>

namespace art {
namespace {

struct FontSet {
    FT_Library library = nullptr;
    std::array<FT_Face, 6> faces{};
    std::array<cairo_font_face_t*, 6> cairo_faces{};
};

FontSet& fonts() {
    static FontSet set;
    return set;
}

// A condensed humanist sans of the instruments' period, as their makers
// engraved it: the three weights the drawings name all come from its
// condensed family, in two cuts (the engine instruments' maker has the
// other). Three faces per cut, in Font's order.
constexpr std::array<const char*, 6> kFontFiles{"GilliusADFNo2-Cond.otf",     "GilliusADFNo2-BoldCond.otf",
                                                "GilliusADFNo2-BoldCond.otf", "GilliusADF-Cond.otf",
                                                "GilliusADF-BoldCond.otf",    "GilliusADF-BoldCond.otf"};

Maker& current_maker() {
    static Maker maker = Maker::Flight;
    return maker;
}

}  // namespace

void Fonts::load(const std::string& directory) {
    FontSet& set = fonts();
    if (set.library != nullptr) return;
    if (FT_Init_FreeType(&set.library) != 0) throw std::runtime_error("cannot start FreeType");
    for (size_t i = 0; i < kFontFiles.size(); ++i) {
        const std::string path = directory + "/" + kFontFiles[i];
        if (FT_New_Face(set.library, path.c_str(), 0, &set.faces[i]) != 0) {
            unload();
            throw std::runtime_error("cannot load font " + path);
        }
        set.cairo_faces[i] = cairo_ft_font_face_create_for_ft_face(set.faces[i], 0);
    }
}

void Fonts::unload() {
    FontSet& set = fonts();
    for (size_t i = 0; i < set.faces.size(); ++i) {
        if (set.cairo_faces[i] != nullptr) cairo_font_face_destroy(set.cairo_faces[i]);
        set.cairo_faces[i] = nullptr;
    }
    // cairo may still hold the faces in its caches; let it drop them first.
    cairo_debug_reset_static_data();
    for (FT_Face& face : set.faces) {
        if (face != nullptr) FT_Done_Face(face);
        face = nullptr;
    }
    if (set.library != nullptr) FT_Done_FreeType(set.library);
    set.library = nullptr;
}

void set_maker(Maker maker) { current_maker() = maker; }
Maker maker() { return current_maker(); }

Maker maker_of(std::string_view gauge) {
    for (std::string_view engine : {"Tachometer", "Boost", "Oil_", "Radiator_", "Fuel_Quantity"}) {
        if (gauge.starts_with(engine)) return Maker::Engine;
    }
    for (std::string_view timepiece : {"Clock", "Timer", "Flap_Position"}) {
        if (gauge == timepiece) return Maker::Timepiece;
    }
    return Maker::Flight;
}

cairo_font_face_t* Fonts::face(Font font) {
    const size_t cut = maker() == Maker::Engine ? 3 : 0;
    cairo_font_face_t* face = fonts().cairo_faces[cut + static_cast<size_t>(font)];
    if (face == nullptr) throw std::logic_error("fonts are not loaded");
    return face;
}

Canvas::Canvas(int width, int height)
    : width_(width),
      height_(height),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
      cr_(cairo_create(surface_)) {
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot create a drawing surface");
    // Unhinted, greyscale-smoothed outlines: the same pixels on every machine
    // with the same libraries and font files.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr_, options);
    cairo_font_options_destroy(options);
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_GRAY);
}

Canvas::~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

IndexedImage Canvas::to_indexed(Palette& palette) const {
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    IndexedImage image;
    image.width = static_cast<uint32_t>(width_);
    image.height = static_cast<uint32_t>(height_);
    image.pixels.resize(size_t{image.width} * image.height);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, data + size_t(y) * stride + size_t(x) * 4, 4);
            image.pixels[size_t(y) * width_ + x] = palette.from_argb32(pixel);
        }
    }
    return image;
}

}  // namespace art
