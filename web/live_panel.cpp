#include "web/live_panel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "flightmodel/cockpit_controls.h"
#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "panelhost/panel_config.h"
#include "platform/output_file.h"
#include "platform/text_input.h"
#include "runtime/instance.h"
#include "web/panel_editing.h"

namespace web {
namespace {

int32_t relative(int32_t at, double origin) {
    return frame::trunc_to_int32(std::round(static_cast<double>(at) - origin));
}

// A watched file is read again only while it is a regular one: a FIFO put in
// its place would hold the simulation until something wrote to it.
std::string not_regular(const std::string& file) {
    std::error_code error;
    switch (std::filesystem::status(file, error).type()) {
        case std::filesystem::file_type::regular: return {};
        case std::filesystem::file_type::not_found: return file + ": no longer exists";
        case std::filesystem::file_type::fifo: return file + ": is not a regular file (a FIFO)";
        case std::filesystem::file_type::directory: return file + ": is not a regular file (a directory)";
        default:
            return file + (error ? ": cannot be read (" + error.message() + ")"
                                 : ": is not a regular file (a device or socket)");
    }
}

// A background bitmap the new panel finds nowhere and the running one did
// not lack (a bitmap renamed or removed, a file= mistyped) is an edit not
// finished: refused as a configuration that does not load is, where a start
// would only warn.
void refuse_lost_backgrounds(const panels::Panel& running, const panels::Panel& made) {
    std::set<std::pair<std::string, std::string>> lacking;  // section, file=
    for (const panels::Panel::Window& window : running.windows()) {
        if (!window.background && !window.config->file.empty())
            lacking.emplace(window.config->section, window.config->file);
    }
    for (const panels::Panel::Window& window : made.windows()) {
        const panels::PanelWindow& config = *window.config;
        if (window.background || config.file.empty() || lacking.contains({config.section, config.file})) continue;
        const std::string where = made.config().source + ":" + std::to_string(config.line) + ": ";
        std::string why = where + "[" + config.section + "] background " + config.file + " not found";
        // The panel's own warning says where it looked.
        for (const std::string& warning : made.warnings()) {
            if (warning.starts_with(where + "[" + config.section + "] background "))
                why = warning.substr(0, warning.find("; drawn without it"));
        }
        throw panels::PanelError(why);
    }
}

// One line for the terminal and the page's error line, whatever the error's text.
std::string one_line(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// What the model alone knows and the page shows, read after every update
// (FlightRun::watched): the height above the ground, the stall's buffet.
constexpr const char* kModelFigures[] = {"position/h-agl-ft", "korvane/buffet-norm"};
enum ModelFigure { kHeightAboveGround, kBuffet };

}  // namespace

LivePanel::LivePanel(LiveOptions options) : options_(std::move(options)), scale_(options_.scale) {
    if (options_.flight) {
        model_figures_at_ = options_.flight->watched.size();
        options_.flight->watched.insert(options_.flight->watched.end(), std::begin(kModelFigures),
                                        std::end(kModelFigures));
    }
    build();
}

LivePanel::~LivePanel() {
    if (held_ != nullptr) held_->instance->release();
}

// A panel that cannot be made leaves the page no panel: what failed is kept
// for the page until a reset succeeds.
void LivePanel::rebuild(const Kept* kept) {
    reload_error_.clear();
    try {
        build(kept);
        broken_.clear();
        blank_.reset();
    } catch (const std::exception& error) {
        rebuild_failed(error);
    }
}

void LivePanel::rebuild_failed(const std::exception& error) {
    act_on_held([this] { held_->instance->release(); });
    held_ = nullptr;
    flight_.reset();
    flying_ = false;
    renderer_.reset();
    panel_.reset();
    broken_ = std::string("the panel could not be made again: ") + error.what();
    blank_ = std::make_unique<render::Image>(width_, height_);
    blank_shown_ = false;
}

// A key-event routine that faults is no gauge's to take out: its fault is
// shown until a reset.
void LivePanel::send_key_event(uint32_t event, uint32_t value) {
    try {
        host_->send_key_event(event, value);
    } catch (const runtime::ModuleFault& fault) {
        if (key_fault_.empty()) key_fault_ = fault.what();
    }
}

void LivePanel::act_on_held(const std::function<void()>& action) {
    if (held_ != nullptr && !faulted_.run(*held_, action)) held_ = nullptr;
}

// The model starts again from its script's beginning; until it has set them,
// the panel's switches and levers have nothing to change in it.
void LivePanel::start_flight() {
    flight_.reset();
    flight_error_.clear();
    flying_ = false;
    pilot_.gear = pilot_.flaps = flightmodel::PilotControls{}.gear;
    pilot_.pitch_trim = pilot_.rudder_trim = flightmodel::PilotControls{}.pitch_trim;
    hands_ = false;
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
        if (flight_->update(&pilot_)) return;
    } catch (const std::exception& error) {
        flight_error_ = error.what();
    }
    flying_ = false;  // the script's end, or a model that died: the panel stays as the model left it
}

// The running panel's parts go in the reverse of their making, the new
// ones take their place.
void LivePanel::replace_parts(std::unique_ptr<runtime::Host> host, std::unique_ptr<panels::Panel> panel,
                              std::unique_ptr<render::PanelRenderer> renderer) {
    act_on_held([this] { held_->instance->release(); });
    held_ = nullptr;
    flight_.reset();
    flying_ = false;
    renderer_.reset();
    panel_.reset();
    calculator_.reset();
    host_.reset();
    faulted_.clear();
    key_fault_.clear();
    host_ = std::move(host);
    panel_ = std::move(panel);
    renderer_ = std::move(renderer);
    width_ = static_cast<int>(std::ceil(panel_->picture_width()));
    height_ = static_cast<int>(std::ceil(panel_->picture_height()));
    faulted_.setup(*panel_);
}

// A prelude (a scenario) starts where `gaugebench scenario` starts it, cold,
// so that the same clicks do the same; without one the panel settles at
// cruise; a reload takes the state it kept. The simulated time it starts at.
double LivePanel::bring_to_start(panels::Prelude* prelude, const Kept* kept) {
    if (prelude == nullptr && kept == nullptr) {
        if (options_.steady_state) options_.steady_state(*host_);
        for (int i = 0; i < panels::Panel::kSettleUpdates; ++i) {
            host_->tick();
            faulted_.update(*panel_);
        }
    }
    updates_ = 0;
    double absolute_time = 0.0;
    if (prelude != nullptr) {
        const panels::Prelude::Ran ran = prelude->run(
            *panel_,
            [this](const panels::Panel::Gauge* gauge, const std::string& path) {
                (gauge != nullptr ? renderer_->render(*gauge) : renderer_->render()).write_png(path);
            },
            faulted_);
        updates_ = ran.updates;
        absolute_time = ran.absolute_time;
    }
    if (kept != nullptr) {
        host_->vars() = kept->vars;
        host_->model() = kept->model;
        absolute_time = kept->time;
        updates_ = kept->updates;
    }
    return absolute_time;
}

// Making the panel, in the order its parts depend on each other (host,
// panel, renderer, set-up, scenario, calculator, flight); a reload of changed
// files takes the same path with the state it keeps. The new host, panel and
// renderer are made beside the running ones, which are left as they were
// when any of them throws, and only then put in their place.
void LivePanel::build(const Kept* kept) {
    auto host = std::make_unique<runtime::Host>();
    host->set_trace(options_.trace);
    host->set_night(kept != nullptr ? kept->night : options_.night);
    panels::Prelude* const prelude = kept == nullptr ? options_.prelude.get() : nullptr;
    if (prelude != nullptr) prelude->read();
    host->set_main_window(prelude != nullptr ? prelude->main_window_at_start().value_or(options_.main_window)
                                             : options_.main_window);
    auto panel = std::make_unique<panels::Panel>(*host, read_config(), options_.paths, scale_);
    if (kept != nullptr && panel_) refuse_lost_backgrounds(*panel_, *panel);
    auto renderer = std::make_unique<render::PanelRenderer>(*panel);

    // The running panel goes, its parts in the reverse of their making; a
    // flight kept goes on in the new one.
    const bool keep_flight = kept != nullptr && kept->keep_flight, was_flying = flying_;
    std::unique_ptr<flightmodel::CoupledFlight> carried = keep_flight ? std::move(flight_) : nullptr;
    replace_parts(std::move(host), std::move(panel), std::move(renderer));
    calculator_ = std::make_unique<runtime::HostCalculator>(*host_, bring_to_start(prelude, kept));
    host_->clear_key_log();
    key_events_ = 0;
    last_key_event_ = 0;
    paused_ = kept != nullptr && kept->paused;
    // With a model or a simulator, it alone decides when an engine runs.
    host_->model().set_engines_modelled(options_.flight.has_value() || options_.feed != nullptr);
    if (keep_flight) {
        flight_ = std::move(carried);
        if (flight_) flight_->move_to(*host_);
        flying_ = was_flying;
    } else {
        start_flight();
    }
    sources_.clear();
    std::error_code error;
    for (const std::string& file : panel_->source_files())
        sources_.emplace_back(file, std::filesystem::last_write_time(file, error));
    ++generation_;
}

// Polled twice a second: a changed file makes the panel again from the files
// as they are now, the variables as they were. A flight starts again (the
// model cannot be carried into a new host). Files that make no panel leave
// the running one as it was, and the page and the terminal the reason, until
// the next change or a reset.
void LivePanel::reload_if_changed() {
    if (--watch_countdown_ > 0) return;
    watch_countdown_ = kRateHz / 2;
    std::error_code error;
    bool changed = false;
    for (auto& [file, time] : sources_) {
        const std::filesystem::file_time_type now = std::filesystem::last_write_time(file, error);
        changed = changed || now != time;
        time = now;  // a file that does not load is tried again only when it changes again
    }
    if (changed) reload();
}

void LivePanel::reload() {
    const bool mended = !reload_error_.empty() || !panel_;
    if (!panel_) {  // none since a reset failed: made afresh, as a reset would
        rebuild();
        if (panel_) {
            tell("fixed: " + made_line());
        } else {
            tell(one_line(broken_) + "; no panel until it loads");
        }
        return;
    }
    const runtime::Host* running = host_.get();
    try {
        for (const auto& [file, time] : sources_) {
            if (const std::string why = not_regular(file); !why.empty()) throw panels::PanelError(why);
        }
        const Kept kept{host_->vars(), host_->model(), calculator_->absolute_time_seconds(),
                        updates_,      paused_,        host_->night()};
        build(&kept);
        reload_error_.clear();
        tell((mended ? "fixed: " : "") + made_line());
    } catch (const std::exception& error) {
        if (host_.get() != running) {  // failed once the running panel had gone: none to run on
            rebuild_failed(error);
            tell(one_line(broken_) + "; no panel until it loads");
            return;
        }
        reload_error_ = one_line(error.what()) + "; the panel runs on as it was";
        tell(reload_error_);
    }
}

// Editing, the panel is made from the file as last read or saved with the
// page's layout written in; without a layout from the page, from the file as
// it is now, which becomes what the page's layouts are written into.
panels::PanelConfig LivePanel::read_config() {
    if (!options_.edit) return panels::PanelConfig::read_file(options_.panel_path);
    const std::string source = platform::input_name(options_.panel_path);
    if (edited_) return panels::PanelConfig::parse(panels::apply_layout(loaded_text_, *edited_, source), source);
    std::string text =
        platform::read_text_file_as<panels::PanelConfigError>(options_.panel_path, "a panel configuration");
    panels::PanelConfig config = panels::PanelConfig::parse(text, source);
    if (text != loaded_text_) {
        loaded_text_ = std::move(text);
        ++edit_revision_;
    }
    return config;
}

// The page's layout made at once, the modules' variables and the clock kept
// as a reload of changed files keeps them; one that makes no panel leaves
// the running one and the last layout that did, and says why.
void LivePanel::relayout(const panels::PanelLayout& layout) {
    std::optional<panels::PanelLayout> before = std::move(edited_);
    edited_ = layout;
    if (!panel_) {
        rebuild();
        edit_error_.clear();
        return;
    }
    const runtime::Host* running = host_.get();
    try {
        const Kept kept{host_->vars(), host_->model(), calculator_->absolute_time_seconds(),
                        updates_,      paused_,        host_->night()};
        build(&kept);
        edit_error_.clear();
    } catch (const std::exception& error) {
        edited_ = std::move(before);
        if (host_.get() != running) {
            rebuild_failed(error);
            return;
        }
        edit_error_ = "layout not taken: " + one_line(error.what());
    }
}

std::string LivePanel::save(bool overwrite) {
    nlohmann::json answer = {{"type", "saved"}, {"file", options_.panel_path}, {"ok", false}};
    if (!options_.edit) {
        answer["why"] = "editing is off (serve --edit turns it on)";
    } else {
        try {
            const std::string source = platform::input_name(options_.panel_path);
            const std::string text = edited_ ? panels::apply_layout(loaded_text_, *edited_, source) : loaded_text_;
            const SaveResult saved = save_panel_file(options_.panel_path, loaded_text_, text, overwrite);
            answer["ok"] = saved.saved;
            if (saved.saved) {
                // The page has this layout already: the revision counts changes it did not make.
                loaded_text_ = text;
                edited_.reset();
                // The panel already shows what was saved: --watch need not make it again.
                std::error_code error;
                for (auto& [file, time] : sources_) {
                    if (file == options_.panel_path) time = std::filesystem::last_write_time(file, error);
                }
                tell("saved " + options_.panel_path);
            } else {
                answer["why"] = saved.why;
                answer["changed_on_disk"] = saved.changed_on_disk;
            }
        } catch (const std::exception& error) {
            answer["why"] = one_line(error.what()) + "; not saved";
        }
    }
    answer["revision"] = edit_revision_;
    return answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What the page's layout editor starts from: the layout the panel was made
// with, where each shown window lies in the picture, and every gauge the
// modules offer with its size when a line gives none.
nlohmann::json LivePanel::edit_json() const {
    nlohmann::json shown = nlohmann::json::array(), exports = nlohmann::json::array();
    for (const panels::Panel::Window& window : panel_->windows()) {
        shown.push_back({{"section", window.config->section},
                         {"left", window.left},
                         {"top", window.top},
                         {"width", window.width},
                         {"height", window.height}});
    }
    for (const panels::Panel::Export& gauge : panel_->exports())
        exports.push_back({{"name", gauge.name}, {"width", gauge.width}, {"height", gauge.height}});
    return {{"file", options_.panel_path}, {"revision", edit_revision_},
            {"scale", panel_->scale()},   {"shown", shown},
            {"exports", exports},         {"layout", layout_to_json(panels::layout_of(panel_->config()))}};
}

// The panel made again at the picture's new scale, everything kept, the
// flight too. A scale it cannot be drawn at leaves it as it was, the
// terminal told why.
void LivePanel::rescale() {
    double ratio = 1.0;
    for (const auto& [page, asked] : ratios_) ratio = std::max(ratio, asked.ratio);
    const double wanted = options_.scale * ratio;
    if (wanted == scale_ || wanted == refused_scale_) return;
    const double before = scale_;
    scale_ = wanted;
    if (!panel_) return;  // the next one made is made so
    const runtime::Host* running = host_.get();
    try {
        Kept kept{host_->vars(), host_->model(), calculator_->absolute_time_seconds(),
                  updates_,      paused_,        host_->night()};
        kept.keep_flight = true;
        build(&kept);
    } catch (const std::exception& error) {
        scale_ = before;
        refused_scale_ = wanted;
        if (host_.get() != running) {
            rebuild_failed(error);
            tell(one_line(broken_) + "; no panel until it loads");
            return;
        }
        char scales[96];
        std::snprintf(scales, sizeof scales, "the panel stays at scale %g, not %g for a page's pixel ratio: ", before,
                      wanted);
        tell(scales + one_line(error.what()));
    }
}

void LivePanel::forget_closed_pages() {
    const auto now = std::chrono::steady_clock::now();
    const auto kept = std::chrono::duration<double>(options_.closed_page_seconds);
    if (std::erase_if(ratios_, [&](const auto& page) { return page.second.closed && now - *page.second.closed >= kept; }))
        rescale();
}

void LivePanel::tell(const std::string& line) const {
    if (options_.report) options_.report(line);
}

std::string LivePanel::made_line() const {
    const size_t gauges = panel_->gauges().size();
    return "reloaded " + options_.panel_path + " (" + std::to_string(gauges) + (gauges == 1 ? " gauge)" : " gauges)");
}

const panels::Panel::Gauge* LivePanel::gauge_at(int32_t x, int32_t y) const {
    // The last drawn gauge is the one on top.
    const auto& gauges = panel_->gauges();
    for (auto it = gauges.rbegin(); it != gauges.rend(); ++it) {
        if (it->shown && x >= it->left && x < it->left + it->width && y >= it->top && y < it->top + it->height)
            return &*it;
    }
    return nullptr;
}

std::optional<LivePanel::GaugePoint> LivePanel::gauge_point(int32_t x, int32_t y) const {
    const panels::Panel::Gauge* gauge = panel_ ? gauge_at(x, y) : nullptr;
    if (gauge == nullptr) return std::nullopt;
    return GaugePoint{gauge, relative(x, gauge->left), relative(y, gauge->top)};
}

std::optional<double> LivePanel::model_figure(size_t which) const {
    if (!flight_) return std::nullopt;
    const std::vector<double>& watched = flight_->watched();
    if (watched.size() < model_figures_at_ + std::size(kModelFigures)) return std::nullopt;
    return watched[model_figures_at_ + which];
}

std::optional<double> LivePanel::height_above_ground() const { return model_figure(kHeightAboveGround); }
std::optional<double> LivePanel::buffet() const { return model_figure(kBuffet); }

std::vector<std::string> LivePanel::problems() const {
    std::vector<std::string> problems;
    if (!key_fault_.empty()) problems.push_back("a key-event routine faulted: " + key_fault_);
    for (const std::string* said : {&broken_, &reload_error_, &edit_error_}) {
        if (!said->empty()) problems.push_back(*said);
    }
    if (panel_) {
        for (const std::string& warning : panel_->budget_warnings()) problems.push_back(warning);
    }
    return problems;
}

void LivePanel::apply(const Input& input) {
    if (input.kind == Input::kRatio) {
        // To the quarter above, from 1 (a coarser page shrinks the panel's own) to 4.
        ratios_[input.page] = {std::clamp(std::ceil(input.ratio * 4.0) / 4.0, 1.0, 4.0), std::nullopt};
        rescale();
        return;
    }
    if (input.kind == Input::kPageClosed) {
        if (const auto page = ratios_.find(input.page); page != ratios_.end())
            page->second.closed = std::chrono::steady_clock::now();
        return;
    }
    if (input.kind == Input::kEdit) {
        if (options_.edit && input.layout) relayout(*input.layout);
        return;
    }
    if (input.kind == Input::kSave) return;  // answered by save()
    if (!panel_) {
        if (input.kind == Input::kReset) rebuild();
        return;
    }
    count_key_events(false);
    apply_one(input);
    if (panel_) count_key_events(true);
}

void LivePanel::apply_one(const Input& input) {
    switch (input.kind) {
        case Input::kPress:
            act_on_held([this] { held_->instance->release(); });
            held_ = gauge_at(input.x, input.y);
            act_on_held([&] { held_->instance->press(relative(input.x, held_->left), relative(input.y, held_->top)); });
            if (panel_ && panel_->on_night_switch(input.x, input.y)) host_->set_night(!host_->night());
            break;
        case Input::kMove:
            act_on_held([&] { held_->instance->move(relative(input.x, held_->left), relative(input.y, held_->top)); });
            break;
        case Input::kRelease:
            act_on_held([this] { held_->instance->release(); });
            held_ = nullptr;
            break;
        case Input::kKey: send_key_event(input.event); break;
        case Input::kPause: paused_ = !paused_; break;
        case Input::kReset: rebuild(); break;
        case Input::kFly:
            start_flight();
            paused_ = false;
            break;
        case Input::kNight: host_->set_night(!host_->night()); break;
        case Input::kPointer: break;  // answered by pointer_json, changing nothing
        case Input::kEdit:
        case Input::kSave:
        case Input::kRatio:
        case Input::kPageClosed: break;  // taken by apply()
        case Input::kControls:
            pilot_.elevator = input.elevator;
            pilot_.aileron = input.aileron;
            pilot_.rudder = input.rudder;
            pilot_.brakes = input.brakes;
            throttle_rate_ = input.throttle;
            hands_ = hands_ || input.elevator != 0.0 || input.aileron != 0.0 || input.rudder != 0.0 ||
                     input.brakes != 0.0 || input.throttle != 0.0;
            break;
        case Input::kGear:
            move_gear_lever();
            hands_ = true;
            break;
        case Input::kFlaps:
            move_flap_lever(input.step);
            hands_ = true;
            break;
        case Input::kTrim: {
            // From where the pilot last set it, else from the model's own.
            const flightmodel::FlightState model = flight_ ? flight_->state() : flightmodel::FlightState{};
            double& trim = input.axis == 0 ? pilot_.pitch_trim : pilot_.rudder_trim;
            trim = flightmodel::trim_stepped(trim, input.axis == 0 ? model.pitch_trim : model.rudder_trim, input.step);
            hands_ = true;
            break;
        }
    }
}

// The throttle keys work the levers as the panel's own do, through the
// throttle events, so the levers drawn on the panel follow them, and the
// coupling sends the model what they set.
void LivePanel::move_throttles() {
    if (throttle_rate_ == 0.0) return;
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        const double now = host_->vars().get(sim::token::throttle_lever(engine));
        send_key_event(sim::event::throttle_set(engine),
                       flightmodel::throttle_moved(now, throttle_rate_, runtime::Host::kSecondsPerUpdate));
    }
}

void LivePanel::move_gear_lever() {
    pilot_.gear = flightmodel::gear_lever_thrown(pilot_.gear, host_->vars().get(sim::token::kGearLeftPosition));
}

void LivePanel::move_flap_lever(int step) {
    pilot_.flaps = flightmodel::flap_lever_stepped(pilot_.flaps, host_->vars().get(sim::token::kFlapPosition), step);
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
    if (options_.watch) reload_if_changed();
    forget_closed_pages();
    if (paused_ || !panel_) return;
    count_key_events(false);
    move_throttles();
    count_key_events(true);
    step_flight();
    // Sent before the tick, as the coupled flight sends them: the tick lets
    // go of the starters pressed since the last update.
    if (options_.feed) {
        options_.feed->update(host_->vars());
        step_feed();
    }
    runtime::module_calls_together([this] {
        host_->tick();
        faulted_.update(*panel_);
        count_key_events(false);
        act_on_held([this] { held_->instance->repeat(); });
        count_key_events(true);
    });
    calculator_->set_absolute_time_seconds(calculator_->absolute_time_seconds() +
                                           runtime::Host::kSecondsPerUpdate);
    ++updates_;
}

// The controls as the pilot left them in this update; the link's changes
// to the terminal, once each.
void LivePanel::step_feed() {
    options_.feed->send_controls(host_->vars(), host_->model(), pilot_);
    if (const std::string line = options_.feed->change_line(); !line.empty()) tell(line);
}

const render::Image& LivePanel::render() {
    if (panel_) return renderer_->render_frame();
    // The blank picture replaces the panel's once.
    blank_changes_.clear();
    if (!blank_shown_) blank_changes_.push_back({0, 0, width_, height_});
    blank_shown_ = true;
    return *blank_;
}

const std::vector<render::PixelRect>& LivePanel::changed() const {
    return panel_ ? renderer_->changed() : blank_changes_;
}

int LivePanel::width() const { return width_; }
int LivePanel::height() const { return height_; }

}  // namespace web
