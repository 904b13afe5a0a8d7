#include "render/changed_rects.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace render {
namespace {

// The tiles worth comparing, row by row, of a picture `columns` tiles wide.
std::vector<bool> candidate_tiles(const std::vector<PixelRect>& within, int width, int height, int columns) {
    std::vector<bool> candidate(static_cast<size_t>(columns) * static_cast<size_t>((height + kTile - 1) / kTile),
                                false);
    for (const PixelRect& rect : within) {
        const int64_t left = std::max<int64_t>(rect.x, 0), top = std::max<int64_t>(rect.y, 0);
        const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, width);
        const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, height);
        if (left >= right || top >= bottom) continue;
        for (int64_t row = top / kTile; row <= (bottom - 1) / kTile; ++row) {
            for (int64_t column = left / kTile; column <= (right - 1) / kTile; ++column)
                candidate[static_cast<size_t>(row * columns + column)] = true;
        }
    }
    return candidate;
}

}  // namespace

std::vector<PixelRect> changed_rects(const Image* before, const Image& now, const std::vector<PixelRect>* within) {
    const int width = now.width(), height = now.height();
    if (before == nullptr || before->width() != width || before->height() != height) {
        if (width <= 0 || height <= 0) return {};
        return {{0, 0, width, height}};
    }
    const int columns = (width + kTile - 1) / kTile;
    // The tiles worth comparing (empty: all).
    const std::vector<bool> candidate =
        within != nullptr ? candidate_tiles(*within, width, height, columns) : std::vector<bool>{};
    std::vector<PixelRect> rects;
    const unsigned char* a = before->data();
    const unsigned char* b = now.data();
    const int stride_a = before->stride(), stride_b = now.stride();
    for (int top = 0; top < height; top += kTile) {
        const int rows = std::min(kTile, height - top);
        int run_start = -1;
        // One step past the last tile closes a run that reaches the right edge.
        for (int column = 0; column <= columns; ++column) {
            const int left = column * kTile;
            bool changed = false;
            if (column < columns &&
                (candidate.empty() || candidate[static_cast<size_t>(top / kTile) * columns + column])) {
                const size_t bytes = 4 * static_cast<size_t>(std::min(kTile, width - left));
                for (int y = top; y < top + rows && !changed; ++y) {
                    changed =
                        std::memcmp(a + static_cast<size_t>(y) * stride_a + 4 * static_cast<size_t>(left),
                                    b + static_cast<size_t>(y) * stride_b + 4 * static_cast<size_t>(left), bytes) != 0;
                }
            }
            if (changed && run_start < 0) run_start = left;
            if (!changed && run_start >= 0) {
                rects.push_back({run_start, top, std::min(left, width) - run_start, rows});
                run_start = -1;
            }
        }
    }
    return rects;
}

}  // namespace render
