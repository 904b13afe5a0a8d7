#include "tools/art/dial.h"

#include <cmath>

namespace art {
namespace {

double angular_distance(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

}  // namespace

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

void paint_record_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                         Rgb colour, double hub_radius) {
    const Needle needle = records.needle(gauge, id);
    paint_needle(canvas, NeedleLook{.style = style,
                                    .pivot = {double(needle.ofs_x()), double(needle.ofs_y())},
                                    .hub_radius = hub_radius,
                                    .colour = colour});
}

}  // namespace art
