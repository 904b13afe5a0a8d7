// Every record of Magneto_Switch, Starter_Switch, Throttle and Prop_Control as
// the host reads it from the loaded module, against the expected tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frame/gauge_table.h"
#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

bool all_zero(const void* bytes, size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    return std::all_of(p, p + size, [](unsigned char b) { return b == 0; });
}

template <typename T>
bool all_zero(const T& field) {
    return all_zero(&field, sizeof(field));
}

struct ExpectedElement {
    uint32_t type;
    uint32_t resource_id;
    int32_t x, y;
    uint32_t image_flags;
};

struct ExpectedIcon {
    ExpectedElement element;
    uint32_t token;
    bool has_callback;
};

struct ExpectedSlider {
    ExpectedElement element;
    uint32_t token;
    double scale_y;
};

struct ExpectedMouse {
    uint32_t rect_type;
    int32_t x, y, width, height;
    int32_t cursor;
    uint32_t mouse_flags;
    uint32_t event_id;
    bool has_handler;
};

constexpr ExpectedMouse kWholeGauge{1, 0, 0, 0, 0, -1, 0, 0, false};
constexpr ExpectedMouse kParentEnd{3, 0, 0, 0, 0, -1, 0, 0, false};
constexpr ExpectedMouse kListEnd{0, 0, 0, 0, 0, -1, 0, 0, false};

// --- Expected tables ------------------------------------------------------------

const ExpectedElement kMagnetoBackground{0, 310, 0, 0, 0x4001};
const ExpectedIcon kMagnetoIcons[] = {
    {{4, 315, 0, 0, 0x4003}, 399, false},   {{4, 315, 45, 0, 0x4003}, 400, false},
    {{4, 315, 90, 0, 0x4003}, 438, false},  {{4, 315, 135, 0, 0x4003}, 439, false},
    {{4, 315, 200, 0, 0x4003}, 477, false}, {{4, 315, 245, 0, 0x4003}, 478, false},
    {{4, 315, 290, 0, 0x4003}, 516, false}, {{4, 315, 335, 0, 0x4003}, 517, false},
};
const ExpectedMouse kMagnetoMouse[] = {
    kWholeGauge,
    {1, 0, 0, 380, 138, -1, 0, 0, false},
    {2, 0, 0, 45, 138, 5, 0x20000000, 65929, false},
    {2, 45, 0, 45, 138, 5, 0x20000000, 65928, false},
    {2, 90, 0, 45, 138, 5, 0x20000000, 65935, false},
    {2, 135, 0, 45, 138, 5, 0x20000000, 65934, false},
    {2, 200, 0, 45, 138, 5, 0x20000000, 65941, false},
    {2, 245, 0, 45, 138, 5, 0x20000000, 65940, false},
    {2, 290, 0, 45, 138, 5, 0x20000000, 65947, false},
    {2, 335, 0, 45, 138, 5, 0x20000000, 65946, false},
    kParentEnd,
    kParentEnd,
    kListEnd,
};

const ExpectedElement kStarterBackground{0, 365, 0, 0, 0x4001};
const ExpectedIcon kStarterIcons[] = {
    {{4, 370, 11, 0, 0x4003}, 0, true},
    {{4, 370, 86, 0, 0x4003}, 0, true},
    {{4, 370, 161, 0, 0x4003}, 0, true},
    {{4, 370, 236, 0, 0x4003}, 0, true},
};
const uint32_t kStarterRunningTokens[] = {406, 445, 484, 523};
const ExpectedMouse kStarterMouse[] = {
    kWholeGauge,
    {1, 0, 0, 300, 115, -1, 0, 0, false},
    {2, 0, 0, 75, 52, 1, 0x20000000, 0, true},
    {2, 0, 53, 75, 62, 5, 0x20200000, 0, true},
    {2, 75, 0, 75, 52, 1, 0x20000000, 0, true},
    {2, 75, 53, 75, 62, 5, 0x20200000, 0, true},
    {2, 150, 0, 75, 52, 1, 0x20000000, 0, true},
    {2, 150, 53, 75, 62, 5, 0x20200000, 0, true},
    {2, 225, 0, 75, 52, 1, 0x20000000, 0, true},
    {2, 225, 53, 75, 62, 5, 0x20200000, 0, true},
    kParentEnd,
    kParentEnd,
    kListEnd,
};

