#include "runtime/trace.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <unordered_map>

#include "frame/records.h"
#include "frame/vocabulary_names.h"
#include "runtime/host.h"
#include "runtime/key_model.h"
#include "runtime/module.h"
#include "runtime/module_code.h"

namespace runtime {
namespace {

// The vocabulary by number, made once: the names' own look-ups spell every
// family member out on each call, far too slow for every service call.
struct VariableName {
    std::string name;
    sim::unit::Reading reading;
};
const std::unordered_map<uint32_t, VariableName>& variable_names() {
    static const auto* names = [] {
        auto* made = new std::unordered_map<uint32_t, VariableName>;
        sim::names_detail::each(sim::kVariables,
                                [&](std::string full, uint32_t token, const sim::NamedVariable& entry) {
                                    made->emplace(token, VariableName{std::move(full), entry.reading});
                                    return false;
                                });
        return made;
    }();
    return *names;
}
const std::unordered_map<uint32_t, std::string>& event_names() {
    static const auto* names = [] {
        auto* made = new std::unordered_map<uint32_t, std::string>;
        sim::names_detail::each(sim::kEvents, [&](std::string full, uint32_t id, const sim::NamedEvent&) {
            made->emplace(id, std::move(full));
            return false;
        });
        return made;
    }();
    return *names;
}

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void add_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;  // module strings are bytes: a reader takes them as they come
        }
    }
    out += '"';
}

void add_number(std::string& out, uint64_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// JSON has no NaN or infinity: those are written as strings.
void add_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "\"nan\"" : value > 0 ? "\"inf\"" : "\"-inf\"";
        return;
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void add_key(std::string& out, std::string_view key) {
    out += ",\"";
    out += key;
    out += "\":";
}

// A key event by its name in the vocabulary (its number for one the
// vocabulary lacks), and its value.
void add_key_event(std::string& out, uint32_t id, uint32_t value) {
    const auto named = event_names().find(id);
    if (named != event_names().end()) {
        add_key(out, "event");
        add_json_string(out, named->second);
    } else {
        add_key(out, "event_id");
        add_number(out, uint64_t{id});
    }
    add_key(out, "value");
    add_number(out, uint64_t{value});
}

// A service's entry after its name, in the vocabulary's words where the
// service carries them.
void add_service_details(std::string& out, const Module& caller, uint32_t slot, std::span<const uint32_t> args) {
    const auto arg = [&](size_t i) { return i < args.size() ? args[i] : 0u; };
    switch (slot) {
        case service_slot::lookup_var:
        case service_slot::initialize_var: {
            const GuestPtr<guest::MODULE_VAR> var(arg(0));
            if (!var) {
                out += ",\"variable\":null";
                return;
            }
            const guest::MODULE_VAR record = caller.records().read(var);
            const auto named = variable_names().find(record.token);
            if (named != variable_names().end()) {
                add_key(out, "variable");
                add_json_string(out, named->second.name);
            } else {
                add_key(out, "token");
                add_number(out, uint64_t{record.token});
            }
            add_key(out, "value");
            add_number(out, record.value);
            if (named != variable_names().end()) {
                add_key(out, "reads");
                add_json_string(
                    out, sim::reading_text(named->second.reading.from_host(record.value), named->second.reading));
            }
            return;
        }
        case service_slot::trigger_key_event: add_key_event(out, arg(0), arg(1)); return;
        case service_slot::register_key_event_handler:
        case service_slot::unregister_key_event_handler:
            add_key(out, "routine");
            add_number(out, uint64_t{arg(0)});
            add_key(out, "user_data");
            add_number(out, uint64_t{arg(1)});
            return;
        case service_slot::execute_calculator_code: {
            add_key(out, "code");
            const GuestPtr<const char> code(arg(0));
            if (!code) {
                out += "null";
                return;
            }
            add_json_string(out, caller.records().read_string(code, 1u << 16));
            return;
        }
        default:
            add_key(out, "args");
            out += '[';
            for (size_t i = 0; i < args.size(); ++i) {
                if (i != 0) out += ',';
                add_number(out, uint64_t{args[i]});
            }
            out += ']';
            return;
    }
}

}  // namespace

bool TraceFilter::matches(std::string_view gauge, std::string_view callback) const {
    const bool gauge_named = gauges.empty() || std::any_of(gauges.begin(), gauges.end(), [&](const std::string& name) {
                                 return same_letters(name, gauge);
                             });
    if (!gauge_named) return false;
    if (callbacks.empty()) return true;
    const size_t open = callback.find(" (");
    const std::string_view inner = open != std::string_view::npos && callback.back() == ')'
                                       ? callback.substr(open + 2, callback.size() - open - 3)
                                       : std::string_view();
    return std::any_of(callbacks.begin(), callbacks.end(), [&](const std::string& name) {
        return same_letters(name, callback) || (!inner.empty() && same_letters(name, inner)) ||
               (callback.size() > name.size() && callback[name.size()] == ' ' &&
                same_letters(name, callback.substr(0, name.size())));
    });
}

