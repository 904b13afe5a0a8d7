#include "panelhost/panel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/text_input.h"

namespace panels {
namespace {

// A gauge whose module carries no background bitmap is laid out as a square
// of its header's default width.
constexpr double kFallbackSize = 100.0;

std::string where(const PanelConfig& config, int line) { return config.source + ":" + std::to_string(line) + ": "; }

// Without opening it: opening a FIFO blocks until a writer comes, before
// the reader could refuse a file that is not regular.
bool file_exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string join(const std::string& dir, const std::string& file) {
    if (dir.empty()) return file;
    const char last = dir.back();
    return last == '/' || last == '\\' ? dir + file : dir + "/" + file;
}

// The names of the directory's files that end in `extension`, without it.
std::vector<std::string> files_named(const std::string& dir, std::string_view extension) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir.empty() ? "." : dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > extension.size() &&
            platform::same_name(std::string_view(name).substr(name.size() - extension.size()), extension)) {
            names.push_back(name.substr(0, name.size() - extension.size()));
        }
    }
    return names;
}

// <dir>/<name>.gau, the name's letter case aside as Windows finds files;
// empty when there is none.
std::string module_file(const std::string& dir, const std::string& name) {
    const std::string exact = join(dir, name + ".gau");
    if (file_exists(exact)) return exact;
    for (const std::string& present : files_named(dir, ".gau")) {
        if (platform::same_name(present, name)) return join(dir, present + ".gau");
    }
    return {};
}

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// Slack for design units that add up to a window's edge.
constexpr double kEdgeSlack = 1e-6;

// The bitmap of a gauge's first element, its background; nullopt when the
// gauge has none or its records lead nowhere (set-up reports that).
std::optional<uint32_t> background_bitmap(const runtime::Module& module, runtime::GaugePtr gauge) {
    try {
        const runtime::ModuleMemory mem = module.records();
        const frame::GuestPtr<const runtime::ElementPtr> roots = mem.read(gauge).element_list;
        if (!roots) return std::nullopt;
        const runtime::ElementPtr first = mem.read(roots);
        if (!first) return std::nullopt;
        return mem.read(first).resource_id;
    } catch (const runtime::ModuleFault&) {
        return std::nullopt;
    }
}

// A gauge's size in design units when its line gives none: its background
// bitmap's, else a square of its header's width, else of kFallbackSize.
struct NaturalSize {
    uint32_t bitmap_width = 0, bitmap_height = 0;
    double width = kFallbackSize, height = kFallbackSize;
};

NaturalSize natural_size(const runtime::Module& module, runtime::GaugePtr header) {
    NaturalSize size;
    if (const std::optional<uint32_t> background = background_bitmap(module, header)) {
        if (std::optional<runtime::Bitmap> bitmap = module.bitmap(*background)) {
            size.bitmap_width = bitmap->width;
            size.bitmap_height = bitmap->height;
        }
    }
    const uint32_t size_x_mm = module.records().read(header).size_x_mm;
    size.width = size.bitmap_width != 0 ? size.bitmap_width : (size_x_mm != 0 ? size_x_mm : kFallbackSize);
    size.height = size.bitmap_width != 0 ? size.bitmap_height : size.width;
    return size;
}

}  // namespace

std::vector<Panel::Export> Panel::exports() const {
    std::vector<Export> all;
    for (const auto& [key, module] : modules_) {
        for (const runtime::GaugePtr gauge : module->gauges()) {
            const std::string name = module->gauge_name(gauge);
            if (name.empty()) continue;
            try {
                const NaturalSize natural = natural_size(*module, gauge);
                all.push_back({module_names_.at(key) + "!" + name, natural.width, natural.height});
            } catch (const runtime::ModuleFault&) {
                // A header leading outside its module's memory: nothing a panel could place.
            }
        }
    }
    return all;
}

