#include "scenariorun/scenario_prelude.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "platform/output_file.h"
#include "scenariorun/scenario.h"

namespace scenario {

namespace {

class ScenarioPrelude : public panels::Prelude {
public:
    ScenarioPrelude(std::string path, std::string out_dir) : path_(std::move(path)), out_dir_(std::move(out_dir)) {}

    void read() override { script_ = Scenario::read_file(path_); }
    std::optional<bool> main_window_at_start() const override {
        return script_ ? script_->main_window_at_start() : std::nullopt;
    }
    Ran run(panels::Panel& panel, const Snapshot& snapshot, panels::FaultedGauges& faulted) override {
        if (!script_) read();
        // The runner keeps its own calculator while it runs.
        ScenarioRunner runner(
            panel,
            [this, &snapshot](const panels::Panel&, const panels::Panel::Gauge* gauge, const std::string& path) {
                platform::check_output_path(path, out_dir_.empty() ? "." : out_dir_);
                snapshot(gauge, path);
            },
            stderr, nullptr);
        runner.set_output_dir(out_dir_);
        runner.set_faulted(&faulted);
        runner.run(*script_);
        return {runner.updates_run(), runner.calculator().absolute_time_seconds()};
    }

private:
    std::string path_, out_dir_;
    std::optional<Scenario> script_;
};

}  // namespace

std::shared_ptr<panels::Prelude> scenario_prelude(std::string path, std::string out_dir) {
    return std::make_shared<ScenarioPrelude>(std::move(path), std::move(out_dir));
}

}  // namespace scenario
