// A layout written back into its configuration: each change touches only its
// own values, and everything else (comments, spacing, unknown keys and
// sections, numbering, byte-order mark, line endings) stays byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "panelhost/panel_edit.h"

namespace {

using panels::GaugeLayout;
using panels::PanelConfig;
using panels::PanelLayout;

// CRLF endings, a byte-order mark, comments, odd spacing, keys and sections
// the bench does not read, gaps in the numbering, a parameter, no ending on
// the last line.
const std::string kPanel =
    "\xEF\xBB\xBF// the designer's notes\r\n"
    "[Window Titles]\r\n"
    "Window00=Main\r\n"
    "\r\n"
    "[WINDOW00]\r\n"
    "size_mm=800,600   // a comment after\r\n"
    "ident=MAIN\r\n"
    "Gauge00=Korvane!Airspeed,  40.0 , 36, 220 // blind flying\r\n"
    "gauge03=Korvane!Clock, 300, 10, 150, 150, 2\r\n"
    "gauge07=Korvane!Timer, 440, 40\r\n"
    "\r\n"
    "[Views]\r\n"
    "unknown = kept as is\r\n"
    "[Window01]\r\n"
    "gauge00=Korvane!Compass, 0, 0, 100";

GaugeLayout& gauge(PanelLayout& layout, const std::string& window, const std::string& key) {
    for (GaugeLayout& g : layout.gauges) {
        if (g.window == window && g.key == key) return g;
    }
    throw std::runtime_error("no " + key);
}

// `from` replaced by `to` in the text: what the edit must give.
std::string replaced(const std::string& from, const std::string& to) {
    std::string text = kPanel;
    const size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("not in the panel: " + from);
    return text.replace(at, from.size(), to);
}

struct Case {
    const char* what;
    std::function<void(PanelLayout&)> edit;
    std::string expected;
};

TEST(ApplyLayout, RewritesOnlyWhatChanged) {
    const Case cases[] = {
        {"nothing changed: the same bytes", [](PanelLayout&) {}, kPanel},
        {"x moved, the spacing, case and comment kept",
         [](PanelLayout& l) { gauge(l, "WINDOW00", "Gauge00").x = 134.5; },
         replaced("40.0 , 36", "134.5 , 36")},
        {"a number equal in value stays as written",
         [](PanelLayout& l) { gauge(l, "WINDOW00", "Gauge00").y = 36.0; }, kPanel},
        {"a width given to a line without one, a height after it",
         [](PanelLayout& l) {
             gauge(l, "WINDOW00", "gauge07").width = 180;
             gauge(l, "WINDOW00", "gauge07").height = 90;
         },
         replaced("440, 40\r", "440, 40, 180, 90\r")},
        {"a width left to the bitmap is taken off",
         [](PanelLayout& l) { gauge(l, "Window01", "gauge00").width.reset(); },
         replaced("0, 0, 100", "0, 0")},
        {"a parameter keeps the width and height before it",
         [](PanelLayout& l) {
             gauge(l, "WINDOW00", "gauge03").width.reset();
             gauge(l, "WINDOW00", "gauge03").height.reset();
         },
         kPanel},
        {"a deleted gauge loses its line, the others keep their numbers",
         [](PanelLayout& l) { std::erase_if(l.gauges, [](const GaugeLayout& g) { return g.key == "gauge03"; }); },
         replaced("gauge03=Korvane!Clock, 300, 10, 150, 150, 2\r\n", "")},
        {"an added gauge follows the window's last, spaced as it is, the file's endings",
         [](PanelLayout& l) { l.gauges.push_back({"WINDOW00", "gauge08", "Korvane!Clock", 12, 7.25, 100, {}}); },
         replaced("440, 40\r\n", "440, 40\r\ngauge08=Korvane!Clock, 12, 7.25, 100\r\n")},
        {"added to the last line, which has no ending: it keeps none",
         [](PanelLayout& l) { l.gauges.push_back({"Window01", "gauge01", "Korvane!Clock", 1, 2, {}, {}}); },
         kPanel + "\r\ngauge01=Korvane!Clock, 1, 2"},
        {"window size rewritten in place, its comment kept",
         [](PanelLayout& l) { l.windows[0].size_mm = std::pair{900.0, 600.0}; },
         replaced("size_mm=800,600", "size_mm=900,600")},
        {"window keys not yet written go after its last other key",
         [](PanelLayout& l) {
             l.windows[0].position = 7;
             l.windows[0].visible = false;
             l.windows[0].background = 0x0A141E;
             l.windows[0].file = "back.bmp";
         },
         replaced("ident=MAIN\r\n",
                  "ident=MAIN\r\nposition=7\r\nvisible=0\r\nbackground_color=10,20,30\r\nfile=back.bmp\r\n")},
        {"a size taken away loses its line",
         [](PanelLayout& l) { l.windows[0].size_mm.reset(); },
         replaced("size_mm=800,600   // a comment after\r\n", "")},
        {"a window without keys gets them after its header",
         [](PanelLayout& l) { l.windows[1].size_mm = std::pair{100.0, 50.5}; },
         replaced("[Window01]\r\n", "[Window01]\r\nsize_mm=100,50.5\r\n")},
    };
    const PanelLayout loaded = panels::layout_of(PanelConfig::parse(kPanel, "panel.cfg"));
    for (const Case& c : cases) {
        PanelLayout layout = loaded;
        c.edit(layout);
        EXPECT_EQ(panels::apply_layout(kPanel, layout, "panel.cfg"), c.expected) << c.what;
    }
}

TEST(ApplyLayout, AnEditUndoneGivesTheFileBackByteForByte) {
    const PanelLayout loaded = panels::layout_of(PanelConfig::parse(kPanel, "panel.cfg"));
    PanelLayout moved = loaded;
    gauge(moved, "Window01", "gauge00").width = 140;
    gauge(moved, "Window01", "gauge00").height = 70;
    moved.gauges.push_back({"Window01", "gauge05", "Korvane!Timer", 3, 4, {}, {}});
    const std::string saved = panels::apply_layout(kPanel, moved, "panel.cfg");
    ASSERT_NE(saved, kPanel);
    EXPECT_EQ(panels::apply_layout(saved, loaded, "panel.cfg"), kPanel);
}

TEST(ApplyLayout, RefusesWhatWouldNotReadBack) {
    struct Refused {
        const char* what;
        std::function<void(PanelLayout&)> edit;
        const char* message;
    };
    const Refused cases[] = {
        {"an unknown window", [](PanelLayout& l) { l.windows[0].section = "Window09"; }, "no section [Window09]"},
        {"a key that is no gauge key",
         [](PanelLayout& l) { l.gauges.push_back({"Window01", "gaugeX", "Korvane!Clock", 0, 0, {}, {}}); },
         "'gaugeX' is no gauge key"},
        {"a key given twice",
         [](PanelLayout& l) { l.gauges.push_back({"Window01", "gauge00", "Korvane!Clock", 0, 0, {}, {}}); },
         "'gauge00' given twice"},
        {"a number the reader refuses",
         [](PanelLayout& l) { l.windows[0].size_mm = std::pair{-5.0, 600.0}; }, "size_mm must be positive"},
    };
    const PanelLayout loaded = panels::layout_of(PanelConfig::parse(kPanel, "panel.cfg"));
    for (const Refused& c : cases) {
        PanelLayout layout = loaded;
        c.edit(layout);
        try {
            panels::apply_layout(kPanel, layout, "panel.cfg");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const panels::PanelConfigError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.what << ": " << error.what();
        }
    }
}

}  // namespace