Trace::Trace(std::FILE* out, TraceFilter filter, size_t recent_per_gauge, uint64_t limit_bytes)
    : out_(out), filter_(std::move(filter)), recent_per_gauge_(recent_per_gauge), limit_(limit_bytes) {
    buffer_.reserve(kFlushBytes + (kFlushBytes >> 2));
    frames_.resize(8);
}

Trace::~Trace() { flush(); }

bool Trace::flush() noexcept {
    settle();
    close_host_line();
    if (out_ != nullptr && !buffer_.empty()) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) failed_ = true;
    }
    buffer_.clear();
    return !failed_;
}

bool Trace::end() noexcept {
    const bool written = flush();
    out_ = nullptr;
    return written;
}

void Trace::add_time(std::string& line) const {
    line += R"({"t":)";
    char time[32];  // to the millisecond: an update is 56 of them
    line.append(time, std::to_chars(time, time + sizeof time, seconds(), std::chars_format::fixed, 3).ptr);
    add_key(line, "update");
    add_number(line, updates_);
}

double Trace::seconds() const { return static_cast<double>(updates_) / Host::kUpdatesPerSecond; }

void Trace::tick() noexcept {
    settle();
    close_host_line();
    ++updates_;
}

std::vector<std::string> Trace::recent(std::string_view gauge) const {
    const auto kept = recent_.find(gauge);
    if (kept == recent_.end()) return {};
    return {kept->second.begin(), kept->second.end()};
}

const std::string& Trace::module_name(const Module& module) {
    for (const auto& [known, name] : module_names_) {
        if (known == &module) return name;
    }
    return module_names_.emplace_back(&module, std::filesystem::path(module.path()).filename().string()).second;
}

void Trace::open(Frame& frame, const Module& module, std::string_view gauge, std::string_view callback, bool host,
                 const KeyEvent* event) {
    frame.module = &module;
    frame.host = host;
    frame.exceptions = std::uncaught_exceptions();
    frame.services = 0;
    frame.dropped = 0;
    frame.win32.clear();
    frame.win32_calls = 0;
    frame.win32_dropped = 0;
    frame.gauge.assign(gauge);
    frame.instructions = host ? 0 : instructions_run(module.machine());
    std::string& line = frame.line;
    line.clear();
    add_time(line);
    add_key(line, "module");
    add_json_string(line, module_name(module));
    add_key(line, "gauge");
    if (gauge.empty()) {
        line += "null";
    } else {
        add_json_string(line, gauge);
    }
    add_key(line, "callback");
    add_json_string(line, callback);
    if (event != nullptr) add_key_event(line, event->id, event->value);
    add_key(line, "depth");
    add_number(line, uint64_t{host ? 0 : depth_});
    line += ",\"services\":[";
}

void Trace::close(Frame& frame, bool faulted) {
    std::string& line = frame.line;
    line += ']';
    if (frame.dropped != 0) {
        add_key(line, "services_dropped");
        add_number(line, frame.dropped);
    }
    if (frame.win32_calls != 0) {
        line += ",\"win32\":[";
        line += frame.win32;
        line += ']';
    }
    if (frame.win32_dropped != 0) {
        add_key(line, "win32_dropped");
        add_number(line, frame.win32_dropped);
    }
    if (!frame.host) {
        add_key(line, "instructions");
        add_number(line, instructions_run(frame.module->machine()) - frame.instructions);
    }
    if (faulted) {
        line += ",\"ended\":\"cut short\"";
        settle();
        std::swap(cut_short_, frame);
        cut_short_open_ = true;
        return;
    }
    line += "}\n";
    emit(frame.gauge, line);
}

void Trace::settle() noexcept {
    if (!cut_short_open_) return;
    cut_short_open_ = false;
    try {
        cut_short_.line += "}\n";
        emit(cut_short_.gauge, cut_short_.line);
    } catch (...) {
        failed_ = true;
    }
}

void Trace::fault(const Module& module, std::string_view text, std::string_view source) noexcept {
    if (!cut_short_open_ || cut_short_.module != &module) return;
    try {
        add_key(cut_short_.line, "fault");
        add_json_string(cut_short_.line, text);
        if (!source.empty()) {
            add_key(cut_short_.line, "source");
            add_json_string(cut_short_.line, source);
        }
    } catch (...) {
        failed_ = true;
    }
    settle();
}

void Trace::emit(const std::string& gauge, const std::string& line) {
    ++lines_;
    if (out_ != nullptr) {
        if (limit_ != 0 && written_ + line.size() + kCutLineBytes > limit_) {
            cut_here();
        } else {
            buffer_ += line;
            written_ += line.size();
            if (buffer_.size() >= kFlushBytes) flush();
        }
    }
    if (recent_per_gauge_ == 0 || gauge.empty()) return;
    auto kept = recent_.find(gauge);
    if (kept == recent_.end()) kept = recent_.emplace(gauge, std::deque<std::string>()).first;
    kept->second.emplace_back(line.data(), line.size() - 1);  // without its newline
    if (kept->second.size() > recent_per_gauge_) kept->second.pop_front();
}

void Trace::close_host_line() {
    if (!host_open_) return;
    host_open_ = false;
    try {
        close(host_line_, false);
    } catch (...) {
        failed_ = true;
    }
}

