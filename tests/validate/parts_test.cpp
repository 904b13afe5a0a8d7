// The validator's parts: the report, the hostile inputs, the module's image,
// record snapshots, the plan of hostile inputs, and the allocation hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/vocabulary.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"
#include "tests/fixtures/faulty/faulty_ids.h"
#include "validate/hostile.h"
#include "validate/plan.h"
#include "validate/probe.h"
#include "validate/records.h"
#include "validate/report.h"

namespace {

using namespace validate;

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

TEST(ValidatorReport, InfoLinesChangeNoStatus) {
    Report report;
    report.info(Check::kInstructions, "", "", "most for one call", "1,234 instructions");
    EXPECT_EQ(report.check("KV306").status(), Status::kPass);
    EXPECT_EQ(report.check("KV306").finding_count, 0u);
    const nlohmann::json json = nlohmann::json::parse(report.json());
    EXPECT_EQ(json["checks"][static_cast<size_t>(Check::kInstructions)]["info"][0]["message"], "1,234 instructions");
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
    guest::MODULE_VAR var{};
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

// Random values come from whole numbers and exact scalings, so that the x87
// twin and the SSE host make the same bits: a third on a grid of 2^-20 within
// 2^20, a third on a grid of 2^-12 within 4 of a limit.
TEST(HostileValues, RandomValuesLieOnExactGrids) {
    const std::vector<double> limits = {0.1, 120.0, -5.0};
    std::mt19937_64 random(11);
    const std::vector<HostileValue> values = random_values(random, 300, limits);
    for (size_t i = 0; i < values.size(); ++i) {
        const double value = values[i].value();
        if (i % 3 == 1) {
            EXPECT_LE(std::fabs(value), 0x1p20) << i;
            EXPECT_EQ(std::ldexp(value, 20), std::trunc(std::ldexp(value, 20))) << i;
        } else if (i % 3 == 2) {
            EXPECT_EQ(std::ldexp(value, 12), std::trunc(std::ldexp(value, 12))) << i;
            const bool near = std::any_of(limits.begin(), limits.end(),
                                          [&](double limit) { return std::fabs(value - limit) <= 4.0 + 0x1p-12; });
            EXPECT_TRUE(near) << i << ": " << value;
        }
    }
}

TEST(HostileValues, CoordinatesReachBothEndsOfInt32) {
    const std::vector<int32_t> coordinates = extreme_coordinates();
    for (int32_t wanted : {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX}) {
        EXPECT_NE(std::find(coordinates.begin(), coordinates.end(), wanted), coordinates.end()) << wanted;
    }
}

// --- The module's image -------------------------------------------------------------------

TEST(ModuleImageMap, HoldsOnlyWhatItsRangesCover) {
    alignas(8) static uint8_t data[64] = {'a', 'b', 'c', 0};
    alignas(8) static uint8_t text[16] = {};
    emulator::GuestMemory memory;
    memory.add({0x10000, 48, data, true, "data"});
    memory.add({0x20000, 16, text, false, "text"});
    memory.add({0x30000, 16, data + 48, true, "host memory"});
    const ModuleImage image = ModuleImage::from_ranges(memory, {{0x10000, 0x30000}}, {{0x20000, 0x20010}});
    struct Case {
        const char* name;
        uint32_t address;
        uint32_t size;
        bool holds;
        bool code;
    };
    const Case cases[] = {
        {"start of data", 0x10000, 4, true, false},
        {"last byte of data", 0x1002F, 1, true, false},
        {"running past the data", 0x1002C, 8, false, false},
        {"before the data", 0xFFFF, 1, false, false},
        {"code", 0x20003, 1, true, true},
        {"memory outside the image", 0x30000, 4, false, false},
        {"null", 0, 1, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(image.holds(c.address, c.size), c.holds) << c.name;
        EXPECT_EQ(image.is_code(c.address), c.code) << c.name;
    }
}

// The sections of the PE image, found from its headers where the loader
// mapped them: the routines lie in its code, the records in its data, which
// the module may write.
TEST(ModuleImageMap, FindsTheCodeOfALoadedModule) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module("FaultySound.gau"));
    const ModuleImage image = ModuleImage::of(module);
    const uint32_t linkage = module.linkage().address;
    const uint32_t draw = module.memory().read(module.gauges().front()).draw_routine.address;
    EXPECT_TRUE(image.holds(linkage, sizeof(guest::LINKAGE_HEADER)));
    EXPECT_FALSE(image.is_code(linkage));
    EXPECT_TRUE(image.is_code(draw));
    EXPECT_TRUE(module.memory().writable(linkage, sizeof(guest::LINKAGE_HEADER)));
    EXPECT_FALSE(module.memory().writable(draw, 1));
    // The host's own memory is no part of the module's image.
    const uint32_t host_memory = module.machine().allocate(16);
    EXPECT_FALSE(image.holds(host_memory, 4));
}

// --- Record snapshots ---------------------------------------------------------------------------

TEST(RecordSnapshots, IgnoreHostFieldsAndSeeEverythingElse) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module("FaultySound.gau"));
    emulator::GuestMemory& memory = module.memory();
    const Records records = read_records(module, nullptr, false);
    ASSERT_EQ(records.gauges.size(), 2u);
    const GaugeRecord& alpha = records.gauges[0];
    ASSERT_GE(alpha.elements.size(), 3u);
    const auto background = alpha.elements[0].live.cast<guest::ELEMENT_STATIC_IMAGE>();
    const auto needle = alpha.elements[1].live.cast<guest::ELEMENT_NEEDLE>();
    const auto table = memory.read(needle).nonlinearity;
    const RecordSnapshot before = snapshot(records, memory);

    // What the host writes, and the lamps' bit 30.
    const uint32_t image = module.machine().allocate(sizeof(guest::HOST_IMAGE_PREFIX));
    memory.write(needle).source.value = 17.5;
    memory.write(background).image = frame::GuestPtr<guest::HOST_IMAGE_PREFIX>(image);
    memory.write(table.at(1)).degrees = 42.0;
    memory.write(needle).header.image_flags |= kImageHidden;
    EXPECT_TRUE(compare(before, snapshot(records, memory)).empty());
    memory.write(needle).header.image_flags &= ~kImageHidden;
    memory.write(background).image = nullptr;
    memory.write(table.at(1)).degrees = 0.0;

    // Anything else.
    memory.write(needle).reserved_3[10] = 1;
    const std::vector<SnapshotDifference> changed = compare(before, snapshot(records, memory));
    memory.write(needle).reserved_3[10] = 0;
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(records.spans[changed[0].span].begin, needle.address);
    EXPECT_EQ(changed[0].offset, offsetof(guest::ELEMENT_NEEDLE, reserved_3) + 10);
    EXPECT_EQ(field_at(records.spans[changed[0].span], changed[0].offset), "reserved_3[10]");
}

