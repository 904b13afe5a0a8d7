// The validator's parts: the report, the hostile inputs, the module memory
// map, record snapshots, and the probes on every module call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/module.h"
#include "host/validate/hostile.h"
#include "host/validate/module_memory.h"
#include "host/validate/probe.h"
#include "host/validate/records.h"
#include "host/validate/report.h"
#include "support/test_paths.h"

namespace {

using namespace bench::validate;

// --- The report ---------------------------------------------------------------------------

TEST(ValidatorReport, CheckIdsAreUniqueAndFound) {
    std::set<std::string> ids;
    for (const CheckInfo& info : kChecks) {
        EXPECT_TRUE(ids.insert(info.id).second) << info.id;
        EXPECT_EQ(find_check(info.id), &info);
    }
    EXPECT_EQ(find_check("KV999"), nullptr);
    Report report;
    EXPECT_THROW(report.check("KV999"), std::out_of_range);
}

struct StatusCase {
    const char* name;
    int fails;
    int warns;
    bool skipped;
    Status expected;
};

TEST(ValidatorReport, StatusFollowsTheWorstFinding) {
    const StatusCase cases[] = {
        {"ran clean", 0, 0, false, Status::kPass},
        {"a warning", 0, 2, false, Status::kWarn},
        {"a failure among warnings", 1, 3, false, Status::kFail},
        {"skipped", 0, 0, true, Status::kSkip},
    };
    for (const StatusCase& c : cases) {
        Report report;
        report.ran(Check::kLifecycle);
        for (int i = 0; i < c.fails; ++i) report.fail(Check::kLifecycle, "G", "E", "F", "fails");
        for (int i = 0; i < c.warns; ++i) report.warn(Check::kLifecycle, "G", "E", "F", "warns");
        if (c.skipped) report.skip(Check::kLifecycle, "not run");
        EXPECT_EQ(report.check("KV101").status(), c.expected) << c.name;
        EXPECT_EQ(report.failed(), c.expected == Status::kFail) << c.name;
    }
}

TEST(ValidatorReport, FindingsAreCountedBeyondThoseKept) {
    Report report;
    const size_t total = Report::kMaxKeptFindings + 50;
    for (size_t i = 0; i < total; ++i) report.fail(Check::kHostileValues, "G", "", "", "again");
    EXPECT_EQ(report.check("KV201").finding_count, total);
    EXPECT_EQ(report.check("KV201").findings.size(), Report::kMaxKeptFindings);
}

TEST(ValidatorReport, FindingLinesLeaveOutEmptyParts) {
    const Finding cases[] = {
        {Status::kFail, "Altimeter", "element 2 (needle, bitmap 105)", "update_callback", "returns nan"},
        {Status::kFail, "Altimeter", "", "gauge_name", "is empty"},
        {Status::kWarn, "", "", "", "module-wide"},
    };
    const char* expected[] = {
        "Altimeter: element 2 (needle, bitmap 105): update_callback: returns nan",
        "Altimeter: gauge_name: is empty",
        "module-wide",
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].line(), expected[i]);
}

TEST(ValidatorReport, JsonStringsEscapeWhatJsonRequires) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"two\nlines\ttab", "\"two\\nlines\\ttab\""},
        {std::string("bell\x07", 5), "\"bell\\u0007\""},
        {"G\xFFname", "\"G\xEF\xBF\xBDname\""},  // no UTF-8: U+FFFD, still valid JSON
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(json_string(text), json) << text;
}

