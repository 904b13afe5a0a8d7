// The bench host's listing of a module: every gauge with its element tree,
// mouse areas, and what each element shows after set-up and one update; as
// text, or as JSON for other programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "runtime/host.h"
#include "runtime/module.h"

namespace listing {

struct ElementListing {
    int depth = 0;
    const char* kind = "";
    uint32_t bitmap = 0;
    bool visible = true;
    std::string records;            // every field the module fills in, as its record's schema lists them
    nlohmann::ordered_json fields;  // the same as JSON fields (fields_json)
    std::string shows;              // what the element shows after the update
};

struct GaugeListing {
    std::string name;  // "(no name)" for a header without one
    uint32_t header_version = 0;
    uint32_t size_mm = 0;
    nlohmann::ordered_json header = nlohmann::ordered_json::object();  // the header's fields, from its schema
    std::vector<ElementListing> elements;                              // drawing order
    std::vector<std::string> mouse_areas;
    nlohmann::ordered_json mouse_fields = nlohmann::ordered_json::array();  // one object per area, list order
    std::string error;                                                      // why the gauge cannot be shown, or empty
    bool fault = false;  // the error is a fault of the module's code or of records leading outside its memory
};

struct ModuleListing {
    std::string path;
    uint32_t module_id = 0;
    uint32_t module_version = 0;
    std::vector<std::string> unbound_imports;       // DLL!name: calling one stops the module's call
    std::vector<runtime::ModuleLibrary> libraries;  // the DLLs loaded for it
    std::vector<GaugeListing> gauges;
    std::vector<runtime::KeyEvent> key_events;  // sent by the gauges while listed
};

// Sets up and updates each gauge once at `scale`. A gauge that faults is
// listed with its fault, and the others after it all the same.
ModuleListing list_module(runtime::Host& host, const runtime::Module& module, double scale);
// The faults among the gauges' errors, each naming module, gauge and where.
std::vector<std::string> faults(const ModuleListing& listing);
void print(std::FILE* out, const ModuleListing& listing);
std::string json(const ModuleListing& listing);

// The fields of a record as the listing shows them, from its schema: every
// field but the reserved ones and the host's, numbers as stored with the
// name of one that has a name beside it (a token's variable, an event, a
// cursor), bit sets as their bits' names, addresses in hex, a string by its
// text read from `memory` (when given); the fields of a record embedded at
// its start (an element's header) as its own, those of one embedded further
// on (a variable) under its name. `bytes` holds record.size bytes.
std::string describe_fields(const frame::RecordInfo& record, const uint8_t* bytes,
                            const runtime::ModuleMemory* memory = nullptr);

// The same fields as a JSON object, from the same schema: numbers as numbers,
// addresses as numbers or null, bit sets as arrays of their bits' names, a
// number's name beside it ("variable", "event", "cursor_name"), a string as
// its text (null when it cannot be read, its address then beside it as
// <field>_address), a record embedded further on as an object under its name.
nlohmann::ordered_json fields_json(const frame::RecordInfo& record, const uint8_t* bytes,
                                   const runtime::ModuleMemory* memory = nullptr);

}  // namespace listing
