#include "panelhost/panel_edit.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/text_input.h"

namespace panels {
namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void trim_span(std::string_view text, size_t& begin, size_t& end) {
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
}

bool is_gauge_key(std::string_view key) {
    if (key.size() <= 5 || key.size() > 11 || platform::lowercase(key.substr(0, 5)) != "gauge") return false;
    for (char c : key.substr(5)) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

// Whole numbers as designers write them; anything finer to a ten-thousandth,
// without trailing zeros.
std::string written_number(double value) {
    char text[64];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value == 0.0 ? 0.0 : value);
        return text;
    }
    std::snprintf(text, sizeof text, "%.4f", value);
    std::string out = text;
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
    return out;
}

bool same_number(const std::string& token, double value) {
    char* end = nullptr;
    const double written = std::strtod(token.c_str(), &end);
    if (token.empty() || end == nullptr || *end != '\0') return false;
    return std::fabs(written - value) <= 1e-9 * std::max(1.0, std::fabs(value));
}

// A value's comma-separated fields, each with what stands between it and the
// next (", " or "," or " , "), so that the value is written back as it was.
struct Fields {
    std::vector<std::string> tokens, separators;

    explicit Fields(std::string_view value) {
        size_t start = 0;
        size_t previous_end = 0;
        for (;;) {
            const size_t comma = value.find(',', start);
            size_t begin = start, end = comma == std::string_view::npos ? value.size() : comma;
            trim_span(value, begin, end);
            if (!tokens.empty()) separators.emplace_back(value.substr(previous_end, begin - previous_end));
            tokens.emplace_back(value.substr(begin, end - begin));
            previous_end = end;
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    std::string text() const {
        std::string out = tokens.front();
        for (size_t i = 1; i < tokens.size(); ++i) out += separators[i - 1] + tokens[i];
        return out;
    }
    void set(size_t i, double value) {
        if (!same_number(tokens[i], value)) tokens[i] = written_number(value);
    }
    void push(double value) {
        separators.push_back(separators.empty() ? ", " : separators.back());
        tokens.push_back(written_number(value));
    }
    void keep(size_t count) {
        tokens.resize(count);
        separators.resize(count - 1);
    }
};

struct Line {
    size_t begin = 0, end = 0;  // its text, without the line's ending
    std::string ending;         // "\r\n", "\n", or none on a last line without one
};

struct KeyLine {
    size_t line = 0;
    std::string key;                     // as written
    size_t value_begin = 0, value_end = 0;  // in the whole text: trimmed, before any comment
};

struct WindowText {
    size_t header = 0;
    std::vector<KeyLine> keys;
    // The last line of key `key` (letter case aside), as the reader takes the last.
    const KeyLine* find(std::string_view key) const {
        const KeyLine* found = nullptr;
        for (const KeyLine& line : keys) {
            if (platform::lowercase(line.key) == key) found = &line;
        }
        return found;
    }
};

class Writer {
public:
    Writer(std::string_view text, const std::string& source) : text_(text), source_(source) { scan(); }

    void window(const WindowLayout& layout, const PanelWindow& now);
    void gauges(const WindowLayout& window, const std::vector<GaugeLayout>& gauges);
    std::string result() const;

private:
    [[noreturn]] void fail(const std::string& what) const { throw PanelConfigError(source_, 0, what); }
    void scan();
    WindowText& window_text(const std::string& section);
    std::string value(const KeyLine& line) const {
        return std::string(text_.substr(line.value_begin, line.value_end - line.value_begin));
    }
    void set_value(const KeyLine& line, const std::string& value);
    void insert_after(size_t line, std::string text) { inserted_[line].push_back(std::move(text)); }
    size_t last_window_key(const WindowText& window) const;
    void gauge_line(const KeyLine& line, const GaugeLayout& gauge);

    std::string_view text_;
    std::string source_;
    std::vector<Line> lines_;
    std::map<std::string, WindowText> windows_;  // by lower-case section
    std::map<size_t, std::string> replaced_;     // line -> its new text
    std::map<size_t, bool> deleted_;
    std::map<size_t, std::vector<std::string>> inserted_;  // after the line
    std::string ending_ = "\n";                            // the file's most common line ending
};

void Writer::scan() {
    size_t at = text_.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    size_t crlf = 0, lf = 0;
    while (at < text_.size()) {
        const size_t newline = text_.find('\n', at);
        Line line{at, newline == std::string_view::npos ? text_.size() : newline, {}};
        if (newline != std::string_view::npos) {
            if (line.end > at && text_[line.end - 1] == '\r') --line.end;
            line.ending = std::string(text_.substr(line.end, newline + 1 - line.end));
            ++(line.ending.size() == 2 ? crlf : lf);
        }
        at = newline == std::string_view::npos ? text_.size() : newline + 1;
        lines_.push_back(std::move(line));
    }
    if (crlf > lf) ending_ = "\r\n";

    WindowText* window = nullptr;
    for (size_t i = 0; i < lines_.size(); ++i) {
        size_t begin = lines_[i].begin, end = lines_[i].end;
        if (const size_t comment = text_.substr(begin, end - begin).find("//"); comment != std::string_view::npos)
            end = begin + comment;
        trim_span(text_, begin, end);
        if (begin == end || text_[begin] == ';') continue;
        if (text_[begin] == '[') {
            size_t name_begin = begin + 1, name_end = end - 1;
            trim_span(text_, name_begin, name_end);
            const std::string name = platform::lowercase(text_.substr(name_begin, name_end - name_begin));
            window = name.size() > 6 && name.starts_with("window") && name != "window titles"
                         ? &windows_.emplace(name, WindowText{i, {}}).first->second
                         : nullptr;
            continue;
        }
        const size_t equals = text_.find('=', begin);
        if (window == nullptr || equals >= end) continue;
        size_t key_end = equals, value_begin = equals + 1, value_end = end;
        trim_span(text_, begin, key_end);
        trim_span(text_, value_begin, value_end);
        window->keys.push_back({i, std::string(text_.substr(begin, key_end - begin)), value_begin, value_end});
    }
}

WindowText& Writer::window_text(const std::string& section) {
    const auto found = windows_.find(platform::lowercase(section));
    if (found == windows_.end()) fail("no section [" + section + "] to lay out");
    return found->second;
}

void Writer::set_value(const KeyLine& line, const std::string& value) {
    if (value == this->value(line)) return;
    const Line& whole = lines_[line.line];
    replaced_[line.line] = std::string(text_.substr(whole.begin, line.value_begin - whole.begin)) + value +
                           std::string(text_.substr(line.value_end, whole.end - line.value_end));
}

// Where a window's new keys go: after its last key that is no gauge line.
size_t Writer::last_window_key(const WindowText& window) const {
    size_t last = window.header;
    for (const KeyLine& line : window.keys) {
        if (!is_gauge_key(line.key)) last = line.line;
    }
    return last;
}

void Writer::window(const WindowLayout& layout, const PanelWindow& now) {
    const WindowText& text = window_text(layout.section);
    const size_t anchor = last_window_key(text);
    const auto numbers = [&](const char* key, const std::vector<double>& values, bool wanted, const char* join) {
        const KeyLine* line = text.find(key);
        if (line != nullptr && !wanted) {
            deleted_[line->line] = true;
        } else if (line != nullptr) {
            Fields fields(value(*line));
            if (fields.tokens.size() != values.size()) fields = Fields(join);
            for (size_t i = 0; i < values.size(); ++i) fields.set(i, values[i]);
            set_value(*line, fields.text());
        } else if (wanted) {
            std::string added = std::string(key) + "=";
            for (size_t i = 0; i < values.size(); ++i) added += (i == 0 ? "" : ",") + written_number(values[i]);
            insert_after(anchor, added);
        }
    };
    numbers("size_mm", {layout.size_mm.value_or(std::pair{0.0, 0.0}).first,
                        layout.size_mm.value_or(std::pair{0.0, 0.0}).second},
            layout.size_mm.has_value(), ",");
    numbers("position", {static_cast<double>(layout.position.value_or(0))}, layout.position.has_value(), "");
    if (layout.visible != now.visible) {
        if (const KeyLine* line = text.find("visible")) {
            set_value(*line, layout.visible ? "1" : "0");
        } else {
            insert_after(anchor, "visible=0");
        }
    }
    if (layout.background != now.background) {
        numbers("background_color",
                {static_cast<double>(layout.background >> 16 & 0xFF), static_cast<double>(layout.background >> 8 & 0xFF),
                 static_cast<double>(layout.background & 0xFF)},
                true, ",,");
    }
    if (layout.file != now.file) {
        const KeyLine* line = text.find("file");
        if (line == nullptr) {
            insert_after(anchor, "file=" + layout.file);
        } else if (layout.file.empty()) {
            deleted_[line->line] = true;
        } else {
            set_value(*line, layout.file);
        }
    }
}

void Writer::gauge_line(const KeyLine& line, const GaugeLayout& gauge) {
    Fields fields(value(line));
    if (fields.tokens.size() < 3) fail(line.key + ": not a gauge line");
    std::string written = fields.tokens[0];
    std::erase_if(written, is_space);
    if (!platform::same_name(written, gauge.name)) fields.tokens[0] = gauge.name;
    fields.set(1, gauge.x);
    fields.set(2, gauge.y);
    // A parameter needs the width and height before it: those stay.
    const bool parameter = fields.tokens.size() >= 6;
    if (gauge.width) {
        if (fields.tokens.size() >= 4) fields.set(3, *gauge.width);
        else fields.push(*gauge.width);
    } else if (fields.tokens.size() >= 4 && !parameter) {
        fields.keep(3);
    }
    if (gauge.height) {
        if (fields.tokens.size() >= 5) fields.set(4, *gauge.height);
        else fields.push(*gauge.height);
    } else if (fields.tokens.size() >= 5 && !parameter) {
        fields.keep(4);
    }
    set_value(line, fields.text());
}

void Writer::gauges(const WindowLayout& window, const std::vector<GaugeLayout>& gauges) {
    const WindowText& text = window_text(window.section);
    std::map<std::string, const GaugeLayout*> wanted;  // by lower-case key
    for (const GaugeLayout& gauge : gauges) {
        if (platform::lowercase(gauge.window) != platform::lowercase(window.section)) continue;
        if (!is_gauge_key(gauge.key)) fail("'" + gauge.key + "' is no gauge key (gauge and a number)");
        if (gauge.height && !gauge.width) fail(gauge.key + ": a height needs a width before it");
        if (!wanted.emplace(platform::lowercase(gauge.key), &gauge).second)
            fail("'" + gauge.key + "' given twice in [" + window.section + "]");
    }
    size_t anchor = last_window_key(text);
    std::string separator = ", ";
    for (const KeyLine& line : text.keys) {
        if (!is_gauge_key(line.key)) continue;
        anchor = line.line;
        if (Fields fields(value(line)); !fields.separators.empty()) separator = fields.separators.front();
        const auto found = wanted.find(platform::lowercase(line.key));
        if (found == wanted.end()) {
            deleted_[line.line] = true;
        } else {
            gauge_line(line, *found->second);
            wanted.erase(found);
        }
    }
    for (const GaugeLayout& gauge : gauges) {  // the new ones, in the layout's order
        if (!wanted.contains(platform::lowercase(gauge.key))) continue;
        std::string added = gauge.key + "=" + gauge.name + separator + written_number(gauge.x) + separator +
                            written_number(gauge.y);
        if (gauge.width) added += separator + written_number(*gauge.width);
        if (gauge.height) added += separator + written_number(*gauge.height);
        insert_after(anchor, added);
    }
}

std::string Writer::result() const {
    std::string out(text_.substr(0, lines_.empty() ? text_.size() : lines_.front().begin));
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        std::vector<std::string> pieces;
        if (!deleted_.contains(i)) {
            const auto replaced = replaced_.find(i);
            pieces.push_back(replaced != replaced_.end() ? replaced->second
                                                         : std::string(text_.substr(line.begin, line.end - line.begin)));
        }
        if (const auto added = inserted_.find(i); added != inserted_.end())
            pieces.insert(pieces.end(), added->second.begin(), added->second.end());
        const std::string& ending = line.ending.empty() ? ending_ : line.ending;
        for (size_t k = 0; k < pieces.size(); ++k) {
            out += pieces[k];
            if (k + 1 < pieces.size() || !line.ending.empty()) out += ending;
        }
        // A last line without an ending taken away: the line before it ends the file as it did.
        if (pieces.empty() && i + 1 == lines_.size() && line.ending.empty()) {
            if (out.ends_with("\r\n")) out.resize(out.size() - 2);
            else if (out.ends_with("\n")) out.pop_back();
        }
    }
    return out;
}

}  // namespace

