// The kit's service wrappers: they read the ImportTable cell at each
// call, reach the slot they name with their arguments, and do nothing while
// the cell (or the slot) is still empty.
//
// This program holds its own ImportTable for the wrappers compiled into it;
// modules bind their own record, which the last test checks. The service
// table the wrappers reach is the one the host built for a loaded module, so
// the calls are served as that module's.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/services.h"
#include "gaugekit/services.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/korvane_bench.h"
#include "support/test_paths.h"

extern "C" {
IMPORT_TABLE ImportTable{};
}

namespace {

using korvane_bench::native;

// Puts a table into the cell for one test and empties it afterwards.
class CellFilled {
public:
    explicit CellFilled(PANELS* table) { ImportTable.panels = table; }
    ~CellFilled() { ImportTable.panels = nullptr; }
};

uint32_t word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

void key_routine(uint32_t, uint32_t, uint32_t) {}

constexpr char kProgram[] = "1 (>L:x)";

// A loaded module whose service table the wrappers reach, and the records
// they hand over, in the module's memory where the host's services may
// read and write them.
class Services : public ::testing::Test {
protected:
    void SetUp() override {
        element = reinterpret_cast<ELEMENT_HEADER*>(guest_memory(sizeof(ELEMENT_HEADER)));
        var = reinterpret_cast<MODULE_VAR*>(guest_memory(sizeof(MODULE_VAR)));
        program = static_cast<char*>(guest_memory(sizeof(kProgram)));
        std::memcpy(program, kProgram, sizeof(kProgram));
        host.clear_service_log();
    }

    void* guest_memory(uint32_t size) {
        return reinterpret_cast<void*>(static_cast<uintptr_t>(module.machine().allocate(size)));
    }

    struct WrapperCase {
        const char* name;
        std::function<void()> call;
        uint32_t slot;
        uint32_t arg0;
        uint32_t arg1;
    };

    std::vector<WrapperCase> wrapper_cases() const {
        ELEMENT_HEADER* const e = element;
        MODULE_VAR* const v = var;
        const char* const code = program;
        return {
            {"element_list_query", [e] { kit::element_list_query(e); }, 24, word(e), 0},
            {"element_list_install", [e] { kit::element_list_install(e, 0x8899AABB); }, 25, word(e), 0x8899AABB},
            {"element_list_initialize", [e] { kit::element_list_initialize(e); }, 26, word(e), 0},
            {"element_list_update", [e] { kit::element_list_update(e); }, 27, word(e), 0},
            {"element_list_generate", [e] { kit::element_list_generate(e, 3); }, 28, word(e), 3},
            {"element_list_plot", [e] { kit::element_list_plot(e); }, 29, word(e), 0},
            {"element_list_kill", [e] { kit::element_list_kill(e); }, 31, word(e), 0},
            {"trigger_key_event", [] { kit::trigger_key_event(65932, 4); }, 36, 65932, 4},
            {"initialize_var", [v] { kit::initialize_var(v); }, 38, word(v), 0},
            {"lookup_var", [v] { kit::lookup_var(v); }, 40, word(v), 0},
            {"execute_calculator_code", [code] { kit::execute_calculator_code(code); }, 69, word(code), 0},
            {"register_key_event_handler", [] { kit::register_key_event_handler(&key_routine, 21); }, 80,
             word(reinterpret_cast<const void*>(&key_routine)), 21},
            {"unregister_key_event_handler", [] { kit::unregister_key_event_handler(&key_routine, 21); }, 81,
             word(reinterpret_cast<const void*>(&key_routine)), 21},
        };
    }

    runtime::Host host;
    runtime::Module module{host, test_paths::module("Korvane.gau")};
    ELEMENT_HEADER* element = nullptr;
    MODULE_VAR* var = nullptr;
    char* program = nullptr;
};

TEST_F(Services, EmptyCellMakesEveryWrapperDoNothing) {
    ASSERT_EQ(ImportTable.panels, nullptr);
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        c.call();
    }
    EXPECT_TRUE(host.service_log().empty());
    EXPECT_TRUE(host.key_log().empty());
    EXPECT_TRUE(host.key_event_handlers().empty());
}

TEST_F(Services, FilledCellReachesTheNamedSlot) {
    CellFilled cell(native(module.panels()));
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        host.clear_service_log();
        c.call();
        ASSERT_EQ(host.service_log().size(), 1u);
        EXPECT_EQ(host.service_log()[0].slot, c.slot);
        EXPECT_EQ(host.service_log()[0].args[0], c.arg0);
        EXPECT_EQ(host.service_log()[0].args[1], c.arg1);
        EXPECT_TRUE(host.unexpected_slots().empty());
    }
    EXPECT_EQ(host.calculator_log(), std::vector<std::string>{kProgram});
    EXPECT_EQ(host.service_fault_count(), 0u);
}

TEST_F(Services, EmptySlotMakesItsWrapperDoNothing) {
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        PANELS table = *native(module.panels());
        std::memset(reinterpret_cast<char*>(&table) + 4 * c.slot, 0, 4);
        CellFilled cell(&table);
        c.call();
        EXPECT_TRUE(host.service_log().empty());
    }
}

void GAUGE_CALL lookup_one(MODULE_VAR* var) noexcept { var->value = 1.0; }
void GAUGE_CALL lookup_two(MODULE_VAR* var) noexcept { var->value = 2.0; }

TEST(FrameServices, CellIsReadAtEveryCall) {
    PANELS first{};
    PANELS second{};
    first.lookup_var = &lookup_one;
    second.lookup_var = &lookup_two;
    const struct {
        PANELS* table;
        double value;
    } steps[] = {{&first, 1.0}, {&second, 2.0}, {nullptr, 2.0}, {&first, 1.0}};
    MODULE_VAR var{};
    for (const auto& step : steps) {
        ImportTable.panels = step.table;
        kit::lookup_var(&var);
        EXPECT_EQ(var.value, step.value);
    }
    ImportTable.panels = nullptr;
}

TEST_F(Services, ModulesBindTheirOwnImportTable) {
    EXPECT_NE(module.import_table().address, word(&ImportTable));
    EXPECT_EQ(native(module.import_table())->panels, native(module.panels()));
    EXPECT_EQ(ImportTable.panels, nullptr);
}

}  // namespace
