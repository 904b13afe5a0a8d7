#include "web/live_panel.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <exception>
#include <utility>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "host/instance.h"
#include "host/mouse.h"
#include "host/panel_config.h"
#include "host/scenario.h"

namespace web {
namespace {

constexpr double kSecondsPerUpdate = 1.0 / LivePanel::kRateHz;
// Updates run on every (re)start before the first picture, so that
// rate-limited needles have reached the steady state's readings.
constexpr int kSettleUpdates = 60;

int32_t relative(int32_t at, double origin) {
    return frame::trunc_to_int32(std::round(static_cast<double>(at) - origin));
}

}  // namespace

LivePanel::LivePanel(LiveOptions options) : options_(std::move(options)) { build(); }

LivePanel::~LivePanel() {
    if (held_ != nullptr) held_->instance->release();
}

// The model starts again from its script's beginning; until it has set them,
// the panel's switches and levers have nothing to change in it.
void LivePanel::start_flight() {
    flight_.reset();
    flight_error_.clear();
    flying_ = false;
    if (!options_.flight) return;
    try {
        flight_ = std::make_unique<flightmodel::CoupledFlight>(*options_.flight, *host_);
        flying_ = true;
    } catch (const std::exception& error) {
        flight_error_ = error.what();
    }
}

void LivePanel::step_flight() {
    if (!flying_) return;
    try {
        if (flight_->update()) return;
    } catch (const std::exception& error) {
        flight_error_ = error.what();
    }
    flying_ = false;  // the script's end, or a model that died: the panel stays as the model left it
}

void LivePanel::build() {
    if (held_ != nullptr) held_->instance->release();
    held_ = nullptr;
    renderer_.reset();
    panel_.reset();
    calculator_.reset();
    host_.reset();  // one host at a time is the active one
    host_ = std::make_unique<bench::Host>();
    panel_ = std::make_unique<bench::Panel>(*host_, bench::PanelConfig::read_file(options_.panel_path), options_.paths,
                                            options_.scale);
    renderer_ = std::make_unique<render::PanelRenderer>(*panel_);
    if (options_.steady_state) options_.steady_state(*host_);
    panel_->setup();
    for (int i = 0; i < kSettleUpdates; ++i) {
        host_->tick();
        panel_->update();
    }
    updates_ = 0;
    double absolute_time = 0.0;
    if (!options_.scenario_path.empty()) {
        const bench::Scenario script = bench::Scenario::read_file(options_.scenario_path);
        // The runner keeps its own calculator while it runs.
        bench::ScenarioRunner runner(
            *panel_,
            [this](const bench::Panel&, const bench::Panel::Gauge* gauge, const std::string& path) {
                (gauge != nullptr ? renderer_->render(*gauge) : renderer_->render()).write_png(path);
            },
            stderr, nullptr);
        runner.run(script);
        updates_ = runner.updates_run();
        absolute_time = runner.calculator().absolute_time_seconds();
    }
    calculator_ = std::make_unique<bench::HostCalculator>(*host_, absolute_time);
    host_->clear_key_log();
    key_events_ = 0;
    last_key_event_ = 0;
    paused_ = false;
    // With a model, it alone decides when an engine runs.
    host_->model().set_engines_modelled(options_.flight.has_value());
    start_flight();
}

const bench::Panel::Gauge* LivePanel::gauge_at(int32_t x, int32_t y) const {
    // The last drawn gauge is the one on top.
    const auto& gauges = panel_->gauges();
    for (auto it = gauges.rbegin(); it != gauges.rend(); ++it) {
        if (it->shown && x >= it->left && x < it->left + it->width && y >= it->top && y < it->top + it->height)
            return &*it;
    }
    return nullptr;
}

void LivePanel::apply(const Input& input) {
    count_key_events(false);
    apply_one(input);
    count_key_events(true);
}

void LivePanel::apply_one(const Input& input) {
    switch (input.kind) {
        case Input::kPress:
            if (held_ != nullptr) held_->instance->release();
            held_ = gauge_at(input.x, input.y);
            if (held_ != nullptr) held_->instance->press(relative(input.x, held_->left), relative(input.y, held_->top));
            break;
        case Input::kMove:
            if (held_ != nullptr) held_->instance->move(relative(input.x, held_->left), relative(input.y, held_->top));
            break;
        case Input::kRelease:
            if (held_ != nullptr) held_->instance->release();
            held_ = nullptr;
            break;
        case Input::kKey: host_->send_key_event(input.event, 0); break;
        case Input::kPause: paused_ = !paused_; break;
        case Input::kReset: build(); break;
        case Input::kFly:
            start_flight();
            paused_ = false;
            break;
    }
}

void LivePanel::count_key_events(bool from_page) {
    const auto& log = host_->key_log();
    if (log.empty()) return;
    if (from_page) {
        key_events_ += log.size();
        last_key_event_ = log.back().id;
    }
    host_->clear_key_log();
}

void LivePanel::step() {
    if (paused_) return;
    step_flight();
    host_->tick();
    panel_->update();
    count_key_events(false);
    if (held_ != nullptr) held_->instance->repeat();
    count_key_events(true);
    calculator_->set_absolute_time_seconds(calculator_->absolute_time_seconds() + kSecondsPerUpdate);
    ++updates_;
}

const render::Image& LivePanel::render() { return renderer_->render_frame(); }

const std::vector<render::PixelRect>& LivePanel::changed() const { return renderer_->changed(); }

int LivePanel::width() const { return static_cast<int>(std::ceil(panel_->picture_width())); }
int LivePanel::height() const { return static_cast<int>(std::ceil(panel_->picture_height())); }

std::vector<PageGauge> LivePanel::layout() const {
    std::vector<PageGauge> gauges;
    for (const bench::Panel::Gauge& gauge : panel_->gauges()) {
        if (!gauge.shown) continue;
        const int64_t left = std::llround(gauge.left), top = std::llround(gauge.top);
        PageGauge page{
            gauge.config->module + "!" + gauge.config->gauge, left, top, std::llround(gauge.left + gauge.width),
            std::llround(gauge.top + gauge.height),           {}};
        for (const bench::MouseBox& box : gauge.instance->mouse_layout().boxes()) {
            const bench::DisplayedBox shown = bench::displayed_box(box, gauge.instance->scale());
            page.boxes.push_back({left + shown.left, top + shown.top, left + shown.right, top + shown.bottom,
                                  box.is_child(), box.cursor, box.help_id, box.mouse_flags});
        }
        gauges.push_back(std::move(page));
    }
    return gauges;
}

std::string LivePanel::status_json(double real_time_share, double pictures_per_second) const {
    nlohmann::json status = {
        {"type", "status"}, {"paused", paused_}, {"rate", real_time_share}, {"pictures", pictures_per_second}};
    nlohmann::json rpm = nlohmann::json::array(), running = nlohmann::json::array(), manifold = nlohmann::json::array();
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        rpm.push_back(std::lround(frame::finite_or_zero(host_->vars().get(sim::token::engine_speed(engine)))));
        // Inches of mercury, to a tenth: the unit engine people quote.
        const double psf = frame::finite_or_zero(host_->vars().get(sim::token::manifold_pressure(engine)));
        manifold.push_back(std::round(psf / flightmodel::kPsfPerInHg * 10.0) / 10.0);
        running.push_back(host_->vars().get(sim::token::engine_running(engine)) != 0.0);
    }
    status["rpm"] = rpm;
    status["running"] = running;
    status["manifold_inhg"] = manifold;
    status["events"] = key_events_;
    status["last_event"] = last_key_event_;
    std::string flight = "none";
    double time = static_cast<double>(updates_) * kSecondsPerUpdate;
    if (options_.flight) {
        if (!flight_error_.empty()) {
            flight = "failed";
            status["error"] = "flight model: " + flight_error_;
        } else {
            flight = flying_ ? "flying" : "ended";
        }
        if (flight_) time = flight_->time();
    }
    status["flight"] = flight;
    status["time"] = time;
    return status.dump();
}

}  // namespace web