runtime::GaugePtr find_gauge(const runtime::Module& module, std::string_view name) {
    if (runtime::GaugePtr exact = module.gauge(name)) return exact;
    for (runtime::GaugePtr gauge : module.gauges()) {
        const std::string gauge_name = module.gauge_name(gauge);
        if (!gauge_name.empty() && platform::same_name(name, gauge_name)) return gauge;
    }
    return nullptr;
}

double Panel::Gauge::scale_x() const { return width / (bitmap_width != 0 ? bitmap_width : kFallbackSize); }

double Panel::Gauge::scale_y() const {
    const double extent = bitmap_height != 0 ? bitmap_height : (bitmap_width != 0 ? bitmap_width : kFallbackSize);
    return height / extent;
}

Panel::Panel(runtime::Host& host, PanelConfig config, const ModulePaths& paths, double scale, const ModuleHook& on_load)
    : host_(host), config_(std::move(config)), paths_(paths), scale_(scale), warnings_(config_.warnings) {
    if (!(scale > 0.0 && scale <= runtime::GaugeInstance::kMaxScale)) {
        throw PanelError(config_.source + ": display scale " + std::to_string(scale) + " out of range");
    }
    for (const PanelWindow& window : config_.windows) {
        double reach_x = window.width, reach_y = window.height;
        for (const PanelGauge& line : window.gauges)
            gauges_.push_back(make_gauge(window, line, on_load, reach_x, reach_y));
        if (window.visible) windows_.push_back(show_window(window, reach_x, reach_y));
    }
    place_windows();
    if (windows_.empty()) throw PanelError(config_.source + ": no window to show: every [WindowNN] has visible=0");
    if (std::none_of(gauges_.begin(), gauges_.end(), [](const Gauge& gauge) { return gauge.shown; })) {
        throw PanelError(config_.source + ": no gauges: no gaugeNN line in a shown window");
    }
    if (config_.night_switch) {
        const std::vector<std::string> names = gauge_names();
        const std::string& named = config_.night_switch->gauge;
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return platform::same_name(n, named); }))
            warnings_.push_back(where(config_, config_.night_switch->line) + "night_switch: no gauge '" + named +
                                "' on the panel" + platform::did_you_mean(named, names));
    }
    warn_of_missing_bitmaps();
}

runtime::GaugePtr Panel::named_gauge(runtime::Module& module, const PanelGauge& line) const {
    if (const runtime::GaugePtr header = find_gauge(module, line.gauge)) return header;
    std::vector<std::string> names;
    for (const runtime::GaugePtr offered : module.gauges()) {
        if (std::string name = module.gauge_name(offered); !name.empty()) names.push_back(std::move(name));
    }
    throw PanelError(where(config_, line.line) + "module " + line.module + " has no gauge '" + line.gauge + "'" +
                     platform::did_you_mean(line.gauge, names));
}

