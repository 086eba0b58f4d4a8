#include "vxrawcommands.h"

#include <ostream>

int runVxrawExport(const std::vector<std::string> &, std::ostream &, std::ostream &err)
{
    err << "vxraw export: not available\n";
    return kVxrawFailed;
}
