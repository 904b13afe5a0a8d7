// Scales around a needle's pivot, placed where the needle's own record
// points it: every mark and numeral of a dial is drawn at the angle the
// needle shows for that reading.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "tools/art/draw.h"
#include "tools/art/needles.h"
#include "tools/art/records.h"

namespace art {

// The pivot's position on the background (the centre of its pixel).
Point centre_of(const Needle& needle);

struct Numeral {
    double reading;
    std::string label;
};

struct TickStyle {
    double r_inner;
    double r_outer;
    double width;
    Rgb colour = colour::kCream;
};

// Marks at the readings' angles.
void ticks(cairo_t* cr, const Needle& needle, const std::vector<double>& readings, const TickStyle& style);
// Readings from `first` to `last` in steps of `step` (both ends included
// when they fall on a step).
std::vector<double> steps(double first, double last, double step);
// Those of `candidates` whose angle keeps at least `min_degrees` from every
// angle of `taken` and from the ones already kept: fills an uneven scale
// without crowding it.
std::vector<double> spaced(const Needle& needle, const std::vector<double>& candidates,
                           const std::vector<double>& taken, double min_degrees);
// Numerals that name their readings as whole numbers.
std::vector<Numeral> numbered(const std::vector<double>& readings);
// Upright numerals centred at `radius` on the readings' angles.
void numerals(cairo_t* cr, const Needle& needle, const std::vector<Numeral>& marks, double radius, double size,
              Font font = Font::Bold, Rgb colour = colour::kCream);

// A needle bitmap for `gauge`'s needle with this bitmap: pivot from the record.
void paint_record_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                         Rgb colour = colour::kCream, double hub_radius = 0.0);

}  // namespace art
