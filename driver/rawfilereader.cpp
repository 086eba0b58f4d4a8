#include "camera/dvsfilereader.h"

namespace vexadin {

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string &)
{
    return nullptr;
}

} // namespace vexadin
