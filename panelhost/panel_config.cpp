#include "panelhost/panel_config.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "platform/text_input.h"

namespace panels {
namespace {

std::string_view trim(std::string_view text) {
    const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// "Window" followed by digits only.
bool is_numbered_section(const std::string& name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

bool is_window_section(const std::string& name) { return is_numbered_section(name, "window"); }

class Parser {
public:
    Parser(std::string_view text, const std::string& source) : text_(text) { config_.source = source; }

    PanelConfig run() {
        // Windows editors save UTF-8 with a byte-order mark in front.
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
        std::istringstream lines{std::string(text_)};
        std::string raw;
        while (std::getline(lines, raw)) {
            ++line_;
            read_line(raw);
        }
        if (config_.windows.empty()) {
            throw PanelConfigError(config_.source, 0, "no windows: a panel needs a [WindowNN] section with gauges");
        }
        for (PanelWindow& window : config_.windows) {
            auto title = titles_.find(platform::lowercase(window.section));
            window.title = title != titles_.end() ? title->second : window.section;
            std::stable_sort(window.gauges.begin(), window.gauges.end(),
                             [](const PanelGauge& a, const PanelGauge& b) { return a.number < b.number; });
        }
        return std::move(config_);
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw PanelConfigError(config_.source, line_, what); }

    double number(std::string_view text, const char* what) const {
        const std::string value(text);
        char* end = nullptr;
        const double result = std::strtod(value.c_str(), &end);
        if (value.empty() || end == nullptr || *end != '\0' || !std::isfinite(result))
            fail(std::string(what) + " '" + value + "' is not a number");
        return result;
    }

    void read_line(std::string_view raw) {
        std::string_view line = raw;
        if (const size_t comment = line.find("//"); comment != std::string_view::npos) line = line.substr(0, comment);
        line = trim(line);
        if (line.empty() || line.front() == ';') return;
        if (line.front() == '[') {
            if (line.back() != ']') fail("section header without its closing ']'");
            open_section(std::string(trim(line.substr(1, line.size() - 2))));
            return;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            fail("expected 'key=value', a [section] or a comment: '" + std::string(line) + "'");
        const std::string key = platform::lowercase(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        if (key.empty()) fail("a value without a key");
        switch (section_) {
            case Section::None: fail("'" + key + "' outside any section");
            case Section::Other: return;
            case Section::Titles: titles_[key] = std::string(value); return;
            case Section::Window:
                key_as_written_ = std::string(trim(line.substr(0, equals)));
                window_key(key, value);
                return;
            case Section::Lighting: lighting_key(key, value); return;
        }
    }

    void open_section(const std::string& name) {
        const std::string key = platform::lowercase(name);
        if (key.empty()) fail("empty section name");
        if (key == "window titles") {
            section_ = Section::Titles;
        } else if (key == "lighting") {
            section_ = Section::Lighting;
        } else if (is_window_section(key)) {
            for (const PanelWindow& window : config_.windows) {
                if (platform::lowercase(window.section) == key) fail("section [" + name + "] appears twice");
            }
            section_ = Section::Window;
            PanelWindow window;
            window.section = name;
            window.line = line_;
            config_.windows.push_back(std::move(window));
            window_numbers_.clear();
        } else {
            section_ = Section::Other;
            if (is_numbered_section(key, "vcockpit")) {
                config_.warnings.push_back(config_.source + ":" + std::to_string(line_) + ": [" + name +
                                           "] is a virtual cockpit panel, which the bench does not draw");
            }
        }
    }

    void lighting_key(const std::string& key, std::string_view value) {
        if (key != "night_switch") {
            config_.warnings.push_back(config_.source + ":" + std::to_string(line_) + ": [Lighting] has no '" + key +
                                       "' (night_switch=<gauge>, x, y, width, height)");
            return;
        }
        const std::vector<std::string_view> parts = split(value, ',');
        if (parts.size() != 5 || trim(parts[0]).empty())
            fail("night_switch takes <gauge>, x, y, width, height (the gauge's bitmap pixels)");
        NightSwitch night{std::string(trim(parts[0])),
                          number(parts[1], "night_switch x"),
                          number(parts[2], "night_switch y"),
                          number(parts[3], "night_switch width"),
                          number(parts[4], "night_switch height"),
                          line_};
        if (!(night.width > 0.0) || !(night.height > 0.0)) fail("night_switch's width and height must be positive");
        config_.night_switch = std::move(night);
    }

    void window_key(const std::string& key, std::string_view value) {
        PanelWindow& window = config_.windows.back();
        if (key == "size_mm") {
            const std::vector<std::string_view> parts = split(value, ',');
            if (parts.size() != 2) fail("size_mm takes width,height");
            window.width = number(parts[0], "size_mm width");
            window.height = number(parts[1], "size_mm height");
            if (!(window.width > 0.0) || !(window.height > 0.0)) fail("size_mm must be positive");
        } else if (key == "visible") {
            if (value != "0" && value != "1") fail("visible takes 0 or 1");
            window.visible = value == "1";
        } else if (key == "background_color") {
            const std::vector<std::string_view> parts = split(value, ',');
            if (parts.size() != 3) fail("background_color takes red,green,blue");
            uint32_t colour = 0;
            for (std::string_view part : parts) {
                const double channel = number(part, "colour channel");
                if (channel < 0.0 || channel > 255.0 || channel != std::floor(channel))
                    fail("colour channels are whole numbers 0 to 255");
                colour = colour << 8 | static_cast<uint32_t>(channel);
            }
            window.background = colour;
        } else if (key == "file") {
            if (value.empty()) fail("file takes a bitmap file name");
            window.file = std::string(value);
        } else if (key == "position") {
            const double anchor = number(value, "position");
            if (anchor < 0.0 || anchor > 8.0 || anchor != std::floor(anchor))
                fail("position takes a whole number 0 to 8");
            window.position = static_cast<int>(anchor);
        } else if (key == "window_pos") {
            const std::vector<std::string_view> parts = split(value, ',');
            if (parts.size() != 2) fail("window_pos takes x,y");
            const double x = number(parts[0], "window_pos x");
            const double y = number(parts[1], "window_pos y");
            if (x < 0.0 || x > 1.0 || y < 0.0 || y > 1.0) fail("window_pos takes fractions of the screen, 0 to 1");
            window.window_pos = std::pair{x, y};
        } else if (key.compare(0, 5, "gauge") == 0 && key.size() > 5) {
            gauge_line(key, value, window);
        }
    }

    void gauge_line(const std::string& key, std::string_view value, PanelWindow& window) {
        const std::string digits = key.substr(5);
        if (!std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
            fail("'" + key + "': gauge keys are 'gauge' and a number");
        if (digits.size() > 6) fail("'" + key + "': gauge number too long");
        const long number_value = std::strtol(digits.c_str(), nullptr, 10);
        if (!window_numbers_.insert({number_value, line_}).second)
            fail("'" + key + "' appears twice in [" + window.section + "]");

        const std::vector<std::string_view> parts = split(value, ',');
        if (parts.size() < 3 || parts.size() > 6)
            fail("a gauge line is 'Module!Gauge, x, y[, width[, height[, parameter]]]'");
        const size_t bang = parts[0].find('!');
        if (bang == std::string_view::npos || bang == 0 || bang + 1 == parts[0].size())
            fail("'" + std::string(parts[0]) + "' is not 'Module!Gauge'");
        PanelGauge gauge;
        gauge.module = std::string(trim(parts[0].substr(0, bang)));
        gauge.gauge = std::string(trim(parts[0].substr(bang + 1)));
        gauge.x = number(parts[1], "x");
        gauge.y = number(parts[2], "y");
        if (parts.size() >= 4) {
            gauge.width = number(parts[3], "width");
            if (!(*gauge.width > 0.0)) fail("gauge width must be positive");
        }
        if (parts.size() >= 5) {
            gauge.height = number(parts[4], "height");
            if (!(*gauge.height > 0.0)) fail("gauge height must be positive");
        }
        if (parts.size() == 6) gauge.parameter = std::string(parts[5]);
        gauge.line = line_;
        gauge.number = number_value;
        gauge.key = key_as_written_;
        window.gauges.push_back(std::move(gauge));
    }

    enum class Section { None, Titles, Window, Lighting, Other };

    std::string_view text_;
    PanelConfig config_;
    Section section_ = Section::None;
    int line_ = 0;
    std::map<std::string, std::string> titles_;
    std::map<long, int> window_numbers_;
    std::string key_as_written_;  // gauge number -> line, in the current window
};

}  // namespace

PanelConfigError::PanelConfigError(const std::string& source, int line, const std::string& what)
    : std::runtime_error(line > 0 ? source + ":" + std::to_string(line) + ": " + what : source + ": " + what),
      line_(line) {}

PanelConfig PanelConfig::parse(std::string_view text, const std::string& source) { return Parser(text, source).run(); }

PanelConfig PanelConfig::read_file(const std::string& path) {
    return parse(platform::read_text_file_as<PanelConfigError>(path, "a panel configuration"),
                 platform::input_name(path));
}

}  // namespace panels
