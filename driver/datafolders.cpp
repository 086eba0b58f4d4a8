#include "driver/datafolders.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace vexadin {

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

} // namespace

std::string applicationDataFolder()
{
    // Same rule as QStandardPaths::AppDataLocation on Linux with the organisation
    // "Vexadin" and the application "VexadinView" that the program sets; Qt takes
    // XDG_DATA_HOME as it is (relative, or with a trailing slash), and so do we.
    std::string base = env("XDG_DATA_HOME");
    if (base.empty()) {
        const std::string home = env("HOME");
        if (home.empty())
            return std::string();
        base = home + "/.local/share";
    }
    return base + "/Vexadin/VexadinView";
}

std::string cameraFolder()
{
    const std::string dir = env("VEXADIN_CAMERA_DIR");
    if (!dir.empty())
        return dir;
    const std::string data = applicationDataFolder();
    return data.empty() ? std::string() : data + "/cameras";
}

bool makeFolders(const std::string &path)
{
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash)))
        return false;
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return false;
}

} // namespace vexadin