PanelLayout layout_of(const PanelConfig& config) {
    PanelLayout layout;
    for (const PanelWindow& window : config.windows) {
        WindowLayout shown{window.section, std::nullopt, window.position, window.visible, window.background,
                           window.file};
        if (window.width > 0.0 && window.height > 0.0) shown.size_mm = std::pair{window.width, window.height};
        layout.windows.push_back(std::move(shown));
        for (const PanelGauge& gauge : window.gauges) {
            layout.gauges.push_back(
                {window.section, gauge.key, gauge.module + "!" + gauge.gauge, gauge.x, gauge.y, gauge.width,
                 gauge.height});
        }
    }
    return layout;
}

std::string apply_layout(std::string_view text, const PanelLayout& layout, const std::string& source) {
    const PanelConfig now = PanelConfig::parse(text, source);
    Writer writer(text, source);
    for (const WindowLayout& window : layout.windows) {
        const PanelWindow* current = nullptr;
        for (const PanelWindow& candidate : now.windows) {
            if (platform::lowercase(candidate.section) == platform::lowercase(window.section)) current = &candidate;
        }
        if (current == nullptr) throw PanelConfigError(source, 0, "no section [" + window.section + "] to lay out");
        writer.window(window, *current);
        writer.gauges(window, layout.gauges);
    }
    std::string result = writer.result();
    PanelConfig::parse(result, source);  // what the editor made must read back
    return result;
}

}  // namespace panels