TEST(RecordSnapshots, NameTheFieldAtAnOffset) {
    using Kind = RecordSpan::Kind;
    namespace g = guest;
    struct Case {
        Kind kind;
        uint32_t element_type;
        size_t offset;
        const char* field;
    };
    const Case cases[] = {
        {Kind::kHeader, 0, offsetof(g::GAUGEHDR, gauge_callback), "gauge_callback"},
        {Kind::kHeader, 0, offsetof(g::GAUGEHDR, reserved_2) + 5, "reserved_2[5]"},
        {Kind::kElement, kNeedle, offsetof(g::ELEMENT_NEEDLE, source) + offsetof(g::MODULE_VAR, value) + 3,
         "source.value"},
        {Kind::kElement, kNeedle, offsetof(g::ELEMENT_NEEDLE, update_callback), "update_callback"},
        {Kind::kElement, kSprite, offsetof(g::ELEMENT_SPRITE, source_rotation), "source_rotation.token"},
        {Kind::kElement, kIcon, offsetof(g::ELEMENT_HEADER, image_flags) + 3, "image_flags"},
        {Kind::kElement, kMovingImage, offsetof(g::ELEMENT_MOVING_IMAGE, max_y), "max_y"},
        {Kind::kTable, 0, 2 * sizeof(g::NONLINEARITY) + offsetof(g::NONLINEARITY, value), "nonlinearity[2].value"},
        {Kind::kFailureList, 0, sizeof(g::FAILURE_RECORD) + 4, "failure_records[1].failure_action"},
        {Kind::kMouseList, 0, 4 * sizeof(g::MOUSERECT) + offsetof(g::MOUSERECT, handler), "mouse_rects[4].handler"},
        {Kind::kElementList, 0, 4, "entry 1"},
    };
    for (const Case& c : cases) {
        RecordSpan span;
        span.kind = c.kind;
        span.element_type = c.element_type;
        EXPECT_EQ(field_at(span, c.offset), c.field);
    }
}

// --- The plan of hostile inputs ------------------------------------------------------------------

