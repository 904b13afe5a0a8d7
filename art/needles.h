// Needles and hands: every one drawn pointing right from its pivot (the
// pivot inside the bitmap as the needle's record gives it), on the
// transparent index so that the dial shows around it.
#pragma once

#include "art/draw.h"

namespace art {

enum class NeedleStyle {
    Lance,     // tapered blade with a counterweight tail
    Broad,     // leaf-shaped hand (thousands, ten-thousands)
    Spade,     // clock hand: slim stem, spade near the tip
    Arrow,     // slim stem ending in a broad arrowhead
    TipOnly,   // only a triangular index at the far end
    TwoEnded,  // a bar through the pivot: arrowhead right, forked tail left
};

struct NeedleLook {
    NeedleStyle style = NeedleStyle::Lance;
    Point pivot;              // inside the bitmap
    double hub_radius = 0.0;  // 0: sized from the bitmap; negative: none
    Rgb colour = colour::kCream;
    // A dark copy underneath, this far off in the bitmap's own axes: the host
    // turns it with the needle, so it falls the right way only on a needle
    // that stays near one angle (none when zero).
    Point shadow;
};

void paint_needle(Canvas& canvas, const NeedleLook& look);

}  // namespace art
