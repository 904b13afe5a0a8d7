// Mouse lists as boxes on the gauge: nesting, the whole-gauge parent, the
// bounded walk over malformed lists, and which box a point hits.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "runtime/module_code.h"
#include "runtime/mouse.h"

namespace {

using guest::MOUSERECT;
using runtime::MouseBox;
using runtime::MouseLayout;
using runtime::MouseListError;

// Routines are only addresses to the layout.
const guest::MouseHandler first_handler(0x401000);
const guest::MouseHandler second_handler(0x401020);

constexpr MOUSERECT parent(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t help_id = 0) {
    return {.rect_type = kMouseParent, .x = x, .y = y, .width = w, .height = h, .help_id = help_id};
}
constexpr MOUSERECT whole_gauge(uint32_t help_id = 0) { return parent(0, 0, 0, 0, help_id); }
constexpr MOUSERECT child(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags) {
    return {.rect_type = kMouseChild, .x = x, .y = y, .width = w, .height = h, .cursor = 5, .mouse_flags = flags};
}
MOUSERECT handler_child(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, guest::MouseHandler handler) {
    MOUSERECT box = child(x, y, w, h, flags);
    box.handler = handler;
    return box;
}
constexpr MOUSERECT event_child(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, uint32_t event_id) {
    MOUSERECT box = child(x, y, w, h, flags);
    box.event_id = event_id;
    return box;
}
constexpr MOUSERECT parent_end() { return {.rect_type = kMouseParentEnd}; }
constexpr MOUSERECT end() { return {.rect_type = kMouseEnd}; }

// A list alone in a guest memory exactly as large as its records, as if a
// module's section ended right after it.
class GuestList {
public:
    static constexpr uint32_t kBase = 0x10000;

    explicit GuestList(std::vector<MOUSERECT> records) : records_(std::move(records)) {
        memory_.add({kBase, static_cast<uint32_t>(records_.size() * sizeof(MOUSERECT)),
                     reinterpret_cast<uint8_t*>(records_.data()), false, "mouse list"});
    }
    GuestList(const GuestList&) = delete;
    GuestList& operator=(const GuestList&) = delete;

    MouseLayout parse(int64_t width, int64_t height) const {
        return MouseLayout::parse(memory_, frame::GuestPtr<const MOUSERECT>(kBase), width, height);
    }
    std::vector<MOUSERECT>& records() { return records_; }

private:
    std::vector<MOUSERECT> records_;
    emulator::GuestMemory memory_;
};

// A gauge of 300 x 200: whole-gauge parent, a group at (10, 20), a group
// nested in it at (150, 50) relative, and a nested parent of 0, 0, 0, 0.
std::vector<MOUSERECT> nested() {
    return {
        whole_gauge(0xA001),
        parent(10, 20, 200, 100, 0xA002),
        handler_child(0, 0, 50, 40, kMouseClick, first_handler),
        handler_child(40, 0, 50, 40, kMouseClick, second_handler),
        parent(150, 50, 40, 40),
        event_child(5, 5, 10, 10, kMouseClick, 0x10079),
        parent_end(),
        parent(0, 0, 0, 0),
        handler_child(1, 2, 3, 4, kMouseDrag, first_handler),
        parent_end(),
        parent_end(),
        parent_end(),
        end(),
    };
}

struct ExpectedBox {
    size_t record;
    uint32_t rect_type;
    int depth;
    int64_t x, y, width, height;
};

TEST(MouseLayoutParse, PlacesNestedBoxesOnTheGauge) {
    const MouseLayout layout = GuestList(nested()).parse(300, 200);
    const ExpectedBox expected[] = {
        {0, kMouseParent, 0, 0, 0, 300, 200},  // whole gauge
        {1, kMouseParent, 1, 10, 20, 200, 100},
        {2, kMouseChild, 2, 10, 20, 50, 40},
        {3, kMouseChild, 2, 50, 20, 50, 40},
        {4, kMouseParent, 2, 160, 70, 40, 40},  // relative to its enclosing parent
        {5, kMouseChild, 3, 165, 75, 10, 10},
        {7, kMouseParent, 2, 0, 0, 300, 200},  // 0, 0, 0, 0 is the whole gauge wherever it stands
        {8, kMouseChild, 3, 1, 2, 3, 4},
    };
    ASSERT_EQ(layout.boxes().size(), std::size(expected)) << layout.describe();
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(testing::Message() << "box " << i << "\n" << layout.describe());
        const MouseBox& box = layout.boxes()[i];
        EXPECT_EQ(box.record, expected[i].record);
        EXPECT_EQ(box.rect_type, expected[i].rect_type);
        EXPECT_EQ(box.depth, expected[i].depth);
        EXPECT_EQ(box.x, expected[i].x);
        EXPECT_EQ(box.y, expected[i].y);
        EXPECT_EQ(box.width, expected[i].width);
        EXPECT_EQ(box.height, expected[i].height);
    }
    EXPECT_EQ(layout.boxes()[0].help_id, 0xA001u);
    EXPECT_EQ(layout.boxes()[2].handler, first_handler);
    EXPECT_EQ(layout.boxes()[5].event_id, 0x10079u);
    EXPECT_FALSE(layout.boxes()[5].handler);
}

TEST(MouseLayoutParse, NoListIsNoBoxes) {
    EXPECT_TRUE(MouseLayout::parse(emulator::GuestMemory(), nullptr, 100, 100).boxes().empty());
    EXPECT_TRUE(GuestList({end()}).parse(100, 100).boxes().empty());
}

