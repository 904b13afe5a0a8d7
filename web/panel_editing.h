// The layout editor's side of the server (serve --edit): the page's layout
// as JSON both ways, and the save of the panel file it was started with.
//
// A layout on the wire: {"windows": [{"section", "size_mm": [w, h] or null,
// "position": 0..8 or null, "visible", "background": [r, g, b], "file"}],
// "gauges": [{"window", "key", "name", "x", "y", "width" or null,
// "height" or null}]}, in the window's design units (panelhost/panel_edit.h).
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "panelhost/panel_edit.h"

namespace web {

nlohmann::json layout_to_json(const panels::PanelLayout& layout);
// nullopt for anything malformed: a missing or mistyped field, a number
// that is not finite, more windows or gauges than any panel has.
std::optional<panels::PanelLayout> layout_from_json(const nlohmann::json& json);

struct SaveResult {
    bool saved = false;
    bool changed_on_disk = false;  // not saved: the file is no longer what was loaded
    std::string why;               // when not saved
};

// `text` written over `path` (the panel file as `loaded` had it): refused
// when the file on disk is no longer `loaded`, unless `overwrite`. The file
// as it was is kept as <path>.bak; both are written under a temporary name
// beside them and renamed into place, so that a failed save leaves both as
// they were. The file keeps its permissions.
SaveResult save_panel_file(const std::string& path, std::string_view loaded, std::string_view text,
                           bool overwrite);

}  // namespace web
