#include "art/needles.h"

#include <algorithm>
#include <cmath>

namespace art {
namespace {

constexpr Rgb kNeedleEdge{40, 40, 40};
// A counterweight is dark, as the hub is: a light one reads as a second
// pointer's tip (a needle at 0 seemed to show the far end of its scale).
constexpr Rgb kCounterweight{58, 58, 56};
// The shadow a pointer casts on the face: darker than the face, yet not the
// transparent black.
constexpr Rgb kShadow{8, 8, 8};

// The needle itself, or its shadow: the same outline in the shadow's colour,
// without the details drawn inside it.
struct Pass {
    bool shadow;
    Rgb operator()(Rgb colour) const { return shadow ? kShadow : colour; }
};

void polygon(cairo_t* cr, std::initializer_list<Point> points, Rgb colour, Pass pass) {
    cairo_new_path(cr);
    bool first = true;
    for (const Point& p : points) {
        if (first) {
            cairo_move_to(cr, p.x, p.y);
            first = false;
        } else {
            cairo_line_to(cr, p.x, p.y);
        }
    }
    cairo_close_path(cr);
    set_colour(cr, pass(colour));
    cairo_fill_preserve(cr);
    // A dark edge, as on an enamelled pointer: it keeps the needle apart from
    // the marks it crosses.
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    set_colour(cr, pass(kNeedleEdge));
    cairo_stroke(cr);
}

void hub(cairo_t* cr, Point at, double radius, Pass pass) {
    if (radius <= 0.0) return;
    fill_circle(cr, at, radius, pass(Rgb{72, 72, 72}));
    if (!pass.shadow) fill_circle(cr, at, radius * 0.62, Rgb{32, 32, 32});
}

// What every style draws by: the pivot pixel's centre, the room beside it
// and the hub a style keeps unless it says otherwise. Each style's function
// draws its outline and returns the radius of the hub drawn over it.
struct Measures {
    Point p;            // the pivot pixel's centre
    double half;        // room above and below the pivot
    double tip;         // where the pointer ends
    double length;      // from the pivot to the tip
    double tail;        // from the pivot back to the left edge
    double blade;       // half the width of a slim pointer
    double hub_radius;  // the hub's, unless the style says otherwise
    Rgb c;
};

Measures measures(const Canvas& canvas, const NeedleLook& look) {
    const double w = canvas.width();
    const double h = canvas.height();
    const Point p{look.pivot.x + 0.5, look.pivot.y + 0.5};  // the pivot pixel's centre
    const double half = std::max(1.5, std::min(p.y, h - p.y) - 0.5);
    const double tip = w - 1.0;
    const double length = tip - p.x;
    const double tail = p.x - 1.0;
    const Rgb c = look.colour;
    const double blade = std::min(half * 0.5, 3.2);
    const double hub_radius = look.hub_radius != 0.0 ? look.hub_radius : std::min(half, std::max(3.0, h * 0.32));
    return {p, half, tip, length, tail, blade, hub_radius, c};
}

// A slim lance, with a round counterweight behind the pivot where there is room.
double draw_lance(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const double length = m.length;
    const double tail = m.tail;
    const Rgb c = m.c;
    const double blade = m.blade;
    polygon(cr,
            {{p.x, p.y - blade},
             {tip - length * 0.14, p.y - blade * 0.62},
             {tip, p.y},
             {tip - length * 0.14, p.y + blade * 0.62},
             {p.x, p.y + blade}},
            c, pass);
    if (tail > 8.0) {
        // A short dark counterweight, a fifth of the pointer's length at most.
        const double weight = std::min(half - 0.5, blade * 1.5);
        const double end = p.x - std::min(tail - weight, length * 0.2);
        polygon(cr,
                {{p.x, p.y - blade * 0.75},
                 {end, p.y - blade * 0.75},
                 {end, p.y + blade * 0.75},
                 {p.x, p.y + blade * 0.75}},
                kCounterweight, pass);
        fill_circle(cr, {end, p.y}, weight, pass(kCounterweight));
    }
    return m.hub_radius;
}

// A broad hand, widest a fifth of the way out.
double draw_broad(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const double length = m.length;
    const double tail = m.tail;
    const Rgb c = m.c;
    const double blade = m.blade;
    const double wide = half * 0.62;
    polygon(cr,
            {{p.x - std::min(tail, 10.0), p.y - blade * 0.8},
             {p.x + length * 0.18, p.y - wide},
             {p.x + length * 0.55, p.y - wide * 0.75},
             {tip, p.y},
             {p.x + length * 0.55, p.y + wide * 0.75},
             {p.x + length * 0.18, p.y + wide},
             {p.x - std::min(tail, 10.0), p.y + blade * 0.8}},
            c, pass);
    // A dark spine down the middle keeps the broad hand readable over marks.
    if (!pass.shadow) tick(cr, p, 0.0, length * 0.2, length * 0.62, std::max(1.0, wide * 0.22), Rgb{60, 60, 60});
    return m.hub_radius;
}

// A spade on a thin stem, with a round tail where there is room.
double draw_spade(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const double length = m.length;
    const double tail = m.tail;
    const Rgb c = m.c;
    const double stem = std::max(1.2, half * 0.2);
    const double spade = half * 0.68;
    const double start = p.x + length * 0.52;
    polygon(cr,
            {{p.x - std::min(tail, 8.0), p.y - stem},
             {start, p.y - stem},
             {start + length * 0.16, p.y - spade},
             {tip - length * 0.12, p.y - stem * 0.8},
             {tip, p.y},
             {tip - length * 0.12, p.y + stem * 0.8},
             {start + length * 0.16, p.y + spade},
             {start, p.y + stem},
             {p.x - std::min(tail, 8.0), p.y + stem}},
            c, pass);
    if (!pass.shadow) fill_circle(cr, {start + length * 0.15, p.y}, spade * 0.45, Rgb{60, 60, 60});
    if (tail > 20.0) {
        const double end = p.x - std::min(tail - half * 0.45, length * 0.2);
        polygon(cr, {{p.x, p.y - stem}, {end, p.y - stem}, {end, p.y + stem}, {p.x, p.y + stem}}, kCounterweight, pass);
        fill_circle(cr, {end, p.y}, half * 0.45, pass(kCounterweight));
    }
    return m.hub_radius;
}

// An arrow on a thin stem, over a small hub.
double draw_arrow(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const double length = m.length;
    const Rgb c = m.c;
    const double stem = std::max(1.2, half * 0.18);
    const double head = half * 0.85;
    const double head_start = tip - length * 0.3;
    polygon(cr, {{p.x, p.y - stem}, {head_start, p.y - stem}, {head_start, p.y + stem}, {p.x, p.y + stem}}, c, pass);
    polygon(cr, {{head_start - 2.0, p.y - head}, {tip, p.y}, {head_start - 2.0, p.y + head}}, c, pass);
    return std::min(m.hub_radius, half * 0.55);
}

// Only a head at the tip: no hub.
double draw_tip_only(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const double length = m.length;
    const Rgb c = m.c;
    const double base = tip - std::min(18.0, length * 0.2);
    polygon(cr, {{base, p.y - half * 0.9}, {tip, p.y}, {base, p.y + half * 0.9}}, c, pass);
    return 0.0;
}

// A bar with a head at each end: no hub.
double draw_two_ended(cairo_t* cr, const Measures& m, Pass pass) {
    const Point p = m.p;
    const double half = m.half;
    const double tip = m.tip;
    const Rgb c = m.c;
    const double bar = std::max(1.5, half * 0.16);
    const double left = 1.0;
    polygon(cr, {{left + 10.0, p.y - bar}, {tip - 14.0, p.y - bar}, {tip - 14.0, p.y + bar}, {left + 10.0, p.y + bar}},
            c, pass);
    polygon(cr, {{tip - 18.0, p.y - half * 0.7}, {tip, p.y}, {tip - 18.0, p.y + half * 0.7}}, c, pass);
    polygon(cr,
            {{left, p.y - half * 0.6},
             {left + 14.0, p.y - bar},
             {left + 14.0, p.y + bar},
             {left, p.y + half * 0.6},
             {left + 5.0, p.y}},
            c, pass);
    return 0.0;
}

// The needle's outline in its style, then its hub.
void paint_shapes(Canvas& canvas, const NeedleLook& look, Pass pass) {
    cairo_t* cr = canvas.cr();
    const Measures m = measures(canvas, look);
    double hub_radius = m.hub_radius;
    switch (look.style) {
        case NeedleStyle::Lance: hub_radius = draw_lance(cr, m, pass); break;
        case NeedleStyle::Broad: hub_radius = draw_broad(cr, m, pass); break;
        case NeedleStyle::Spade: hub_radius = draw_spade(cr, m, pass); break;
        case NeedleStyle::Arrow: hub_radius = draw_arrow(cr, m, pass); break;
        case NeedleStyle::TipOnly: hub_radius = draw_tip_only(cr, m, pass); break;
        case NeedleStyle::TwoEnded: hub_radius = draw_two_ended(cr, m, pass); break;
    }
    hub(cr, m.p, hub_radius, pass);
}

}  // namespace

void paint_needle(Canvas& canvas, const NeedleLook& look) {
    if (look.shadow.x != 0.0 || look.shadow.y != 0.0) {
        cairo_save(canvas.cr());
        cairo_translate(canvas.cr(), look.shadow.x, look.shadow.y);
        paint_shapes(canvas, look, Pass{true});
        cairo_restore(canvas.cr());
    }
    paint_shapes(canvas, look, Pass{false});
}

}  // namespace art
