#include "tools/feed_options.h"

#include <cstdio>
#include <stdexcept>

namespace gaugebench {

void add_feed_options(CLI::App& command, feed::FeedOptions& options, bool controls) {
    command
        .add_option("--feed", options.feed,
                    "drive the panel from a simulator's FlightGear FDM packets (version 24, UDP) on this port "
                    "(FlightGear --native-fdm, JSBSim's FLIGHTGEAR output); HOST is loopback unless named")
        ->type_name("flightgear:[<host>:]<port>");
    if (controls) {
        command
            .add_option("--controls", options.controls,
                        "send the panel's levers, switches and hand-flying back to the simulator: JSBSim's UDP "
                        "input (QTJSBSIM) or FlightGear's --native-ctrls")
            ->type_name("jsbsim|flightgear:<host>:<port>");
    }
    command.add_flag("--feed-anywhere", options.anywhere,
                     "let --feed and --controls use addresses other machines reach (whoever reaches the feed "
                     "drives the panel)");
    command
        .add_option("--feed-pounds-per-gallon", options.settings.pounds_per_gallon,
                    "the feed's tank quantities are pounds (JSBSim sends pounds), this many to the gallon of the "
                    "panel's tank capacities (default: they are gallons, as FlightGear sends them)")
        ->type_name("<lb/gal>")
        ->check(number_within(0.1, 100.0, "a number of pounds to the gallon from 0.1 to 100"));
}

// The simulator's link, opened before the server listens: a port taken or
// an address refused is said at once. Throws CommandError.
std::shared_ptr<feed::FeedSession> open_feed(const feed::FeedOptions& options, const char* command) {
    if (options.feed.empty()) {
        if (!options.controls.empty())
            throw CommandError(ExitStatus::kUsage, "--controls: the controls go to the simulator --feed names");
        return nullptr;
    }
    std::shared_ptr<feed::FeedSession> session;
    try {
        session = std::make_shared<feed::FeedSession>(options);
    } catch (const std::invalid_argument& refused) {
        throw CommandError(ExitStatus::kUsage, refused.what());
    } catch (const std::exception& failed) {
        throw CommandError(ExitStatus::kBadInput, failed.what());
    }
    const auto say = [command](const std::string& line) {
        if (!console().quiet()) std::fprintf(stderr, "gaugebench %s: %s\n", command, line.c_str());
    };
    const feed::LinkStatus status = session->status();
    if (!session->feed_endpoint().loopback || (session->sends_controls() && !session->controls_endpoint().loopback))
        say("warning: the feed is open to other machines (--feed-anywhere): whoever reaches it drives the panel, "
            "and the controls fly an aircraft there");
    say("feed: waiting for FlightGear FDM packets (version 24) on " + status.listening);
    std::string kept;
    for (const std::string& name : feed::never_driven()) kept += (kept.empty() ? "" : ", ") + name;
    say("feed: not driven by the feed (scenario or default values): " + kept);
    if (session->sends_controls() && session->controls_endpoint().peer == feed::Peer::kJsbsim) {
        say("controls: JSBSim takes them with this in the aircraft file:\n" +
            feed::jsbsim_input_directive(session->controls_endpoint().port));
    }
    return session;
}

}  // namespace gaugebench
