#include "art/dial.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "art/dwell.h"
#include "art/painters.h"
#include "korvane/bitmaps.h"

namespace art {
namespace {

double angular_distance(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

Painter painter_of(uint32_t id) {
    for (auto family : {flight_painters(), navigation_painters(), engine_painters(), controls_painters()}) {
        for (const PainterEntry& entry : family) {
            if (entry.id == id) return entry.paint;
        }
    }
    throw std::logic_error("no painter for bitmap " + std::to_string(id));
}

// The inked box of a line as text() centres it on `at`.
struct Ink {
    double x, y, width, height;
};

Ink ink(cairo_t* cr, std::string_view s, Point at, double size, Font font) {
    const cairo_text_extents_t extents = text_extents(cr, s, size, font);
    return {at.x - extents.width / 2.0, at.y - extents.height / 2.0, extents.width, extents.height};
}

// Whether marks or numerals already drawn (light pixels) lie in or next to
// the box: a legend moved off a needle must not land on the scale instead.
bool inked(cairo_t* cr, const Ink& box) {
    cairo_surface_t* surface = cairo_get_target(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    const int x0 = std::max(0, int(std::floor(box.x)) - 2);
    const int x1 = std::min(width - 1, int(std::ceil(box.x + box.width)) + 2);
    const int y0 = std::max(0, int(std::floor(box.y)) - 2);
    const int y1 = std::min(height - 1, int(std::ceil(box.y + box.height)) + 2);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const unsigned char* p = data + size_t(y) * stride + size_t(x) * 4;
            if (std::max({p[0], p[1], p[2]}) >= 150) return true;
        }
    }
    return false;
}

bool all_clear(const std::vector<const Dwelling*>& needles, const Ink& box) {
    return std::all_of(needles.begin(), needles.end(),
                       [&](const Dwelling* d) { return d->clear(box.x, box.y, box.width, box.height); });
}

}  // namespace

Dwelling::Dwelling(const Records& records, std::string_view gauge, uint32_t needle_id, bool tail_only,
                   bool still_only) {
    const Dwell* dwell = dwell_of(gauge, needle_id);
    if (dwell == nullptr) {
        throw std::logic_error("no dwell measured for " + std::string(gauge) + "'s needle " +
                               std::to_string(needle_id));
    }
    const Needle needle = records.needle(gauge, needle_id);
    // The host turns the bitmap about the element's position itself.
    pivot_ = {double(needle.centre_x()), double(needle.centre_y())};
    // Every half degree the needle passes: a pixel at the longest tip.
    constexpr int kSamples = 240;
    for (const DwellBand& band : dwell->bands) {
        if (still_only && band.high != band.low) continue;
        for (int i = 0; i <= kSamples; ++i) {
            const double reading = band.low + (band.high - band.low) * i / kSamples;
            angles_.push_back(std::round(needle.angle(reading) * 2.0) / 2.0);
            if (band.high == band.low) break;
        }
    }
    std::sort(angles_.begin(), angles_.end());
    angles_.erase(std::unique(angles_.begin(), angles_.end()), angles_.end());

    const korvane::BitmapInfo* info = korvane::find_bitmap(needle_id);
    Canvas canvas(int(info->width), int(info->height));
    painter_of(needle_id)(canvas, records);
    cairo_surface_flush(canvas.surface());
    const unsigned char* data = cairo_image_surface_get_data(canvas.surface());
    const int stride = cairo_image_surface_get_stride(canvas.surface());
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            // Opaque as the palette takes it: at least half covered.
            if (data[size_t(y) * stride + size_t(x) * 4 + 3] < 128) continue;
            const Point p{x + 0.5 - needle.ofs_x(), y + 0.5 - needle.ofs_y()};
            if (tail_only && p.x > 0.0) continue;
            pixels_.push_back(p);
            reach_ = std::max(reach_, std::hypot(p.x, p.y));
        }
    }
}

