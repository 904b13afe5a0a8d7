// The validator on the fixture modules, PE files run in the emulator: each
// fault of the records fails exactly its check, a sound module passes every
// check, faulty calls are caught by the dynamic checks, and module code that
// crashes, divides by zero, never returns or calls what the host does not
// provide fails a check naming module, gauge, callback, address and fault.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/test_paths.h"
#include "tests/fixtures/faulty/faulty_ids.h"
#include "validate/report.h"
#include "validate/validator.h"

namespace {

using validate::CheckResult;
using validate::Finding;
using validate::Report;
using validate::Status;

template <size_t N>
validate::Options options_with(const faulty::BitmapSize (&bitmaps)[N], bool dynamic) {
    validate::Options options;
    for (const faulty::BitmapSize& bitmap : bitmaps) options.bitmap_sizes[bitmap.id] = {bitmap.width, bitmap.height};
    options.dynamic = dynamic;
    return options;
}

std::set<std::string> with_status(const Report& report, Status status) {
    std::set<std::string> ids;
    for (const CheckResult& result : report.checks()) {
        if (result.status() == status) ids.insert(result.id);
    }
    return ids;
}
std::set<std::string> failing(const Report& report) { return with_status(report, Status::kFail); }

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
        validate::validate_module(test_paths::module(fault.module), options_with(faulty::kBitmaps, false));
    EXPECT_EQ(failing(report), std::set<std::string>{fault.check}) << listing(report);
    const CheckResult& result = report.check(fault.check);
    ASSERT_FALSE(result.findings.empty());
    EXPECT_EQ(result.findings.front().gauge, fault.gauge) << result.findings.front().line();
    EXPECT_FALSE(result.findings.front().message.empty());
}

// The dynamic checks cope with every broken module: they drive only the
// gauges whose records are sound, and find nothing more to fail.
TEST_P(StaticFaults, LeaveTheDynamicChecksPassing) {
    const StaticFault& fault = GetParam();
    const Report report =
        validate::validate_module(test_paths::module(fault.module), options_with(faulty::kBitmaps, true));
    EXPECT_EQ(failing(report), std::set<std::string>{fault.check}) << listing(report);
}

INSTANTIATE_TEST_SUITE_P(Validator, StaticFaults, testing::ValuesIn(kStaticFaults),
                         [](const testing::TestParamInfo<StaticFault>& info) {
                             std::string name = info.param.module;
                             return name.substr(0, name.find('.'));
                         });

TEST(StaticFaultTable, HoldsAFixtureForEveryStaticCheck) {
    for (const validate::CheckInfo& info : validate::kChecks) {
        const std::string id = info.id;
        if (id[2] != '0') continue;
        bool found = false;
        for (const StaticFault& fault : kStaticFaults) found = found || id == fault.check;
        EXPECT_TRUE(found) << id << " has no fixture that fails it";
    }
}

// One finding per read-only record: the shared failure list once, and the
// stand-alone variable only a call names, reported instead of written.
TEST(ReadOnlyRecords, EachIsFoundOnceWithItsKind) {
    const Report report =
        validate::validate_module(test_paths::module("FaultyReadOnly.gau"), options_with(faulty::kBitmaps, true));
    std::string found;
    for (const auto& f : report.check("KV018").findings) found += f.gauge + "|" + f.element + "|" + f.field + "\n";
    EXPECT_EQ(found, "Alpha|element 1 (static image, bitmap " + std::to_string(faulty::kAlphaBackground) +
                         ")|failure list\nAlpha||mouse list\n||stand-alone variable (token " +
                         std::to_string(faulty::kTokenNeedle) + ")\n");
}

// --- A sound module ----------------------------------------------------------------------

TEST(SoundModule, PassesEveryCheck) {
    const Report report =
        validate::validate_module(test_paths::module("FaultySound.gau"), options_with(faulty::kBitmaps, true));
    EXPECT_EQ(report.count(Status::kFail), 0u) << listing(report);
    EXPECT_EQ(report.count(Status::kWarn), 0u) << listing(report);
    // Only the key-event routines are missing: the module registers none.
    EXPECT_EQ(with_status(report, Status::kSkip), std::set<std::string>{"KV204"});
    EXPECT_FALSE(report.failed());
    // The instructions are reported as figures, not findings.
    const CheckResult& instructions = report.check("KV306");
    ASSERT_EQ(instructions.info.size(), 2u);
    EXPECT_EQ(instructions.info[0].field, "most for one call");
    EXPECT_NE(instructions.info[0].message.find(" instructions ("), std::string::npos);
    EXPECT_EQ(instructions.info[1].field, "panel update");
}

TEST(SoundModule, SkipsTheBitmapsWithoutAPe) {
    validate::Options options;
    options.dynamic = false;
    const Report report = validate::validate_module(test_paths::module("FaultySound.gau"), options);
    EXPECT_EQ(report.check("KV014").status(), Status::kSkip);
    EXPECT_EQ(report.count(Status::kFail), 0u) << listing(report);
}

TEST(SoundModule, StaticOnlySkipsEveryDynamicCheck) {
    const Report report =
        validate::validate_module(test_paths::module("FaultySound.gau"), options_with(faulty::kBitmaps, false));
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
    {"KV201", "Unlimited", "outside its limits"},
    {"KV301", "Allocating", "heap allocation"},
    {"KV302", "Fp_Changer", "x87 control"},
    {"KV104", "Writer", "changed"},
    {"KV303", "Unserved", "service 50"},
    {"KV307", "Unbound", "KERNEL32.dll!Beep"},
    {"KV308", "Hoarder", "KERNEL32.dll!CreateEventA 500"},
    {"KV308", "Grabber", "more bytes of VirtualAlloc"},
};

