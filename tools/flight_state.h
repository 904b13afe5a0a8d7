// A steady cruise of the bomber as simulator variables, for pictures of the
// panel: four engines running at cruise power, climbing gently on a
// westerly heading, undercarriage and flaps up, tanks part full.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/host.h"

namespace flight_state {

struct Setting {
    uint32_t token;
    double value;
    const char* what;
};

std::span<const Setting> cruise();

// Sets every variable of the cruise in the host.
void apply_cruise(runtime::Host& host);

}  // namespace flight_state
