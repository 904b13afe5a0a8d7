// PNG encoding of pictures and parts of them, through libpng: fast for live
// and scenario frames, smallest for pictures that are published.
#pragma once

#include <string>
#include <vector>

#include "render/image.h"

namespace render {

// Appends the PNG of `rect` of `image` to `out` (straight RGBA, as cairo's
// own writer gives). Throws RenderError when the rectangle is not inside
// the picture or libpng fails.
void encode_png(const Image& image, const PixelRect& rect, PngEffort effort, std::vector<unsigned char>& out);

}  // namespace render
