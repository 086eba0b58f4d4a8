#include "driver/replaycamerakind.h"

#include "driver/datafolders.h"
#include "driver/driverlog.h"
#include "driver/eventratecontroltool.h"
#include "driver/rawfilereader.h"
#include "driver/replaysource.h"
#include "driver/roitool.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"
#include "driver/triggerintool.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace vexadin {

std::vector<CameraDescription> ReplayCameraKind::list()
{
    std::vector<CameraDescription> cameras;
    const std::string folder = cameraFolder();
    DIR *dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return cameras;
    std::vector<std::string> names;
    while (dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".raw") == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());

    for (const std::string &name : names) {
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // The header alone: listing stays quick however long the recordings are.
        std::unique_ptr<RawFileReader> reader = RawFileReader::create(path);
        if (!reader)
            continue; // the reader logged why
        const RawFileHeader &h = reader->header();
        CameraDescription d;
        d.serial = name.substr(0, name.size() - 4);
        d.product = (h.product == "EVK4" || h.product == "Taskelo") ? h.product : std::string("EVK4");
        d.manufacturer = SimulatedCameraKind::kManufacturer;
        d.width = h.width;
        d.height = h.height;
        d.kind = kKind;
        d.source = path;
        cameras.push_back(std::move(d));
    }
    return cameras;
}

std::shared_ptr<StreamingCamera> ReplayCameraKind::openCamera(const CameraDescription &d)
{
    std::string error;
    std::unique_ptr<ReplaySource> source = ReplaySource::open(d.source, &error);
    if (!source) {
        driverLog(DriverLogLevel::Warning, "camera " + d.serial + ": cannot open: " + error);
        return nullptr;
    }
    auto triggerIn = std::make_shared<TriggerInTool>();
    auto rateControl = std::make_shared<EventRateControlTool>();
    auto roi = std::make_shared<RoiTool>(d.width, d.height);
    source->setTriggerIn(triggerIn);

    StreamingCamera::Setup setup;
    setup.description = d;
    setup.tools = {{TOOL_TRIGGER_IN, triggerIn}, {TOOL_EVENT_RATE_CONTROL, rateControl}, {TOOL_ROI, roi}};
    setup.stages = {roi.get(), rateControl.get()};
    setup.source = std::move(source);
    return std::make_shared<StreamingCamera>(std::move(setup));
}

} // namespace vexadin
