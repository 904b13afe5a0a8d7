// gaugebench's panel commands: drawing a panel configuration at a steady
// cruise (`render`), and running scripted sessions (`scenario`).
#pragma once

#include "tools/command_line.h"

namespace bench {
class Panel;
}

namespace panel_commands {

void add(CLI::App& app, gaugebench::Commands& commands);

// Refuses (a usage error naming the largest scale that fits) a panel whose
// picture could not be held in memory: more than kMaxPictureBytes, or more
// pixels a side than cairo draws.
inline constexpr double kMaxPictureBytes = 1024.0 * 1024.0 * 1024.0;
inline constexpr double kMaxPictureSide = 32767.0;
void check_picture_size(const bench::Panel& panel);

}  // namespace panel_commands
