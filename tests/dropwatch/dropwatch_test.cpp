// Dropwatch.gau loaded in the bench host: its records, its registration for
// key events, the programs it hands the host's calculator, and its PE file.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/pe/pe_image.h"
#include "frame/linkage.h"
#include "frame/records.h"
#include "runtime/dib.h"
#include "runtime/host.h"
#include "runtime/host_calculator.h"
#include "runtime/module.h"
#include "support/korvane_bench.h"
#include "support/test_paths.h"

namespace {

using korvane_bench::native;

using Names = std::map<std::string, double>;

constexpr uint32_t kSequenceStart = 66587;
constexpr uint32_t kBombReleased = 66658;

constexpr char kSequenceStartProgram[] =
    "0 (>L:Bombs_dropped) (L:Vq17_Nbr_Sum, number) (>L:Repeat) (P:Absolute Time, seconds) "
    "(L:Vq17_Interv_Sum, seconds) - (>L:Elapsed,seconds)";
constexpr char kBombReleasedProgram[] = "(L:Bombs_dropped) ++ (>L:Bombs_dropped)";

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The bench host with the calculator installed and Dropwatch.gau loaded.
struct Rig {
    runtime::Host host;
    runtime::HostCalculator calculator{host};
    std::unique_ptr<runtime::Module> module;

    Rig() {
        module = std::make_unique<runtime::Module>(host, test_paths::module("Dropwatch.gau"),
                                                   test_paths::pe("Dropwatch.gau"));
    }

