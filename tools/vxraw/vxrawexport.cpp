#include "vxrawcommands.h"

#include "driver/rawfilereader.h"
#include "driver/videoexporter.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ostream>
#include <sys/stat.h>

namespace {

int fail(std::ostream &err, int status, const std::string &message)
{
    return vxrawFail(err, "export", status, message);
}

} // namespace

int runVxrawExport(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.size() != 4)
        return fail(err, kVxrawUsage, "expected: vxraw export IN OUT.mp4 START_US END_US");
    const std::string &in = args[0];
    const std::string &outPath = args[1];
    uint64_t start = 0;
    uint64_t end = 0;
    if (!vxrawParseU64(args[2], start))
        return fail(err, kVxrawUsage, "START_US: not a timestamp in µs: '" + args[2] + "'");
    if (!vxrawParseU64(args[3], end))
        return fail(err, kVxrawUsage, "END_US: not a timestamp in µs: '" + args[3] + "'");
    if (end < start)
        return fail(err, kVxrawUsage, "END_US is before START_US");

    struct stat st {};
    if (::stat(in.c_str(), &st) != 0)
        return fail(err, kVxrawUsage, in + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail(err, kVxrawUsage, in + ": is a directory");
    std::unique_ptr<vexadin::RawFileReader> reader = vexadin::RawFileReader::create(in);
    if (!reader)
        return fail(err, kVxrawUsage, in + ": not a recording");
    if (!reader->open())
        return fail(err, kVxrawFailed, in + ": " + reader->lastError());

    std::string error;
    if (!vexadin::exportEventVideo(*reader, start, end, outPath, vexadin::VideoExportOptions{}, &error))
        return fail(err, kVxrawFailed, error);
    out << "exported [" << start << ", " << end << "] of " << in << " to " << outPath << '\n';
    return kVxrawOk;
}
