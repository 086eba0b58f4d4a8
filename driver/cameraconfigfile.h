#pragma once

#include "camera/cameradescription.h"
#include "camera/cameratool.h"
#include "camera/tooltype.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexadin {

// Camera configuration files: every parameter of every tool of a camera as JSON.
//
//   {
//     "format": "vexadin-camera-config",
//     "version": 1,
//     "product": "EVK4",
//     "serial": "...",                       (informational)
//     "tools": {
//       "Biases": { "bandwidth": 0, ... },   (tool name -> parameter name -> value)
//       "ROI": { "enable": false, "x": 0, ... },
//       ...
//     }
//   }
//
// Values carry their parameter's type: integers for int parameters, numbers for
// float ones, true/false for booleans, one of the option strings for enumerations.
// Loading checks the whole file first (syntax, format, version, product, tools,
// parameter names, types and ranges) and only then applies it, all of it or
// nothing: a value the camera refuses while applying (a combination it does not
// accept) puts back every value changed so far. A file may leave parameters out;
// they keep their values.
class CameraConfigFile {
public:
    using Tools = std::vector<std::pair<ToolType, std::shared_ptr<CameraTool>>>;

    static constexpr const char *kFormatName = "vexadin-camera-config";
    static constexpr int kFormatVersion = 1;
    static constexpr size_t kMaxFileBytes = 1u << 20;

    // "Biases", "Trigger In", "Anti Flicker", "Event Trail Filter",
    // "Event Rate Control", "ROI", "APS"; empty for an unknown type.
    static std::string toolName(ToolType type);

    static std::string toText(const CameraDescription &camera, const Tools &tools);
    // Written to a temporary file beside path, then renamed over it.
    static bool save(const std::string &path, const CameraDescription &camera, const Tools &tools,
                     std::string *error);

    // error names the first problem (with its place in the file, e.g.
    // "tools.ROI.width: 5000 is outside 1..1280").
    static bool apply(const std::string &text, const CameraDescription &camera, const Tools &tools,
                      std::string *error);
    static bool load(const std::string &path, const CameraDescription &camera, const Tools &tools,
                     std::string *error);
};

} // namespace vexadin