    // Calls the host made, by service number.
    std::vector<runtime::ServiceCall> calls(uint32_t slot) const { return host.calls_to(slot); }
};

// --- Records ---------------------------------------------------------------------

TEST(DropwatchRecords, LinkageAndImportTable) {
    Rig rig;
    const LINKAGE_HEADER* linkage = native(rig.module->linkage());
    EXPECT_EQ(linkage->module_id, 0x13u);
    EXPECT_EQ(linkage->module_flags, 0u);
    EXPECT_EQ(linkage->module_priority, 0u);
    EXPECT_EQ(linkage->module_version, 0x900u);

    EXPECT_EQ(native(rig.module->import_table())->panels, native(rig.module->panels()));

    // One gauge, then the terminating null.
    const auto* table = reinterpret_cast<GAUGEHDR* const*>(reinterpret_cast<const uint8_t*>(linkage) + 24);
    EXPECT_NE(table[0], nullptr);
    EXPECT_EQ(table[1], nullptr);
    ASSERT_EQ(rig.module->gauges().size(), 1u);
    EXPECT_EQ(native(rig.module->gauges()[0]), table[0]);
}

TEST(DropwatchRecords, VersionEightHundredHeader) {
    Rig rig;
    GAUGEHDR* listed = native(rig.module->gauge("Dropwatch"));
    ASSERT_NE(listed, nullptr);
    const auto* header = reinterpret_cast<const GAUGEHDR_V800*>(listed);
    EXPECT_EQ(header->header_version, 800u);
    EXPECT_STREQ(header->gauge_name, "Dropwatch");
    EXPECT_EQ(header->size_x_mm, 100u);
    EXPECT_EQ(header->reserved_1, 0u);

    // 252 bytes in all; everything after size_x_mm is zero: no mouse list, no
    // gauge callback.
    static_assert(sizeof(GAUGEHDR_V800) == 252);
    const auto* bytes = reinterpret_cast<const uint8_t*>(header);
    for (size_t i = offsetof(GAUGEHDR_V800, reserved_tail); i < sizeof(GAUGEHDR_V800); ++i) {
        EXPECT_EQ(bytes[i], 0u) << "header byte " << i;
    }
}

TEST(DropwatchRecords, TheOneBlackPicture) {
    Rig rig;
    GAUGEHDR* header = native(rig.module->gauge("Dropwatch"));
    ASSERT_NE(header, nullptr);
    ASSERT_NE(header->element_list, nullptr);
    ELEMENT_HEADER* root = header->element_list[0];
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(header->element_list[1], nullptr);

    EXPECT_EQ(root->element_type, static_cast<uint32_t>(kStaticImage));
    EXPECT_EQ(root->resource_id, 4096u);
    EXPECT_TRUE(root->position_x == 0 && root->position_y == 0 && root->ofs_x == 0 && root->ofs_y == 0);
    EXPECT_EQ(root->gauge, header);
    EXPECT_EQ(root->next_element_list, nullptr);
    EXPECT_EQ(root->failure_records, nullptr);
    EXPECT_EQ(root->image_flags, 0x1u);
    const auto* image = reinterpret_cast<const ELEMENT_STATIC_IMAGE*>(root);
    EXPECT_EQ(image->image, nullptr);
    for (uint32_t reserved : image->reserved) EXPECT_EQ(reserved, 0u);
}

// Each standard routine hands its element-list service the gauge's picture,
// the host's argument passed on unchanged.
TEST(DropwatchRecords, StandardRoutinesActOnThePicture) {
    Rig rig;
    GAUGEHDR* header = native(rig.module->gauge("Dropwatch"));
    ASSERT_NE(header, nullptr);
    const uint32_t root = word(header->element_list[0]);
    constexpr uint32_t kHostArgument = 0xC0FFEE01;
    struct Case {
        const char* routine;
        void (*call)(GAUGEHDR*);
        uint32_t slot;
        bool passes_argument;
    };
    const Case cases[] = {
        {"query", [](GAUGEHDR* h) { h->query_routine(); }, service_slot::element_list_query, false},
        {"install", [](GAUGEHDR* h) { h->install_routine(kHostArgument); }, service_slot::element_list_install, true},
        {"initialize", [](GAUGEHDR* h) { h->initialize_routine(); }, service_slot::element_list_initialize, false},
        {"update", [](GAUGEHDR* h) { h->update_routine(); }, service_slot::element_list_update, false},
        {"generate", [](GAUGEHDR* h) { h->generate_routine(kHostArgument); }, service_slot::element_list_generate,
         true},
        {"draw", [](GAUGEHDR* h) { h->draw_routine(); }, service_slot::element_list_plot, false},
        {"kill", [](GAUGEHDR* h) { h->kill_routine(); }, service_slot::element_list_kill, false},
    };
    for (const Case& c : cases) {
        rig.host.clear_service_log();
        c.call(header);
        ASSERT_EQ(rig.host.service_log().size(), 1u) << c.routine;
        const runtime::ServiceCall& call = rig.host.service_log()[0];
        EXPECT_EQ(call.slot, c.slot) << c.routine;
        EXPECT_EQ(call.args[0], root) << c.routine;
        if (c.passes_argument) {
            EXPECT_EQ(call.args[1], kHostArgument) << c.routine;
        }
    }
    EXPECT_TRUE(rig.host.unexpected_slots().empty());
}

// --- Registration --------------------------------------------------------------------

TEST(DropwatchRegistration, InitRegistersOnceAndDeinitUnregistersTheSame) {
    runtime::Host host;
    std::optional<runtime::Module> module;
    module.emplace(host, test_paths::module("Dropwatch.gau"), test_paths::pe("Dropwatch.gau"));

    // Init called register_key_event_handler once with user data 0, and nothing else.
    ASSERT_EQ(host.service_log().size(), 1u);
    const runtime::ServiceCall registered = host.service_log()[0];
    EXPECT_EQ(registered.slot, service_slot::register_key_event_handler);
    EXPECT_NE(registered.args[0], 0u);
    EXPECT_EQ(registered.args[1], 0u);
    ASSERT_EQ(host.key_event_handlers().size(), 1u);
    EXPECT_EQ(host.key_event_handlers()[0].handler.address, registered.args[0]);
    EXPECT_EQ(host.key_event_handlers()[0].user_data, 0u);

    // Registration does not depend on the gauge being shown: events reach
    // the routine with no gauge set up.
    host.send_key_event(kBombReleased, 0);
    EXPECT_EQ(host.calculator_log().size(), 1u);

    host.clear_service_log();
    module.reset();
    ASSERT_EQ(host.service_log().size(), 1u);
    const runtime::ServiceCall unregistered = host.service_log()[0];
    EXPECT_EQ(unregistered.slot, service_slot::unregister_key_event_handler);
    EXPECT_EQ(unregistered.args[0], registered.args[0]);
    EXPECT_EQ(unregistered.args[1], registered.args[1]);
    EXPECT_TRUE(host.key_event_handlers().empty());
    EXPECT_TRUE(host.unexpected_slots().empty());
}

// --- Key events and their programs --------------------------------------------------------

struct EventCase {
    const char* what;
    std::vector<runtime::KeyEvent> events;
    std::vector<std::string> programs;  // handed to the calculator, in order
    Names changed;                      // the variables afterwards that differ from the start
};

const Names kStart{{"L:Bombs_dropped", 3}, {"L:Vq17_Nbr_Sum", 12}, {"L:Vq17_Interv_Sum", 0.75}};
constexpr double kAbsoluteTime = 5000.0;

TEST(DropwatchKeyEvents, ProgramsAndTheirEffects) {
    const EventCase cases[] = {
        {"one bomb, whatever the value",
         {{kBombReleased, 0xFFFFFFFF}},
         {kBombReleasedProgram},
         {{"L:Bombs_dropped", 4}}},
        {"sequence start",
         {{kSequenceStart, 7}},
         {kSequenceStartProgram},
         {{"L:Bombs_dropped", 0}, {"L:Repeat", 12}, {"L:Elapsed", kAbsoluteTime - 0.75}}},
        {"two bombs then a sequence start",
         {{kBombReleased, 0}, {kBombReleased, 0}, {kSequenceStart, 0}},
         {kBombReleasedProgram, kBombReleasedProgram, kSequenceStartProgram},
         {{"L:Bombs_dropped", 0}, {"L:Repeat", 12}, {"L:Elapsed", kAbsoluteTime - 0.75}}},
        {"counting again after a sequence start",
         {{kSequenceStart, 0}, {kBombReleased, 0}},
         {kSequenceStartProgram, kBombReleasedProgram},
         {{"L:Bombs_dropped", 1}, {"L:Repeat", 12}, {"L:Elapsed", kAbsoluteTime - 0.75}}},
        {"other events run nothing",
         {{0, 0},
          {1, 1},
          {kSequenceStart - 1, 0},
          {kSequenceStart + 1, 0},
          {kBombReleased - 1, 0},
          {kBombReleased + 1, 0},
          {kBombReleased & 0xFFFF, 0},
          {kBombReleased | 0x10000000, 0},
          {0xFFFFFFFF, 0}},
         {},
         {}},
    };
    for (const EventCase& c : cases) {
        Rig rig;
        rig.calculator.set_absolute_time_seconds(kAbsoluteTime);
        for (const auto& [name, value] : kStart) rig.host.vars().set(name, value);
        rig.host.clear_service_log();

        for (const runtime::KeyEvent& event : c.events) rig.host.send_key_event(event.id, event.value);

        EXPECT_EQ(rig.host.calculator_log(), c.programs) << c.what;
        // Each program went through execute_calculator_code with three null
        // result pointers; nothing else was called.
        EXPECT_EQ(rig.host.service_log().size(), c.programs.size()) << c.what;
        for (const runtime::ServiceCall& call : rig.calls(service_slot::execute_calculator_code)) {
            EXPECT_EQ(call.args[1], 0u) << c.what;
            EXPECT_EQ(call.args[2], 0u) << c.what;
            EXPECT_EQ(call.args[3], 0u) << c.what;
        }
        EXPECT_TRUE(rig.calculator.errors().empty()) << c.what << ": " << rig.calculator.errors()[0].what();

        Names expected = kStart;
        for (const auto& [name, value] : c.changed) expected[name] = value;
        EXPECT_EQ(rig.host.vars().names(), expected) << c.what;
    }
}

// The texts are module constants: every event of a kind hands over the same
// address.
TEST(DropwatchKeyEvents, ProgramTextsAreConstantsOfTheModule) {
    Rig rig;
    const uint32_t events[] = {kBombReleased, kSequenceStart, kBombReleased, kSequenceStart};
    for (uint32_t id : events) rig.host.send_key_event(id, 0);
    const std::vector<runtime::ServiceCall> calls = rig.calls(service_slot::execute_calculator_code);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].args[0], calls[2].args[0]);
    EXPECT_EQ(calls[1].args[0], calls[3].args[0]);
    EXPECT_NE(calls[0].args[0], calls[1].args[0]);
}

// --- The PE file ---------------------------------------------------------------------

// Its one bitmap, 50 x 50 black pixels of 24 bits (exports and imports are
// checked with the other deliverables).
TEST(DropwatchPe, TheBlackBitmap) {
    const std::string path = test_paths::pe("Dropwatch.gau");
    if (path.empty()) GTEST_SKIP() << "the PE build is not known to this tree";
    const emulator::PeImage pe = emulator::PeImage::read_file(path);
    ASSERT_EQ(pe.bitmaps().size(), 1u);
    const auto found = pe.bitmaps().find(4096);
    ASSERT_NE(found, pe.bitmaps().end());
    EXPECT_EQ(found->second.bits_per_pixel, 24u);
    const runtime::Picture picture = runtime::decode_dib(found->second);
    EXPECT_EQ(picture.width, 50u);
    EXPECT_EQ(picture.height, 50u);
    EXPECT_EQ(picture.rgb, std::vector<uint32_t>(2500, 0));
}

}  // namespace
