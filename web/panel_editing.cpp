#include "web/panel_editing.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/output_file.h"
#include "platform/text_input.h"

namespace web {
namespace {

// Far more than any panel's, few enough that a message cannot make the
// simulation thread rewrite a file for seconds.
constexpr size_t kMostWindows = 100;
constexpr size_t kMostGauges = 5000;

nlohmann::json optional_number(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::optional<double> finite(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number()) return std::nullopt;
    const double value = found->get<double>();
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::string> text(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

// A number that may be null (left to the bitmap, not given): `given` false when malformed.
std::optional<double> nullable(const nlohmann::json& object, const char* name, bool& given) {
    const auto found = object.find(name);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_number() || !std::isfinite(found->get<double>())) {
        given = false;
        return std::nullopt;
    }
    return found->get<double>();
}

std::optional<panels::WindowLayout> parse_window(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    panels::WindowLayout window;
    const std::optional<std::string> section = text(json, "section"), file = text(json, "file");
    const auto visible = json.find("visible");
    const auto background = json.find("background");
    if (!section || !file || visible == json.end() || !visible->is_boolean() || background == json.end() ||
        !background->is_array() || background->size() != 3)
        return std::nullopt;
    window.section = *section;
    window.file = *file;
    window.visible = visible->get<bool>();
    window.background = 0;
    for (const nlohmann::json& channel : *background) {
        if (!channel.is_number_integer() || channel.get<int64_t>() < 0 || channel.get<int64_t>() > 255)
            return std::nullopt;
        window.background = window.background << 8 | static_cast<uint32_t>(channel.get<int64_t>());
    }
    if (const auto size = json.find("size_mm"); size != json.end() && !size->is_null()) {
        if (!size->is_array() || size->size() != 2 || !(*size)[0].is_number() || !(*size)[1].is_number())
            return std::nullopt;
        window.size_mm = std::pair{(*size)[0].get<double>(), (*size)[1].get<double>()};
    }
    if (const auto position = json.find("position"); position != json.end() && !position->is_null()) {
        if (!position->is_number_integer() || position->get<int64_t>() < 0 || position->get<int64_t>() > 8)
            return std::nullopt;
        window.position = static_cast<int>(position->get<int64_t>());
    }
    return window;
}

std::optional<panels::GaugeLayout> parse_gauge(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    const std::optional<std::string> window = text(json, "window"), key = text(json, "key"), name = text(json, "name");
    const std::optional<double> x = finite(json, "x"), y = finite(json, "y");
    bool given = true;
    const std::optional<double> width = nullable(json, "width", given), height = nullable(json, "height", given);
    if (!window || !key || !name || !x || !y || !given) return std::nullopt;
    return panels::GaugeLayout{*window, *key, *name, *x, *y, width, height};
}

}  // namespace

nlohmann::json layout_to_json(const panels::PanelLayout& layout) {
    nlohmann::json windows = nlohmann::json::array(), gauges = nlohmann::json::array();
    for (const panels::WindowLayout& window : layout.windows) {
        windows.push_back({{"section", window.section},
                           {"size_mm", window.size_mm ? nlohmann::json{window.size_mm->first, window.size_mm->second}
                                                      : nlohmann::json(nullptr)},
                           {"position", window.position ? nlohmann::json(*window.position) : nlohmann::json(nullptr)},
                           {"visible", window.visible},
                           {"background", {window.background >> 16 & 0xFF, window.background >> 8 & 0xFF,
                                           window.background & 0xFF}},
                           {"file", window.file}});
    }
    for (const panels::GaugeLayout& gauge : layout.gauges) {
        gauges.push_back({{"window", gauge.window},
                          {"key", gauge.key},
                          {"name", gauge.name},
                          {"x", gauge.x},
                          {"y", gauge.y},
                          {"width", optional_number(gauge.width)},
                          {"height", optional_number(gauge.height)}});
    }
    return {{"windows", windows}, {"gauges", gauges}};
}

std::optional<panels::PanelLayout> layout_from_json(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    const auto windows = json.find("windows"), gauges = json.find("gauges");
    if (windows == json.end() || gauges == json.end() || !windows->is_array() || !gauges->is_array() ||
        windows->size() > kMostWindows || gauges->size() > kMostGauges)
        return std::nullopt;
    panels::PanelLayout layout;
    for (const nlohmann::json& each : *windows) {
        std::optional<panels::WindowLayout> window = parse_window(each);
        if (!window) return std::nullopt;
        layout.windows.push_back(std::move(*window));
    }
    for (const nlohmann::json& each : *gauges) {
        std::optional<panels::GaugeLayout> gauge = parse_gauge(each);
        if (!gauge) return std::nullopt;
        layout.gauges.push_back(std::move(*gauge));
    }
    return layout;
}

SaveResult save_panel_file(const std::string& path, std::string_view loaded, std::string_view text,
                           bool overwrite) {
    namespace fs = std::filesystem;
    SaveResult result;
    std::string on_disk;
    bool exists = true;
    try {
        on_disk = platform::read_text_file(path);
    } catch (const platform::TextFileError& error) {
        std::error_code missing;
        exists = fs::exists(fs::symlink_status(path, missing));
        if (exists) {
            result.why = path + ": cannot be read (" + error.what() + "); not saved";
            return result;
        }
    }
    if (!overwrite && (!exists || on_disk != loaded)) {
        result.changed_on_disk = true;
        result.why = path + (exists ? " changed on disk since it was loaded" : " was removed since it was loaded");
        return result;
    }
    try {
        std::error_code error;
        const fs::perms permissions = fs::status(path, error).permissions();
        if (exists) {
            platform::OutputFile backup(path + ".bak");
            if (std::fwrite(on_disk.data(), 1, on_disk.size(), backup.file()) != on_disk.size())
                throw platform::OutputFileError(path + ".bak: cannot write");
            backup.commit();
        }
        platform::OutputFile out(path);
        if (std::fwrite(text.data(), 1, text.size(), out.file()) != text.size())
            throw platform::OutputFileError(path + ": cannot write");
        if (exists) fs::permissions(out.temporary_path(), permissions, error);
        out.commit(true);
    } catch (const std::exception& failure) {
        result.why = std::string(failure.what()) + "; not saved";
        return result;
    }
    result.saved = true;
    return result;
}

}  // namespace web
