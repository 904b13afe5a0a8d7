#include "host/panel.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace bench {
namespace {

// A gauge whose module carries no background bitmap is laid out as a square
// of its header's default width.
constexpr double kFallbackSize = 100.0;

std::string where(const PanelConfig& config, int line) { return config.source + ":" + std::to_string(line) + ": "; }

bool file_exists(const std::string& path) { return static_cast<bool>(std::ifstream(path, std::ios::binary)); }

std::string join(const std::string& dir, const std::string& file) {
    if (dir.empty()) return file;
    const char last = dir.back();
    return last == '/' || last == '\\' ? dir + file : dir + "/" + file;
}

}  // namespace

double Panel::Gauge::scale_x() const { return width / (bitmap_width != 0 ? bitmap_width : kFallbackSize); }

double Panel::Gauge::scale_y() const {
    const double extent = bitmap_height != 0 ? bitmap_height : (bitmap_width != 0 ? bitmap_width : kFallbackSize);
    return height / extent;
}

Panel::Panel(Host& host, PanelConfig config, const ModulePaths& paths, double scale, const ModuleHook& on_load)
    : host_(host), config_(std::move(config)), paths_(paths), scale_(scale) {
    if (!(scale > 0.0 && scale <= GaugeInstance::kMaxScale)) {
        throw PanelError(config_.source + ": display scale " + std::to_string(scale) + " out of range");
    }
    for (const PanelWindow& window : config_.windows) {
        double reach_x = window.width, reach_y = window.height;
        for (const PanelGauge& line : window.gauges) {
            Module& module = load(line, on_load);
            GAUGEHDR* header = module.gauge(line.gauge);
            if (header == nullptr) {
                throw PanelError(where(config_, line.line) + "module " + line.module + " has no gauge '" + line.gauge +
                                 "'");
            }
            Gauge gauge;
            gauge.window = &window;
            gauge.config = &line;
            gauge.module = &module;
            gauge.shown = window.visible;
            if (header->element_list != nullptr && header->element_list[0] != nullptr) {
                if (std::optional<Bitmap> bitmap = module.bitmap(header->element_list[0]->resource_id)) {
                    gauge.bitmap_width = bitmap->width;
                    gauge.bitmap_height = bitmap->height;
                }
            }
            const double natural_width = gauge.bitmap_width != 0
                                             ? gauge.bitmap_width
                                             : (header->size_x_mm != 0 ? header->size_x_mm : kFallbackSize);
            const double natural_height = gauge.bitmap_width != 0 ? gauge.bitmap_height : natural_width;
            const double width = line.width.value_or(natural_width);
            const double height = line.height.value_or(width * natural_height / natural_width);
            gauge.width = width * scale_;
            gauge.height = height * scale_;
            const double instance_scale = gauge.width / (gauge.bitmap_width != 0 ? gauge.bitmap_width : kFallbackSize);
            if (!(instance_scale > 0.0 && instance_scale <= GaugeInstance::kMaxScale) ||
                !(gauge.scale_y() > 0.0 && gauge.scale_y() <= GaugeInstance::kMaxScale)) {
                throw PanelError(where(config_, line.line) + "gauge '" + line.gauge + "' would be shown at " +
                                 std::to_string(instance_scale) + " times its size; at most " +
                                 std::to_string(GaugeInstance::kMaxScale) + " is possible");
            }
            gauge.instance = std::make_unique<GaugeInstance>(host_, module, header, instance_scale);
            // Within the window; moved with it once it is placed on the screen.
            gauge.left = line.x * scale_;
            gauge.top = line.y * scale_;
            reach_x = std::max(reach_x, line.x + width);
            reach_y = std::max(reach_y, line.y + height);
            gauges_.push_back(std::move(gauge));
        }
        if (!window.visible) continue;
        Window shown;
        shown.config = &window;
        if (!window.file.empty()) load_background(shown);
        const bool sized = window.width > 0.0 && window.height > 0.0;
        shown.width = (sized ? window.width : shown.background ? shown.background->width : reach_x) * scale_;
        shown.height = (sized ? window.height : shown.background ? shown.background->height : reach_y) * scale_;
        windows_.push_back(std::move(shown));
    }
    place_windows();
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
            window.background = std::make_shared<const Picture>(read_bmp_file(path));
        } catch (const DibError& error) {
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
        for (Gauge& gauge : gauges_) {
            if (gauge.window != &config) continue;
            gauge.left += window.left;
            gauge.top += window.top;
        }
    }
}

Panel::~Panel() { gauges_.clear(); }

Module& Panel::load(const PanelGauge& line, const ModuleHook& on_load) {
    auto found = modules_.find(line.module);
    if (found != modules_.end()) return *found->second;
    const std::string file = line.module + ".gau";
    const std::string path = join(paths_.module_dir, file);
    if (!file_exists(path)) {
        throw PanelError(where(config_, line.line) + "no module '" + line.module + "' (looked for " + path + ")");
    }
    std::string resources;
    if (!paths_.pe_dir.empty() && file_exists(join(paths_.pe_dir, file))) resources = join(paths_.pe_dir, file);
    try {
        auto module = std::make_unique<Module>(host_, path, resources);
        Module& loaded = *modules_.emplace(line.module, std::move(module)).first->second;
        if (on_load) on_load(loaded);
        return loaded;
    } catch (const ModuleError& error) {
        throw PanelError(where(config_, line.line) + "module '" + line.module + "': " + error.what());
    }
}

const Panel::Gauge* Panel::find(std::string_view name) const {
    const size_t bang = name.find('!');
    for (const Gauge& gauge : gauges_) {
        if (bang == std::string_view::npos) {
            if (gauge.config->gauge == name) return &gauge;
        } else if (gauge.config->module == name.substr(0, bang) && gauge.config->gauge == name.substr(bang + 1)) {
            return &gauge;
        }
    }
    return nullptr;
}

Module* Panel::module(std::string_view name) const {
    auto found = modules_.find(std::string(name));
    return found != modules_.end() ? found->second.get() : nullptr;
}

void Panel::setup() {
    for (Gauge& gauge : gauges_) gauge.instance->setup();
}

void Panel::update() {
    for (Gauge& gauge : gauges_) gauge.instance->update();
}

}  // namespace bench
