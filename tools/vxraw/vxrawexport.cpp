#include "progressline.h"
#include "vxrawcommands.h"

#include "camera/operationcontrol.h"

#include "driver/rawfilereader.h"
#include "driver/videoexporter.h"

#include <ostream>

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

    std::unique_ptr<vexadin::RawFileReader> reader;
    if (const int status = vxrawOpenRecording("export", in, err, reader))
        return status;

    std::string error;
    ProgressLine line("vxraw export:");
    vexadin::OperationControl control;
    vxrawFollow(control, line);
    const bool ok = vexadin::exportEventVideo(*reader, start, end, outPath, vexadin::VideoExportOptions{}, &error,
                                              &control);
    line.finish();
    if (!ok && ProgressLine::interrupted())
        return fail(err, kVxrawFailed, kVxrawInterrupted);
    if (!ok)
        return fail(err, kVxrawFailed, error);
    out << "exported [" << start << ", " << end << "] of " << in << " to " << outPath << '\n';
    return kVxrawOk;
}
