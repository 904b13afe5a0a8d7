// Loading BenchFixture.gau for the host tests, with sizes for the bitmaps it
// does not carry, and reading back what its callbacks report as key events.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "support/test_paths.h"
#include "tests/fixtures/bench_fixture/fixture_ids.h"

namespace fixture_support {

namespace fx = bench_fixture;

// Background sizes: odd heights, so that rounding at a display scale shows.
inline constexpr uint32_t kDialsWidth = 200, kDialsHeight = 200;
inline constexpr uint32_t kPicturesWidth = 241, kPicturesHeight = 161;
inline constexpr uint32_t kPanelWidth = 300, kPanelHeight = 200;

// One call of a fixture mouse handler, read back from the key log.
struct HandlerCall {
    uint32_t base = 0;
    int32_t x = 0, y = 0;
    uint32_t flags = 0;
    std::optional<uint32_t> displayed_height;  // the drag handler's reading
};

// The directory the fixture modules are built into.
inline std::string module_dir() {
    const std::string path = test_paths::module("BenchFixture.gau");
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The calls of the fixture's mouse handlers in the host's key log.
inline std::vector<HandlerCall> handler_calls(const runtime::Host& host) {
    const auto is_handler_base = [](uint32_t id) {
        return id == fx::kHandlerLeft || id == fx::kHandlerRight || id == fx::kHandlerKnob || id == fx::kHandlerLever ||
               id == fx::kHandlerNested;
    };
    std::vector<HandlerCall> calls;
    const std::vector<runtime::KeyEvent>& log = host.key_log();
    for (size_t i = 0; i < log.size(); ++i) {
        if (!is_handler_base(log[i].id)) continue;
        if (i + 2 >= log.size() || log[i + 1].id != log[i].id + 1 || log[i + 2].id != log[i].id + 2) {
            ADD_FAILURE() << "incomplete handler report at key event " << i;
            break;
        }
        HandlerCall call;
        call.base = log[i].id;
        call.x = static_cast<int32_t>(log[i].value);
        call.y = static_cast<int32_t>(log[i + 1].value);
        call.flags = log[i + 2].value;
        i += 2;
        if (i + 1 < log.size() && log[i + 1].id == call.base + 3) {
            call.displayed_height = log[i + 1].value;
            ++i;
        }
        calls.push_back(call);
    }
    return calls;
}

class FixtureModule : public ::testing::Test {
protected:
    runtime::Host host;
    runtime::Module module{host, test_paths::module("BenchFixture.gau")};

    FixtureModule() { give_sizes(); }

    void give_sizes(bool moving_images = true) {
        module.override_bitmap_size(fx::kDialsBackground, kDialsWidth, kDialsHeight);
        module.override_bitmap_size(fx::kPicturesBackground, kPicturesWidth, kPicturesHeight);
        module.override_bitmap_size(fx::kPanelBackground, kPanelWidth, kPanelHeight);
        if (moving_images) {
            module.override_bitmap_size(fx::kStripPicture, 720, 32);
            module.override_bitmap_size(fx::kStripPicture + 1, 72, 32);
            module.override_bitmap_size(fx::kDrumPicture, 18, 297);
            module.override_bitmap_size(fx::kDrumPicture + 1, 18, 27);
        }
    }

    runtime::GaugePtr gauge(const char* name) {
        const runtime::GaugePtr found = module.gauge(name);
        EXPECT_TRUE(found) << name;
        return found;
    }

    std::vector<HandlerCall> handler_calls() const { return fixture_support::handler_calls(host); }

    // Key events other than the gauge callbacks' service reports.
    std::vector<runtime::KeyEvent> events_without_service_reports() const {
        std::vector<runtime::KeyEvent> events;
        for (const runtime::KeyEvent& event : host.key_log()) {
            if (event.id >= fx::kServiceReportBase && event.id < fx::kServiceReportBase + 0x1000) continue;
            events.push_back(event);
        }
        return events;
    }

    // The service ids the gauge at `gauge_index` reported, in order, with the
    // extra words.
    std::vector<std::pair<uint32_t, uint32_t>> service_reports(uint32_t gauge_index) const {
        std::vector<std::pair<uint32_t, uint32_t>> reports;
        const uint32_t base = fx::service_report(gauge_index, 0);
        for (const runtime::KeyEvent& event : host.key_log()) {
            if (event.id >= base && event.id < base + 0x100) reports.emplace_back(event.id - base, event.value);
        }
        return reports;
    }
};

}  // namespace fixture_support
