#include "isolatedhome.h"

#include <cstdlib>

namespace vxtest {

void useIsolatedHome(const std::string &home)
{
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("VEXADIN_CAMERA_DIR", (home + "/cameras").c_str(), 1);
}

} // namespace vxtest
