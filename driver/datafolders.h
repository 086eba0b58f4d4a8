#pragma once

#include <string>

namespace vexadin {

// Folders the camera library shares with the application, worked out without Qt.

// The per-user application data folder, the one the application's settings store
// uses for config.ini: $XDG_DATA_HOME (when set and not empty, else
// $HOME/.local/share) + "/Vexadin/VexadinView". Empty when neither is known.
std::string applicationDataFolder();

// Where replay cameras come from: $VEXADIN_CAMERA_DIR when set and not empty,
// else "cameras" inside the application data folder.
std::string cameraFolder();

// Creates path and its missing parents (like mkdir -p). True when it exists as a
// folder afterwards.
bool makeFolders(const std::string &path);

} // namespace vexadin
