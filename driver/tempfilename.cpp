#include "driver/tempfilename.h"

#include <atomic>
#include <unistd.h>

namespace vexadin {

std::string temporarySiblingPath(const std::string &path)
{
    static std::atomic<unsigned> counter{0};
    return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

} // namespace vexadin
