#include "vxrawcommands.h"

#include <iostream>

int main(int argc, char **argv)
{
    // Dump writes millions of lines: no sync with C stdio, no flush per line.
    std::ios::sync_with_stdio(false);
    const int status = runVxraw(argc, argv, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
