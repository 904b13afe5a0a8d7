// gaugebench's panel commands: drawing a panel configuration at a steady
// cruise (`render`), and running scripted sessions (`scenario`).
#pragma once

#include "tools/command_line.h"

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace panels {
class Panel;
}
namespace scenario {
class ScenarioRunner;
struct Scenario;
}  // namespace scenario
namespace render {
class Image;
}
namespace gaugebench {
class Progress;
}

namespace panel_commands {

void add(CLI::App& app, gaugebench::Commands& commands);

// Refuses (a usage error naming the largest scale that fits) a panel whose
// picture could not be held in memory: more than kMaxPictureBytes, or more
// pixels a side than cairo draws.
inline constexpr double kMaxPictureBytes = 1024.0 * 1024.0 * 1024.0;
inline constexpr double kMaxPictureSide = 32767.0;
void check_picture_size(const panels::Panel& panel);

// With --verbose, the files the panel was made from (its configuration,
// modules, bitmaps), one "read <file>" line each on stderr.
void note_sources(const panels::Panel& panel);

// Refuses (a usage error) a picture's name that promises another format
// than the PNG written, before any work: a.jpg would hold PNG data.
void check_png_name(const std::string& path, const std::string& option);

// --json <file|->, the summary of a command that draws (render, scenario,
// fly): one object saying what its text summary says.
void add_json_summary_option(CLI::App& command, std::string& path);
// Writes `summary` to `path` ('-': stdout); nothing when `path` is empty.
void write_json_summary(const std::string& path, const nlohmann::ordered_json& summary);
// Where a scenario's print and echo lines go: stdout, unless the summary
// takes it.
std::FILE* printed_lines_to(const std::string& json_path);
// The scenario runner's reports: its warnings as lines on stderr, the rest
// (updates run, snapshots written) as the progress status.
std::FILE* runner_reports(gaugebench::Progress& progress);
// A scenario's run in a summary: "printed" (each print's values, each
// echo's text, with the scenario's line and the update it came after) and
// "snapshots".
void add_scenario_json(const ::scenario::ScenarioRunner& runner, nlohmann::ordered_json& summary);

// Each picture a scenario's snapshot lines write, among the command's
// outputs.
void add_snapshot_files(const ::scenario::Scenario& script, const std::string& out_dir,
                        gaugebench::CommandFiles& files);

// A picture written by a scenario's snapshot line or at a moment of a
// flight: refused (platform::OutputPathError) unless it lies in `out_dir` (the
// working directory when empty) once every link is resolved.
void write_picture(const render::Image& picture, const std::string& path, const std::string& out_dir);

}  // namespace panel_commands
