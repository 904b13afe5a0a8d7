// The kit's service wrappers: they read the ImportTable cell at each
// call, reach the slot they name with their arguments, and do nothing while
// the cell (or the slot) is still empty.
//
// This program holds its own ImportTable for the wrappers compiled into it;
// modules bind their own record, which the last test checks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/services.h"
#include "gaugekit/services.h"
#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

extern "C" {
IMPORT_TABLE ImportTable{};
}

namespace {

// Puts a table into the cell for one test and empties it afterwards.
class CellFilled {
public:
    explicit CellFilled(PANELS* table) { ImportTable.panels = table; }
    ~CellFilled() { ImportTable.panels = nullptr; }
};

uint32_t word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

ELEMENT_HEADER g_element{};
MODULE_VAR g_var{};

void key_routine(uint32_t, uint32_t, uint32_t) {}

struct WrapperCase {
    const char* name;
    std::function<void()> call;
    uint32_t slot;
    uint32_t arg0;
    uint32_t arg1;
};

const std::vector<WrapperCase>& wrapper_cases() {
    static const std::vector<WrapperCase> cases = {
        {"element_list_query", [] { kit::element_list_query(&g_element); }, 24, word(&g_element), 0},
        {"element_list_install", [] { kit::element_list_install(&g_element, 0x8899AABB); }, 25, word(&g_element),
         0x8899AABB},
        {"element_list_initialize", [] { kit::element_list_initialize(&g_element); }, 26, word(&g_element), 0},
        {"element_list_update", [] { kit::element_list_update(&g_element); }, 27, word(&g_element), 0},
        {"element_list_generate", [] { kit::element_list_generate(&g_element, 3); }, 28, word(&g_element), 3},
        {"element_list_plot", [] { kit::element_list_plot(&g_element); }, 29, word(&g_element), 0},
        {"element_list_kill", [] { kit::element_list_kill(&g_element); }, 31, word(&g_element), 0},
        {"trigger_key_event", [] { kit::trigger_key_event(65932, 4); }, 36, 65932, 4},
        {"initialize_var", [] { kit::initialize_var(&g_var); }, 38, word(&g_var), 0},
        {"lookup_var", [] { kit::lookup_var(&g_var); }, 40, word(&g_var), 0},
        {"execute_calculator_code", [] { kit::execute_calculator_code("1 (>L:x)"); }, 69, 0, 0},
        {"register_key_event_handler", [] { kit::register_key_event_handler(&key_routine, 21); }, 80,
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&key_routine)), 21},
        {"unregister_key_event_handler", [] { kit::unregister_key_event_handler(&key_routine, 21); }, 81,
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&key_routine)), 21},
    };
    return cases;
}

TEST(FrameServices, EmptyCellMakesEveryWrapperDoNothing) {
    bench::Host host;
    ASSERT_EQ(ImportTable.panels, nullptr);
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        c.call();
    }
    EXPECT_TRUE(host.service_log().empty());
    EXPECT_TRUE(host.key_log().empty());
    EXPECT_TRUE(host.key_event_handlers().empty());
}

TEST(FrameServices, FilledCellReachesTheNamedSlot) {
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        bench::Host host;
        CellFilled cell(host.panels());
        c.call();
        ASSERT_EQ(host.service_log().size(), 1u);
        EXPECT_EQ(host.service_log()[0].slot, c.slot);
        if (c.slot == 69) {
            EXPECT_EQ(host.calculator_log(), std::vector<std::string>{"1 (>L:x)"});
        } else {
            EXPECT_EQ(host.service_log()[0].args[0], c.arg0);
            EXPECT_EQ(host.service_log()[0].args[1], c.arg1);
        }
        EXPECT_TRUE(host.unexpected_slots().empty());
    }
}

TEST(FrameServices, EmptySlotMakesItsWrapperDoNothing) {
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        bench::Host host;
        PANELS table = *host.panels();
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

TEST(FrameServices, ModulesBindTheirOwnImportTable) {
    bench::Host host;
    bench::Module module(host, test_paths::module("Korvane.gau"));
    EXPECT_NE(module.import_table(), &ImportTable);
    EXPECT_EQ(module.import_table()->panels, host.panels());
    EXPECT_EQ(ImportTable.panels, nullptr);
}

}  // namespace
