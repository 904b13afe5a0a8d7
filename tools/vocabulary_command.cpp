#include "tools/vocabulary_command.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/vocabulary_names.h"

namespace vocabulary_command {
namespace {

using gaugebench::ExitStatus;

// One variable or event as the table and the JSON show it.
struct Entry {
    const char* kind;
    std::string name;
    uint32_t number = 0;
    const char* unit = nullptr;  // null: an event that carries no value
    std::optional<sim::Range> range;
    const char* what;
};

std::vector<Entry> entries() {
    std::vector<Entry> out;
    sim::names_detail::each(sim::kVariables, [&](std::string name, uint32_t token, const sim::NamedVariable& entry) {
        out.push_back({"variable", std::move(name), token, entry.reading.unit, entry.range, entry.what});
        return false;
    });
    sim::names_detail::each(sim::kEvents, [&](std::string name, uint32_t id, const sim::NamedEvent& entry) {
        const bool carries = entry.value.unit != nullptr;
        out.push_back({"event", std::move(name), id, entry.value.unit,
                       carries ? std::optional(entry.value.range) : std::nullopt, entry.what});
        return false;
    });
    return out;
}

// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
size_t columns(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string table(const std::vector<Entry>& all) {
    std::vector<std::array<std::string, 5>> rows;
    std::string_view kind;
    for (const Entry& entry : all) {
        if (kind != entry.kind) {
            if (!kind.empty()) rows.push_back({});
            kind = entry.kind;
            rows.push_back(kind == "variable"
                               ? std::array<std::string, 5>{"VARIABLE", "TOKEN", "UNIT", "RANGE", "MEANING"}
                               : std::array<std::string, 5>{"EVENT", "ID", "VALUE", "RANGE", "MEANING"});
        }
        const std::string unit = entry.unit == nullptr || entry.unit[0] == '\0' ? "-" : entry.unit;
        rows.push_back({entry.name, std::to_string(entry.number), unit,
                        entry.range ? sim::range_text(*entry.range) : "-", entry.what});
    }
    std::array<size_t, 5> width{};
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], columns(row[i]));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size() && !row[0].empty(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(width[i] - columns(row[i]) + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

std::string json(const std::vector<Entry>& all) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const Entry& entry : all) {
        nlohmann::ordered_json item;
        item["kind"] = entry.kind;
        item["name"] = entry.name;
        item["number"] = entry.number;
        item["unit"] = entry.unit != nullptr ? nlohmann::ordered_json(entry.unit) : nlohmann::ordered_json();
        item["range"] = entry.range ? nlohmann::ordered_json{{"low", entry.range->low}, {"high", entry.range->high}}
                                    : nlohmann::ordered_json();
        item["meaning"] = entry.what;
        out.push_back(std::move(item));
    }
    return out.dump(2) + "\n";
}

}  // namespace

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto json_path = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "vocabulary",
        "List every variable and key event by name, with its number (token or event id), unit, range and meaning");
    gaugebench::add_json_option(*command, *json_path,
                                "also write the list as JSON ('-': on stdout, instead of the table)");
    commands.push_back({command, [json_path] {
                            const std::string& path = *json_path;
                            gaugebench::CommandFiles files;
                            files.write(path, "--json");
                            const std::vector<Entry> all = entries();
                            if (path != "-") std::fputs(table(all).c_str(), stdout);
                            if (!path.empty()) gaugebench::write_text(path, json(all));
                            return ExitStatus::kSuccess;
                        }});
}

}  // namespace vocabulary_command
