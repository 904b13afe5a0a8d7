#include "web/page_messages.h"

#include <strings.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <optional>
#include <utility>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "frame/vocabulary_names.h"
#include "runtime/instance.h"
#include "runtime/mouse.h"
#include "web/control_words.h"

namespace web {
namespace {

// The figures the page's flight strip shows, by their vocabulary names, in
// the units the dials read them in; the per-engine ones for every engine.
constexpr const char* kStripFigures[] = {"airspeed", "altitude", "heading",           "vertical_speed",
                                         "pitch",    "bank",     "normal_acceleration", "flaps",
                                         "undercarriage.port"};
// The engines' warm-up is read on the temperatures.
constexpr const char* kStripEngineFigures[] = {"throttle", "boost", "oil_temperature", "radiator_temperature"};

// The panel's windows in picture pixels, each by its section's number ("00"
// for [Window00]), for a page that shows one of them (/?window=00).
nlohmann::json windows_json(const panels::Panel* panel) {
    nlohmann::json windows = nlohmann::json::array();
    if (panel == nullptr) return windows;
    for (const panels::Panel::Window& window : panel->windows()) {
        const std::string& section = window.config->section;
        const bool numbered = section.size() > 6 && strncasecmp(section.c_str(), "window", 6) == 0;
        windows.push_back({{"id", numbered ? section.substr(6) : section},
                           {"title", window.config->title},
                           {"left", std::llround(window.left)},
                           {"top", std::llround(window.top)},
                           {"right", std::llround(window.left + window.width)},
                           {"bottom", std::llround(window.top + window.height)}});
    }
    return windows;
}

// A value to the thousandth, as a dial can be read at best.
double thousandths(double value) { return std::round(frame::finite_or_zero(value) * 1000.0) / 1000.0; }

double reading_of(const runtime::Host& host, const sim::Variable& variable) {
    return thousandths(variable.entry->reading.from_host(host.vars().get(variable.number)));
}

// A gauge's latest calls as the page shows them: each callback with the
// services it called, as compact as the trace's lines allow.
nlohmann::json recent_calls(const runtime::Trace& trace, const std::string& gauge) {
    nlohmann::json calls = nlohmann::json::array();
    for (const std::string& line : trace.recent(gauge)) {
        const nlohmann::json call = nlohmann::json::parse(line, nullptr, false);
        if (call.is_discarded()) continue;
        nlohmann::json shown{{"callback", call.value("callback", "")},
                             {"services", call.value("services", nlohmann::json::array())}};
        if (call.contains("instructions")) shown["instructions"] = call["instructions"];
        calls.push_back(std::move(shown));
    }
    return calls;
}

}  // namespace

std::string pointer_message(LivePanel& live, int32_t x, int32_t y) {
    nlohmann::json out{{"type", "pointer"}, {"x", x}, {"y", y}};
    const std::optional<LivePanel::GaugePoint> point = live.gauge_point(x, y);
    if (!point || live.faulted().contains(*point->gauge)) return out.dump();
    const panels::Panel::Gauge* gauge = point->gauge;
    const int32_t gx = point->x, gy = point->y;
    const double bx = gx / gauge->scale_x(), by = gy / gauge->scale_y();
    out["gauge"] = gauge->config->module + "!" + gauge->config->gauge;
    out["pixel"] = {std::floor(bx), std::floor(by)};
    const runtime::MouseBox* box = gauge->instance->box_under(gx, gy);
    int element = -1, box_element = -1;
    try {
        render::BitmapCache& bitmaps = live.bitmaps(gauge->instance->module());
        element = render::element_at(*gauge->instance, bitmaps, bx, by);
        if (element >= 0) {
            const runtime::ElementState& state = gauge->instance->elements()[static_cast<size_t>(element)];
            const ElementKind* kind = element_kind(state.type);
            out["element"] = {
                {"index", element}, {"kind", kind != nullptr ? kind->name : "unknown"}, {"bitmap", state.resource_id}};
        }
        if (box != nullptr) box_element = element_of_box(*gauge->instance, bitmaps, *box);
    } catch (const std::exception&) {
        // Records that lead out of the module's memory: the next update takes the gauge out.
    }
    const uint32_t help_id = gauge->instance->help_under(gx, gy);
    const char* help = sim::help::text_of(help_id);
    const std::string help_text = help != nullptr               ? help
                                  : help_id != sim::help::kNone ? "help id " + std::to_string(help_id)
                                                                : "";
    if (box != nullptr) out["box"] = {{"record", box->record}, {"cursor", box->cursor}, {"flags", box->mouse_flags}};
    if (!help_text.empty()) out["help"] = help_text;
    const ControlWords words =
        control_words(*gauge->instance, box, help != nullptr ? help : "", element, box_element, live.host().vars());
    out["control"] = {{"name", words.name}, {"state", words.state}};
    if (live.options().trace != nullptr) out["calls"] = recent_calls(*live.options().trace, gauge->instance->name());
    return out.dump();
}

std::string layout_message(const LivePanel& live) {
    nlohmann::json gauges = nlohmann::json::array();
    for (const PageGauge& gauge : page_layout(live)) {
        nlohmann::json boxes = nlohmann::json::array();
        for (const PageBox& box : gauge.boxes) {
            boxes.push_back({{"left", box.left},
                             {"top", box.top},
                             {"right", box.right},
                             {"bottom", box.bottom},
                             {"child", box.child},
                             {"cursor", box.cursor},
                             {"help", box.help_id},
                             {"help_text", box.help_text},
                             {"flags", box.mouse_flags}});
        }
        gauges.push_back({{"name", gauge.name},
                          {"left", gauge.left},
                          {"top", gauge.top},
                          {"right", gauge.right},
                          {"bottom", gauge.bottom},
                          {"scale_x", gauge.scale_x},
                          {"scale_y", gauge.scale_y},
                          {"boxes", std::move(boxes)}});
    }
    // The page's CSS cursor for each the records ask for: a hand over what
    // can be worked; the arrows as the plain pointer.
    const nlohmann::json cursors = {{std::to_string(kCursorArrow), "default"},
                                    {std::to_string(kCursorArrowBack), "default"},
                                    {std::to_string(kCursorHand), "pointer"}};
    nlohmann::json keys = nlohmann::json::array();
    for (const auto& [key, event] :
         {std::pair{"b", sim::event::kBombReleased}, {"q", sim::event::kReleaseSequenceStart}}) {
        const std::optional<sim::Event> named = sim::event_of(event);
        keys.push_back({{"key", key}, {"event", event}, {"name", named ? named->name : std::to_string(event)}});
    }
    nlohmann::json units{{"height", "ft"}};
    for (const char* name : kStripFigures) units[name] = sim::find_variable(name)->entry->reading.unit;
    for (const char* stem : kStripEngineFigures)
        units[stem] = sim::find_variable(std::string(stem) + ".1")->entry->reading.unit;
    nlohmann::json layout = {{"type", "layout"},   {"width", live.width()},   {"height", live.height()},
                             {"gauges", gauges},   {"cursors", cursors},      {"drag_flag", kMouseDrag},
                             {"keys", keys},       {"units", units},          {"windows", windows_json(live.panel())}};
    if (live.options().edit && live.panel() != nullptr) layout["edit"] = live.edit_json();
    return layout.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<PageGauge> page_layout(const LivePanel& live) {
    std::vector<PageGauge> gauges;
    if (live.panel() == nullptr) return gauges;
    for (const panels::Panel::Gauge& gauge : live.panel()->gauges()) {
        if (!gauge.shown) continue;
        const int64_t left = std::llround(gauge.left), top = std::llround(gauge.top);
        PageGauge page{
            gauge.config->module + "!" + gauge.config->gauge, left, top, std::llround(gauge.left + gauge.width),
            std::llround(gauge.top + gauge.height),           {}};
        page.scale_x = gauge.scale_x();
        page.scale_y = gauge.scale_y();
        for (const runtime::MouseBox& box : gauge.instance->mouse_layout().boxes()) {
            const runtime::DisplayedBox shown = runtime::displayed_box(box, gauge.instance->scale());
            const char* help = sim::help::text_of(box.help_id);
            page.boxes.push_back({left + shown.left, top + shown.top, left + shown.right, top + shown.bottom,
                                  box.is_child(), box.cursor, box.help_id, help != nullptr ? help : "",
                                  box.mouse_flags});
        }
        gauges.push_back(std::move(page));
    }
    return gauges;
}

namespace {

// The flight strip's figures by vocabulary name, in the units the dials read.
nlohmann::json strip_figures(const runtime::Host& host) {
    nlohmann::json figures = nlohmann::json::object();
    for (const char* name : kStripFigures) figures[name] = reading_of(host, *sim::find_variable(name));
    for (const char* stem : kStripEngineFigures) {
        nlohmann::json each = nlohmann::json::array();
        for (int engine = 1; engine <= sim::kEngineCount; ++engine)
            each.push_back(reading_of(host, *sim::find_variable(std::string(stem) + "." + std::to_string(engine))));
        figures[stem] = std::move(each);
    }
    return figures;
}

// The flight model's part: its state, the clock it keeps, what only it
// knows for the strip, the trim, a crash.
void add_flight(const LivePanel& live, nlohmann::json& status, nlohmann::json& figures) {
    std::string flight = "none";
    double time = static_cast<double>(live.updates()) * runtime::Host::kSecondsPerUpdate;
    if (live.options().flight) {
        if (!live.flight_error().empty()) {
            flight = "failed";
            status["error"] = "flight model: " + live.flight_error();
        } else {
            flight = live.flying() ? "flying" : "ended";
        }
        if (const flightmodel::CoupledFlight* model = live.flight()) {
            time = model->time();
            const flightmodel::FlightState state = model->state();
            if (const std::optional<double> height = live.height_above_ground()) {
                figures["height"] = thousandths(*height);
                figures["on_ground"] = state.on_ground;
            }
            if (const std::optional<double> buffet = live.buffet()) status["buffet"] = thousandths(*buffet);
            status["trim"] = {{"elevator", thousandths(state.pitch_trim)}, {"rudder", thousandths(state.rudder_trim)}};
            if (state.crashed) status["crashed"] = "crashed: " + flightmodel::crash_sentence(state);
            if (state.on_belly) status["on_belly"] = true;
        }
        status["hands"] = live.hands();
    }
    status["flight"] = flight;
    status["time"] = time;
}

nlohmann::json feed_status(const feed::FeedSession& feed) {
    const feed::LinkStatus link = feed.status();
    return {{"state", feed::state_name(link)},
            {"text", feed::status_text(link)},
            {"rate", thousandths(link.rate)},
            {"packets", link.packets},
            {"malformed", link.malformed},
            {"refused", link.refused},
            {"silent", thousandths(link.silent_seconds)},
            {"controls", feed.controls_text()}};
}

// The gauges taken out and every other problem, one error line each after
// any the status holds already.
void add_problems(const LivePanel& live, nlohmann::json& status) {
    nlohmann::json faults = nlohmann::json::array();
    std::string errors = status.value("error", "");
    const auto add_error = [&errors](const std::string& what) { errors += (errors.empty() ? "" : "\n") + what; };
    for (const panels::FaultedGauges::Entry& entry : live.faulted().entries()) {
        const std::string name = entry.gauge->config->module + "!" + entry.gauge->config->gauge;
        faults.push_back({{"gauge", name}, {"fault", entry.message}});
        add_error(name + " stopped: " + entry.message);
    }
    for (const std::string& problem : live.problems()) add_error(problem);
    if (!errors.empty()) status["error"] = errors;
    status["faults"] = faults;
}

}  // namespace

std::string status_message(const LivePanel& live, double real_time_share, double pictures_per_second) {
    const runtime::Host& host = live.host();
    nlohmann::json status = {{"type", "status"},
                             {"paused", live.paused()},
                             {"rate", real_time_share},
                             {"pictures", pictures_per_second},
                             {"updates_per_second", runtime::Host::kUpdatesPerSecond}};
    nlohmann::json rpm = nlohmann::json::array(), running = nlohmann::json::array();
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        rpm.push_back(std::lround(frame::finite_or_zero(host.vars().get(sim::token::engine_speed(engine)))));
        running.push_back(host.vars().get(sim::token::engine_running(engine)) != 0.0);
    }
    status["rpm"] = rpm;
    status["running"] = running;
    const uint32_t last_event = live.last_key_event();
    status["events"] = live.key_events();
    const std::optional<sim::Event> last = sim::event_of(last_event);
    status["last_event"] = last_event == 0 ? "" : last ? last->name : std::to_string(last_event);
    nlohmann::json figures = strip_figures(host);
    add_flight(live, status, figures);
    if (live.options().feed) status["feed"] = feed_status(*live.options().feed);
    status["figures"] = std::move(figures);
    const flightmodel::PilotControls& pilot = live.pilot();
    status["controls"] = {
        {"elevator", pilot.elevator}, {"aileron", pilot.aileron}, {"rudder", pilot.rudder}, {"brakes", pilot.brakes}};
    status["night"] = host.night();
    // The bomb counter's own count: its gauge shows nothing the crew reads.
    status["bombs"] = std::lround(frame::finite_or_zero(host.vars().get(std::string("L:Bombs_dropped"))));
    add_problems(live, status);
    // Faults quote the module's bytes: one that is no UTF-8 still gives JSON.
    return status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace web
