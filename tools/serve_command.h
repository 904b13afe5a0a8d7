// `gaugebench serve`: the panel live in a web browser.
#pragma once

#include <optional>
#include <string>

#include "feed/session.h"
#include "panelhost/panel.h"
#include "tools/command_line.h"
#include "tools/inspection_options.h"

struct ServeOptions {
    std::string panel;  // default: the project's panel/panel.cfg
    panels::ModulePaths paths;
    double scale = 1.0;
    std::string host = "127.0.0.1";  // loopback unless told otherwise
    int port = 8080;
    double client_timeout_seconds = 10.0;  // a page that stops reading is closed after this
    std::string web_root;                  // empty: the shipped page
    // A scenario played through before the panel goes live; the panel it
    // names takes the place of `panel`.
    std::string scenario;
    bool main_window = false;  // FindWindowA finds the simulator's main window
    bool watch = false;        // made again whenever a file of the panel changes
    bool night = false;
    bool allow_no_origin = false;  // clients that name no page may operate the panel
    bool edit = false;             // the page may lay the panel out and save it
    std::string out_dir;           // the scenario's snapshots
    // A JSBSim script to fly behind the panel (empty: the steady cruise).
    std::string fdm_script;
    std::string aircraft_root;          // default: the project's fdm
    std::string jsbsim;                 // default: the JSBSim the tool ships with
    double fdm_timeout_seconds = 10.0;  // the longest wait for any answer of the model
    // A simulator beside the panel (--feed, --controls, --feed-anywhere).
    feed::FeedOptions feed;
    gaugebench::InspectionOptions inspection;
};

// Serves until SIGINT or SIGTERM. Returns the process exit code; errors are
// printed.
int serve(const ServeOptions& options);

namespace serve_command {

void add(CLI::App& app, gaugebench::Commands& commands);

}  // namespace serve_command
