// Expected records of a gauge, and the walk that compares a loaded gauge with
// them: its place in the gauge table, the header, the element tree with every
// embedded variable, calibration table and failure list, the mouse list and the
// stand-alone variables behind the header. A data typo shows up as a named
// field of a named element of a named gauge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "frame/records.h"
#include "host/module.h"

namespace gauge_records {

struct Pixel {
    int32_t x = 0;
    int32_t y = 0;
};

struct Failure {
    uint32_t key = 0;
    uint32_t action = 0;
};
bool operator==(const Failure& a, const Failure& b);
void PrintTo(const Failure& failure, std::ostream* os);

// nullopt: the element has no list at all; an empty vector: a list that holds
// only its terminator.
using FailureList = std::optional<std::vector<Failure>>;

struct TablePoint {
    int32_t x = 0;
    int32_t y = 0;
    double value = 0.0;
};

// One element. Fields a kind does not have stay at their defaults, and so must
// the record's fields they stand for: zero, or null for a callback.
struct Element {
    uint32_t type = kStaticImage;
    uint32_t bitmap = 0;
    Pixel position = {};
    Pixel pivot = {};  // needle pivot, sprite texture centre
    uint32_t flags = 0;
    FailureList failures = {};

    // Needle and icon: the source; slider, moving image and sprite: the y axis.
    uint32_t token = 0;
    bool callback = false;
    int32_t max_degrees = 0;             // needle
    std::vector<TablePoint> table = {};  // needle
    uint32_t frames = 0;                 // icon

    // Slider, moving image and sprite: the x axis.
    uint32_t token_x = 0;
    bool callback_x = false;
    double min_x = 0.0, max_x = 0.0, min_y = 0.0, max_y = 0.0;  // moving image
    double scale_x = 0.0, scale_y = 0.0;                        // slider, sprite

    uint32_t rotation_token = 0;  // sprite
    double scale_rotation = 0.0;
    bool rotation_callback = false;
    float texture_scale_x = 0.0f;
    float texture_scale_y = 0.0f;
};

struct Mouse {
    uint32_t type = kMouseEnd;
    int32_t x = 0, y = 0, width = 0, height = 0;
    int32_t cursor = -1;
    uint32_t help_id = 0;
    uint32_t flags = 0;
    uint32_t event_id = 0;
    bool handler = false;
};

// How the elements hang together below the gauge's one root.
enum class Shape {
    kChain,  // each element's list holds the next one only
    kFan,    // the root's list holds all the others, which have no lists
};

struct Gauge {
    std::string name;
    size_t entry = 0;           // place in the host's gauge table
    bool own_callback = false;  // false: the module's shared empty callback
    Shape shape = Shape::kChain;
    std::vector<Element> elements = {};     // drawing order, the background first
    std::vector<Mouse> mouse = {};          // up to and with the end record
    std::vector<uint32_t> standalone = {};  // tokens of the variables behind the header
};

// The mouse list of a gauge whose only box is the whole gauge.
std::vector<Mouse> whole_gauge_mouse(uint32_t help_id);
// The mouse list of a gauge with one box, `box`, holding `children`, inside
// the whole gauge's box.
std::vector<Mouse> boxed_mouse(uint32_t help_id, const Mouse& box, const std::vector<Mouse>& children);

// Every record of the gauge named `want.name` in the loaded module against
// `want`.
void check_gauge(const bench::Module& module, const Gauge& want);

// One record, as the bytes it takes in the loaded module.
struct Record {
    uintptr_t begin = 0, end = 0;
    std::string owner;  // the gauge's name
    std::string what;
};

// The records the gauge's header reaches: itself, its stand-alone variables,
// element lists, elements, calibration tables, failure lists and mouse list.
std::vector<Record> records_of(const GAUGEHDR& gauge, size_t standalone_count);

// Every gauge keeps its own copy of every record: no two records of the given
// gauges overlap, within one gauge or between two (a gauge's elements share
// its one failure list, which counts once).
void expect_records_apart(const bench::Module& module, const std::vector<Gauge>& gauges);

// The callback the module's gauges without code of their own share: the one
// most of its headers hold.
GaugeCallback shared_empty_callback(const bench::Module& module);

}  // namespace gauge_records
