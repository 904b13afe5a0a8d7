// artgen: draws the bitmaps of Korvane.gau from the module's own records.
//
//   artgen <KorvaneArtless.gau> <output directory> [--fonts <dir>] [--contact-sheet <file.png>]
//          [--panel <panel.cfg>]
//
// Loads the module (the PE built without its bitmaps) through the bench
// host, in its emulator, reads every needle's pivot and calibration table
// and calls the formula needles' callbacks, so the scales sit where the
// needles point. Writes one 8-bit
// palettised BMP per bitmap (korvane_<id>.bmp) and korvane_bitmaps.rc, which
// lists them for the resource compiler. The same module and fonts give the
// same bytes on every run. Every gauge of the host's table must be in the
// module. With --panel it paints the background of the configuration's first
// window too (korvane_panel.bmp, 24 bits), its placards and screws where the
// host places the gauges; the given module stands for the panel's Korvane,
// and the other modules the panel names are loaded from beside it.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "art/bmp.h"
#include "art/canvas.h"
#include "art/contact_sheet.h"
#include "art/painters.h"
#include "art/palette.h"
#include "art/panel_art.h"
#include "art/records.h"
#include "korvane/bitmaps.h"
#include "runtime/host.h"
#include "runtime/module.h"

namespace {

struct Options {
    std::string module;
    std::string output;
    std::string fonts = "/usr/share/fonts/truetype/adf";
    std::string contact_sheet;
    std::string panel;
};

constexpr const char* kPanelFile = "korvane_panel.bmp";
// The module's name in panel configurations.
constexpr const char* kModuleName = "Korvane";

namespace fs = std::filesystem;

// A directory of links in which the panel finds the given module under the
// name the configuration uses, beside the modules found next to it. It lies
// in the output directory, which no other run writes to at the same time,
// and is removed when done with (one a killed run left is made afresh).
class ModuleDirectory {
public:
    ModuleDirectory(const fs::path& module, const fs::path& output) {
        path_ = output / ".artgen-modules";
        fs::remove_all(path_);
        fs::create_directories(path_);
        const fs::path beside = module.has_parent_path() ? module.parent_path() : fs::path(".");
        for (const fs::directory_entry& entry : fs::directory_iterator(beside)) {
            const fs::path name = entry.path().filename();
            if (entry.path().extension() == ".gau" && name.stem() != kModuleName) {
                fs::create_symlink(fs::absolute(entry.path()), path_ / name);
            }
        }
        fs::remove(path_ / (std::string(kModuleName) + ".gau"));
        fs::create_symlink(fs::absolute(module), path_ / (std::string(kModuleName) + ".gau"));
    }
    ~ModuleDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ModuleDirectory(const ModuleDirectory&) = delete;
    ModuleDirectory& operator=(const ModuleDirectory&) = delete;

    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

int usage() {
    std::fprintf(stderr,
                 "usage: artgen <Korvane.gau> <output directory> [--fonts <dir>] [--contact-sheet <file.png>]\n"
                 "              [--panel <panel.cfg>]\n");
    return 2;
}

bool parse(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fonts" && i + 1 < argc) {
            options.fonts = argv[++i];
        } else if (arg == "--contact-sheet" && i + 1 < argc) {
            options.contact_sheet = argv[++i];
        } else if (arg == "--panel" && i + 1 < argc) {
            options.panel = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return false;
    options.module = positional[0];
    options.output = positional[1];
    return true;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string file_name(uint32_t id) { return "korvane_" + std::to_string(id) + ".bmp"; }

// Every bitmap from the records, in order: layout, records, painting, the
// panel's background and the contact sheet, each a step of the one run.
int run(const Options& options) {
    std::map<uint32_t, art::Painter> painters;
    for (auto family :
         {art::flight_painters(), art::navigation_painters(), art::engine_painters(), art::controls_painters()}) {
        for (const art::PainterEntry& entry : family) painters.emplace(entry.id, entry.paint);
    }
    for (const korvane::BitmapInfo& info : korvane::kBitmaps) {
        if (painters.count(info.id) == 0) {
            std::fprintf(stderr, "artgen: no painter for bitmap %u\n", info.id);
            return 1;
        }
    }

    // The window's layout first: the panel loads its own modules, and this
    // one's bitmaps get their sizes from the table.
    art::PanelLayout layout;
    if (!options.panel.empty()) {
        const ModuleDirectory modules(options.module, options.output);
        layout = art::read_panel_layout(options.panel, modules.path(), [&](runtime::Module& loaded) {
            if (fs::path(loaded.path()).stem() != kModuleName) return;
            for (const korvane::BitmapInfo& info : korvane::kBitmaps) {
                loaded.override_bitmap_size(info.id, info.width, info.height);
            }
        });
    }

    runtime::Host host;
    runtime::Module module(host, options.module);
    art::Records records(module);

    // The gauges the bitmaps are painted from, each once, in the table's order.
    size_t missing = 0;
    std::string list;
    std::set<std::string_view> asked;
    for (const korvane::BitmapInfo& info : korvane::kBitmaps) {
        if (!asked.insert(info.gauge).second || records.has_gauge(info.gauge)) continue;
        ++missing;
        list += (list.empty() ? "" : ", ") + std::string(info.gauge);
    }
    if (missing != 0) {
        std::fprintf(stderr, "artgen: %s lacks %zu gauge(s) whose bitmaps it must carry: %s\n", options.module.c_str(),
                     missing, list.c_str());
        return 1;
    }

    art::Fonts::load(options.fonts);
    art::Palette palette;
    std::vector<art::IndexedImage> images;
    images.reserve(korvane::kBitmaps.size());
    std::string rc =
        "// Bitmaps of Korvane.gau, written by artgen from the module's records.\n"
        "// Ids and sizes: korvane/bitmaps.h.\n";
    for (const korvane::BitmapInfo& info : korvane::kBitmaps) {
        art::Canvas canvas(static_cast<int>(info.width), static_cast<int>(info.height));
        art::set_maker(art::maker_of(info.gauge));
        painters.at(info.id)(canvas, records);
        images.push_back(canvas.to_indexed(palette));
        write_file(options.output + "/" + file_name(info.id), art::encode_bmp(images.back(), palette.colours()));
        rc += std::to_string(info.id) + " BITMAP \"" + file_name(info.id) + "\"\n";
    }
    // The contact sheet's captions are in the airframe maker's type.
    art::set_maker(art::Maker::Flight);
    write_file(options.output + "/korvane_bitmaps.rc", std::vector<uint8_t>(rc.begin(), rc.end()));

    if (!options.panel.empty()) {
        // A gauge's own picture shows the panel where it is transparent.
        const auto see_through = [&](const std::string& gauge, double u, double v) {
            if (!records.has_gauge(gauge)) return false;
            const uint32_t id = records.elements(gauge).front().header.resource_id;
            for (size_t i = 0; i < images.size(); ++i) {
                if (korvane::kBitmaps[i].id != id) continue;
                const art::IndexedImage& image = images[i];
                const auto x = static_cast<uint32_t>(std::clamp(u * image.width, 0.0, image.width - 1.0));
                const auto y = static_cast<uint32_t>(std::clamp(v * image.height, 0.0, image.height - 1.0));
                return image.at(x, y) == 0;
            }
            return false;
        };
        write_file(options.output + "/" + kPanelFile, art::encode_bmp24(art::paint_panel(layout, see_through)));
    }

    if (!options.contact_sheet.empty()) {
        std::vector<art::SheetEntry> entries;
        for (size_t i = 0; i < images.size(); ++i) entries.push_back({korvane::kBitmaps[i].id, &images[i]});
        art::write_contact_sheet(options.contact_sheet, entries, palette.colours());
    }
    art::Fonts::unload();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return usage();
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "artgen: %s\n", error.what());
        return 1;
    }
}