// One gaugeNN line: its module loaded, its size from its background bitmap
// (or the header's, or the fallback) and the line, checked against what a
// picture can hold; `reach_x` and `reach_y` grow to take it in.
Panel::Gauge Panel::make_gauge(const PanelWindow& window, const PanelGauge& line, const ModuleHook& on_load,
                               double& reach_x, double& reach_y) {
    runtime::Module& module = load(line, on_load);
    const runtime::GaugePtr header = named_gauge(module, line);
    Gauge gauge;
    gauge.window = &window;
    gauge.config = &line;
    gauge.module = &module;
    gauge.shown = window.visible;
    const NaturalSize natural = natural_size(module, header);
    gauge.bitmap_width = natural.bitmap_width;
    gauge.bitmap_height = natural.bitmap_height;
    const double natural_width = natural.width, natural_height = natural.height;
    const double width = line.width.value_or(natural_width);
    const double height = line.height.value_or(width * natural_height / natural_width);
    gauge.width = width * scale_;
    gauge.height = height * scale_;
    const double instance_scale = gauge.width / (gauge.bitmap_width != 0 ? gauge.bitmap_width : kFallbackSize);
    if (!(instance_scale > 0.0 && instance_scale <= runtime::GaugeInstance::kMaxScale) ||
        !(gauge.scale_y() > 0.0 && gauge.scale_y() <= runtime::GaugeInstance::kMaxScale)) {
        const double largest = std::max(instance_scale, gauge.scale_y()) / scale_;
        if (scale_ > 1.0 && largest > 0.0 && largest <= runtime::GaugeInstance::kMaxScale) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "' would be shown at %.2f times its size at scale %g; at most %g is possible: use a scale "
                          "of %.2f or less",
                          largest * scale_, scale_, runtime::GaugeInstance::kMaxScale,
                          std::floor(runtime::GaugeInstance::kMaxScale / largest * 100.0) / 100.0);
            throw PanelScaleError(where(config_, line.line) + "gauge '" + line.gauge + text);
        }
        throw PanelError(where(config_, line.line) + "gauge '" + line.gauge + "' would be shown at " +
                         std::to_string(instance_scale) + " times its size; at most " +
                         std::to_string(runtime::GaugeInstance::kMaxScale) + " is possible");
    }
    if (!(std::fabs(line.x * scale_) <= kMaxPicturePixels && std::fabs(line.y * scale_) <= kMaxPicturePixels)) {
        throw PanelError(where(config_, line.line) + "gauge '" + line.gauge + "' at " + number_text(line.x) + ", " +
                         number_text(line.y) + " lies beyond any picture (at most " +
                         std::to_string(kMaxPicturePixels) + " pixels across)");
    }
    if (line.x < -kEdgeSlack || line.y < -kEdgeSlack ||
        (window.width > 0.0 && line.x + width > window.width + kEdgeSlack) ||
        (window.height > 0.0 && line.y + height > window.height + kEdgeSlack)) {
        warnings_.push_back(where(config_, line.line) + "gauge '" + line.gauge + "' (" + number_text(line.x) + ", " +
                            number_text(line.y) + " to " + number_text(line.x + width) + ", " +
                            number_text(line.y + height) + ") reaches outside [" + window.section + "]" +
                            (window.width > 0.0
                                 ? " (" + number_text(window.width) + " x " + number_text(window.height) + ")"
                                 : std::string()));
    }
    gauge.instance = std::make_unique<runtime::GaugeInstance>(host_, module, header, instance_scale);
    // Within the window; moved with it once it is placed on the screen.
    gauge.left = line.x * scale_;
    gauge.top = line.y * scale_;
    reach_x = std::max(reach_x, line.x + width);
    reach_y = std::max(reach_y, line.y + height);
    return gauge;
}

// A shown window: its background, and its size from the section, else the
// background's, else what its gauges reach.
Panel::Window Panel::show_window(const PanelWindow& window, double reach_x, double reach_y) {
    Window shown;
    shown.config = &window;
    if (!window.file.empty()) load_background(shown);
    const bool sized = window.width > 0.0 && window.height > 0.0;
    shown.width = (sized ? window.width : shown.background ? shown.background->width : reach_x) * scale_;
    shown.height = (sized ? window.height : shown.background ? shown.background->height : reach_y) * scale_;
    if (!(shown.width <= kMaxPicturePixels && shown.height <= kMaxPicturePixels)) {
        throw PanelError(where(config_, window.line) + "[" + window.section + "] would make the picture " +
                         number_text(shown.width) + " x " + number_text(shown.height) + " pixels at scale " +
                         number_text(scale_) + "; a picture holds at most " + std::to_string(kMaxPicturePixels) +
                         " x " + std::to_string(kMaxPicturePixels));
    }
    return shown;
}

