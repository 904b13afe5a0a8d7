// Panel configurations: any text gives a configuration or PanelConfigError;
// what parses keeps the promises the panel builder relies on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "panelhost/panel_config.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    panels::PanelConfig config;
    try {
        config = panels::PanelConfig::parse(text, "fuzz.cfg");
    } catch (const panels::PanelConfigError& error) {
        // Only a file without windows is wrong as a whole rather than at a line.
        FUZZ_CHECK(error.line() > 0 || std::string_view(error.what()).find("no windows") != std::string_view::npos,
                   "a parse error names its line");
        return 0;
    }
    for (const panels::PanelWindow& window : config.windows) {
        FUZZ_CHECK(
            window.width >= 0.0 && window.height >= 0.0 && std::isfinite(window.width) && std::isfinite(window.height),
            "window sizes are finite and not negative");
        FUZZ_CHECK(window.background <= 0xFFFFFFu, "background is 0xRRGGBB");
        long previous = -1;
        for (const panels::PanelGauge& gauge : window.gauges) {
            FUZZ_CHECK(!gauge.module.empty() && !gauge.gauge.empty(), "gauges name module and gauge");
            FUZZ_CHECK(std::isfinite(gauge.x) && std::isfinite(gauge.y), "positions are finite");
            FUZZ_CHECK(!gauge.width || (std::isfinite(*gauge.width) && *gauge.width > 0.0), "widths are positive");
            FUZZ_CHECK(!gauge.height || (std::isfinite(*gauge.height) && *gauge.height > 0.0), "heights are positive");
            FUZZ_CHECK(gauge.number > previous, "gauges in strictly rising number order");
            previous = gauge.number;
        }
    }
    return 0;
}
