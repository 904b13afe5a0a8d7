// The validator on the faulty fixture modules: each fault of the records
// fails exactly its check, a sound module passes every check, and faulty
// calls are caught by the dynamic checks.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "host/validate/probe.h"
#include "host/validate/report.h"
#include "host/validate/validator.h"
#include "support/test_paths.h"
#include "tests/fixtures/faulty/faulty_ids.h"

namespace {

using bench::validate::CheckResult;
using bench::validate::Report;
using bench::validate::Status;

template <size_t N>
bench::validate::Options options_with(const faulty::BitmapSize (&bitmaps)[N], bool dynamic) {
    bench::validate::Options options;
    for (const faulty::BitmapSize& bitmap : bitmaps) options.bitmap_sizes[bitmap.id] = {bitmap.width, bitmap.height};
    options.dynamic = dynamic;
    return options;
}

std::set<std::string> failing(const Report& report) {
    std::set<std::string> ids;
    for (const CheckResult& result : report.checks()) {
        if (result.status() == Status::kFail) ids.insert(result.id);
    }
    return ids;
}

std::string listing(const Report& report) {
    std::string text;
    for (const CheckResult& result : report.checks()) {
        for (const auto& finding : result.findings) text += result.id + " " + finding.line() + "\n";
    }
    return text;
}

// --- One fault of the records per check -------------------------------------------------

struct StaticFault {
    const char* module;
    const char* check;
    const char* gauge;  // the gauge the first finding names ("" for the module)
};

const StaticFault kStaticFaults[] = {
    {"NoExports.gau", "KV000", ""},
    {"LinkageOnly.gau", "KV000", ""},
    {"BadImportId.gau", "KV000", ""},
    {"BadImportEnd.gau", "KV000", ""},
    {"FaultyGaugeTable.gau", "KV001", ""},
    {"FaultyNames.gau", "KV002", "Alpha"},
    {"FaultyVersion.gau", "KV003", "Beta"},
    {"FaultyCodePointer.gau", "KV004", "Alpha"},
    {"FaultyElementList.gau", "KV005", "Alpha"},
    {"FaultyCycle.gau", "KV006", "Alpha"},
    {"FaultyOwner.gau", "KV007", "Beta"},
    {"FaultyShared.gau", "KV008", "Beta"},
    {"FaultyTable.gau", "KV009", "Alpha"},
    {"FaultyFailureList.gau", "KV010", "Alpha"},
    {"FaultyMouseList.gau", "KV011", "Alpha"},
    {"FaultyMouseBox.gau", "KV012", "Alpha"},
    {"FaultyMouseAction.gau", "KV013", "Alpha"},
    {"FaultyBitmap.gau", "KV014", "Beta"},
    {"FaultyReserved.gau", "KV015", "Alpha"},
    {"FaultyImageFlags.gau", "KV016", "Alpha"},
    {"FaultyElementField.gau", "KV017", "Beta"},
    {"FaultyPivot.gau", "KV017", "Alpha"},
    {"FaultyReadOnly.gau", "KV018", "Alpha"},
};

class StaticFaults : public testing::TestWithParam<StaticFault> {};

TEST_P(StaticFaults, FailOnlyTheirCheck) {
    const StaticFault& fault = GetParam();
    const Report report =
        bench::validate::validate_module(test_paths::module(fault.module), options_with(faulty::kBitmaps, false));
    EXPECT_EQ(failing(report), std::set<std::string>{fault.check}) << listing(report);
    const CheckResult& result = report.check(fault.check);
    ASSERT_FALSE(result.findings.empty());
    EXPECT_EQ(result.findings.front().gauge, fault.gauge) << result.findings.front().line();
    EXPECT_FALSE(result.findings.front().message.empty());
}

INSTANTIATE_TEST_SUITE_P(Validator, StaticFaults, testing::ValuesIn(kStaticFaults),
                         [](const testing::TestParamInfo<StaticFault>& info) {
                             std::string name = info.param.module;
                             return name.substr(0, name.find('.'));
                         });

TEST(StaticFaultTable, HoldsAFixtureForEveryStaticCheck) {
    for (const bench::validate::CheckInfo& info : bench::validate::kChecks) {
        const std::string id = info.id;
        if (id[2] != '0') continue;
        bool found = false;
        for (const StaticFault& fault : kStaticFaults) found = found || id == fault.check;
        EXPECT_TRUE(found) << id << " has no fixture that fails it";
    }
}

// The dynamic checks cope with every broken module: they drive only the
// gauges whose records are sound, and find nothing more to fail.
TEST_P(StaticFaults, LeaveTheDynamicChecksPassing) {
    const StaticFault& fault = GetParam();
    const Report report =
        bench::validate::validate_module(test_paths::module(fault.module), options_with(faulty::kBitmaps, true));
    EXPECT_EQ(failing(report), std::set<std::string>{fault.check}) << listing(report);
}

// One finding per read-only record: the shared failure list once, and the
// stand-alone variable only a call names, reported instead of written.
TEST(ReadOnlyRecords, EachIsFoundOnceWithItsKind) {
    const Report report = bench::validate::validate_module(test_paths::module("FaultyReadOnly.gau"),
                                                           options_with(faulty::kBitmaps, true));
    std::string found;
    for (const auto& f : report.check("KV018").findings) found += f.gauge + "|" + f.element + "|" + f.field + "\n";
    EXPECT_EQ(found, "Alpha|element 1 (static image, bitmap " + std::to_string(faulty::kAlphaBackground) +
                         ")|failure list\nAlpha||mouse list\n||stand-alone variable (token " +
                         std::to_string(faulty::kTokenNeedle) + ")\n");
}

// --- A sound module ----------------------------------------------------------------------

TEST(SoundModule, PassesEveryCheck) {
    const Report report =
        bench::validate::validate_module(test_paths::module("FaultySound.gau"), options_with(faulty::kBitmaps, true));
    EXPECT_EQ(report.count(Status::kFail), 0u) << listing(report);
    EXPECT_EQ(report.count(Status::kWarn), 0u) << listing(report);
    // Only the key-event routines are missing: the module registers none.
    for (const CheckResult& result : report.checks()) {
        if (result.id == "KV204") {
            EXPECT_EQ(result.status(), Status::kSkip);
        } else {
            EXPECT_EQ(result.status(), Status::kPass) << result.id << " " << result.note;
        }
    }
    EXPECT_FALSE(report.failed());
}

TEST(SoundModule, SkipsTheBitmapsWithoutAPe) {
    bench::validate::Options options;
    options.dynamic = false;
    const Report report = bench::validate::validate_module(test_paths::module("FaultySound.gau"), options);
    EXPECT_EQ(report.check("KV014").status(), Status::kSkip);
    EXPECT_EQ(report.count(Status::kFail), 0u) << listing(report);
}

TEST(SoundModule, StaticOnlySkipsEveryDynamicCheck) {
    const Report report =
        bench::validate::validate_module(test_paths::module("FaultySound.gau"), options_with(faulty::kBitmaps, false));
    for (const CheckResult& result : report.checks()) {
        EXPECT_EQ(result.status(), result.id[2] == '0' ? Status::kPass : Status::kSkip) << result.id;
    }
}

// --- Faulty calls ------------------------------------------------------------------------

struct CallFault {
    const char* check;
    const char* gauge;
    const char* words;  // in the finding's message
};

const CallFault kCallFaults[] = {
    {"KV201", "Unlimited", "outside its limits"}, {"KV301", "Allocating", "heap allocation"},
    {"KV302", "Fp_Changer", "x87 control"},       {"KV104", "Writer", "changed"},
    {"KV303", "Unserved", "service 50"},
};

TEST(CallFaults, EachIsCaughtOnItsGauge) {
    const Report report = bench::validate::validate_module(test_paths::module("FaultyCalls.gau"),
                                                           options_with(faulty::kCallsBitmaps, true));
    std::set<std::string> expected;
    for (const CallFault& fault : kCallFaults) {
        expected.insert(fault.check);
        bool named = false;
        for (const auto& finding : report.check(fault.check).findings) {
            named = named || (finding.gauge == fault.gauge && finding.message.find(fault.words) != std::string::npos);
        }
        EXPECT_TRUE(named) << fault.check << " names no finding on " << fault.gauge << "\n" << listing(report);
    }
    EXPECT_EQ(failing(report), expected) << listing(report);
}

// A module that stays in memory when unloaded: its state carries over into
// the next load, and the routine it left registered is still there.
TEST(ReloadFaults, StateThatOutlivesTheUnloadIsCaught) {
    const Report report = bench::validate::validate_module(test_paths::module("FaultyReload.gau"),
                                                           options_with(faulty::kCallsBitmaps, true));
    EXPECT_EQ(failing(report), (std::set<std::string>{"KV101", "KV105"})) << listing(report);
    ASSERT_FALSE(report.check("KV101").findings.empty());
    EXPECT_EQ(report.check("KV101").findings.front().field, "module_deinit");
    ASSERT_FALSE(report.check("KV105").findings.empty());
    EXPECT_EQ(report.check("KV105").findings.front().gauge, "Counter");
}

TEST(CallFaults, TheSameSeedRepeatsTheReport) {
    bench::validate::Options options = options_with(faulty::kCallsBitmaps, true);
    options.seed = 7;
    const std::string first = bench::validate::validate_module(test_paths::module("FaultyCalls.gau"), options).json();
    const std::string again = bench::validate::validate_module(test_paths::module("FaultyCalls.gau"), options).json();
    EXPECT_EQ(first, again);
    EXPECT_NE(first.find("\"seed\": 7,"), std::string::npos);
}

}  // namespace