constexpr double kThrottleScale = -0.00347900390625;
constexpr double kPropScale = -0.00750732421875;

const ExpectedElement kThrottleBackground{0, 405, 0, 0, 0x4001};
// Drawing order: engines 2, 3, 4, then 1.
const ExpectedSlider kThrottleSliders[] = {
    {{3, 415, 91, 112, 0x4003}, 163, kThrottleScale},
    {{3, 420, 137, 112, 0x4003}, 198, kThrottleScale},
    {{3, 425, 157, 57, 0x4003}, 233, kThrottleScale},
    {{3, 410, 2, 57, 0x4003}, 128, kThrottleScale},
};
const ExpectedMouse kThrottleMouse[] = {
    kWholeGauge,
    {1, 0, 0, 265, 165, -1, 0, 0, false},
    {2, 15, 29, 58, 57, 5, 0x00800000, 0, true},
    {2, 91, 108, 58, 57, 5, 0x00800000, 0, true},
    {2, 133, 108, 58, 57, 5, 0x00800000, 0, true},
    {2, 193, 29, 58, 57, 5, 0x00800000, 0, true},
    kParentEnd,
    kParentEnd,
    kListEnd,
};

const ExpectedElement kPropBackground{0, 430, 0, 0, 0x4001};
const ExpectedSlider kPropSliders[] = {
    {{3, 434, 53, 123, 0x4003}, 164, kPropScale},
    {{3, 436, 99, 123, 0x4003}, 199, kPropScale},
    {{3, 438, 146, 123, 0x4003}, 234, kPropScale},
    {{3, 432, 0, 123, 0x4003}, 129, kPropScale},
};
const ExpectedMouse kPropMouse[] = {
    kWholeGauge,
    {1, 0, 0, 198, 178, -1, 0, 0, false},
    {2, 0, 16, 53, 146, 5, 0x00800000, 0, true},
    {2, 53, 16, 46, 146, 5, 0x00800000, 0, true},
    {2, 99, 16, 47, 146, 5, 0x00800000, 0, true},
    {2, 146, 16, 52, 146, 5, 0x00800000, 0, true},
    kParentEnd,
    kParentEnd,
    kListEnd,
};

const char* const kGaugeNames[] = {"Magneto_Switch", "Starter_Switch", "Throttle", "Prop_Control"};

// --- Checks ---------------------------------------------------------------------

void check_header(const GAUGEHDR* gauge, const char* name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(gauge->header_version, 700u);
    ASSERT_NE(gauge->gauge_name, nullptr);
    EXPECT_STREQ(gauge->gauge_name, name);
    ASSERT_NE(gauge->element_list, nullptr);
    ASSERT_NE(gauge->element_list[0], nullptr);
    EXPECT_EQ(gauge->element_list[1], nullptr) << "one root";
    EXPECT_NE(gauge->query_routine, nullptr);
    EXPECT_NE(gauge->install_routine, nullptr);
    EXPECT_NE(gauge->initialize_routine, nullptr);
    EXPECT_NE(gauge->update_routine, nullptr);
    EXPECT_NE(gauge->generate_routine, nullptr);
    EXPECT_NE(gauge->draw_routine, nullptr);
    EXPECT_NE(gauge->kill_routine, nullptr);
    EXPECT_EQ(gauge->reserved_1, 0u);
    EXPECT_EQ(gauge->size_x_mm, 100u);
    EXPECT_TRUE(all_zero(gauge->reserved_2));
    EXPECT_NE(gauge->mouse_rects, nullptr);
    EXPECT_NE(gauge->gauge_callback, nullptr);
    EXPECT_TRUE(all_zero(gauge->reserved_3));
}

void check_element(const ELEMENT_HEADER* element, const ExpectedElement& expected, const GAUGEHDR* gauge,
                   const FAILURE_RECORD* failures) {
    EXPECT_EQ(element->element_type, expected.type);
    EXPECT_EQ(element->resource_id, expected.resource_id);
    EXPECT_EQ(element->position_x, expected.x);
    EXPECT_EQ(element->position_y, expected.y);
    EXPECT_TRUE(all_zero(element->reserved_1));
    EXPECT_EQ(element->ofs_x, 0);
    EXPECT_EQ(element->ofs_y, 0);
    EXPECT_EQ(element->gauge, gauge);
    EXPECT_EQ(element->reserved_2, nullptr);
    EXPECT_EQ(element->failure_records, failures);
    EXPECT_EQ(element->image_flags, expected.image_flags);
    EXPECT_EQ(element->reserved_3, 0u);
    EXPECT_EQ(element->reserved_4, 0u);
}

