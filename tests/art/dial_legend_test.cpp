// The dials' words and numerals stand where the needles are not for most of
// a flight: at every reading of art/dwell.h the built module's needle,
// turned as the host turns it, covers no mark-coloured pixel of its dial
// within the circle where the legends are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <ostream>
#include <string>
#include <string_view>

#include "art/dwell.h"
#include "frame/vocabulary_names.h"
#include "runtime/dib.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"

namespace {

// Where on a dial its legends lie: between the radii from the pivot, on the
// blade's side and the tail's, or the tail's alone where the blade must cross
// a scale on its way to its own (the airspeed's inner turn).
struct Face {
    std::string_view gauge;
    uint32_t needle;
    double r_from;
    double r_to;
    bool tail_only = false;
    double still_to = 0.0;   // where the needle rests (a band of one reading): out to the numerals' ring
    bool as_loaded = false;  // no host variable turns it (the stopwatch's): where it stands as the module loads
};

// Out to the ring the needle points into: its marks, and the numerals the tip
// is read against, where they lie beyond the legends; where the needle rests
// (stopped, level), out to the marks, so that it hides no numeral either.
const Face kFaces[] = {
    {"Tachometer1", korvane::bitmap::kTachometerThousandsHand, 8.0, 77.0},
    {"Tachometer1", korvane::bitmap::kTachometerHundredsHand, 8.0, 76.0},  // it sweeps the numerals ten times
    {"Boost1", korvane::bitmap::kBoostNeedle, 8.0, 79.0, false, 102.0},
    {"Oil_Temperature1", korvane::bitmap::kOilTemperatureNeedle, 8.0, 73.0},  // numerals included
    {"Radiator_Temperature1", korvane::bitmap::kRadiatorTemperatureNeedle, 8.0, 73.0},
    {"Oil_Pressure1", korvane::bitmap::kOilPressureNeedle, 10.0, 47.0},
    {"Airspeed", korvane::bitmap::kAirspeedNeedle, 8.0, 60.0, true},
    {"VSI", korvane::bitmap::kVsiNeedle, 8.0, 80.0, false, 104.0},
    {"Accelerometer", korvane::bitmap::kAccelerometerNeedle, 8.0, 78.0, false, 102.0},
    {"Flap_Position", korvane::bitmap::kFlapNeedle, 8.0, 33.0},
    {"Fuel_Quantity_Port_1", korvane::bitmap::kFuelQuantityNeedle, 8.0, 35.0},
    {"Fuel_Quantity_Port_2", korvane::bitmap::kFuelQuantityNeedle, 8.0, 35.0},
    {"Fuel_Quantity_Port_3", korvane::bitmap::kFuelQuantityNeedle, 8.0, 35.0},
    {"Timer", korvane::bitmap::kTimerSecondsHand, 8.0, 92.0, false, 0.0, true},  // inside the ticks: the numerals
};

void PrintTo(const Face& face, std::ostream* out) { *out << face.gauge << " needle " << face.needle; }

bool is_mark(uint32_t rgb) { return std::max({(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF}) >= 180; }

class DialLegends : public ::testing::TestWithParam<Face> {};

TEST_P(DialLegends, NoNeedleCoversThemWhereItDwells) {
    const Face& face = GetParam();
    const std::string pe_path = test_paths::pe("Korvane.gau");
    if (pe_path.empty() || !std::filesystem::exists(pe_path)) GTEST_SKIP() << "no PE build of Korvane.gau";
    const art::Dwell* dwell = art::dwell_of(face.gauge, face.needle);
    ASSERT_TRUE(dwell != nullptr || face.as_loaded) << face.gauge << " has no dwell measured";

    runtime::Host host;
    runtime::Module module(host, pe_path);
    const runtime::GaugePtr gauge = module.gauge(face.gauge);
    ASSERT_TRUE(gauge);
    runtime::GaugeInstance instance(host, module, gauge);
    instance.setup();

    const std::optional<sim::Variable> variable = face.as_loaded ? std::nullopt : sim::find_variable(dwell->variable);
    ASSERT_TRUE(variable || face.as_loaded) << dwell->variable;
    // A tank's dial reads its level times the capacity the host reports.
    if (variable && dwell->variable.starts_with("fuel_level")) {
        const std::string tank = std::string(dwell->variable).substr(std::string_view("fuel_level").size());
        const std::optional<sim::Variable> capacity = sim::find_variable("fuel_capacity" + tank);
        ASSERT_TRUE(capacity);
        host.vars().set(capacity->number, dwell->per_unit);
    }

    const auto find = [&]() -> const runtime::ElementState* {
        for (const runtime::ElementState& state : instance.elements()) {
            if (state.type == kNeedle && state.resource_id == face.needle) return &state;
        }
        return nullptr;
    };
    instance.update();
    ASSERT_NE(find(), nullptr);
    const guest::ELEMENT_HEADER needle = module.memory().read(find()->element);
    const guest::ELEMENT_HEADER root = module.memory().read(instance.elements().front().element);
    const runtime::Picture dial = runtime::decode_dib(*module.bitmap(root.resource_id));
    const runtime::Picture hand = runtime::decode_dib(*module.bitmap(face.needle));

    // The hand as it stands now, out to r_to: no mark-coloured pixel under it.
    const auto clear = [&](double r_to, const std::string& reading) {
        const double radians = find()->angle * std::numbers::pi / 180.0;
        const double c = std::cos(radians), s = std::sin(radians);
        for (uint32_t y = 0; y < hand.height; ++y) {
            for (uint32_t x = 0; x < hand.width; ++x) {
                if (hand.at(x, y) == 0) continue;  // transparent
                const double along = x + 0.5 - needle.ofs_x, across = y + 0.5 - needle.ofs_y;
                const double r = std::hypot(along, across);
                if (r < face.r_from || r > r_to || (face.tail_only && along > 0.0)) continue;
                const auto dx = static_cast<int32_t>(std::floor(needle.position_x + along * c - across * s));
                const auto dy = static_cast<int32_t>(std::floor(needle.position_y + along * s + across * c));
                if (dx < 0 || dy < 0 || dx >= int32_t(dial.width) || dy >= int32_t(dial.height)) continue;
                EXPECT_FALSE(is_mark(dial.at(uint32_t(dx), uint32_t(dy))))
                    << face.gauge << ": at " << reading << " the needle (at " << find()->angle
                    << " degrees) covers the legend at (" << dx << ", " << dy << ")";
                if (is_mark(dial.at(uint32_t(dx), uint32_t(dy)))) return;
            }
        }
    };
    if (face.as_loaded) {
        for (int update = 0; update < 80; ++update) instance.update();
        clear(face.r_to, "rest");
        return;
    }
    for (const art::DwellBand& band : dwell->bands) {
        const double r_to = band.low == band.high ? std::max(face.r_to, face.still_to) : face.r_to;
        for (int i = 0; i <= 8; ++i) {
            const double reading = band.low + (band.high - band.low) * i / 8.0;
            host.vars().set(variable->number, variable->entry->reading.to_host(reading / dwell->per_unit));
            for (int update = 0; update < 80; ++update) instance.update();  // rate-limited needles arrive
            clear(r_to, std::string(dwell->variable) + " " + std::to_string(reading));
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Korvane, DialLegends, ::testing::ValuesIn(kFaces),
                         [](const ::testing::TestParamInfo<Face>& info) {
                             return std::string(info.param.gauge) + "_" + std::to_string(info.param.needle);
                         });

}  // namespace
