// A page's frame compares only the tiles the renderer said changed: given
// every changed pixel, that must find what comparing the whole pictures finds.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/changed_rects.h"
#include "render/image.h"
#include "web/simulation_clock.h"

namespace {

struct Dot {
    int x, y;
};

std::string text(const std::vector<render::PixelRect>& rects) {
    std::string out;
    for (const auto& r : rects)
        out += std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
               std::to_string(r.height) + "; ";
    return out;
}

TEST(ChangedRects, WithinTheRenderersRectanglesAsTheWholeCompare) {
    struct Row {
        const char* what;
        std::vector<Dot> dots;
        std::vector<render::PixelRect> within;
    };
    const Row rows[] = {
        {"either side of a tile corner", {{31, 31}, {32, 32}}, {{31, 31, 2, 2}}},
        {"the last, partial tile", {{99, 69}}, {{99, 69, 1, 1}}},
        {"rectangles reaching past the picture", {{0, 0}, {95, 65}}, {{-10, -10, 12, 12}, {90, 60, 50, 50}}},
        {"two skipped pictures' rectangles, one that changed nothing",
         {{5, 5}, {70, 40}},
         {{5, 5, 1, 1}, {40, 0, 10, 10}, {70, 40, 1, 1}}},
        {"a run along a tile row", {{10, 40}, {40, 40}, {64, 63}}, {{0, 32, 100, 32}}},
    };
    for (const Row& row : rows) {
        render::Image before(100, 70), now(100, 70);
        cairo_t* cr = cairo_create(now.surface());
        cairo_set_source_rgb(cr, 1, 0, 0);
        for (const Dot& dot : row.dots) cairo_rectangle(cr, dot.x, dot.y, 1, 1);
        cairo_fill(cr);
        cairo_destroy(cr);
        const auto whole = render::changed_rects(&before, now);
        ASSERT_FALSE(whole.empty()) << row.what;
        EXPECT_EQ(text(render::changed_rects(&before, now, &row.within)), text(whole)) << row.what;
    }
}

}  // namespace

// The server's figures on its log: a period's report only when they changed
// since the last print (an idle server says nothing new), every period when
// verbose, none when quiet; the final report always.
TEST(ExchangeReport, PrintsAPeriodsFiguresOnlyWhenTheyChanged) {
    struct Row {
        const char* what;
        bool periodically, every_period;
        int lines;  // of the four reports below: period, period again, change and period, the end
    };
    const Row rows[] = {
        {"by default", true, false, 3},
        {"verbose", true, true, 4},
        {"quiet", false, false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        web::Exchange exchange;
        std::FILE* log = std::tmpfile();
        ASSERT_NE(log, nullptr);
        exchange.out = log;
        exchange.figures_periodically = row.periodically;
        exchange.figures_every_period = row.every_period;
        exchange.figures.whole.frames = 1;
        exchange.report(true);
        exchange.report(true);
        exchange.figures.whole.frames = 2;
        exchange.report(true);
        exchange.report(false);
        std::rewind(log);
        int lines = 0;
        for (int c; (c = std::fgetc(log)) != EOF;) lines += c == '\n';
        std::fclose(log);
        EXPECT_EQ(lines, row.lines);
    }
}
