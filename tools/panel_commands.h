// gaugebench's panel commands: drawing a panel configuration at a steady
// cruise (`render`), and running scripted sessions (`scenario`).
#pragma once

#include "tools/command_line.h"

#include <string>

namespace bench {
class Panel;
}
namespace render {
class Image;
}

namespace panel_commands {

void add(CLI::App& app, gaugebench::Commands& commands);

// Refuses (a usage error naming the largest scale that fits) a panel whose
// picture could not be held in memory: more than kMaxPictureBytes, or more
// pixels a side than cairo draws.
inline constexpr double kMaxPictureBytes = 1024.0 * 1024.0 * 1024.0;
inline constexpr double kMaxPictureSide = 32767.0;
void check_picture_size(const bench::Panel& panel);

// With --verbose, the files the panel was made from (its configuration,
// modules, bitmaps), one "read <file>" line each on stderr.
void note_sources(const bench::Panel& panel);

// Refuses (a usage error) a picture's name that promises another format
// than the PNG written, before any work: a.jpg would hold PNG data.
void check_png_name(const std::string& path, const std::string& option);

// A picture written by a scenario's snapshot line or at a moment of a
// flight: refused (bench::OutputPathError) unless it lies in `out_dir` (the
// working directory when empty) once every link is resolved.
void write_picture(const render::Image& picture, const std::string& path, const std::string& out_dir);

}  // namespace panel_commands