TEST(MouseLayoutParse, DescribesEveryBox) {
    const MouseLayout layout = GuestList(nested()).parse(300, 200);
    const std::string text = layout.describe();
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), layout.boxes().size());
    EXPECT_NE(text.find("box 165,75 10x10"), std::string::npos) << text;
    // Events, cursors and flags by their names, as the listing shows them.
    EXPECT_NE(text.find("event clock_minute_back"), std::string::npos) << text;
}

struct MalformedCase {
    const char* name;
    std::vector<MOUSERECT> list;
    const char* message;
};

MOUSERECT record_of_type(uint32_t type) {
    MOUSERECT rect{};
    rect.rect_type = type;
    return rect;
}

TEST(MouseLayoutParse, RefusesMalformedLists) {
    const MalformedCase cases[] = {
        {"end of parent with nothing open", {parent_end(), end()}, "no parent open"},
        {"end while a parent is open", {whole_gauge(), parent(0, 0, 5, 5), parent_end(), end()}, "still open"},
        {"child outside any parent",
         {handler_child(0, 0, 5, 5, kMouseClick, first_handler), end()},
         "outside any parent"},
        {"unknown record type", {whole_gauge(), record_of_type(7), end()}, "unknown"},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            GuestList(c.list).parse(100, 100);
            ADD_FAILURE() << "accepted";
        } catch (const MouseListError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

TEST(MouseLayoutParse, StopsAtTheRecordLimitWithoutReadingFurther) {
    // Exactly the limit, balanced, with no end record: the walk must stop at
    // the last record, where the memory ends.
    std::vector<MOUSERECT> records;
    while (records.size() < runtime::kMaxMouseRecords) {
        records.push_back(parent(0, 0, 1, 1));
        records.push_back(parent_end());
    }
    GuestList endless(records);
    EXPECT_THROW(endless.parse(10, 10), MouseListError);

    // The end record in the last allowed slot is accepted: ..., parent,
    // child, end of parent, end.
    const size_t last = records.size() - 1;
    ASSERT_EQ(records[last - 3].rect_type, kMouseParent);
    endless.records()[last - 2] = handler_child(0, 0, 1, 1, kMouseClick, first_handler);
    endless.records()[last - 1] = parent_end();
    endless.records()[last] = end();
    const MouseLayout layout = endless.parse(10, 10);
    EXPECT_EQ(layout.boxes().size(), runtime::kMaxMouseRecords / 2);
    EXPECT_TRUE(layout.boxes().back().is_child());
}

// A list whose memory ends before its end record is the module's fault, not
// a read of whatever lies beyond.
TEST(MouseLayoutParse, ListRunningOutOfMemoryFaults) {
    EXPECT_THROW(GuestList({whole_gauge(), parent_end()}).parse(10, 10), emulator::GuestFault);
}

// --- Hit testing ------------------------------------------------------------------

struct HitCase {
    const char* name;
    double scale;
    int64_t x, y;
    uint32_t action_bits;
    int expected_record;  // -1: nothing hit
};

TEST(MouseLayoutHit, FirstChildInListOrderTakesThePoint) {
    const MouseLayout layout = GuestList(nested()).parse(300, 200);
    const HitCase cases[] = {
        {"overlap goes to the first", 1.0, 55, 30, kMouseClick, 2},
        {"right box alone", 1.0, 65, 30, kMouseClick, 3},
        {"left edge is inside", 1.0, 10, 20, kMouseClick, 2},
        {"right edge is outside", 1.0, 100, 30, kMouseClick, -1},
        {"nested child", 1.0, 166, 76, kMouseClick, 5},
        {"parents never take a point", 1.0, 250, 150, kMouseClick, -1},
        {"drag box does not answer a click", 1.0, 2, 3, kMouseClick, -1},
        {"drag box answers a drag", 1.0, 2, 3, kMouseDrag, 8},
        {"scaled right box", 2.0, 131, 60, kMouseClick, 3},
        {"scaled nested child", 2.0, 331, 151, kMouseClick, 5},
        {"unscaled point misses at scale 2", 2.0, 12, 25, kMouseClick, -1},
        {"outside the gauge", 1.0, -1, -1, kMouseClick | kMouseDrag, -1},
    };
    for (const HitCase& c : cases) {
        SCOPED_TRACE(c.name);
        const MouseBox* box = layout.hit(c.scale, c.x, c.y, c.action_bits);
        if (c.expected_record < 0) {
            EXPECT_EQ(box, nullptr);
        } else {
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->record, static_cast<size_t>(c.expected_record));
        }
    }
}

TEST(MouseLayoutHit, DisplayedBoxesRoundTheirEdges) {
    MouseBox box;
    box.x = 15;
    box.y = 29;
    box.width = 58;
    box.height = 57;
    const runtime::DisplayedBox at_double = runtime::displayed_box(box, 2.0);
    EXPECT_EQ(at_double.left, 30);
    EXPECT_EQ(at_double.top, 58);
    EXPECT_EQ(at_double.right, 146);
    EXPECT_EQ(at_double.bottom, 172);
    const runtime::DisplayedBox at_third = runtime::displayed_box(box, 1.0 / 3.0);
    EXPECT_EQ(at_third.left, 5);
    EXPECT_EQ(at_third.top, 10);
    EXPECT_EQ(at_third.right, 24);   // 73 / 3 = 24.33
    EXPECT_EQ(at_third.bottom, 29);  // 86 / 3 = 28.67
}

}  // namespace
