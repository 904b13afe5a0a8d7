// Where two pictures differ, in tiles: what the live panel sends a page is
// only these rectangles of the new picture.
#pragma once

#include <vector>

#include "render/image.h"

namespace render {

inline constexpr int kTile = 32;

// The rectangles of `now` that differ from `before`, in tiles of kTile
// pixels merged along each tile row; the whole picture when there is no
// `before` or its size differs. `within`, when given, holds every pixel
// that may differ: only the tiles it touches are compared.
std::vector<PixelRect> changed_rects(const Image* before, const Image& now,
                                     const std::vector<PixelRect>* within = nullptr);

}  // namespace render