// Records every call the plan makes, and the kinds in order.
class Recorder : public PlanObserver {
public:
    void after(const PlannedCall& call, const CallOutcome& outcome) override {
        lines.push_back(std::string(kind_name(call.kind)) + "|" + (call.gauge ? call.gauge->name : "") + "|" +
                        (call.element ? call.element->label : "") + "|" + call.field + "|" + call.input);
        ++kinds[kind_name(call.kind)];
        if (outcome.fault) faults.push_back(*outcome.fault);
    }
    std::vector<std::string> lines;
    std::map<std::string, size_t> kinds;
    std::vector<std::string> faults;
};

Recorder run_plan(const std::string& file, const PlanOptions& options = {}) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module(file));
    for (const faulty::BitmapSize& bitmap : faulty::kBitmaps) {
        module.override_bitmap_size(bitmap.id, bitmap.width, bitmap.height);
    }
    const Records records = read_records(module, nullptr, false);
    Plan plan(host, module, records, options);
    Recorder recorder;
    plan.run(recorder);
    EXPECT_EQ(plan.calls(), recorder.lines.size());
    return recorder;
}

TEST(HostilePlan, RepeatsWithItsSeedAndChangesWithAnother) {
    PlanOptions other;
    other.seed = 99;
    const Recorder first = run_plan("FaultySound.gau");
    const Recorder again = run_plan("FaultySound.gau");
    const Recorder changed = run_plan("FaultySound.gau", other);
    EXPECT_EQ(first.lines, again.lines);
    EXPECT_NE(first.lines, changed.lines);
    EXPECT_TRUE(first.faults.empty()) << first.faults.front();
}

// Every call of every kind, each value callback with every input, each
// handler at every pair of coordinates with every flag.
TEST(HostilePlan, CoversEveryCallWithEveryInput) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module("FaultySound.gau"));
    const Records records = read_records(module, nullptr, false);
    PlanOptions options;
    options.random_values = 12;
    options.random_points = 4;
    Plan plan(host, module, records, options);
    // The limits of the tables and of the moving images (their ends).
    EXPECT_EQ(plan.limits(), (std::vector<double>{0.0, 20.0, 100.0}));
    const size_t inputs = special_values().size() + 3 * plan.limits().size() + 12;
    ASSERT_EQ(plan.inputs().size(), inputs);
    Recorder recorder;
    plan.run(recorder);
    const size_t coordinates = extreme_coordinates().size();
    const size_t sound = 2;  // Alpha and Beta
    EXPECT_EQ(recorder.kinds["install"], sound);
    EXPECT_EQ(recorder.kinds["value"], plan.value_callbacks() * inputs);
    EXPECT_EQ(recorder.kinds["gauge"], 3 * plan.gauge_callbacks() * inputs);
    EXPECT_EQ(recorder.kinds["update"], sound * inputs);
    EXPECT_EQ(recorder.kinds["mouse"], plan.handlers() * (coordinates * coordinates * 6 + 4));
    EXPECT_GT(recorder.kinds["pointer"], 0u);
    EXPECT_EQ(recorder.kinds["key"], 0u);  // the module registers no routine
    EXPECT_GT(recorder.kinds["event"], 0u);
    EXPECT_EQ(plan.value_callbacks(), 4u);
    EXPECT_EQ(plan.handlers(), 1u);
}

// The validator and diffdrive see each call alike: the observer may leave
// any out, and the rest come in the same order.
TEST(HostilePlan, CallsLeftOutAreNotMade) {
    class OnlyValues : public Recorder {
    public:
        bool admit(const PlannedCall& call) override { return call.kind == CallKind::kValue; }
    };
    runtime::Host host;
    runtime::Module module(host, test_paths::module("FaultySound.gau"));
    const Records records = read_records(module, nullptr, false);
    Plan plan(host, module, records, PlanOptions{});
    OnlyValues values;
    plan.run(values);
    EXPECT_EQ(values.kinds.size(), 1u);
    EXPECT_EQ(values.kinds["value"], plan.value_callbacks() * plan.inputs().size());
    EXPECT_EQ(plan.calls(), values.lines.size());
}

// A faulting call is one outcome among others: the plan goes on.
TEST(HostilePlan, AFaultEndsOnlyItsCall) {
    const Recorder crash = run_plan("EmuCrash.gau");
    ASSERT_FALSE(crash.faults.empty());
    EXPECT_NE(crash.faults.front().find("0x0BADF00C"), std::string::npos) << crash.faults.front();
    EXPECT_GT(crash.kinds.at("value"), 0u);
    EXPECT_GT(crash.kinds.at("mouse"), 0u);
}

// --- The allocation hook (render_bench counts the host's own allocations) ------------------------

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

}  // namespace
