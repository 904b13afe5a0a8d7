// A gauge as the host shows it: one instance of a gauge header, set up,
// updated, drawn from its records and driven by the mouse.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "frame/records.h"
#include "host/host.h"
#include "host/module.h"

namespace bench {

// What one element shows after the latest update.
struct ElementState {
    ELEMENT_HEADER* element = nullptr;
    int depth = 0;              // steps below the root in the tree
    uint32_t type = 0;
    bool visible = true;        // bit 30 clear
    uint32_t resource_id = 0;   // the bitmap drawn (icon: the frame's id)
    std::optional<uint32_t> failure_action;  // action of an active failure, if any

    double value = 0.0;         // needle, icon: the value used
    double angle = 0.0;         // needle: degrees clockwise from 3 o'clock, in [0, 360)
    uint32_t frame = 0;         // icon
    double x = 0.0, y = 0.0;    // slider: where the bitmap is drawn (bitmap pixels)
    double offset_x = 0.0, offset_y = 0.0;  // moving image: picture offset behind the window
    double shift_x = 0.0, shift_y = 0.0;    // sprite: texture shift in pixels
    double rotation = 0.0;      // sprite: degrees, positive anticlockwise
};

class GaugeInstance {
public:
    // `scale` is the displayed size over the background bitmap's size.
    GaugeInstance(Host& host, const Module& module, GAUGEHDR* gauge, double scale = 1.0);
    ~GaugeInstance();

    GAUGEHDR* gauge() const { return gauge_; }
    double scale() const { return scale_; }
    uint32_t displayed_width() const;
    uint32_t displayed_height() const;

    // Set-up: the host's data into the records, then service ids 2 and 4.
    void setup();
    // One update: element variables refreshed from the host, service id 6,
    // value callbacks, then every element evaluated.
    void update();
    // Takes the gauge down; a later setup() re-installs it.
    void kill();

    // The elements in drawing order, as of the latest update.
    const std::vector<ElementState>& elements() const { return elements_; }

    // Pointer actions at displayed pixels relative to the gauge's top-left.
    void press(int32_t x, int32_t y);   // left button down
    void move(int32_t x, int32_t y);    // pointer moves (drag while pressed)
    void repeat();                      // one repeat while the button is held
    void release();

private:
    struct Impl;
    Host& host_;
    const Module& module_;
    GAUGEHDR* gauge_;
    double scale_;
    std::vector<ElementState> elements_;
    Impl* impl_ = nullptr;
};

}  // namespace bench