void Panel::load_background(Window& window) {
    const PanelWindow& config = *window.config;
    std::vector<std::string> tried;
    if (!config.file.empty() && (config.file.front() == '/' || config.file.front() == '\\')) {
        tried.push_back(config.file);
    } else {
        const size_t slash = config_.source.find_last_of("/\\");
        tried.push_back(
            join(slash == std::string::npos ? std::string() : config_.source.substr(0, slash + 1), config.file));
        if (!paths_.pe_dir.empty()) tried.push_back(join(paths_.pe_dir, config.file));
        tried.push_back(join(paths_.module_dir, config.file));
    }
    for (const std::string& path : tried) {
        if (!file_exists(path)) continue;
        try {
            window.background = std::make_shared<const runtime::Picture>(runtime::read_bmp_file(path));
        } catch (const runtime::DibError& error) {
            throw PanelError(where(config_, config.line) + "[" + config.section + "] file=" + config.file + ": " +
                             error.what());
        }
        window.background_path = path;
        return;
    }
    std::string looked;
    for (const std::string& path : tried) looked += (looked.empty() ? "" : ", ") + path;
    warnings_.push_back(where(config_, config.line) + "[" + config.section + "] background " + config.file +
                        " not found (looked for " + looked + "); drawn without it");
}

void Panel::place_windows() {
    double screen_width = 0.0, screen_height = 0.0;
    for (const Window& window : windows_) {
        screen_width = std::max(screen_width, window.width);
        screen_height = std::max(screen_height, window.height);
    }
    double stack_top = 0.0;
    for (Window& window : windows_) {
        const PanelWindow& config = *window.config;
        if (config.window_pos) {
            window.left = config.window_pos->first * screen_width;
            window.top = config.window_pos->second * screen_height;
        } else if (config.position) {
            window.left = (*config.position % 3) * (screen_width - window.width) / 2.0;
            window.top = (*config.position / 3) * (screen_height - window.height) / 2.0;
        } else {
            window.left = 0.0;
            window.top = stack_top;
            stack_top += window.height + kWindowGap;
        }
        picture_width_ = std::max(picture_width_, window.left + window.width);
        picture_height_ = std::max(picture_height_, window.top + window.height);
        if (!(picture_width_ <= kMaxPicturePixels && picture_height_ <= kMaxPicturePixels)) {
            throw PanelError(where(config_, config.line) + "[" + config.section + "] would make the picture " +
                             number_text(picture_width_) + " x " + number_text(picture_height_) + " pixels at scale " +
                             number_text(scale_) + "; a picture holds at most " + std::to_string(kMaxPicturePixels) +
                             " x " + std::to_string(kMaxPicturePixels));
        }
        for (Gauge& gauge : gauges_) {
            if (gauge.window != &config) continue;
            gauge.left += window.left;
            gauge.top += window.top;
        }
    }
}

void Panel::warn_of_missing_bitmaps() {
    for (const auto& [key, module] : modules_) {
        std::vector<std::string> bare;
        std::string name;
        for (const Gauge& gauge : gauges_) {
            if (gauge.module != module.get()) continue;
            name = gauge.config->module;
            if (gauge.bitmap_width == 0) bare.push_back(gauge.config->gauge);
        }
        if (bare.empty()) continue;
        const std::string& resources = resources_[key];
        std::string why;
        if (!resources.empty()) {
            why = resources + " carries no background bitmap for them";
        } else if (paths_.pe_dir.empty()) {
            why = "no PE build with its bitmaps was given";
        } else {
            why = "no " + name + ".gau in " + paths_.pe_dir;
        }
        std::string which;
        for (size_t i = 0; i < bare.size() && i < 3; ++i) which += (i == 0 ? "" : ", ") + bare[i];
        if (bare.size() > 3) which += ", ...";
        warnings_.push_back(config_.source + ": module '" + name + "': " + why + "; " + std::to_string(bare.size()) +
                            " gauge" + (bare.size() == 1 ? "" : "s") + " (" + which + ") drawn as grey placeholders");
    }
}

Panel::~Panel() { gauges_.clear(); }

