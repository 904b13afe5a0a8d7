// Scales around a needle's pivot, placed where the needle's own record
// points it: every mark and numeral of a dial is drawn at the angle the
// needle shows for that reading.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "art/draw.h"
#include "art/needles.h"
#include "art/records.h"

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

// A needle at the readings the flight holds it at longest (art/dwell.h):
// the pixels its own picture covers on the dial, turned as the host turns
// it, at every one of them.
class Dwelling {
public:
    // Throws when the table has no entry for the needle: a dial placing its
    // legends by the flight must have been measured. `tail_only` keeps the
    // counterweight's side alone, for a scale the blade must cross.
    // `still_only` keeps the readings it stands still at alone (stopped, level),
    // past which it does not sweep.
    Dwelling(const Records& records, std::string_view gauge, uint32_t needle_id, bool tail_only = false,
             bool still_only = false);

    // Whether a box of the background (x, y, width, height) stays uncovered.
    bool clear(double x, double y, double width, double height) const;

private:
    Point pivot_;
    std::vector<double> angles_;
    std::vector<Point> pixels_;  // the needle's opaque pixels' centres, from its pivot
    double reach_ = 0.0;
};

// Lines of a legend, one under another, each centred as text() centres it.
struct Legend {
    std::vector<std::string_view> lines;
    double size;
    Font font = Font::Bold;
    Point wanted;   // where it stands when no needle is in the way
    Point centre;   // and the circle it keeps inside: clear of the
    double within;  // numerals and the case
};

// Draws the legend at the place nearest where it is wanted at which every
// line stays clear of every needle and of what is drawn already; throws
// naming the first line when no place within reach is, so that a new flight
// or needle cannot hide a legend unnoticed. Returns the place.
Point legend(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Legend& legend,
             Rgb colour = colour::kCream);
// Those of `marks` whose numerals (as numerals() draws them) stay clear of
// every needle: a scale numbered where the needles do not stand.
std::vector<Numeral> unhidden(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Needle& needle,
                              const std::vector<Numeral>& marks, double radius, double size, Font font = Font::Bold);

// Numerals as numerals() draws them, except that one the needles cover is
// moved along its circle, the least it takes (up to 25 degrees), to stand
// beside the needle: a pointer resting on its 0 leaves the 0 readable.
// Throws naming a numeral no such place keeps clear.
void numerals_beside(cairo_t* cr, const std::vector<const Dwelling*>& needles, const Needle& needle,
                     const std::vector<Numeral>& marks, double radius, double size, Font font = Font::Bold);

// Numerals that name their readings as whole numbers.
std::vector<Numeral> numbered(const std::vector<double>& readings);
// Upright numerals centred at `radius` on the readings' angles.
void numerals(cairo_t* cr, const Needle& needle, const std::vector<Numeral>& marks, double radius, double size,
              Font font = Font::Bold, Rgb colour = colour::kCream);

// Upright numerals on the readings' angles, each as far out as keeps it
// inside `r_edge` (text_inside): a scale whose marks begin at r_edge plus a gap.
void numerals_inside(cairo_t* cr, const Needle& needle, const std::vector<Numeral>& marks, double r_edge, double size,
                     Font font = Font::Bold, Rgb colour = colour::kCream);

// A needle bitmap for `gauge`'s needle with this bitmap: pivot from the record.
void paint_record_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                         Rgb colour = colour::kCream, double hub_radius = 0.0);
// The same, casting a shadow down and to the right on the face. The host
// turns the shadow with the needle, so only a needle whose whole travel, from
// reading `first` to `last`, keeps within 45 degrees of its middle may carry
// one; any other throws.
void paint_shadowed_needle(Canvas& canvas, const Records& records, const char* gauge, uint32_t id, NeedleStyle style,
                           double first, double last);

}  // namespace art