bool Dwelling::clear(double x, double y, double width, double height) const {
    // Room for the host's bilinear sampling of the turned needle, and for
    // the eye: a legend touching a needle reads as covered.
    constexpr double kRoom = 2.0;
    const double left = x - kRoom, top = y - kRoom, right = x + width + kRoom, bottom = y + height + kRoom;
    const double dx = std::max({left - pivot_.x, 0.0, pivot_.x - right});
    const double dy = std::max({top - pivot_.y, 0.0, pivot_.y - bottom});
    if (std::hypot(dx, dy) > reach_) return true;
    for (double degrees : angles_) {
        const double c = std::cos(degrees * std::numbers::pi / 180.0), s = std::sin(degrees * std::numbers::pi / 180.0);
        for (const Point& p : pixels_) {
            const double px = pivot_.x + p.x * c - p.y * s;
            const double py = pivot_.y + p.x * s + p.y * c;
            if (px > left && px < right && py > top && py < bottom) return false;
        }
    }
    return true;
}

Point legend(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Legend& legend, Rgb colour) {
    const double leading = legend.size * 1.25;
    const size_t count = legend.lines.size();
    auto boxes_at = [&](Point place) {
        std::vector<Ink> out;
        for (size_t i = 0; i < count; ++i) {
            const Point at{place.x, place.y + leading * (double(i) - (double(count) - 1.0) / 2.0)};
            out.push_back(ink(cr, legend.lines[i], at, legend.size, legend.font));
        }
        return out;
    };
    auto inside = [&](const Ink& b) {
        for (const Point corner : {Point{b.x, b.y}, Point{b.x + b.width, b.y}, Point{b.x, b.y + b.height},
                                   Point{b.x + b.width, b.y + b.height}}) {
            if (std::hypot(corner.x - legend.centre.x, corner.y - legend.centre.y) > legend.within) return false;
        }
        return true;
    };
    // Nearest first, in whole pixels, up to a third of the circle away.
    constexpr double kStep = 1.0;
    const int steps = int(legend.within / 3.0 / kStep);
    std::vector<Point> offsets;
    for (int j = -steps; j <= steps; ++j) {
        for (int i = -steps; i <= steps; ++i) {
            if (i * i + j * j <= steps * steps) offsets.push_back({i * kStep, j * kStep});
        }
    }
    std::stable_sort(offsets.begin(), offsets.end(),
                     [](Point a, Point b) { return a.x * a.x + a.y * a.y < b.x * b.x + b.y * b.y; });
    for (const Point offset : offsets) {
        const Point place{legend.wanted.x + offset.x, legend.wanted.y + offset.y};
        const std::vector<Ink> boxes = boxes_at(place);
        if (!std::all_of(boxes.begin(), boxes.end(),
                         [&](const Ink& b) { return inside(b) && all_clear(needles, b) && !inked(cr, b); }))
            continue;
        for (size_t i = 0; i < count; ++i) {
            text(cr, legend.lines[i], {boxes[i].x + boxes[i].width / 2.0, boxes[i].y + boxes[i].height / 2.0},
                 legend.size, legend.font, colour);
        }
        return place;
    }
    throw std::runtime_error("no place on the dial keeps \"" + std::string(legend.lines.front()) +
                             "\" clear of the needles in flight");
}

std::vector<Numeral> unhidden(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Needle& needle,
                              const std::vector<Numeral>& marks, double radius, double size, Font font) {
    std::vector<Numeral> out;
    for (const Numeral& mark : marks) {
        const Point at = polar(centre_of(needle), radius, needle.angle(mark.reading));
        if (all_clear(needles, ink(cr, mark.label, at, size, font))) out.push_back(mark);
    }
    return out;
}

