// A gauge as the host shows it: one instance of a gauge header, set up,
// updated, drawn from its records and driven by the mouse.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/records.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/mouse.h"

namespace runtime {

// What one element shows after the latest update.
//
// Failures: the first record of an element's failure list whose key is failed
// in the host gives failure_action. The host's actions:
//   0  the element freezes: every value field keeps its last state;
//   1  it freezes and `greyed` is set, so the renderer draws it greyed out;
//   2  a needle parks: it falls to its dial's zero reading, a reading of 0
//      through its own mapping (its callback, lent the reading 0, then its
//      table, or the callback's result as the angle) and stays there; other
//      kinds freeze as for 0.
// Any other action freezes as for 0. Visibility always follows bit 30. An
// element that freezes before its first evaluation keeps its rest state (a
// needle at its parked angle, an icon at frame 0, a slider at its position,
// offsets, shifts and rotation 0).
// Where an element is drawn: its header's position, offsets and image flags
// (and a sprite's texture scale) as the gauge's latest update left them. The
// floors above draw by these, never by the module's memory.
struct Placement {
    int32_t position_x = 0, position_y = 0;
    int32_t ofs_x = 0, ofs_y = 0;
    uint32_t image_flags = 0;
    float texture_scale_x = 1.0f, texture_scale_y = 1.0f;  // sprites only
};

// A gauge's first element, its background: the bitmap its header names and
// how that is drawn.
struct Background {
    uint32_t resource_id = 0;
    uint32_t image_flags = 0;
};

struct ElementState {
    ElementPtr element;
    int depth = 0;  // steps below the root in the tree
    uint32_t type = 0;
    bool visible = true;                     // bit 30 clear
    uint32_t resource_id = 0;                // the bitmap drawn (icon: the frame's id)
    std::optional<uint32_t> failure_action;  // action of an active failure, if any
    bool greyed = false;                     // failure action 1: drawn greyed out

    double value = 0.0;                         // needle, icon: the value used
    double angle = 0.0;                         // needle: degrees clockwise from 3 o'clock, in [0, 360)
    uint32_t frame = 0;                         // icon
    double x = 0.0, y = 0.0;                    // slider: where the bitmap is drawn (bitmap pixels)
    double offset_x = 0.0, offset_y = 0.0;      // moving image: picture offset behind the window
    double fraction_x = 0.0, fraction_y = 0.0;  // moving image: 0 at min .. 1 at max (known without bitmaps)
    double shift_x = 0.0, shift_y = 0.0;        // sprite: texture shift in pixels
    double rotation = 0.0;                      // sprite: degrees, positive anticlockwise
    // The tokens of the variables the element shows, in its record's order
    // (0: none), as its records name them.
    std::array<uint32_t, 3> sources{};
    Placement placement;
};

// Module code of a gauge that faulted, or records of a gauge that lead
// outside its module's memory; the message names module, gauge and what the
// host was doing.
class GaugeFault : public platform::CodeFault {
public:
    explicit GaugeFault(const std::string& message) : CodeFault(Kind::kOther, 0, 0, message) {}
    // `cause` is the fault itself: a ModuleFault, or inside the runtime the
    // machine's own.
    GaugeFault(const std::string& message, const platform::CodeFault& cause)
        : CodeFault(cause.kind(), cause.address(), cause.pc(), message) {}
};

class GaugeInstance {
public:
    // `scale` is the displayed size over the background bitmap's size, in
    // (0, kMaxScale]. Throws std::invalid_argument for a null gauge or a scale
    // out of range, MouseListError for a malformed mouse list, GaugeFault for
    // records that lead outside the module's memory.
    GaugeInstance(Host& host, const Module& module, GaugePtr gauge, double scale = 1.0);
    // Takes the gauge down as kill() does, so no record keeps a pointer into
    // this instance.
    ~GaugeInstance();
    GaugeInstance(const GaugeInstance&) = delete;
    GaugeInstance& operator=(const GaugeInstance&) = delete;

    static constexpr double kMaxScale = 16.0;
    // Elements walked from the header at most; a longer (or looping) tree is
    // cut there.
    static constexpr size_t kMaxElements = 4096;