TEST(ValidatorReport, SummaryAndJsonCountEveryStatus) {
    Report report;
    report.module = "M.gau";
    report.seed = 42;
    report.ran(Check::kGaugeTable);
    report.fail(Check::kGaugeNames, "G", "", "gauge_name", "twice");
    report.warn(Check::kMouseActions, "G", "", "mouse_rects[3]", "does nothing");
    report.skip(Check::kBitmaps, "no PE");
    const size_t total = std::size(kChecks);
    const size_t skipped = total - 3;  // all but the three that ran
    EXPECT_EQ(report.summary(), "M.gau: " + std::to_string(total) + " checks: 1 pass, 1 fail, 1 warn, " +
                                    std::to_string(skipped) + " skip (seed 42)");
    const nlohmann::json json = nlohmann::json::parse(report.json());
    EXPECT_EQ(json["summary"], nlohmann::json({{"pass", 1}, {"fail", 1}, {"warn", 1}, {"skip", skipped}}));
    EXPECT_EQ(
        json["checks"][static_cast<size_t>(Check::kGaugeNames)]["findings"][0],
        nlohmann::json(
            {{"severity", "fail"}, {"gauge", "G"}, {"element", ""}, {"field", "gauge_name"}, {"message", "twice"}}));
}

// --- Hostile inputs ---------------------------------------------------------------------------

TEST(HostileValues, CoverEverySpecialKindOfDouble) {
    const std::vector<HostileValue> values = special_values();
    // Judged on the bits: on x87 a signalling NaN turns quiet once it passes
    // through a register.
    auto has = [&](auto predicate) {
        for (const HostileValue& v : values) {
            if (predicate(v.bits)) return true;
        }
        return false;
    };
    constexpr uint64_t kExponent = 0x7FF0000000000000ull;
    constexpr uint64_t kQuiet = 1ull << 51;
    constexpr uint64_t kSign = 1ull << 63;
    constexpr uint64_t kFraction = (1ull << 52) - 1;
    auto is_nan = [&](uint64_t b) { return (b & kExponent) == kExponent && (b & kFraction) != 0; };
    EXPECT_TRUE(has([&](uint64_t b) { return is_nan(b) && (b & kQuiet) != 0; })) << "quiet NaN";
    EXPECT_TRUE(has([&](uint64_t b) { return is_nan(b) && (b & kQuiet) == 0; })) << "signalling NaN";
    EXPECT_TRUE(has([&](uint64_t b) { return is_nan(b) && (b & kQuiet) == 0 && (b & 0xFFFFFFFFull) > 1; }))
        << "signalling NaN with payload";
    EXPECT_TRUE(has([&](uint64_t b) { return is_nan(b) && (b & kSign) != 0; })) << "negative NaN";
    EXPECT_TRUE(has([](uint64_t b) { return b == 0; })) << "+0";
    EXPECT_TRUE(has([](uint64_t b) { return b == kSign; })) << "-0";
    EXPECT_TRUE(has([](uint64_t b) { return b == 1; })) << "smallest denormal";
    EXPECT_TRUE(has([](uint64_t b) { return b == (kSign | 1); })) << "negative smallest denormal";
    EXPECT_TRUE(has([](uint64_t b) { return b == 0x000FFFFFFFFFFFFFull; })) << "largest denormal";
    EXPECT_TRUE(has([](uint64_t b) { return from_bits(b) == DBL_MAX; }));
    EXPECT_TRUE(has([](uint64_t b) { return from_bits(b) == -DBL_MAX; }));
    EXPECT_TRUE(has([](uint64_t b) { return from_bits(b) == std::numeric_limits<double>::infinity(); }));
    EXPECT_TRUE(has([](uint64_t b) { return from_bits(b) == -std::numeric_limits<double>::infinity(); }));
    EXPECT_TRUE(has([](uint64_t b) { return from_bits(b) == 2147483648.0; })) << "just beyond int32";
}

TEST(HostileValues, SignallingNanKeepsItsBitsInMemory) {
    const std::vector<HostileValue> values = special_values();
    const auto found = std::find_if(values.begin(), values.end(),
                                    [](const HostileValue& v) { return v.label == "signalling NaN with payload"; });
    ASSERT_NE(found, values.end());
    EXPECT_EQ(found->bits, 0x7FF4000000000123ull);
    EXPECT_EQ(describe_bits(found->bits), "nan (bits 0x7FF4000000000123)");
    // What the validator writes into a variable, byte for byte.
    MODULE_VAR var{};
    std::memcpy(&var.value, &found->bits, sizeof found->bits);
    uint64_t stored = 0;
    std::memcpy(&stored, &var.value, sizeof stored);
    EXPECT_EQ(stored, 0x7FF4000000000123ull);
}