void check_var(const MODULE_VAR& var, uint32_t token) {
    EXPECT_EQ(var.token, token);
    EXPECT_TRUE(all_zero(var.reserved_1));
    EXPECT_EQ(var.value, 0.0);
    EXPECT_TRUE(all_zero(var.reserved_2));
}

void check_background(const ELEMENT_HEADER* root, const ExpectedElement& expected, const GAUGEHDR* gauge,
                      const FAILURE_RECORD* failures) {
    SCOPED_TRACE("background");
    check_element(root, expected, gauge, failures);
    const auto* image = reinterpret_cast<const ELEMENT_STATIC_IMAGE*>(root);
    EXPECT_EQ(image->image, nullptr) << "the host's field";
    EXPECT_TRUE(all_zero(image->reserved));
}

void check_icon(const ELEMENT_HEADER* element, const ExpectedIcon& expected, const GAUGEHDR* gauge,
                const FAILURE_RECORD* failures) {
    check_element(element, expected.element, gauge, failures);
    EXPECT_EQ(element->next_element_list, nullptr);
    const auto* icon = reinterpret_cast<const ELEMENT_ICON*>(element);
    check_var(icon->source, expected.token);
    EXPECT_EQ(icon->reserved_1, 0u);
    EXPECT_TRUE(all_zero(icon->reserved_2));
    EXPECT_EQ(icon->frame_count, 2u);
    EXPECT_TRUE(all_zero(icon->reserved_3));
    EXPECT_EQ(icon->callback != nullptr, expected.has_callback);
}

void check_slider(const ELEMENT_HEADER* element, const ExpectedSlider& expected, const GAUGEHDR* gauge) {
    check_element(element, expected.element, gauge, nullptr);
    const auto* slider = reinterpret_cast<const ELEMENT_SLIDER*>(element);
    EXPECT_EQ(slider->reserved_1, 0u);
    check_var(slider->source_x, 0);
    EXPECT_EQ(slider->reserved_2, 0u);
    EXPECT_EQ(slider->scale_x, 0.0);
    check_var(slider->source_y, expected.token);
    EXPECT_EQ(slider->reserved_3, 0u);
    EXPECT_EQ(slider->scale_y, expected.scale_y);
    EXPECT_TRUE(all_zero(slider->reserved_4));
}

template <size_t N>
void check_mouse(const MOUSERECT* list, const ExpectedMouse (&expected)[N]) {
    std::set<MouseHandler> handlers;
    for (size_t i = 0; i < N; ++i) {
        SCOPED_TRACE(::testing::Message() << "mouse record " << i + 1);
        const MOUSERECT& r = list[i];
        const ExpectedMouse& e = expected[i];
        EXPECT_EQ(r.rect_type, e.rect_type);
        if (e.rect_type == kMouseParent || e.rect_type == kMouseChild) {
            EXPECT_EQ(r.x, e.x);
            EXPECT_EQ(r.y, e.y);
            EXPECT_EQ(r.width, e.width);
            EXPECT_EQ(r.height, e.height);
            EXPECT_EQ(r.cursor, e.cursor);
        }
        EXPECT_EQ(r.help_id, 0u);
        EXPECT_EQ(r.mouse_flags, e.mouse_flags);
        EXPECT_EQ(r.event_id, e.event_id);
        EXPECT_EQ(r.handler != nullptr, e.has_handler);
        EXPECT_EQ(r.reserved, 0u);
        if (r.handler != nullptr) {
            EXPECT_TRUE(handlers.insert(r.handler).second) << "each box has a handler of its own";
        }
    }
}

void check_failures(const FAILURE_RECORD* failures) {
    ASSERT_NE(failures, nullptr);
    EXPECT_EQ(failures[0].failure_key, 20u);
    EXPECT_EQ(failures[0].failure_action, 1u);
    EXPECT_EQ(failures[0].reserved, 0u);
    EXPECT_TRUE(all_zero(failures[1])) << "the list ends after one record";
}

class ControlRecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = std::make_unique<bench::Module>(host_, test_paths::module("Korvane.gau"));
        for (const char* name : kGaugeNames) ASSERT_NE(module_->gauge(name), nullptr) << name;
    }

    bench::Host host_;
    std::unique_ptr<bench::Module> module_;
};

