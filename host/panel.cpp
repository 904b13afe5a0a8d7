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
    double top = 0.0;
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
            // Placed within the window below, once its top is known.
            gauge.left = line.x * scale_;
            gauge.top = line.y * scale_;
            reach_x = std::max(reach_x, line.x + width);
            reach_y = std::max(reach_y, line.y + height);
            gauges_.push_back(std::move(gauge));
        }
        if (!window.visible) continue;
        Window shown;
        shown.config = &window;
        shown.top = top;
        shown.width = (window.width > 0.0 ? window.width : reach_x) * scale_;
        shown.height = (window.height > 0.0 ? window.height : reach_y) * scale_;
        for (Gauge& gauge : gauges_) {
            if (gauge.window == &window) gauge.top += top;
        }
        top += shown.height + kWindowGap;
        picture_width_ = std::max(picture_width_, shown.width);
        picture_height_ = shown.top + shown.height;
        windows_.push_back(shown);
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