TEST(HostileValues, LimitNeighboursLieOneUlpAway) {
    const double limits[] = {-5.0, 0.0, 16382.0, 24.0, 0.1};
    const std::vector<HostileValue> values = limit_neighbours({std::begin(limits), std::end(limits)});
    ASSERT_EQ(values.size(), 3 * std::size(limits));
    const double inf = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < std::size(limits); ++i) {
        const double limit = values[3 * i].value();
        const double below = values[3 * i + 1].value();
        const double above = values[3 * i + 2].value();
        EXPECT_EQ(limit, limits[i]);
        EXPECT_LT(below, limit);
        EXPECT_GT(above, limit);
        EXPECT_EQ(std::nextafter(below, inf), limit) << limits[i];
        EXPECT_EQ(std::nextafter(above, -inf), limit) << limits[i];
    }
}

TEST(HostileValues, RandomValuesRepeatWithTheirSeed) {
    const std::vector<double> limits = {0.0, 120.0};
    std::mt19937_64 first(5), again(5), other(6);
    const std::vector<HostileValue> a = random_values(first, 60, limits);
    const std::vector<HostileValue> b = random_values(again, 60, limits);
    const std::vector<HostileValue> c = random_values(other, 60, limits);
    ASSERT_EQ(a.size(), 60u);
    size_t same_as_other = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].bits, b[i].bits) << i;
        same_as_other += a[i].bits == c[i].bits ? 1 : 0;
    }
    EXPECT_LT(same_as_other, a.size());
}

TEST(HostileValues, CoordinatesReachBothEndsOfInt32) {
    const std::vector<int32_t> coordinates = extreme_coordinates();
    for (int32_t wanted : {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX}) {
        EXPECT_NE(std::find(coordinates.begin(), coordinates.end(), wanted), coordinates.end()) << wanted;
    }
}

// --- Module memory ---------------------------------------------------------------------------