TEST_F(ControlRecordsTest, GaugesStandInTheTableInTheHostsOrder) {
    std::vector<size_t> table_positions;
    const std::vector<GAUGEHDR*>& gauges = module_->gauges();
    for (const char* name : kGaugeNames) {
        const auto found = std::find(gauges.begin(), gauges.end(), module_->gauge(name));
        table_positions.push_back(static_cast<size_t>(found - gauges.begin()));
        // And their places in the full order: 11, 12, 43, 44.
        const auto* order = std::find_if(std::begin(frame::kKorvaneGaugeOrder), std::end(frame::kKorvaneGaugeOrder),
                                         [&](const char* n) { return std::string(n) == name; });
        ASSERT_NE(order, std::end(frame::kKorvaneGaugeOrder));
    }
    EXPECT_TRUE(std::is_sorted(table_positions.begin(), table_positions.end()));
    EXPECT_EQ(std::set<size_t>(table_positions.begin(), table_positions.end()).size(), 4u);
    EXPECT_STREQ(frame::kKorvaneGaugeOrder[11], "Magneto_Switch");
    EXPECT_STREQ(frame::kKorvaneGaugeOrder[12], "Starter_Switch");
    EXPECT_STREQ(frame::kKorvaneGaugeOrder[43], "Throttle");
    EXPECT_STREQ(frame::kKorvaneGaugeOrder[44], "Prop_Control");
}

TEST_F(ControlRecordsTest, HeadersShareTheStandardRoutinesAndKeepTheirOwnCallbacks) {
    std::set<GaugeCallback> callbacks;
    const GAUGEHDR* first = module_->gauge(kGaugeNames[0]);
    for (const char* name : kGaugeNames) {
        const GAUGEHDR* gauge = module_->gauge(name);
        check_header(gauge, name);
        EXPECT_EQ(gauge->query_routine, first->query_routine) << name;
        EXPECT_EQ(gauge->install_routine, first->install_routine) << name;
        EXPECT_EQ(gauge->initialize_routine, first->initialize_routine) << name;
        EXPECT_EQ(gauge->update_routine, first->update_routine) << name;
        EXPECT_EQ(gauge->generate_routine, first->generate_routine) << name;
        EXPECT_EQ(gauge->draw_routine, first->draw_routine) << name;
        EXPECT_EQ(gauge->kill_routine, first->kill_routine) << name;
        callbacks.insert(gauge->gauge_callback);
    }
    EXPECT_EQ(callbacks.size(), 4u) << "the magneto panel's empty callback, the starter's and one per lever quadrant";
}

TEST_F(ControlRecordsTest, MagnetoCallbackDoesNothing) {
    GAUGEHDR* gauge = module_->gauge("Magneto_Switch");
    for (uint32_t service_id : {0u, 2u, 4u, 6u, 0xFFFFFFFFu}) gauge->gauge_callback(gauge, service_id, 0);
    EXPECT_TRUE(host_.service_log().empty());
    EXPECT_TRUE(host_.key_log().empty());
}

TEST_F(ControlRecordsTest, MagnetoSwitchRecords) {
    const GAUGEHDR* gauge = module_->gauge("Magneto_Switch");
    const ELEMENT_HEADER* root = gauge->element_list[0];
    const FAILURE_RECORD* failures = root->failure_records;
    check_failures(failures);
    check_background(root, kMagnetoBackground, gauge, failures);
    ASSERT_NE(root->next_element_list, nullptr);
    for (size_t i = 0; i < std::size(kMagnetoIcons); ++i) {
        SCOPED_TRACE(::testing::Message() << "switch " << i + 1);
        ASSERT_NE(root->next_element_list[i], nullptr);
        check_icon(root->next_element_list[i], kMagnetoIcons[i], gauge, failures);
    }
    EXPECT_EQ(root->next_element_list[std::size(kMagnetoIcons)], nullptr);
    check_mouse(gauge->mouse_rects, kMagnetoMouse);
}

