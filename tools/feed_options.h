// The options that put a simulator beside the panel (serve, record), and
// the link they open.
#pragma once

#include <memory>

#include "feed/session.h"
#include "tools/command_line.h"

namespace gaugebench {

// `controls`: --controls too (serve); record only listens.
void add_feed_options(CLI::App& command, feed::FeedOptions& options, bool controls = true);

// The simulator's link, opened before anything else starts: a port taken
// or an address refused is said at once, then what the feed does not drive
// and, for JSBSim, the <input> its aircraft needs. Null without --feed.
// Throws CommandError.
std::shared_ptr<feed::FeedSession> open_feed(const feed::FeedOptions& options, const char* command);

}  // namespace gaugebench