TEST(CallFaults, EachIsCaughtOnItsGauge) {
    const Report report =
        validate::validate_module(test_paths::module("FaultyCalls.gau"), options_with(faulty::kCallsBitmaps, true));
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

// What the module called of its imports, Beep among them, and the import
// itself: unbound, so a warning even before anything calls it.
TEST(CallFaults, ImportsAreListedAndTheUnboundOneWarned) {
    const Report report =
        validate::validate_module(test_paths::module("FaultyCalls.gau"), options_with(faulty::kCallsBitmaps, true));
    const CheckResult& imports = report.check("KV307");
    bool warned = false;
    for (const Finding& finding : imports.findings) {
        warned = warned || (finding.severity == Status::kWarn && finding.field == "KERNEL32.dll!Beep");
    }
    EXPECT_TRUE(warned) << listing(report);
    ASSERT_EQ(imports.info.size(), 1u);
    EXPECT_NE(imports.info[0].message.find("msvcrt.dll!malloc"), std::string::npos) << imports.info[0].message;
}

// The module's deinit leaves the routine its init registered: the host
// forgets it with the module, the validator reads it from the service log.
// (A reload in the emulator starts afresh: KV105 passes.)
TEST(ReloadFaults, ARoutineLeftRegisteredIsCaught) {
    const Report report =
        validate::validate_module(test_paths::module("FaultyReload.gau"), options_with(faulty::kCallsBitmaps, true));
    EXPECT_EQ(failing(report), std::set<std::string>{"KV101"}) << listing(report);
    ASSERT_FALSE(report.check("KV101").findings.empty());
    EXPECT_EQ(report.check("KV101").findings.front().field, "module_deinit");
}

TEST(CallFaults, TheSameSeedRepeatsTheReport) {
    validate::Options options = options_with(faulty::kCallsBitmaps, true);
    options.seed = 7;
    const std::string first = validate::validate_module(test_paths::module("FaultyCalls.gau"), options).json();
    const std::string again = validate::validate_module(test_paths::module("FaultyCalls.gau"), options).json();
    EXPECT_EQ(first, again);
    EXPECT_NE(first.find("\"seed\": 7,"), std::string::npos);
}

// --- Module code that goes wrong in the emulator --------------------------------------------

struct CodeFault {
    const char* module;
    std::set<std::string> failing;   // checks that fail
    const char* check;               // the check whose first finding is read
    const char* gauge;               // the gauge it names
    std::vector<const char*> words;  // in its message: module, callback, address, fault
};

// The fixtures of tests/fixtures/emulator carry no bitmaps (KV014 is skipped).
const CodeFault kCodeFaults[] = {
    {"EmuCrash.gau", {"KV304"}, "KV304", "Crash", {"EmuCrash.gau", "gauge_callback (update)", "0x0BADF00C", "write"}},
    {"EmuDivide.gau", {"KV305"}, "KV305", "Divide", {"EmuDivide.gau", "gauge_callback (update)", "0x", "division"}},
    {"EmuLoop.gau", {"KV306"}, "KV306", "Loop", {"EmuLoop.gau", "gauge_callback (update)", "0x", "budget"}},
    {"EmuReadOnly.gau", {"KV018", "KV304"}, "KV304", "ReadOnly", {"EmuReadOnly.gau", "0x", "read-only"}},
    {"EmuInitCrash.gau", {"KV000"}, "KV000", "", {"EmuInitCrash.gau", "module_init", "0x0BADF00C", "write"}},
    {"EmuTib.gau", {}, "KV304", "", {}},
};

class CodeFaults : public testing::TestWithParam<CodeFault> {};

TEST_P(CodeFaults, FailTheirCheckNamingWhereAndWhat) {
    const CodeFault& fault = GetParam();
    validate::Options options;
    options.cycles = 2;
    options.random_values = 10;
    const Report report = validate::validate_module(test_paths::module(fault.module), options);
    EXPECT_EQ(failing(report), fault.failing) << listing(report);
    if (fault.words.empty()) return;
    const CheckResult& result = report.check(fault.check);
    ASSERT_FALSE(result.findings.empty()) << listing(report);
    const Finding& first = result.findings.front();
    EXPECT_EQ(first.gauge, fault.gauge) << first.line();
    for (const char* word : fault.words)
        EXPECT_NE(first.message.find(word), std::string::npos) << word << ": " << first.line();
}

INSTANTIATE_TEST_SUITE_P(Validator, CodeFaults, testing::ValuesIn(kCodeFaults),
                         [](const testing::TestParamInfo<CodeFault>& info) {
                             std::string name = info.param.module;
                             return name.substr(0, name.find('.'));
                         });

// A module that imports what no host provides, and calls it from no gauge:
// a warning (it has no gauge, which fails KV001).
TEST(MissingImport, IsAWarningUntilCalled) {
    const Report report = validate::validate_module(test_paths::module("Win32Missing.gau"), validate::Options{});
    EXPECT_EQ(failing(report), std::set<std::string>{"KV001"}) << listing(report);
    const CheckResult& imports = report.check("KV307");
    EXPECT_EQ(imports.status(), Status::kWarn) << listing(report);
    ASSERT_FALSE(imports.findings.empty());
    EXPECT_EQ(imports.findings.front().field, "NOSUCH.dll!Function");
}

}  // namespace