TEST_F(ControlRecordsTest, StarterSwitchRecords) {
    const GAUGEHDR* gauge = module_->gauge("Starter_Switch");
    const ELEMENT_HEADER* root = gauge->element_list[0];
    const FAILURE_RECORD* failures = root->failure_records;
    check_failures(failures);
    EXPECT_NE(failures, module_->gauge("Magneto_Switch")->element_list[0]->failure_records)
        << "each gauge has its own failure list";
    check_background(root, kStarterBackground, gauge, failures);
    ASSERT_NE(root->next_element_list, nullptr);
    std::set<IconCallback> callbacks;
    for (size_t i = 0; i < std::size(kStarterIcons); ++i) {
        SCOPED_TRACE(::testing::Message() << "engine " << i + 1);
        ASSERT_NE(root->next_element_list[i], nullptr);
        check_icon(root->next_element_list[i], kStarterIcons[i], gauge, failures);
        callbacks.insert(reinterpret_cast<const ELEMENT_ICON*>(root->next_element_list[i])->callback);
    }
    EXPECT_EQ(root->next_element_list[std::size(kStarterIcons)], nullptr);
    EXPECT_EQ(callbacks.size(), 4u) << "one icon callback per engine";
    check_mouse(gauge->mouse_rects, kStarterMouse);

    // The running variables follow the header, 32 bytes apart.
    const auto* after_header = reinterpret_cast<const unsigned char*>(gauge) + sizeof(GAUGEHDR);
    for (size_t i = 0; i < std::size(kStarterRunningTokens); ++i) {
        SCOPED_TRACE(::testing::Message() << "running variable " << i + 1);
        MODULE_VAR var;
        std::memcpy(&var, after_header + 32 * i, sizeof(var));
        check_var(var, kStarterRunningTokens[i]);
        EXPECT_TRUE(all_zero(after_header + 32 * i + sizeof(MODULE_VAR), 32 - sizeof(MODULE_VAR)));
    }
}

TEST_F(ControlRecordsTest, LeverQuadrantRecords) {
    struct Quadrant {
        const char* name;
        const ExpectedElement& background;
        const ExpectedSlider (&sliders)[4];
    };
    const Quadrant quadrants[] = {
        {"Throttle", kThrottleBackground, kThrottleSliders},
        {"Prop_Control", kPropBackground, kPropSliders},
    };
    for (const Quadrant& q : quadrants) {
        SCOPED_TRACE(q.name);
        const GAUGEHDR* gauge = module_->gauge(q.name);
        const ELEMENT_HEADER* element = gauge->element_list[0];
        check_background(element, q.background, gauge, nullptr);
        // One chain: each element is the only entry of the previous one's list.
        for (size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(::testing::Message() << "slider " << i + 1 << " in drawing order");
            ASSERT_NE(element->next_element_list, nullptr);
            ASSERT_NE(element->next_element_list[0], nullptr);
            EXPECT_EQ(element->next_element_list[1], nullptr);
            element = element->next_element_list[0];
            check_slider(element, q.sliders[i], gauge);
        }
        EXPECT_EQ(element->next_element_list, nullptr) << "engine 1's lever ends the chain";
    }
    check_mouse(module_->gauge("Throttle")->mouse_rects, kThrottleMouse);
    check_mouse(module_->gauge("Prop_Control")->mouse_rects, kPropMouse);
    EXPECT_NE(module_->gauge("Throttle")->mouse_rects[2].handler,
              module_->gauge("Prop_Control")->mouse_rects[2].handler)
        << "each quadrant's handlers are its own";
}

TEST_F(ControlRecordsTest, NoRecordIsSharedBetweenGauges) {
    std::set<const void*> seen;
    for (const char* name : kGaugeNames) {
        const GAUGEHDR* gauge = module_->gauge(name);
        std::vector<const void*> records = {gauge, gauge->element_list, gauge->mouse_rects};
        std::vector<const ELEMENT_HEADER*> pending = {gauge->element_list[0]};
        while (!pending.empty()) {
            const ELEMENT_HEADER* element = pending.back();
            pending.pop_back();
            records.push_back(element);
            if (element->failure_records != nullptr) records.push_back(element->failure_records);
            if (element->next_element_list == nullptr) continue;
            records.push_back(element->next_element_list);
            for (size_t i = 0; element->next_element_list[i] != nullptr; ++i) {
                pending.push_back(element->next_element_list[i]);
            }
        }
        std::set<const void*> own;
        for (const void* record : records) {
            if (!own.insert(record).second) continue;  // a gauge's failure list serves all its elements
            EXPECT_TRUE(seen.insert(record).second) << name << " shares a record";
        }
    }
}

}  // namespace
