#include "fusionsetcheck.h"

#include "camera/apsframe.h"
#include "driver/apsvideoreader.h"
#include "driver/calibrationfile.h"

#include <algorithm>
#include <ostream>
#include <sys/stat.h>

namespace {

bool isRegularFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// rec.2024.raw -> rec.2024: the extension of the file name only, never a dot in a folder name.
std::string baseOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

bool checkVideo(const std::string &path, int64_t apsTimeOffset, std::ostream &out,
                std::vector<std::string> &problems)
{
    const auto problem = [&](const std::string &what) {
        problems.push_back(path + ": " + what);
        return false;
    };
    std::unique_ptr<vexadin::ApsVideoReader> reader = vexadin::ApsVideoReader::create(path);
    if (!reader)
        return problem("not a readable MP4 video");
    if (!reader->open())
        return problem(reader->lastError());
    std::vector<uint64_t> stamps;
    reader->getFrameIndex(stamps);
    // Every frame of the index must decode; the reader skips those that do not.
    vexadin::ApsFrame frame;
    size_t count = 0, firstMissing = stamps.size();
    while (reader->readNextFrame(frame)) {
        if (firstMissing == stamps.size() && frame.getFrameNumber() != count)
            firstMissing = count; // frame numbers are index positions: a gap begins here
        ++count;
    }
    if (count < stamps.size())
        return problem(std::to_string(stamps.size() - count) + " of " + std::to_string(stamps.size()) +
                       " frames do not decode, the first at APS time " +
                       std::to_string(stamps[std::min(firstMissing, count)]) + " us");
    out << path << ": " << count << " frames, " << reader->getWidth() << " x " << reader->getHeight()
        << ", APS time " << stamps.front() << " .. " << stamps.back() << " us (event time "
        << int64_t(stamps.front()) + apsTimeOffset << " .. " << int64_t(stamps.back()) + apsTimeOffset << " us)\n";
    return true;
}

bool checkCalibration(const std::string &path, std::ostream &out, std::vector<std::string> &problems)
{
    vexadin::CalibratorParameters params;
    std::string error;
    if (!vexadin::loadCalibrationFile(path, params, error)) {
        problems.push_back(error);
        return false;
    }
    out << path << ": calibration";
    if (!params.label.empty())
        out << " '" << params.label << "'";
    out << ", DVS " << params.dvs_width << " x " << params.dvs_height << ", APS " << params.aps_width << " x "
        << params.aps_height << ", transforms " << params.transforms.size() << '\n';
    return true;
}

} // namespace

bool checkFusionNeighbours(const std::string &rawPath, int64_t apsTimeOffset, std::ostream &out,
                           std::vector<std::string> &problems)
{
    const std::string base = baseOf(rawPath);
    bool sound = true;
    if (isRegularFile(base + ".mp4"))
        sound = checkVideo(base + ".mp4", apsTimeOffset, out, problems) && sound;
    if (isRegularFile(base + ".json"))
        sound = checkCalibration(base + ".json", out, problems) && sound;
    return sound;
}
