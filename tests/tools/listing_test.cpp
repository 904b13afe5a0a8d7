// gaugebench list's account of a record, written from the record's schema: it
// must name every field the module fills in under the schema's name, at the
// schema's offset, and nothing the host writes or that stays reserved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/records.h"
#include "frame/vocabulary.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"
#include "tools/listing.h"

namespace {

// A needle's record as a module stores it, every field given a value the
// listing can be recognised by; reserved and host fields hold junk that must
// not show.
std::vector<uint8_t> needle_bytes() {
    guest::ELEMENT_NEEDLE needle{};
    needle.header.element_type = kNeedle;
    needle.header.resource_id = 335;
    needle.header.position_x = -7;
    needle.header.ofs_y = 10;
    needle.header.next_element_list = decltype(needle.header.next_element_list)(0x10002000u);
    needle.header.image_flags = kFlagsOverlay;
    needle.header.reserved_3 = 0x5555;
    needle.source.token = 351;
    needle.source.value = 1234.5;
    needle.nonlinearity_size = 4;
    needle.max_degrees_per_tick = 6;
    needle.update_callback = guest::NeedleCallback(0x10001F54u);
    std::memset(needle.reserved_3, 0x77, sizeof needle.reserved_3);
    std::vector<uint8_t> bytes(sizeof needle);
    std::memcpy(bytes.data(), &needle, sizeof needle);
    return bytes;
}

TEST(ListingFields, ShowsEveryFieldTheModuleFillsInAsStored) {
    const std::string text = listing::describe_fields(frame::schema_of<guest::ELEMENT_NEEDLE>(), needle_bytes().data());
    // What the field holds decides how it reads: numbers in decimal, bit sets
    // by their bits' names, addresses in hex or null, routines as code.
    for (const char* shown :
         {"element_type 1", "resource_id 335", "position_x -7", "ofs_y 10", "next_element_list 0x10002000",
          "failure_records null", "image_flags [transparent_black overlay buffered]",
          "source.token 351 (normal_acceleration)", "nonlinearity null", "nonlinearity_size 4",
          "max_degrees_per_tick 6", "update_callback code 0x10001F54"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << "no \"" << shown << "\" in: " << text;
    }
}

TEST(ListingFields, LeavesOutReservedFieldsAndTheHostsOwn) {
    const std::string text = listing::describe_fields(frame::schema_of<guest::ELEMENT_NEEDLE>(), needle_bytes().data());
    for (const char* hidden : {"reserved", "source.value", "1234.5", "21845"}) {
        EXPECT_EQ(text.find(hidden), std::string::npos) << "\"" << hidden << "\" in: " << text;
    }
}

// A record embedded at the start is the record's own header; one further in
// is named as a part.
TEST(ListingFields, NamesEmbeddedRecordsByWhereTheyLie) {
    guest::ELEMENT_SPRITE sprite{};
    sprite.source_rotation.token = 80;
    sprite.scale_rotation = -1.0;
    sprite.texture_scale_y = 0.25f;
    std::vector<uint8_t> bytes(sizeof sprite);
    std::memcpy(bytes.data(), &sprite, sizeof sprite);
    const std::string text = listing::describe_fields(frame::schema_of<guest::ELEMENT_SPRITE>(), bytes.data());
    EXPECT_EQ(text.find("header."), std::string::npos) << text;
    for (const char* shown : {"source_x.token 0", "source_rotation.token 80", "scale_rotation -1",
                              "texture_scale_y 0.25", "texture_scale_x 1", "callback_rotation null"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << "no \"" << shown << "\" in: " << text;
    }
}

// Numbers the vocabulary or the records name are listed with their names,
// in the text and in the JSON alike; bits without a name by their number.
TEST(ListingFields, NamesEventsCursorsAndFlags) {
    guest::MOUSERECT rect{};
    rect.rect_type = kMouseChild;
    rect.cursor = kCursorHand;
    rect.event_id = sim::event::kClockMinuteBack;
    rect.mouse_flags = kMouseClickRepeat | 1u << 3;
    std::vector<uint8_t> bytes(sizeof rect);
    std::memcpy(bytes.data(), &rect, sizeof rect);
    const frame::RecordInfo& schema = frame::schema_of<guest::MOUSERECT>();
    const std::string text = listing::describe_fields(schema, bytes.data());
    for (const char* shown :
         {"cursor 5 (hand)", "event_id 65657 (clock_minute_back)", "mouse_flags [bit 3 repeat click]"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << "no \"" << shown << "\" in: " << text;
    }
    const nlohmann::ordered_json json = listing::fields_json(schema, bytes.data());
    EXPECT_EQ(json.at("cursor_name"), "hand");
    EXPECT_EQ(json.at("event"), "clock_minute_back");
    EXPECT_EQ(json.at("mouse_flags"), nlohmann::ordered_json({"bit 3", "repeat", "click"}));
}

// A field pointing to a string shows the string; its address only where the
// string cannot be read.
TEST(ListingFields, ShowsStringsNotTheirAddresses) {
    static char name[] = "Clock\0";
    emulator::GuestMemory memory;
    memory.add({.base = 0x10000000, .size = sizeof name, .host = reinterpret_cast<uint8_t*>(name), .name = "data"});
    const runtime::ModuleMemory records(memory);
    struct Case {
        uint32_t address;
        nlohmann::ordered_json json;  // gauge_name
        const char* text;
        bool address_listed;
    };
    const Case cases[] = {
        {0x10000000, "Clock", "gauge_name \"Clock\"", false},
        {0x20000000, nullptr, "gauge_name unreadable at 0x20000000", true},
        {0, nullptr, "gauge_name null", false},
    };
    for (const Case& c : cases) {
        guest::GAUGEHDR header{};
        header.gauge_name = frame::GuestPtr<const char>(c.address);
        std::vector<uint8_t> bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        const frame::RecordInfo& schema = frame::schema_of<guest::GAUGEHDR>();
        const nlohmann::ordered_json json = listing::fields_json(schema, bytes.data(), &records);
        EXPECT_EQ(json.at("gauge_name"), c.json) << c.address;
        EXPECT_EQ(json.contains("gauge_name_address"), c.address_listed) << c.address;
        const std::string text = listing::describe_fields(schema, bytes.data(), &records);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
    }
}

// gaugebench list --json: a gauge's records and mouse areas as fields a
// program reads by name, not as text to take apart.
TEST(ListingJson, GivesRecordsAndMouseAreasAsFields) {
    runtime::Host host;
    const runtime::Module module(host, test_paths::module("Korvane.gau"));
    const nlohmann::json document = nlohmann::json::parse(listing::json(listing::list_module(host, module, 1.0)));
    const auto& gauges = document.at("gauges");
    const auto altimeter =
        std::find_if(gauges.begin(), gauges.end(), [](const auto& g) { return g.at("name") == "Altimeter"; });
    ASSERT_NE(altimeter, gauges.end());
    EXPECT_EQ(altimeter->at("header").at("gauge_name"), "Altimeter");

    bool named_variable = false;
    for (const auto& element : altimeter->at("elements")) {
        const auto& records = element.at("records");
        EXPECT_TRUE(records.at("resource_id").is_number_integer());
        ASSERT_TRUE(records.at("image_flags").is_array());
        for (const auto& flag : records.at("image_flags")) EXPECT_TRUE(flag.is_string());
        EXPECT_FALSE(records.contains("reserved_3"));
        if (records.contains("source")) named_variable |= records.at("source").at("variable").is_string();
    }
    EXPECT_TRUE(named_variable) << "no needle names the variable it reads";

    const auto& areas = altimeter->at("mouse_areas");
    ASSERT_FALSE(areas.empty());
    EXPECT_EQ(areas.at(0).at("help_text"), "Altimeter");
    for (const auto& area : areas) {
        EXPECT_TRUE(area.at("area").at("width").is_number_integer());
        EXPECT_TRUE(area.at("mouse_flags").is_array());
        EXPECT_TRUE(area.at("help_id").is_number_integer());
    }
}

}  // namespace
