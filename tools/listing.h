// The bench host's listing of a module: every gauge with its element tree,
// mouse areas, and what each element shows after set-up and one update; as
// text, or as JSON for other programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module.h"

namespace listing {

struct ElementListing {
    int depth = 0;
    const char* kind = "";
    uint32_t bitmap = 0;
    bool visible = true;
    std::string records;  // what the records say
    std::string shows;    // what the element shows after the update
};

struct GaugeListing {
    std::string name;  // "(no name)" for a header without one
    uint32_t header_version = 0;
    uint32_t size_mm = 0;
    std::vector<ElementListing> elements;  // drawing order
    std::vector<std::string> mouse_areas;
    std::string error;  // why the gauge cannot be shown, or empty
};

struct ModuleListing {
    std::string path;
    uint32_t module_id = 0;
    uint32_t module_version = 0;
    std::vector<GaugeListing> gauges;
    std::vector<bench::KeyEvent> key_events;  // sent by the gauges while listed
};

// Sets up and updates each gauge once at `scale`.
ModuleListing list_module(bench::Host& host, const bench::Module& module, double scale);
void print(std::FILE* out, const ModuleListing& listing);
std::string json(const ModuleListing& listing);

}  // namespace listing
