// A session written down as a scenario (docs/scenarios.md) that `scenario`
// and `serve --scenario` replay: a panel line, every variable of the
// vocabulary as it starts, then for each of the panel's updates the
// variables whose written value changed before it and the update; a run of
// updates that change nothing is one `update N`. Values are written in the
// unit people read them in, to about a ten-thousandth of the variable's
// range (the dials read no finer), and always within it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "frame/vocabulary_names.h"
#include "runtime/variables.h"

namespace scenario {

// "185.3 kt", "0.7812 full", "1": the value as a `set` line takes it.
std::string set_value_text(const sim::Variable& variable, double host_value);

class ScenarioWriter {
public:
    // `out` takes the text as it is made, a line or a few at a time.
    explicit ScenarioWriter(std::function<void(std::string_view)> out);

    // The comment lines (without their '#'), the panel line, and every
    // variable's `set`. Throws std::invalid_argument for a panel path a
    // scenario cannot name (a double quote or a line break in it).
    void start(const std::string& panel, const std::vector<std::string>& comments, const runtime::VariableStore& vars);
    // One update: the variables changed since the last written first.
    void update(const runtime::VariableStore& vars);
    // Writes the updates still counted.
    void finish();

    uint64_t updates() const { return updates_; }
    uint64_t bytes() const { return bytes_; }

private:
    void write(const std::string& text);
    void flush_updates();

    std::function<void(std::string_view)> out_;
    std::vector<sim::Variable> variables_;
    std::map<uint32_t, std::string> written_;  // by token, the value last written
    uint64_t pending_ = 0, updates_ = 0, bytes_ = 0;
};

}  // namespace scenario
