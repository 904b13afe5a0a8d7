// The coupling between the flight model and the panel: which JSBSim property
// fills which simulator variable, converted to the unit the host keeps.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/variables.h"

namespace flightmodel {

// A radio beacon the direction finder is tuned to, and the time of day at the
// model's time zero: the model knows neither.
struct Surroundings {
    double beacon_latitude_deg = 52.10;
    double beacon_longitude_deg = -0.60;
    double start_of_day_seconds = 14.0 * 3600.0;
};

// The pressure setting the altimeter's reading assumes when the panel has set
// none (a store value outside a plausible range).
inline constexpr double kStandardSettingMb = 1013.25;
// Feet of indicated altitude per millibar of setting, near the ground.
inline constexpr double kFeetPerMillibar = 27.31;

class Coupling {
public:
    struct Binding {
        uint32_t token = 0;
        std::string what;
        std::array<int, 3> inputs{};  // indices into properties()
        int input_count = 0;
        double (*convert)(const double* in, const Surroundings&, double setting_mb) = nullptr;
    };

    explicit Coupling(Surroundings surroundings = {});

    // The JSBSim properties read, each once, and a caption for each that is
    // unique (this JSBSim drops indices from its column labels).
    const std::vector<std::string>& properties() const { return properties_; }
    const std::vector<std::string>& captions() const { return captions_; }
    const std::vector<Binding>& bindings() const { return bindings_; }
    const Surroundings& surroundings() const { return surroundings_; }

    // Index of a property in properties(); -1 when the coupling reads none.
    int property_index(const std::string& property) const;

    // Sets every bound variable from one model frame (values in the order of
    // properties()). The pressure setting is the panel's: it is read, never
    // written. Throws std::invalid_argument for a frame of the wrong size.
    void apply(std::span<const double> frame, bench::VariableStore& vars) const;

    // JSBSim output directive that writes every property at `rate_hz` as CSV
    // to `file` (a path as JSBSim resolves it).
    std::string output_directive(const std::string& file, int rate_hz) const;

private:
    int add_property(const std::string& property);

    Surroundings surroundings_;
    std::vector<std::string> properties_;
    std::vector<std::string> captions_;
    std::vector<Binding> bindings_;
};

// Relative bearing of the beacon, degrees clockwise from the nose in
// (-180, 180], from the aircraft's position and true heading.
double relative_bearing(double latitude_deg, double longitude_deg, double heading_deg, double beacon_latitude_deg,
                        double beacon_longitude_deg);

}  // namespace flightmodel
