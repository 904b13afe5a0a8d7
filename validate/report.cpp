#include "validate/report.h"

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "korvane_version.h"

namespace validate {

const char* status_name(Status status) {
    switch (status) {
        case Status::kPass: return "pass";
        case Status::kWarn: return "warn";
        case Status::kFail: return "fail";
        case Status::kSkip: return "skip";
    }
    return "?";
}

const CheckInfo* find_check(std::string_view id) {
    for (const CheckInfo& info : kChecks) {
        if (id == info.id) return &info;
    }
    return nullptr;
}

std::string Finding::line() const {
    std::string text;
    for (const std::string* part : {&gauge, &element, &field}) {
        if (part->empty()) continue;
        text += *part;
        text += ": ";
    }
    return text + message;
}

Status CheckResult::status() const {
    if (!ran) return Status::kSkip;
    if (fail_count != 0) return Status::kFail;
    if (warn_count != 0) return Status::kWarn;
    return Status::kPass;
}

Report::Report() {
    for (const CheckInfo& info : kChecks) {
        CheckResult result;
        result.id = info.id;
        result.name = info.name;
        checks_.push_back(std::move(result));
    }
}

CheckResult& Report::check(Check which) { return checks_[static_cast<size_t>(which)]; }
const CheckResult& Report::check(Check which) const { return checks_[static_cast<size_t>(which)]; }
const CheckResult& Report::check(std::string_view id) const {
    const CheckInfo* info = find_check(id);
    if (info == nullptr) throw std::out_of_range("no validator check " + std::string(id));
    return check(info->check);
}

void Report::add(Check which, Finding finding) {
    CheckResult& result = check(which);
    result.ran = true;
    ++result.finding_count;
    if (finding.severity == Status::kFail) {
        ++result.fail_count;
    } else {
        ++result.warn_count;
    }
    if (result.findings.size() < kMaxKeptFindings) result.findings.push_back(std::move(finding));
}

void Report::fail(Check which, std::string gauge, std::string element, std::string field, std::string message) {
    add(which, Finding{Status::kFail, std::move(gauge), std::move(element), std::move(field), std::move(message)});
}

void Report::warn(Check which, std::string gauge, std::string element, std::string field, std::string message) {
    add(which, Finding{Status::kWarn, std::move(gauge), std::move(element), std::move(field), std::move(message)});
}

void Report::info(Check which, std::string gauge, std::string element, std::string field, std::string message) {
    CheckResult& result = check(which);
    result.ran = true;
    if (result.info.size() < kMaxKeptFindings) {
        result.info.push_back(
            Finding{Status::kPass, std::move(gauge), std::move(element), std::move(field), std::move(message)});
    }
}

void Report::ran(Check which, std::string note) {
    CheckResult& result = check(which);
    result.ran = true;
    if (!note.empty()) result.note = std::move(note);
}

void Report::skip(Check which, std::string reason) {
    CheckResult& result = check(which);
    result.ran = false;
    result.note = std::move(reason);
}

size_t Report::count(Status status) const {
    return static_cast<size_t>(
        std::count_if(checks_.begin(), checks_.end(), [status](const CheckResult& r) { return r.status() == status; }));
}

std::string Report::summary() const {
    return module + ": " + std::to_string(checks_.size()) + " checks: " + std::to_string(count(Status::kPass)) +
           " pass, " + std::to_string(count(Status::kFail)) + " fail, " + std::to_string(count(Status::kWarn)) +
           " warn, " + std::to_string(count(Status::kSkip)) + " skip (seed " + std::to_string(seed) + ")";
}

namespace {

// ANSI colours of the states, for a terminal.
std::string painted_state(Status status, bool colour, int width) {
    const char* name = status_name(status);
    if (!colour) return name;
    const char* code = status == Status::kPass   ? "32"
                       : status == Status::kFail ? "1;31"
                       : status == Status::kWarn ? "33"
                                                 : "2";
    // Padded before painting: the escapes take no column.
    char padded[16];
    std::snprintf(padded, sizeof padded, "%-*s", width, name);
    return std::string("\033[") + code + "m" + padded + "\033[0m";
}

}  // namespace

void Report::print(std::FILE* out, const PrintStyle& style) const {
    if (!style.problems_only) std::fprintf(out, "%-6s %-5s %8s  %s\n", "check", "state", "findings", "what");
    for (const CheckResult& result : checks_) {
        const Status status = result.status();
        if (style.problems_only && status != Status::kFail && status != Status::kWarn) continue;
        std::fprintf(out, "%-6s %-5s %8zu  %s\n", result.id.c_str(), painted_state(status, style.colour, 5).c_str(),
                     result.finding_count, result.name.c_str());
        if (!result.note.empty()) std::fprintf(out, "%23s(%s)\n", "", result.note.c_str());
        for (const Finding& line : result.info) std::fprintf(out, "%23sinfo %s\n", "", line.line().c_str());
        const size_t shown = std::min(style.max_lines, result.findings.size());
        for (size_t i = 0; i < shown; ++i) {
            const Finding& finding = result.findings[i];
            std::fprintf(out, "%23s%s %s\n", "", painted_state(finding.severity, style.colour, 0).c_str(),
                         finding.line().c_str());
        }
        if (result.finding_count > shown) {
            std::fprintf(out, "%23s... %zu more\n", "", result.finding_count - shown);
        }
    }
    if (!style.problems_only) std::fprintf(out, "%s\n", summary().c_str());
}

namespace {

// Gauge names and messages come from the module's bytes: a byte that is no
// UTF-8 becomes U+FFFD rather than making the whole report unreadable.
std::string dump(const nlohmann::ordered_json& value, int indent = -1) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string json_string(std::string_view text) { return dump(nlohmann::ordered_json(std::string(text))); }

std::string Report::json() const {
    using nlohmann::ordered_json;
    ordered_json checks = ordered_json::array();
    for (const CheckResult& result : checks_) {
        ordered_json findings = ordered_json::array();
        for (const Finding& finding : result.findings) {
            findings.push_back({{"severity", status_name(finding.severity)},
                                {"gauge", finding.gauge},
                                {"element", finding.element},
                                {"field", finding.field},
                                {"message", finding.message}});
        }
        ordered_json info = ordered_json::array();
        for (const Finding& line : result.info) {
            info.push_back(
                {{"gauge", line.gauge}, {"element", line.element}, {"field", line.field}, {"message", line.message}});
        }
        checks.push_back({{"id", result.id},
                          {"name", result.name},
                          {"status", status_name(result.status())},
                          {"note", result.note},
                          {"finding_count", result.finding_count},
                          {"findings", std::move(findings)},
                          {"info", std::move(info)}});
    }
    const ordered_json report = {
        {"version", kKorvaneVersion},
        {"module", module},
        {"pe", pe},
        {"seed", seed},
        {"checks", std::move(checks)},
        {"summary",
         {{"pass", count(Status::kPass)},
          {"fail", count(Status::kFail)},
          {"warn", count(Status::kWarn)},
          {"skip", count(Status::kSkip)}}},
    };
    return dump(report, 2) + "\n";
}

}  // namespace validate