bool Trace::add_service_separator(Frame& frame) {
    if (frame.services >= kServicesListed || frame.line.size() >= kServiceBytesListed) {
        ++frame.dropped;
        return false;
    }
    if (frame.services++ != 0) frame.line += ',';
    return true;
}

// The file ends here with a line of its own, so that a reader knows the
// calls stop because the limit was reached, not because the run ended.
void Trace::cut_here() {
    std::string line;
    add_time(line);
    line += R"(,"trace":"cut at its limit")";
    add_key(line, "limit");
    add_number(line, limit_);
    line += "}\n";
    buffer_ += line;
    flush();
    out_ = nullptr;
    cut_ = true;
    try {
        if (when_cut_) when_cut_();
    } catch (...) {
        // Only the telling failed: the file itself is whole.
    }
}

// A scope deeper than the frames kept so far gets a frame of its own; one
// that cannot be had (memory) leaves the call untraced but counted, so that
// its leave() still pops its own depth.
void Trace::enter(const Module& module, std::string_view gauge, std::string_view callback,
                  const KeyEvent* event) noexcept {
    settle();
    try {
        close_host_line();
        if (depth_ >= frames_.size()) frames_.resize(depth_ + 1);
        Frame& frame = frames_[depth_];
        const bool inside = depth_ > 0 && frames_[depth_ - 1].traced;
        frame.traced = keeps_lines() && (inside || filter_.matches(gauge, callback));
        if (frame.traced) open(frame, module, gauge, callback, false, event);
    } catch (...) {
        if (depth_ < frames_.size()) frames_[depth_].traced = false;
        failed_ = true;
    }
    ++depth_;
}

void Trace::leave() noexcept {
    settle();
    if (depth_ == 0) return;
    --depth_;
    if (depth_ >= frames_.size() || !frames_[depth_].traced) return;
    Frame& frame = frames_[depth_];
    try {
        close(frame, std::uncaught_exceptions() > frame.exceptions);
    } catch (...) {
        failed_ = true;
    }
}

void Trace::service(const Module& caller, uint32_t slot, std::span<const uint32_t> args) noexcept {
    settle();
    if (depth_ == 0 || depth_ > frames_.size() || !frames_[depth_ - 1].traced) return;
    Frame& frame = frames_[depth_ - 1];
    std::string& line = frame.line;
    const size_t start = line.size();
    try {
        if (!add_service_separator(frame)) return;
        line += "{\"service\":";
        if (const ServiceShape* shape = service_shape(slot)) {
            add_json_string(line, shape->name);
        } else {
            add_json_string(line, "unused slot " + std::to_string(slot));
        }
        add_service_details(line, caller, slot, args);
        line += '}';
    } catch (const std::exception& error) {
        // What the service's arguments lead to could not be read: the entry
        // says so rather than leaving the line unfinished.
        try {
            line.resize(start);
            line += frame.services > 1 ? "," : "";
            line += "{\"service\":";
            add_number(line, uint64_t{slot});
            line += ",\"unreadable\":";
            add_json_string(line, error.what());
            line += '}';
        } catch (...) {
            failed_ = true;
        }
    } catch (...) {
        failed_ = true;
    }
}

void Trace::win32(std::string_view function, const std::function<std::string()>& arguments) noexcept {
    settle();
    if (depth_ == 0 || depth_ > frames_.size() || !frames_[depth_ - 1].traced) return;
    Frame& frame = frames_[depth_ - 1];
    if (frame.win32_calls >= kServicesListed || frame.win32.size() >= kServiceBytesListed) {
        ++frame.win32_dropped;
        return;
    }
    try {
        std::string call(function);
        call += '(';
        call += arguments();
        call += ')';
        if (frame.win32_calls++ != 0) frame.win32 += ',';
        add_json_string(frame.win32, call);
    } catch (...) {
        failed_ = true;
    }
}

// Looked up outside module code, between a gauge's callbacks: the questions
// of one gauge in a row share a line.
void Trace::failure(const Module& module, std::string_view gauge, uint32_t failure_key, bool failed) noexcept {
    settle();
    try {
        Frame* frame = nullptr;
        if (depth_ > 0 && depth_ <= frames_.size()) {
            if (frames_[depth_ - 1].traced) frame = &frames_[depth_ - 1];
        } else if (keeps_lines() && filter_.matches(gauge, "failure check (host)")) {
            if (host_open_ && (host_line_.module != &module || host_line_.gauge != gauge)) close_host_line();
            if (!host_open_) {
                open(host_line_, module, gauge, "failure check (host)", true, nullptr);
                host_open_ = true;
            }
            frame = &host_line_;
        }
        if (frame == nullptr || !add_service_separator(*frame)) return;
        std::string& line = frame->line;
        line += "{\"failure\":";
        if (const char* name = name_of(kFailureKeyNames, failure_key)) {
            add_json_string(line, name);
        } else {
            add_number(line, uint64_t{failure_key});
        }
        line += failed ? ",\"failed\":true}" : ",\"failed\":false}";
    } catch (...) {
        failed_ = true;
    }
}

}  // namespace runtime
