// Walks every engine and systems gauge through the loaded module and checks
// each record against the expected table: header, element chain, variables,
// calibration tables, failure lists, mouse lists and stand-alone variables;
// then checks that no two gauges share any record.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "frame/gauge_table.h"

namespace {

using namespace engine_test;

struct Failure {
    uint32_t key, action;
};
struct TablePoint {
    int32_t x, y;
    double value;
};
struct Element {
    uint32_t type;
    uint32_t bitmap;
    int32_t x, y;
    int32_t ofs_x, ofs_y;
    uint32_t flags;
    bool failures;  // carries the gauge's failure list
    uint32_t token = 0;
    bool callback = false;
    std::vector<TablePoint> table = {};
    int32_t max_degrees = 0;
    uint32_t frames = 0;
};
struct Mouse {
    uint32_t type;
    int32_t x, y, w, h, cursor;
    uint32_t help, flags;
    bool handler;
};
struct Gauge {
    std::string name;
    size_t entry;  // place in the full gauge table
    std::vector<Element> chain;
    std::vector<Failure> failures;
    std::vector<Mouse> mouse;
    std::vector<uint32_t> standalone_tokens;  // at header + 116, + 148
    bool own_callback;
};

std::vector<Mouse> plain_mouse(uint32_t help) {
    return {{1, 0, 0, 0, 0, -1, help, 0, false}, {3, 0, 0, 0, 0, -1, 0, 0, false}, {0, 0, 0, 0, 0, -1, 0, 0, false}};
}

Element background(uint32_t bitmap, bool failures) { return {kStaticImage, bitmap, 0, 0, 0, 0, 0x4001, failures}; }

Element needle(uint32_t bitmap, int32_t x, int32_t y, int32_t ofs_x, int32_t ofs_y, uint32_t token,
               std::vector<TablePoint> table, int32_t max_degrees) {
    return {kNeedle, bitmap, x, y, ofs_x, ofs_y, 0x4003, true, token, true, std::move(table), max_degrees};
}

Element lamp(uint32_t bitmap, int32_t x, int32_t y) {
    return {kIcon, bitmap, x, y, 0, 0, 0x40000007, true, 0, false, {}, 0, 1};
}

std::vector<Gauge> expected_gauges() {
    std::vector<Gauge> gauges;
    const char* const digits[] = {"1", "2", "3", "4"};
    const std::vector<TablePoint> boost{{35, 69, -5}, {65, 38, -4}, {139, 13, 0},
                                        {212, 38, 4}, {189, 252, 16}, {40, 216, 24}};
    const std::vector<TablePoint> oil_temperature{{18, 54, 0},  {39, 41, 20}, {59, 36, 40},
                                                  {77, 36, 60}, {93, 39, 80}, {119, 54, 120}};
    const std::vector<TablePoint> oil_pressure{{18, 106, 0}, {69, 5, 60}, {120, 106, 120}};
    const std::vector<TablePoint> radiator{{18, 54, 40}, {69, 35, 90}, {119, 54, 140}};
    const std::array<uint32_t, 4> speed{390, 429, 468, 507}, manifold{391, 430, 469, 508},
        oil_t{416, 455, 494, 533}, oil_p{418, 457, 496, 535}, radiator_t{417, 456, 495, 534},
        pressure{425, 464, 503, 542}, running{406, 445, 484, 523};

    for (size_t e = 0; e < 4; ++e) {
        gauges.push_back({std::string("Fuel_Pressure_Warning") + digits[e], 6 + e,
                          {background(355, true), lamp(360, 13, 13)}, {{20, 1}}, plain_mouse(0),
                          {pressure[e], running[e]}, true});
        gauges.push_back({std::string("Tachometer") + digits[e], 15 + e,
                          {background(150, true), needle(155, 139, 139, 35, 17, speed[e], {}, 0),
                           needle(160, 139, 139, 54, 8, speed[e], {}, 0)},
                          {{20, 2}}, plain_mouse(0xA020), {}, false});
        gauges.push_back({std::string("Boost") + digits[e], 19 + e,
                          {background(165, false), needle(170, 139, 139, 56, 8, manifold[e], boost, 0)},
                          {{20, 1}}, plain_mouse(0xA021), {}, false});
        gauges.push_back({std::string("Oil_Temperature") + digits[e], 23 + e,
                          {background(175, false), needle(180, 69, 114, 3, 5, oil_t[e], oil_temperature, 6)},
                          {{20, 1}}, plain_mouse(0xA022), {}, false});
        gauges.push_back({std::string("Oil_Pressure") + digits[e], 27 + e,
                          {background(210, false), needle(215, 69, 69, 28, 28, oil_p[e], oil_pressure, 6)},
                          {{20, 1}}, plain_mouse(0xA023), {}, false});
        gauges.push_back({std::string("Radiator_Temperature") + digits[e], 31 + e,
                          {background(185, false), needle(190, 69, 114, 3, 5, radiator_t[e], radiator, 6)},
                          {{20, 1}}, plain_mouse(0xA86A), {}, false});
    }

    const std::vector<TablePoint> tank1{{31, 123, 0},   {10, 100, 20},  {3, 70, 50},    {12, 36, 100},
                                        {70, 3, 200},   {129, 41, 300}, {136, 63, 350}, {133, 90, 400},
                                        {113, 121, 450}, {95, 132, 500}};
    const std::vector<TablePoint> tank2{{31, 123, 0},  {11, 100, 10}, {4, 70, 20},   {37, 13, 80},
                                        {119, 25, 160}, {135, 77, 240}, {96, 130, 310}};
    const std::vector<TablePoint> tank3{{27, 120, 0}, {4, 81, 5},   {12, 37, 10},  {81, 5, 30},
                                        {131, 47, 50}, {132, 92, 70}, {102, 126, 90}};
    const struct {
        const char* name;
        uint32_t level, capacity, bitmap;
        const std::vector<TablePoint>* table;
    } tanks[] = {
        {"Fuel_Quantity_Port_1", 291, 292, 375, &tank1}, {"Fuel_Quantity_Stbd_1", 297, 298, 375, &tank1},
        {"Fuel_Quantity_Port_2", 293, 294, 380, &tank2}, {"Fuel_Quantity_Stbd_2", 299, 300, 380, &tank2},
        {"Fuel_Quantity_Port_3", 295, 296, 385, &tank3}, {"Fuel_Quantity_Stbd_3", 301, 302, 385, &tank3},
    };
    for (size_t t = 0; t < 6; ++t) {
        gauges.push_back({tanks[t].name, 36 + t,
                          {background(tanks[t].bitmap, true), needle(390, 70, 70, 27, 4, tanks[t].level,
                                                                    *tanks[t].table, 6)},
                          {{20, 2}, {10, 1}}, plain_mouse(0), {tanks[t].capacity}, false});
    }

    gauges.push_back({"Flap_Position", 42,
                      {background(395, false),
                       needle(400, 70, 70, 27, 4, 329, {{62, 5, 0}, {135, 66, 8191}, {64, 134, 16382}}, 6)},
                      {{20, 1}}, plain_mouse(0xA015), {}, false});

    gauges.push_back({"Gear_Indicator", 10,
                      {background(280, true), lamp(306, 213, 114), lamp(305, 213, 114), lamp(290, 191, 53),
                       lamp(285, 191, 53), lamp(300, 18, 114), lamp(295, 18, 114), lamp(290, 55, 53),
                       lamp(285, 55, 53)},
                      {{20, 1}},
                      {{1, 0, 0, 0, 0, -1, 0, 0, false},
                       {1, 107, 107, 64, 64, -1, 0, 0, false},
                       {2, 0, 0, 64, 64, 5, 0, 0x20000000, true},
                       {3, 0, 0, 0, 0, -1, 0, 0, false},
                       {3, 0, 0, 0, 0, -1, 0, 0, false},
                       {0, 0, 0, 0, 0, -1, 0, 0, false}},
                      {334, 333},
                      true});
    return gauges;
}

bool all_zero(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

size_t element_size(uint32_t type) {
    switch (type) {
    case kStaticImage: return sizeof(ELEMENT_STATIC_IMAGE);
    case kNeedle: return sizeof(ELEMENT_NEEDLE);
    case kIcon: return sizeof(ELEMENT_ICON);
    default: return sizeof(ELEMENT_HEADER);
    }
}

// One record of a gauge, as a byte range in the loaded module.
struct Record {
    uintptr_t begin, end;
    size_t gauge;
    const char* what;
};

class EngineRecords : public LoadedModule {
protected:
    std::vector<Record> records;

    void add(const void* address, size_t size, size_t gauge_index, const char* what) {
        const auto begin = reinterpret_cast<uintptr_t>(address);
        records.push_back({begin, begin + size, gauge_index, what});
    }

    void check_element(const Element& want, ELEMENT_HEADER* got, GAUGEHDR* header, size_t index);
    void check_gauge(const Gauge& want, GAUGEHDR* header, size_t index, GaugeCallback shared_empty);
};

void EngineRecords::check_element(const Element& want, ELEMENT_HEADER* got, GAUGEHDR* header, size_t index) {
    add(got, element_size(got->element_type), index, "element");
    EXPECT_EQ(got->element_type, want.type);
    EXPECT_EQ(got->resource_id, want.bitmap);
    EXPECT_EQ(got->position_x, want.x);
    EXPECT_EQ(got->position_y, want.y);
    EXPECT_EQ(got->ofs_x, want.ofs_x);
    EXPECT_EQ(got->ofs_y, want.ofs_y);
    EXPECT_EQ(got->gauge, header);
    EXPECT_EQ(got->image_flags, want.flags);
    EXPECT_EQ(got->failure_records != nullptr, want.failures);
    EXPECT_TRUE(all_zero(got->reserved_1, sizeof got->reserved_1) && got->reserved_2 == nullptr &&
                got->reserved_3 == 0 && got->reserved_4 == 0);

    if (got->element_type == kStaticImage) {
        const auto* image = reinterpret_cast<ELEMENT_STATIC_IMAGE*>(got);
        EXPECT_EQ(image->image, nullptr);
        EXPECT_TRUE(all_zero(image->reserved, sizeof image->reserved));
    } else if (got->element_type == kNeedle) {
        const auto* n = reinterpret_cast<ELEMENT_NEEDLE*>(got);
        EXPECT_EQ(n->source.token, want.token);
        EXPECT_EQ(n->source.value, 0.0);
        EXPECT_EQ(n->update_callback != nullptr, want.callback);
        EXPECT_EQ(n->max_degrees_per_tick, want.max_degrees);
        ASSERT_EQ(n->nonlinearity_size, want.table.size());
        ASSERT_EQ(n->nonlinearity == nullptr, want.table.empty());
        for (size_t p = 0; p < want.table.size(); ++p) {
            SCOPED_TRACE("point " + std::to_string(p));
            EXPECT_EQ(n->nonlinearity[p].x, want.table[p].x);
            EXPECT_EQ(n->nonlinearity[p].y, want.table[p].y);
            EXPECT_EQ(n->nonlinearity[p].value, want.table[p].value);
            EXPECT_EQ(n->nonlinearity[p].degrees, 0.0);
        }
        if (!want.table.empty()) add(n->nonlinearity, want.table.size() * sizeof(NONLINEARITY), index, "table");
        EXPECT_TRUE(n->reserved_1 == 0 && all_zero(n->reserved_2, sizeof n->reserved_2) &&
                    all_zero(n->reserved_3, sizeof n->reserved_3) && all_zero(n->reserved_4, sizeof n->reserved_4));
    } else if (got->element_type == kIcon) {
        const auto* icon = reinterpret_cast<ELEMENT_ICON*>(got);
        EXPECT_EQ(icon->source.token, want.token);
        EXPECT_EQ(icon->frame_count, want.frames);
        EXPECT_EQ(icon->callback, nullptr);
        EXPECT_TRUE(icon->reserved_1 == 0 && all_zero(icon->reserved_2, sizeof icon->reserved_2) &&
                    all_zero(icon->reserved_3, sizeof icon->reserved_3));
    }
}

void EngineRecords::check_gauge(const Gauge& want, GAUGEHDR* header, size_t index, GaugeCallback shared_empty) {
    add(header, sizeof(GAUGEHDR), index, "header");
    EXPECT_EQ(header->header_version, 700u);
    EXPECT_STREQ(header->gauge_name, want.name.c_str());
    EXPECT_EQ(header->size_x_mm, 100u);
    EXPECT_TRUE(header->reserved_1 == 0 && all_zero(header->reserved_2, sizeof header->reserved_2) &&
                all_zero(header->reserved_3, sizeof header->reserved_3));
    if (want.own_callback) {
        EXPECT_NE(header->gauge_callback, shared_empty);
        EXPECT_NE(header->gauge_callback, nullptr);
    } else {
        EXPECT_EQ(header->gauge_callback, shared_empty);
    }

    // The stand-alone variables, 32 bytes apart right after the header.
    for (size_t v = 0; v < want.standalone_tokens.size(); ++v) {
        const auto* var = reinterpret_cast<const MODULE_VAR*>(reinterpret_cast<const char*>(header) + 116 + 32 * v);
        add(var, 32, index, "stand-alone variable");
        EXPECT_EQ(var->token, want.standalone_tokens[v]) << "stand-alone variable " << v;
        EXPECT_EQ(var->value, 0.0);
        EXPECT_TRUE(all_zero(var->reserved_1, sizeof var->reserved_1) && all_zero(var->reserved_2, sizeof var->reserved_2));
    }

    // One root, then a single chain.
    ASSERT_NE(header->element_list, nullptr);
    add(header->element_list, 2 * sizeof(void*), index, "element list");
    ASSERT_NE(header->element_list[0], nullptr);
    EXPECT_EQ(header->element_list[1], nullptr);
    ELEMENT_HEADER* element = header->element_list[0];
    const FAILURE_RECORD* failures = nullptr;
    for (size_t depth = 0; depth < want.chain.size(); ++depth) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        ASSERT_NE(element, nullptr);
        check_element(want.chain[depth], element, header, index);
        if (element->failure_records != nullptr) {
            if (failures == nullptr) failures = element->failure_records;
            EXPECT_EQ(element->failure_records, failures) << "one failure list per gauge";
        }
        ELEMENT_HEADER* const* next = element->next_element_list;
        if (depth + 1 == want.chain.size()) {
            EXPECT_EQ(next, nullptr);
            break;
        }
        ASSERT_NE(next, nullptr);
        add(next, 2 * sizeof(void*), index, "next list");
        EXPECT_EQ(next[1], nullptr);
        element = next[0];
    }

    ASSERT_NE(failures, nullptr);
    add(failures, (want.failures.size() + 1) * sizeof(FAILURE_RECORD), index, "failure list");
    for (size_t f = 0; f <= want.failures.size(); ++f) {
        const Failure expected = f < want.failures.size() ? want.failures[f] : Failure{0, 0};
        EXPECT_EQ(failures[f].failure_key, expected.key) << "failure " << f;
        EXPECT_EQ(failures[f].failure_action, expected.action) << "failure " << f;
        EXPECT_EQ(failures[f].reserved, 0u);
    }

    ASSERT_NE(header->mouse_rects, nullptr);
    add(header->mouse_rects, want.mouse.size() * sizeof(MOUSERECT), index, "mouse list");
    for (size_t m = 0; m < want.mouse.size(); ++m) {
        SCOPED_TRACE("mouse record " + std::to_string(m));
        const MOUSERECT& got = header->mouse_rects[m];
        const Mouse& expected = want.mouse[m];
        EXPECT_EQ(got.rect_type, expected.type);
        EXPECT_EQ(got.x, expected.x);
        EXPECT_EQ(got.y, expected.y);
        EXPECT_EQ(got.width, expected.w);
        EXPECT_EQ(got.height, expected.h);
        EXPECT_EQ(got.cursor, expected.cursor);
        EXPECT_EQ(got.help_id, expected.help);
        EXPECT_EQ(got.mouse_flags, expected.flags);
        EXPECT_EQ(got.event_id, 0u);
        EXPECT_EQ(got.handler != nullptr, expected.handler);
        EXPECT_EQ(got.reserved, 0u);
    }
}

TEST_F(EngineRecords, EveryGaugeMatchesItsRecordsAndTableEntry) {
    const std::vector<Gauge> gauges = expected_gauges();
    ASSERT_EQ(gauges.size(), 32u);
    const std::vector<GAUGEHDR*>& table = module.gauges();

    // Every header shares the module's one set of standard routines; the
    // dials share its one empty callback.
    ASSERT_FALSE(table.empty());
    GAUGEHDR* const first = table.front();
    const GaugeCallback shared_empty = gauge("Tachometer1") != nullptr ? gauge("Tachometer1")->gauge_callback : nullptr;

    // Present gauges keep the relative order of the full table; with the
    // full table in place each stands at its own entry.
    std::vector<size_t> positions;
    for (const Gauge& want : gauges) {
        SCOPED_TRACE(want.name);
        ASSERT_LT(want.entry, std::size(frame::kKorvaneGaugeOrder));
        EXPECT_STREQ(frame::kKorvaneGaugeOrder[want.entry], want.name.c_str());
        const auto found = std::find_if(table.begin(), table.end(), [&](GAUGEHDR* h) {
            return h != nullptr && h->gauge_name != nullptr && want.name == h->gauge_name;
        });
        ASSERT_NE(found, table.end());
        const size_t position = static_cast<size_t>(found - table.begin());
        if (table.size() == std::size(frame::kKorvaneGaugeOrder)) {
            EXPECT_EQ(position, want.entry);
        }
        for (size_t p = 0; p < position; ++p) {
            const auto* name = table[p]->gauge_name;
            const auto earlier = std::find_if(std::begin(frame::kKorvaneGaugeOrder), std::end(frame::kKorvaneGaugeOrder),
                                              [&](const char* n) { return std::strcmp(n, name) == 0; });
            EXPECT_LT(earlier - std::begin(frame::kKorvaneGaugeOrder), static_cast<ptrdiff_t>(want.entry)) << name;
        }

        GAUGEHDR* header = *found;
        EXPECT_EQ(header->query_routine, first->query_routine);
        EXPECT_EQ(header->install_routine, first->install_routine);
        EXPECT_EQ(header->initialize_routine, first->initialize_routine);
        EXPECT_EQ(header->update_routine, first->update_routine);
        EXPECT_EQ(header->generate_routine, first->generate_routine);
        EXPECT_EQ(header->draw_routine, first->draw_routine);
        EXPECT_EQ(header->kill_routine, first->kill_routine);
        check_gauge(want, header, static_cast<size_t>(&want - gauges.data()), shared_empty);
    }
}

// Every record of every gauge, stand-alone variables included, occupies
// bytes of its own: no two records overlap, within a gauge or between two.
TEST_F(EngineRecords, NoRecordIsSharedBetweenTwoGauges) {
    const std::vector<Gauge> gauges = expected_gauges();
    GAUGEHDR* const dial = gauge("Tachometer1");
    ASSERT_NE(dial, nullptr);
    for (size_t g = 0; g < gauges.size(); ++g) {
        GAUGEHDR* header = gauge(gauges[g].name);
        ASSERT_NE(header, nullptr);
        check_gauge(gauges[g], header, g, dial->gauge_callback);
    }
    ASSERT_FALSE(HasFailure());
    ASSERT_GT(records.size(), 32u * 6);

    for (size_t i = 0; i < records.size(); ++i) {
        for (size_t j = i + 1; j < records.size(); ++j) {
            const Record& a = records[i];
            const Record& b = records[j];
            EXPECT_TRUE(a.end <= b.begin || b.end <= a.begin)
                << gauges[a.gauge].name << " " << a.what << " overlaps " << gauges[b.gauge].name << " " << b.what;
        }
    }
}

}  // namespace