void numerals_beside(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Needle& needle,
                     const std::vector<Numeral>& marks, double radius, double size, Font font) {
    const Point c = centre_of(needle);
    for (const Numeral& mark : marks) {
        const double angle = needle.angle(mark.reading);
        bool placed = false;
        for (int step = 0; step <= 50 && !placed; ++step) {
            const double degrees = angle + (step % 2 == 0 ? 0.5 : -0.5) * ((step + 1) / 2);
            const Point at = polar(c, radius, degrees);
            const Ink box = ink(cr, mark.label, at, size, font);
            if (!all_clear(needles, box)) continue;
            text(cr, mark.label, at, size, font, colour::kCream);
            placed = true;
        }
        if (!placed)
            throw std::runtime_error("no place beside its mark keeps \"" + mark.label + "\" (at " +
                                     std::to_string(radius) + " from the pivot) clear of the needle");
    }
}

Point centre_of(const Needle& needle) { return {needle.centre_x() + 0.5, needle.centre_y() + 0.5}; }

void ticks(cairo_t* cr, const Needle& needle, const std::vector<double>& readings, const TickStyle& style) {
    const Point c = centre_of(needle);
    for (double reading : readings) {
        tick(cr, c, needle.angle(reading), style.r_inner, style.r_outer, style.width, style.colour);
    }
}

std::vector<double> steps(double first, double last, double step) {
    std::vector<double> out;
    const int count = static_cast<int>(std::floor((last - first) / step + 1e-9));
    for (int i = 0; i <= count; ++i) out.push_back(first + step * i);
    return out;
}

std::vector<double> spaced(const Needle& needle, const std::vector<double>& candidates,
                           const std::vector<double>& taken, double min_degrees) {
    std::vector<double> angles;
    for (double reading : taken) angles.push_back(needle.angle(reading));
    std::vector<double> kept;
    for (double reading : candidates) {
        const double angle = needle.angle(reading);
        bool clear = true;
        for (double other : angles) {
            if (angular_distance(angle, other) < min_degrees) clear = false;
        }
        if (!clear) continue;
        kept.push_back(reading);
        angles.push_back(angle);
    }
    return kept;
}

std::vector<Numeral> numbered(const std::vector<double>& readings) {
    std::vector<Numeral> out;
    for (double r : readings) out.push_back({r, std::to_string(static_cast<int>(std::lround(r)))});
    return out;
}

void numerals(cairo_t* cr, const Needle& needle, const std::vector<Numeral>& marks, double radius, double size,
              Font font, Rgb colour) {
    const Point c = centre_of(needle);
    for (const Numeral& mark : marks)
        text_polar(cr, c, needle.angle(mark.reading), radius, mark.label, size, font, colour);
}

void numerals_inside(cairo_t* cr, const Needle& needle, const std::vector<Numeral>& marks, double r_edge, double size,
                     Font font, Rgb colour) {
    const Point c = centre_of(needle);
    for (const Numeral& mark : marks)
        text_inside(cr, c, needle.angle(mark.reading), r_edge, mark.label, size, font, colour);
}

void paint_record_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                         Rgb colour, double hub_radius) {
    const Needle needle = records.needle(gauge, id);
    paint_needle(canvas, NeedleLook{.style = style,
                                    .pivot = {double(needle.ofs_x()), double(needle.ofs_y())},
                                    .hub_radius = hub_radius,
                                    .colour = colour,
                                    .shadow = {}});
}

void paint_shadowed_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                           double first, double last) {
    const Needle needle = records.needle(gauge, id);
    const double from = needle.angle(first);
    const double travel = std::remainder(needle.angle(last) - from, 360.0);
    if (std::fabs(travel) > 90.0) {
        throw std::logic_error(std::string(gauge) + "'s needle turns too far to carry a shadow");
    }
    // Down and to the right on the screen, turned back into the bitmap's axes
    // at the middle of the travel.
    const double middle = (from + travel / 2.0) * std::numbers::pi / 180.0;
    const double dx = 1.5, dy = 2.0;
    paint_needle(canvas, NeedleLook{.style = style,
                                    .pivot = {double(needle.ofs_x()), double(needle.ofs_y())},
                                    .shadow = {dx * std::cos(middle) + dy * std::sin(middle),
                                               -dx * std::sin(middle) + dy * std::cos(middle)}});
}

}  // namespace art
