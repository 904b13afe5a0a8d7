#include "host/validate/report.h"

#include <algorithm>
#include <stdexcept>

namespace bench::validate {

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

void Report::print(std::FILE* out, size_t max_lines) const {
    std::fprintf(out, "%-6s %-5s %8s  %s\n", "check", "state", "findings", "what");
    for (const CheckResult& result : checks_) {
        std::fprintf(out, "%-6s %-5s %8zu  %s\n", result.id.c_str(), status_name(result.status()), result.finding_count,
                     result.name.c_str());
        if (!result.note.empty()) std::fprintf(out, "%23s(%s)\n", "", result.note.c_str());
        const size_t shown = std::min(max_lines, result.findings.size());
        for (size_t i = 0; i < shown; ++i) {
            const Finding& finding = result.findings[i];
            std::fprintf(out, "%23s%s %s\n", "", finding.severity == Status::kFail ? "fail" : "warn",
                         finding.line().c_str());
        }
        if (result.finding_count > shown) {
            std::fprintf(out, "%23s... %zu more\n", "", result.finding_count - shown);
        }
    }
    std::fprintf(out, "%s\n", summary().c_str());
}

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    quoted += "\\u00";
                    quoted += kHex[byte >> 4];
                    quoted += kHex[byte & 0xF];
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string Report::json() const {
    std::string text = "{\n  \"module\": " + json_string(module) + ",\n  \"pe\": " + json_string(pe) +
                       ",\n  \"seed\": " + std::to_string(seed) + ",\n  \"checks\": [";
    for (size_t i = 0; i < checks_.size(); ++i) {
        const CheckResult& result = checks_[i];
        text += i == 0 ? "\n" : ",\n";
        text += "    {\"id\": " + json_string(result.id) + ", \"name\": " + json_string(result.name) +
                ", \"status\": " + json_string(status_name(result.status())) +
                ", \"note\": " + json_string(result.note) +
                ", \"finding_count\": " + std::to_string(result.finding_count) + ", \"findings\": [";
        for (size_t j = 0; j < result.findings.size(); ++j) {
            const Finding& finding = result.findings[j];
            text += j == 0 ? "\n" : ",\n";
            text += "      {\"severity\": " + json_string(status_name(finding.severity)) +
                    ", \"gauge\": " + json_string(finding.gauge) + ", \"element\": " + json_string(finding.element) +
                    ", \"field\": " + json_string(finding.field) + ", \"message\": " + json_string(finding.message) +
                    "}";
        }
        text += result.findings.empty() ? "]}" : "\n    ]}";
    }
    text += "\n  ],\n  \"summary\": {\"pass\": " + std::to_string(count(Status::kPass)) +
            ", \"fail\": " + std::to_string(count(Status::kFail)) +
            ", \"warn\": " + std::to_string(count(Status::kWarn)) +
            ", \"skip\": " + std::to_string(count(Status::kSkip)) + "}\n}\n";
    return text;
}

}  // namespace bench::validate