std::vector<std::string> Panel::source_files() const {
    std::vector<std::string> files{config_.source};
    for (const auto& [key, module] : modules_) {
        files.push_back(module->path());
        for (const runtime::ModuleLibrary& library : module->libraries()) files.push_back(library.path);
    }
    for (const auto& [key, resources] : resources_) {
        if (!resources.empty()) files.push_back(resources);
    }
    for (const Window& window : windows_) {
        if (!window.background_path.empty()) files.push_back(window.background_path);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

runtime::Module& Panel::load(const PanelGauge& line, const ModuleHook& on_load) {
    const std::string key = platform::lowercase(line.module);
    auto found = modules_.find(key);
    if (found != modules_.end()) return *found->second;
    const std::string path = module_file(paths_.module_dir, line.module);
    if (path.empty()) {
        throw PanelError(where(config_, line.line) + "no module '" + line.module + "' (looked for " +
                         join(paths_.module_dir, line.module + ".gau") + ")" +
                         platform::did_you_mean(line.module, files_named(paths_.module_dir, ".gau")));
    }
    const std::string resources = paths_.pe_dir.empty() ? std::string() : module_file(paths_.pe_dir, line.module);
    try {
        auto module = std::make_unique<runtime::Module>(host_, path, resources);
        runtime::Module& loaded = *modules_.emplace(key, std::move(module)).first->second;
        module_names_[key] = line.module;
        resources_[key] = resources;
        if (on_load) on_load(loaded);
        return loaded;
    } catch (const runtime::ModuleError& error) {
        const std::string message = where(config_, line.line) + "module '" + line.module + "': " + error.what();
        // Module code that faulted while loading is no fault of the configuration.
        if (error.kind() == runtime::ModuleError::Kind::kCode) throw runtime::ModuleError(message, error.kind());
        throw PanelError(message);
    }
}

const Panel::Gauge* Panel::find(std::string_view name) const {
    const size_t bang = name.find('!');
    const std::string_view module = bang == std::string_view::npos ? std::string_view() : name.substr(0, bang);
    const std::string_view gauge_name = bang == std::string_view::npos ? name : name.substr(bang + 1);
    // A name as written wins over one that differs in letter case only.
    for (const bool exact : {true, false}) {
        for (const Gauge& gauge : gauges_) {
            const std::string_view header_name = gauge.instance->name();
            const bool matches = exact ? header_name == gauge_name : platform::same_name(header_name, gauge_name);
            if (matches && (bang == std::string_view::npos || platform::same_name(gauge.config->module, module)))
                return &gauge;
        }
    }
    return nullptr;
}

bool Panel::on_night_switch(double x, double y) const {
    if (!config_.night_switch) return false;
    const NightSwitch& night = *config_.night_switch;
    for (const Gauge& gauge : gauges_) {
        if (!gauge.shown || !platform::same_name(gauge.instance->name(), night.gauge)) continue;
        const double gx = (x - gauge.left) / gauge.scale_x(), gy = (y - gauge.top) / gauge.scale_y();
        if (gx >= night.x && gx < night.x + night.width && gy >= night.y && gy < night.y + night.height) return true;
    }
    return false;
}

std::vector<std::string> Panel::gauge_names() const {
    std::vector<std::string> names;
    for (const Gauge& gauge : gauges_) names.emplace_back(gauge.instance->name());
    return names;
}

std::vector<std::string> Panel::budget_warnings() const {
    std::vector<std::string> warnings;
    for (const auto& [key, module] : modules_) {
        for (std::string& warning : module->budget_warnings()) warnings.push_back(std::move(warning));
    }
    return warnings;
}

runtime::Module* Panel::module(std::string_view name) const {
    auto found = modules_.find(platform::lowercase(name));
    return found != modules_.end() ? found->second.get() : nullptr;
}

void Panel::setup() {
    for (Gauge& gauge : gauges_) gauge.instance->setup();
}

void Panel::update() {
    runtime::module_calls_together([&] {
        for (Gauge& gauge : gauges_) gauge.instance->update();
    });
}

}  // namespace panels
