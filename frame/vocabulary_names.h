// The vocabulary's names looked up both ways, for the host's readers and
// writers (scenarios, listings, the live page): a name to its number and
// back. The names themselves are frame/vocabulary.h's; this header only
// spells out the per-engine and per-tank members of a family.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/vocabulary.h"

namespace sim {

// One member of a family: the full name and its number.
template <typename Entry>
struct Named {
    std::string name;
    uint32_t number = 0;
    const Entry* entry = nullptr;
};

using Variable = Named<NamedVariable>;
using Event = Named<NamedEvent>;

namespace names_detail {

constexpr int members(Family family) {
    if (family == Family::kEngine) return kEngineCount;
    if (family == Family::kTank) return token::kTankCount;
    return 1;
}

inline std::string member_name(const char* stem, Family family, int index) {
    if (family == Family::kEngine) return std::string(stem) + "." + std::to_string(index + 1);
    if (family == Family::kTank) return std::string(stem) + "." + kTankNames[index];
    return stem;
}

inline uint32_t number_of(const NamedVariable& entry, int index) { return entry.token(index); }
inline uint32_t number_of(const NamedEvent& entry, int index) { return entry.event(index); }

// Calls visit(full name, number, entry) for every member of every family
// until it returns true.
template <typename Entry, size_t N, typename Visit>
bool each(const Entry (&table)[N], Visit&& visit) {
    for (const Entry& entry : table) {
        for (int index = 0; index < members(entry.family); ++index) {
            if (visit(member_name(entry.name, entry.family, index), number_of(entry, index), entry)) return true;
        }
    }
    return false;
}

// The first member for which match(full name, number) holds.
template <typename Entry, size_t N, typename Match>
std::optional<Named<Entry>> first(const Entry (&table)[N], Match&& match) {
    std::optional<Named<Entry>> found;
    each(table, [&](std::string full, uint32_t number, const Entry& entry) {
        if (!match(full, number)) return false;
        found = Named<Entry>{std::move(full), number, &entry};
        return true;
    });
    return found;
}

template <typename Entry, size_t N>
std::optional<Named<Entry>> by_name(const Entry (&table)[N], std::string_view name) {
    return first(table, [&](const std::string& full, uint32_t) { return full == name; });
}

template <typename Entry, size_t N>
std::optional<Named<Entry>> by_number(const Entry (&table)[N], uint32_t number) {
    return first(table, [&](const std::string&, uint32_t candidate) { return candidate == number; });
}

template <typename Entry, size_t N>
std::vector<std::string> all_names(const Entry (&table)[N]) {
    std::vector<std::string> names;
    each(table, [&](std::string full, uint32_t, const Entry&) {
        names.push_back(std::move(full));
        return false;
    });
    return names;
}

}  // namespace names_detail

inline std::optional<Variable> find_variable(std::string_view name) { return names_detail::by_name(kVariables, name); }
inline std::optional<Variable> variable_of(uint32_t token) { return names_detail::by_number(kVariables, token); }
inline std::vector<std::string> variable_names() { return names_detail::all_names(kVariables); }

inline std::optional<Event> find_event(std::string_view name) { return names_detail::by_name(kEvents, name); }
inline std::optional<Event> event_of(uint32_t id) { return names_detail::by_number(kEvents, id); }
inline std::vector<std::string> event_names() { return names_detail::all_names(kEvents); }

// "180 kt", "0.5 full", "71.58%": a value in the unit people read it in, to
// the thousandth a dial can be read to at best.
inline std::string reading_text(double value, const unit::Reading& reading) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string out = text;
    if (out.find_first_of("0123456789") != std::string::npos && out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    if (out == "-0") out = "0";
    if (reading.unit[0] != '\0') {
        const bool tight = std::string_view(reading.unit) == "%" || std::string_view(reading.unit) == "\u00B0";
        out += (tight ? "" : " ") + std::string(reading.unit);
    }
    return out;
}

// A unit by its symbol as a Reading names it, or null.
inline const unit::Unit* unit_of(std::string_view symbol) {
    for (const unit::Unit& entry : unit::kUnits) {
        if (symbol == entry.symbol) return &entry;
    }
    return nullptr;
}

// Whether `spelled` is one of the unit's spellings (its symbol or another).
inline bool spells(const unit::Unit& entry, std::string_view spelled) {
    if (spelled == entry.symbol) return true;
    for (const char* other : entry.also) {
        if (other != nullptr && spelled == other) return true;
    }
    return false;
}

// A value given in the unit spelled `spelled`, in the reading's own unit:
// the same unit spelled any of its ways, or one that converts to it without
// physics (50 % of a tank is 0.5 full). Nullopt for any other unit.
inline std::optional<double> in_reading_unit(double value, std::string_view spelled, const unit::Reading& reading) {
    const unit::Unit* own = unit_of(reading.unit);
    if (own == nullptr) return std::nullopt;
    if (spells(*own, spelled)) return value;
    for (const unit::Conversion& conversion : unit::kConversions) {
        const unit::Unit* from = unit_of(conversion.from);
        if (std::string_view(conversion.to) == reading.unit && from != nullptr && spells(*from, spelled)) {
            return value * conversion.factor;
        }
    }
    return std::nullopt;
}

// Every spelling a value of this reading may carry, "kt, kts, knots, kn".
inline std::string spellings_text(const unit::Reading& reading) {
    std::string text;
    const auto add = [&text](const unit::Unit& entry) {
        for (const char* spelled : {entry.symbol, entry.also[0], entry.also[1], entry.also[2], entry.also[3]}) {
            if (spelled != nullptr) text += (text.empty() ? "" : ", ") + std::string(spelled);
        }
    };
    if (const unit::Unit* own = unit_of(reading.unit)) add(*own);
    for (const unit::Conversion& conversion : unit::kConversions) {
        const unit::Unit* from = unit_of(conversion.from);
        if (std::string_view(conversion.to) == reading.unit && from != nullptr) add(*from);
    }
    return text;
}

// Whether a value lies in the range, its ends included; a value a unit's
// conversion carried a rounding off an end (a few units in the last place)
// is still in, one written beyond it (a heading of 360.0000001) is not.
inline bool within(const Range& range, double value) {
    const double slack =
        8.0 * std::numeric_limits<double>::epsilon() * std::max({1.0, std::abs(range.low), std::abs(range.high)});
    return value >= range.low - slack && value <= range.high + slack;
}

// "0 to 1", each end to the thousandth.
inline std::string range_text(const Range& range) {
    return reading_text(range.low, unit::kSame) + " to " + reading_text(range.high, unit::kSame);
}

// A token's value as people read it ("airspeed = 180 kt"), or as the host
// keeps it for a token without a name ("62 = 0").
inline std::string describe_token(uint32_t token, double host_value) {
    if (const std::optional<Variable> named = variable_of(token)) {
        const unit::Reading& reading = named->entry->reading;
        return named->name + " = " + reading_text(reading.from_host(host_value), reading);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%u = %g", token, host_value);
    return text;
}

}  // namespace sim
