#include "sensormodel.h"

#include <algorithm>
#include <cctype>

namespace vxraw {
namespace {

struct Known {
    SensorModel model;
    const char *chipTag; // upper case, found anywhere in a chip name
};

const Known kModels[] = {
    {{"dvs128", 128, 128, SensorModel::Layout::Dvs128}, "DVS128"},
    {{"davis240", 240, 180, SensorModel::Layout::Davis}, "DAVIS240"},
    {{"davis346", 346, 260, SensorModel::Layout::Davis}, "DAVIS346"},
};

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

} // namespace

const SensorModel *SensorModel::byName(const std::string &name)
{
    const std::string wanted = upper(name);
    for (const Known &k : kModels)
        if (upper(k.model.name) == wanted)
            return &k.model;
    return nullptr;
}

const SensorModel *SensorModel::byChipName(const std::string &chip)
{
    const std::string u = upper(chip);
    for (const Known &k : kModels)
        if (u.find(k.chipTag) != std::string::npos)
            return &k.model;
    return nullptr;
}

std::string SensorModel::knownNames()
{
    std::string names;
    for (const Known &k : kModels)
        names += (names.empty() ? "" : ", ") + std::string(k.model.name);
    return names;
}

} // namespace vxraw