TEST(ModuleMemoryMap, HoldsOnlyWhatItsRangesCover) {
    alignas(8) static unsigned char data[64] = {'a', 'b', 'c', 0};
    alignas(8) static unsigned char text[16] = {};
    const auto d = reinterpret_cast<uintptr_t>(data);
    const auto t = reinterpret_cast<uintptr_t>(text);
    // Data with a part the loader locked after relocating it, as RELRO is.
    const ModuleMemory memory = ModuleMemory::from_ranges(
        {{d, d + 24, false, true}, {d + 24, d + 48, false, true}, {t, t + sizeof text, true, false}},
        {{d + 32, d + 40, false, false}});
    struct Case {
        const char* name;
        uintptr_t address;
        size_t size;
        bool holds;
        bool data;
        bool code;
        bool writable;
    };
    const Case cases[] = {
        {"start of data", d, 4, true, true, false, true},
        {"last byte of data", d + 47, 1, true, true, false, true},
        {"across two writable ranges", d + 20, 8, false, false, false, true},
        {"running into the locked part", d + 28, 8, true, true, false, false},
        {"running past the range", d + 40, 16, false, false, false, false},
        {"just past the range", d + 48, 1, false, false, false, false},
        {"before the range", d - 1, 1, false, false, false, false},
        {"code", t + 3, 1, true, false, true, false},
        {"null", 0, 1, false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(memory.holds(c.address, c.size), c.holds) << c.name;
        EXPECT_EQ(memory.holds_data(c.address, c.size), c.data) << c.name;
        EXPECT_EQ(memory.is_code(c.address), c.code) << c.name;
        EXPECT_EQ(memory.writable(c.address, c.size), c.writable) << c.name;
    }
    EXPECT_EQ(memory.read_string(d, 8), std::optional<std::string>("abc"));
    EXPECT_EQ(memory.read_string(d, 2), std::nullopt) << "longer than allowed";
    EXPECT_EQ(memory.read<uint32_t>(d + 46), std::nullopt) << "the word crosses the range's end";
}

TEST(ModuleMemoryMap, FindsALoadedModuleAndNothingElse) {
    bench::Host host;
    bench::Module module(host, test_paths::module("FaultySound.gau"));
    const ModuleMemory memory = ModuleMemory::of(module.linkage());
    ASSERT_FALSE(memory.empty());
    EXPECT_TRUE(memory.holds_data(reinterpret_cast<uintptr_t>(module.linkage()), sizeof(LINKAGE_HEADER)));
    uintptr_t routine = 0;
    const StandardRoutine draw = module.gauges().front()->draw_routine;
    std::memcpy(&routine, &draw, sizeof routine);
    EXPECT_TRUE(memory.is_code(routine));
    EXPECT_TRUE(memory.writable(reinterpret_cast<uintptr_t>(module.linkage()), sizeof(LINKAGE_HEADER)));
    EXPECT_FALSE(memory.writable(routine, 1));
    int on_the_stack = 0;
    EXPECT_TRUE(ModuleMemory::of(&on_the_stack).empty());
}

// --- Record snapshots ---------------------------------------------------------------------------

TEST(RecordSnapshots, IgnoreHostFieldsAndSeeEverythingElse) {
    bench::Host host;
    bench::Module module(host, test_paths::module("FaultySound.gau"));
    const ModuleMemory memory = ModuleMemory::of(module.linkage());
    const Records records = read_records(module, memory, nullptr, false);
    ASSERT_EQ(records.gauges.size(), 2u);
    const GaugeRecord& alpha = records.gauges[0];
    ASSERT_GE(alpha.elements.size(), 3u);
    auto* background = reinterpret_cast<ELEMENT_STATIC_IMAGE*>(alpha.elements[0].live);
    auto* needle = reinterpret_cast<ELEMENT_NEEDLE*>(alpha.elements[1].live);
    const RecordSnapshot before = snapshot(records, memory);

    // What the host writes, and the lamps' bit 30.
    HOST_IMAGE_PREFIX image{};
    needle->source.value = 17.5;
    background->image = &image;
    needle->nonlinearity[1].degrees = 42.0;
    needle->header.image_flags |= kImageHidden;
    EXPECT_TRUE(compare(before, snapshot(records, memory)).empty());
    needle->header.image_flags &= ~kImageHidden;
    background->image = nullptr;
    needle->nonlinearity[1].degrees = 0.0;

    // Anything else.
    needle->reserved_3[10] = 1;
    const std::vector<SnapshotDifference> changed = compare(before, snapshot(records, memory));
    needle->reserved_3[10] = 0;
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(records.spans[changed[0].span].begin, reinterpret_cast<uintptr_t>(needle));
    EXPECT_EQ(changed[0].offset, offsetof(ELEMENT_NEEDLE, reserved_3) + 10);
    EXPECT_EQ(field_at(records.spans[changed[0].span], changed[0].offset), "reserved_3[10]");
}

TEST(RecordSnapshots, NameTheFieldAtAnOffset) {
    using Kind = RecordSpan::Kind;
    struct Case {
        Kind kind;
        uint32_t element_type;
        size_t offset;
        const char* field;
    };
    const Case cases[] = {
        {Kind::kHeader, 0, offsetof(GAUGEHDR, gauge_callback), "gauge_callback"},
        {Kind::kHeader, 0, offsetof(GAUGEHDR, reserved_2) + 5, "reserved_2[5]"},
        {Kind::kElement, kNeedle, offsetof(ELEMENT_NEEDLE, source) + offsetof(MODULE_VAR, value) + 3, "source.value"},
        {Kind::kElement, kNeedle, offsetof(ELEMENT_NEEDLE, update_callback), "update_callback"},
        {Kind::kElement, kSprite, offsetof(ELEMENT_SPRITE, source_rotation), "source_rotation.token"},
        {Kind::kElement, kIcon, offsetof(ELEMENT_HEADER, image_flags) + 3, "image_flags"},
        {Kind::kElement, kMovingImage, offsetof(ELEMENT_MOVING_IMAGE, max_y), "max_y"},
        {Kind::kTable, 0, 2 * sizeof(NONLINEARITY) + offsetof(NONLINEARITY, value), "nonlinearity[2].value"},
        {Kind::kFailureList, 0, sizeof(FAILURE_RECORD) + 4, "failure_records[1].failure_action"},
        {Kind::kMouseList, 0, 4 * sizeof(MOUSERECT) + offsetof(MOUSERECT, handler), "mouse_rects[4].handler"},
        {Kind::kElementList, 0, 4, "entry 1"},
    };
    for (const Case& c : cases) {
        RecordSpan span;
        span.kind = c.kind;
        span.element_type = c.element_type;
        EXPECT_EQ(field_at(span, c.offset), c.field);
    }
}

// --- Probes --------------------------------------------------------------------------------------

TEST(FpProbe, SeesEveryControlChangeAndRestores) {
    const FpControl start = fp_control();
    const FpControl changes[] = {
        {static_cast<uint16_t>(start.x87 | 0x1000), start.mxcsr},              // infinity control bit
        {static_cast<uint16_t>((start.x87 & ~0x0C00) | 0x0400), start.mxcsr},  // round down
        {static_cast<uint16_t>((start.x87 & ~0x0300) | 0x0200), start.mxcsr},  // 53-bit precision
        {start.x87, start.mxcsr | 0x8000},                                     // flush to zero
        {start.x87, (start.mxcsr & ~0x6000u) | 0x4000},                        // round up
    };
    for (const FpControl& changed : changes) {
        set_fp_control(changed);
        const FpControl seen = fp_control();
        set_fp_control(start);
        EXPECT_EQ(seen, changed) << describe(seen);
        EXPECT_NE(seen == start, changed.x87 != start.x87 || changed.mxcsr != start.mxcsr);
    }
    EXPECT_EQ(fp_control(), start);
}

TEST(AllocationProbe, CountsOnlyArmedAndUnpaused) {
    AllocationWatch::arm();
    AllocationWatch::note_allocation();
    AllocationWatch::note_allocation();
    {
        AllocationPause pause;
        AllocationWatch::note_allocation();
    }
    EXPECT_EQ(AllocationWatch::disarm(), 2u);
    AllocationWatch::note_allocation();
    AllocationWatch::arm();
    EXPECT_EQ(AllocationWatch::disarm(), 0u);
}

int* volatile g_kept = nullptr;

TEST(AllocationProbe, TheHookOfThisProgramSeesOperatorNew) {
    ASSERT_NE(AllocationWatch::hook(), nullptr) << "the validator's test program links the allocation hook";
    AllocationWatch::arm();
    g_kept = new int(7);
    const uint32_t counted = AllocationWatch::disarm();
    delete g_kept;
    EXPECT_GE(counted, 1u);
}

TEST(ServiceProxy, ForwardsToTheHostWithCountingPaused) {
    bench::Host host;
    PANELS* proxy = service_proxy();
    MODULE_VAR var{.token = 77};
    host.vars().set(77, 3.25);
    AllocationWatch::arm();
    proxy->trigger_key_event(sim::event::throttle_set(0), 123);
    proxy->lookup_var(&var);
    EXPECT_EQ(AllocationWatch::disarm(), 0u) << "the host's own allocations are not the module's";
    ASSERT_EQ(host.key_log().size(), 1u);
    EXPECT_EQ(host.key_log()[0].id, sim::event::throttle_set(0));
    EXPECT_EQ(host.key_log()[0].value, 123u);
    EXPECT_EQ(var.value, 3.25);

    // An unserved slot reaches the host's trap for that slot.
    UnusedService trap = nullptr;
    std::memcpy(&trap, reinterpret_cast<const unsigned char*>(proxy) + 4 * 50, sizeof trap);
    ASSERT_NE(trap, nullptr);
    trap();
    EXPECT_EQ(host.unexpected_slots(), std::vector<uint32_t>{50});
}

}  // namespace
