#include "cameratestkit.h"

#include "driver/rawfilereader.h"
#include "syntheticevents.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vxtest {

namespace {

void removeTree(const std::string &path)
{
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "/" + name;
            struct stat st {};
            if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                removeTree(child);
            else
                ::unlink(child.c_str());
        }
        ::closedir(d);
    }
    ::rmdir(path.c_str());
}

std::string makeTempFolder(const std::string &stem)
{
    const std::string path = tempPath(stem, "");
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot create " + path);
    return path;
}

} // namespace

ScopedCameraFolder::ScopedCameraFolder(bool simulatedCameras) : path_(makeTempFolder("cameras"))
{
    if (const char *v = std::getenv("VEXADIN_CAMERA_DIR")) {
        hadDir_ = true;
        oldDir_ = v;
    }
    if (const char *v = std::getenv("VEXADIN_SIMULATED_CAMERAS")) {
        hadSimulated_ = true;
        oldSimulated_ = v;
    }
    ::setenv("VEXADIN_CAMERA_DIR", path_.c_str(), 1);
    ::setenv("VEXADIN_SIMULATED_CAMERAS", simulatedCameras ? "1" : "0", 1);
}

ScopedCameraFolder::~ScopedCameraFolder()
{
    if (hadDir_)
        ::setenv("VEXADIN_CAMERA_DIR", oldDir_.c_str(), 1);
    else
        ::unsetenv("VEXADIN_CAMERA_DIR");
    if (hadSimulated_)
        ::setenv("VEXADIN_SIMULATED_CAMERAS", oldSimulated_.c_str(), 1);
    else
        ::unsetenv("VEXADIN_SIMULATED_CAMERAS");
    removeTree(path_);
}

ScopedTempFolder::ScopedTempFolder(const std::string &stem) : path_(makeTempFolder(stem)) {}

ScopedTempFolder::~ScopedTempFolder()
{
    removeTree(path_);
}

std::vector<std::string> ScopedTempFolder::entries() const
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(path_.c_str())) {
        while (dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<vexadin::Event2D> eventsIn(const std::vector<vexadin::Event2D> &sorted, uint64_t start, uint64_t end)
{
    const auto byTime = [](const vexadin::Event2D &e, uint64_t t) { return e.timestamp < t; };
    const auto b = std::lower_bound(sorted.begin(), sorted.end(), start, byTime);
    const auto e = std::lower_bound(b, sorted.end(), end, byTime);
    return std::vector<vexadin::Event2D>(b, e);
}

bool waitStream(const vexadin::StreamingCamera &camera, uint64_t t, int timeoutMs)
{
    return waitFor([&] { return camera.producedUntil() >= t; }, timeoutMs);
}

void runLateButWhole(vexadin::StreamingCamera &camera)
{
    camera.setMaxLag(3600ull * 1000000);
}

vexadin::StreamingCamera &streamingCamera(const std::shared_ptr<vexadin::DvsCamera> &camera)
{
    auto *s = dynamic_cast<vexadin::StreamingCamera *>(camera.get());
    if (!s)
        throw std::runtime_error("not one of our streaming cameras");
    return *s;
}

} // namespace vxtest
