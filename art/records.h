// What the art takes from the loaded module: where each needle turns and to
// which angle a reading sends it, where windows, sprites, icons, sliders and
// mouse boxes lie. Reading all of it from the records keeps the pictures and
// the records from drifting apart.
#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame/records.h"
#include "runtime/module.h"

namespace art {

// A gauge the module does not (yet) hold.
class MissingGauge : public std::runtime_error {
public:
    explicit MissingGauge(std::string gauge)
        : std::runtime_error("the module has no gauge \"" + gauge + "\""), gauge_(std::move(gauge)) {}
    const std::string& gauge() const { return gauge_; }

private:
    std::string gauge_;
};

// A needle as its record gives it, read from the module's memory.
class Needle {
public:
    Needle(const runtime::Module& module, frame::GuestPtr<guest::ELEMENT_NEEDLE> element)
        : module_(&module), element_(element) {}

    // The pivot on the background and inside the needle bitmap.
    int32_t centre_x() const { return record().header.position_x; }
    int32_t centre_y() const { return record().header.position_y; }
    int32_t ofs_x() const { return record().header.ofs_x; }
    int32_t ofs_y() const { return record().header.ofs_y; }

    bool has_table() const { return record().nonlinearity && record().nonlinearity_size > 0; }
    std::vector<guest::NONLINEARITY> table() const;

    // Degrees clockwise from 3 o'clock, in [0, 360), for a dial reading: on
    // the calibration table when there is one, otherwise what the needle's
    // callback returns with its variable at `reading` (a fault there throws
    // runtime::GaugeFault naming the module and the needle).
    double angle(double reading) const;

private:
    guest::ELEMENT_NEEDLE record() const { return module_->records().read(element_); }

    const runtime::Module* module_;
    frame::GuestPtr<guest::ELEMENT_NEEDLE> element_;
};

// An absolute box (background pixels).
struct Box {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// An element of the gauge: where it lies in the module's memory, and its
// header as read there.
struct Element {
    runtime::ElementPtr at;
    guest::ELEMENT_HEADER header;
};

class Records {
public:
    explicit Records(const runtime::Module& module) : module_(module) {}

    bool has_gauge(std::string_view name) const { return static_cast<bool>(module_.gauge(name)); }

    // The gauge's elements in drawing order (tree walked depth first).
    // Throws MissingGauge.
    std::vector<Element> elements(std::string_view gauge) const;
    // The first element of the gauge that names `resource_id`; throws
    // MissingGauge, or std::runtime_error when no element names it.
    Element element(std::string_view gauge, uint32_t resource_id) const;
    // The whole record of an element, as the kind of record it is stored in.
    template <typename Record>
    Record read(const Element& element) const {
        return module_.records().read(element.at.cast<Record>());
    }
    template <typename Record>
    Record as(std::string_view gauge, uint32_t resource_id) const {
        return read<Record>(element(gauge, resource_id));
    }
    Needle needle(std::string_view gauge, uint32_t resource_id) const;

    // Where an element's bitmap lies on the background: its position and the
    // size of bitmap `id` (the element's own, or its mask at id + 1, which is
    // the window of a moving image or sprite).
    static Box placed(const guest::ELEMENT_HEADER& element, uint32_t id);
    static Box placed(const guest::ELEMENT_HEADER& element) { return placed(element, element.resource_id); }
    static Box placed(const Element& element) { return placed(element.header); }
    static Box window(const guest::ELEMENT_HEADER& element) { return placed(element, element.resource_id + 1); }
    static Box window(const Element& element) { return window(element.header); }

    // The boxes of the mouse list's nested parents and of their children, in
    // list order, made absolute.
    std::vector<Box> mouse_parents(std::string_view gauge) const;
    std::vector<Box> mouse_children(std::string_view gauge) const;

private:
    guest::GAUGEHDR require(std::string_view gauge) const;
    const runtime::Module& module_;
};

}  // namespace art