    GaugePtr gauge() const { return gauge_; }
    const Module& module() const { return module_; }
    const Host& host() const { return host_; }
    // The gauge's name as its header gives it.
    const std::string& name() const { return name_; }
    double scale() const { return scale_; }
    uint32_t displayed_width() const;
    uint32_t displayed_height() const;

    // Set-up: a host image for every static image, its address into the
    // element's `image` field (the records are shared by every instance of a
    // gauge, so the latest set up wins). The image's three 32-bit fields are
    // the displayed width, the bitmap id and the displayed height (the
    // bitmap's size times the scale, rounded; 0 for a bitmap of unknown
    // size). Then service ids 2 and 4, with extra word 0.
    void setup();
    // One update: every embedded variable with a token refreshed from the
    // host's store, service id 6, then every element evaluated in drawing
    // order. Value callbacks are asked only for visible elements without an
    // active failure (a needle parked, or frozen before its first
    // evaluation, lends its callback the reading 0); a hidden element keeps
    // its last state (it does not hide the elements listed under it). A
    // rate-limited needle moves from its previous place by at most its limit
    // along its scale: through its table's points in order, or, without a
    // table, in the angle as given, never wrapped, so it never takes the
    // short way round through the part of the dial its scale leaves out. Its
    // first update jumps. Sets the gauge up first if it is not.
    void update();
    // Takes the gauge down: the image fields it set (and still holding its
    // images) are cleared and its state forgotten; a later setup() re-installs.
    void kill();
    bool is_set_up() const;

    // The gauge's mouse boxes, in background-bitmap pixels.
    const MouseLayout& mouse_layout() const;

    // The elements in drawing order, as of the latest update.
    const std::vector<ElementState>& elements() const { return elements_; }
    // The background as the records said when the gauge was made, then after
    // each update; none when the gauge has no element.
    const std::optional<Background>& background() const { return background_; }

    // Pointer actions at displayed pixels relative to the gauge's top-left.
    // A press goes to the first child box in list order that holds the point
    // and reacts to a press (click bit 29 or drag bit 23); where boxes overlap
    // only that one acts. Acting on a box sends its key event (value 0) if it
    // has one and calls its handler if it has one, with the point relative to
    // the box's displayed top-left. Handler flags: the box's click and drag
    // bits on the press, 0x00200000 on a repeat, 0x00800000 on a drag move.
    void press(int32_t x, int32_t y);  // left button down (sets the gauge up if it is not)
    void move(int32_t x, int32_t y);   // pointer moves: a drag box held acts again, wherever the pointer is
    void repeat();                     // a box with bit 21 held acts again while the pointer is on it
    void release();
    // The box under the pointer, whose cursor and tooltip show there: the one
    // a press would go to, else the first child box in list order holding the
    // point (a box that only explains). Null over none.
    const MouseBox* box_under(int32_t x, int32_t y) const;
    // The help id shown at the point: the box under it's, else the innermost
    // parent's around the point that has one; 0 for none.
    uint32_t help_under(int32_t x, int32_t y) const;
    // Every action a child box takes, once: press at its displayed centre,
    // repeat, drag 3 pixels down, let go. Returns the centre pressed.
    guest::PIXPOINT exercise(const MouseBox& box);

private:
    struct Impl;
    void clear_images();
    void update_now();
    void call_gauge(uint32_t service_id);
    ElementState rest_state(ElementPtr element, int depth) const;
    // Calls module code; a fault there becomes a GaugeFault naming this gauge
    // and `what` was called.
    double call_value(uint32_t code, uint32_t record, std::string_view what) const;
    double park(ElementState& state) const;  // returns the place along the scale
    void evaluate(size_t index, ElementState& state);
    void act(const MouseBox& box, int64_t x, int64_t y, uint32_t flags);

    Host& host_;
    const Module& module_;
    GaugePtr gauge_;
    std::string name_;
    double scale_;
    std::vector<ElementState> elements_;
    std::optional<Background> background_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace runtime
