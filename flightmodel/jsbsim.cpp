#include "flightmodel/jsbsim.h"

#include <cstdio>
#include <sstream>

namespace flightmodel {
namespace {

// JSBSim colours its messages with ANSI escapes.
std::string without_escapes(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) ++i;
            continue;
        }
        plain += text[i];
    }
    return plain;
}

}  // namespace

std::string model_error_reasons(const std::string& raw_output) {
    const std::string output = without_escapes(raw_output);
    std::istringstream lines(output);
    std::string found;
    for (std::string line_text; std::getline(lines, line_text);) {
        const bool telling =
            line_text.find("rror") != std::string::npos || line_text.find("ould not") != std::string::npos ||
            line_text.find("not successfully") != std::string::npos ||
            line_text.find("not found") != std::string::npos || line_text.find("failed") != std::string::npos ||
            line_text.find("nknown") != std::string::npos || line_text.find("nvalid") != std::string::npos;
        if (telling) found += "  " + line_text + "\n";
    }
    if (found.empty()) {
        // No line names the fault: the last few say most.
        const size_t keep = output.size() > 600 ? output.size() - 600 : 0;
        found = output.substr(keep);
    }
    return printable(found);
}

std::string printable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
        } else if (c == '\n' || c == '\t') {
            shown += c;
        } else if (c != '\r') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace flightmodel
