#pragma once

#include <string>

namespace vxtest {

// Points HOME, the XDG folders and the replay cameras' folder
// (VEXADIN_CAMERA_DIR = home/cameras) of this process below `home`, so that
// settings, logs and camera caches of a test run never touch the user's.
// Call before the application object is created.
void useIsolatedHome(const std::string &home);

} // namespace vxtest
