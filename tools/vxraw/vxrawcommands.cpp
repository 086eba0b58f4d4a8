#include "vxrawcommands.h"

#include "eventconverter.h"
#include "fusionsetcheck.h"
#include "sensormodel.h"
#include "progressline.h"

#include "camera/operationcontrol.h"
#include "driver/driverlog.h"
#include "driver/rawfilereader.h"
#include "driver/rawformat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <sys/stat.h>

namespace {

using vexadin::RawFileReader;

const char kUsage[] =
    "usage: vxraw <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  info FILE                      facts from the header and index, one 'key: value' per line\n"
    "  dump FILE [--from US] [--to US] [--triggers] [--absolute]\n"
    "                                 events with from <= T < to as 'T X Y P' lines (T in µs);\n"
    "                                 --triggers adds 'T trigger EDGE' lines in time order;\n"
    "                                 --absolute adds recording_start_unix_us to every time\n"
    "                                 (--from/--to are then absolute too)\n"
    "  convert IN OUT.raw [--width W] [--height H] [--sensor NAME] [--serial S] [--product P]\n"
    "                                 import a text/CSV event list ('t x y p'), an AEDAT 2.0, 3.1\n"
    "                                 or 4.0 file, or HDF5 x/y/t/p datasets; NAME: dvs128,\n"
    "                                 davis240, davis346 (address layout of AEDAT 2.0, and size);\n"
    "                                 Unix times are stored relative to the first event\n"
    "  cut IN OUT START_US END_US     copy the closed range [START_US, END_US] to a new recording\n"
    "  check FILE                     verify every block; report damaged blocks and their time ranges;\n"
    "                                 a fusion recording's .mp4 and .json of the same name are checked too\n"
    "  export IN OUT.mp4 START_US END_US\n"
    "                                 render the closed range [START_US, END_US] as a video\n"
    "  cameras                        list the cameras: serial, product, WIDTHxHEIGHT, kind (tab-separated)\n"
    "  record SERIAL OUT.raw --seconds N [--config FILE.json] [--set TOOL.PARAM=VALUE ...]\n"
    "                                 record N seconds from a camera, after loading a configuration\n"
    "                                 file and setting single parameters (e.g. --set roi.enable=true)\n"
    "\n"
    "On a terminal, convert, cut, export, check and the index rebuild of a recording whose\n"
    "writer was killed show their progress; Ctrl-C stops them and leaves no output behind.\n"
    "\n"
    "exit status: 0 success, 1 bad or damaged data, a failed or interrupted operation,\n"
    "             2 wrong usage or a file that is not a recording\n";

// An error is one line: driver messages may carry line breaks.
std::string oneLine(std::string s)
{
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
}

int fail(std::ostream &err, const std::string &command, int status, const std::string &message)
{
    return vxrawFail(err, command, status, message);
}

bool parseU64(const std::string &s, uint64_t &value)
{
    return vxrawParseU64(s, value);
}

// The last driver log line of the running command: the only place that says why the
// reader factory refused a file (it returns null, not a reader to ask).
std::mutex g_lastDriverLineMutex;
std::string g_lastDriverLine;

std::string lastDriverLine()
{
    std::lock_guard<std::mutex> lock(g_lastDriverLineMutex);
    return g_lastDriverLine;
}

// Keeps the driver's own log lines off stderr while a command runs, so a failure
// shows as the one line the command writes (from the reader's lastError()).
class DriverLogSilencer {
public:
    DriverLogSilencer()
    {
        vexadin::setDriverLogHook([](vexadin::DriverLogLevel, const std::string &line) {
            std::lock_guard<std::mutex> lock(g_lastDriverLineMutex);
            g_lastDriverLine = line;
        });
    }
    ~DriverLogSilencer() { vexadin::setDriverLogHook({}); }
    DriverLogSilencer(const DriverLogSilencer &) = delete;
    DriverLogSilencer &operator=(const DriverLogSilencer &) = delete;
};

// Options of the form "--name VALUE" or "--name=VALUE" and switches "--name";
// everything else is positional.
struct ParsedArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> switches;
};

bool parseArgs(const std::vector<std::string> &args, size_t first, const std::vector<std::string> &valueOptions,
               const std::vector<std::string> &switchOptions, ParsedArgs &parsed, std::string &error)
{
    for (size_t i = first; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
            parsed.positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (std::find(switchOptions.begin(), switchOptions.end(), name) != switchOptions.end()) {
            if (eq != std::string::npos) {
                error = name + " takes no value";
                return false;
            }
            parsed.switches.push_back(name);
            continue;
        }
        if (std::find(valueOptions.begin(), valueOptions.end(), name) == valueOptions.end()) {
            error = "unknown option " + name;
            return false;
        }
        if (eq != std::string::npos) {
            parsed.options.emplace_back(name, a.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            parsed.options.emplace_back(name, args[++i]);
        } else {
            error = name + " needs a value";
            return false;
        }
    }
    return true;
}


int cmdInfo(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    ParsedArgs p;
    std::string error;
    if (!parseArgs(args, 1, {}, {}, p, error))
        return fail(err, "info", kVxrawUsage, error);
    if (p.positional.size() != 1)
        return fail(err, "info", kVxrawUsage, "expected: vxraw info FILE");
    std::unique_ptr<RawFileReader> reader;
    if (int status = vxrawOpenRecording("info", p.positional[0], err, reader))
        return status;
    vexadin::DvsFileInfo info;
    if (!reader->getFileInfo(info))
        return fail(err, "info", kVxrawFailed, p.positional[0] + ": " + reader->lastError());

    // Index facts only: nothing here decodes a block, so it answers at once on any size.
    out << "events: " << info.eventCount << '\n'
        << "triggers: " << info.triggerCount << '\n'
        << "start_us: " << info.startTimestamp << '\n'
        << "end_us: " << info.endTimestamp << '\n'
        << "duration_us: " << (info.endTimestamp >= info.startTimestamp ? info.endTimestamp - info.startTimestamp : 0)
        << '\n'
        << "width: " << info.width << '\n'
        << "height: " << info.height << '\n'
        << "serial: " << oneLine(info.serial) << '\n'
        << "product: " << oneLine(info.product) << '\n'
        << "aps_time_offset_us: " << info.apsTimeOffset << '\n'
        << "recording_start_unix_us: " << info.recordingStartUnixUs << '\n'
        << "blocks: " << reader->blockCount() << '\n'
        << "corrupt_blocks: " << reader->corruptBlockCount() << '\n'
        << "index: " << (reader->indexRebuilt() ? "rebuilt" : "ok") << '\n'
        << "format_version: " << reader->formatReadVersion() << '.' << reader->formatWriteVersion() << '\n'
        << "file_size: " << reader->fileSize() << '\n';
    for (const auto &kv : info.metadata)
        out << "meta." << oneLine(kv.first) << ": " << oneLine(kv.second) << '\n';
    return out ? kVxrawOk : fail(err, "info", kVxrawFailed, "write error on standard output");
}

// Builds dump lines in a buffer and hands them to the stream in large pieces.
class LineBuffer {
public:
    explicit LineBuffer(std::ostream &out) : out_(out) { buf_.reserve(kFlushAt + 256); }
    ~LineBuffer() { flush(); }
    LineBuffer(const LineBuffer &) = delete;
    LineBuffer &operator=(const LineBuffer &) = delete;

    void number(uint64_t v)
    {
        char tmp[24];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, static_cast<size_t>(r.ptr - tmp));
    }
    void signedNumber(int64_t v)
    {
        char tmp[24];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, static_cast<size_t>(r.ptr - tmp));
    }
    void text(const char *s, size_t n) { buf_.append(s, n); }
    void ch(char c) { buf_.push_back(c); }
    // Call after each line.
    bool endLine()
    {
        buf_.push_back('\n');
        if (buf_.size() >= kFlushAt)
            return flush();
        return true;
    }
    bool flush()
    {
        if (!buf_.empty()) {
            out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
            buf_.clear();
        }
        return static_cast<bool>(out_);
    }

private:
    static constexpr size_t kFlushAt = 1 << 20;
    std::ostream &out_;
    std::string buf_;
};

int cmdDump(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    ParsedArgs p;
    std::string error;
    if (!parseArgs(args, 1, {"--from", "--to"}, {"--triggers", "--absolute"}, p, error))
        return fail(err, "dump", kVxrawUsage, error);
    if (p.positional.size() != 1)
        return fail(err, "dump", kVxrawUsage,
                    "expected: vxraw dump FILE [--from US] [--to US] [--triggers] [--absolute]");
    uint64_t from = 0;
    uint64_t to = std::numeric_limits<uint64_t>::max();
    bool toGiven = false;
    for (const auto &o : p.options) {
        uint64_t v = 0;
        if (!parseU64(o.second, v))
            return fail(err, "dump", kVxrawUsage, o.first + ": not a timestamp in µs: '" + o.second + "'");
        if (o.first == "--from") {
            from = v;
        } else {
            to = v;
            toGiven = true;
        }
    }
    const auto has = [&](const char *name) {
        return std::find(p.switches.begin(), p.switches.end(), name) != p.switches.end();
    };
    const bool withTriggers = has("--triggers");
    const bool absolute = has("--absolute");
    std::unique_ptr<RawFileReader> reader;
    if (int status = vxrawOpenRecording("dump", p.positional[0], err, reader))
        return status;
    // Absolute times: the event clock counts from the recording's wall-clock start.
    uint64_t base = 0;
    if (absolute) {
        vexadin::DvsFileInfo info;
        if (!reader->getFileInfo(info))
            return fail(err, "dump", kVxrawFailed, p.positional[0] + ": " + reader->lastError());
        base = info.recordingStartUnixUs;
        if (base == 0)
            return fail(err, "dump", kVxrawFailed,
                        p.positional[0] + ": the recording has no absolute start time (recording_start_unix_us is 0)");
        from = from > base ? from - base : 0;
        if (toGiven)
            to = to > base ? to - base : 0;
    }
    if (from >= to)
        return kVxrawOk;
    // [from, to) as the closed range the block iteration takes; without --to
    // the range runs to the largest timestamp, inclusive.
    const uint64_t last = toGiven ? to - 1 : to;

    LineBuffer lines(out);
    bool outputOk = true;
    auto eventLine = [&](const vexadin::Event2D &e) {
        lines.number(base + e.timestamp);
        lines.ch(' ');
        lines.number(e.x);
        lines.ch(' ');
        lines.number(e.y);
        lines.ch(' ');
        lines.number(e.polarity);
        return lines.endLine();
    };
    auto triggerLine = [&](const vexadin::EventTriggerIn &t) {
        lines.number(base + t.timestamp);
        lines.text(" trigger ", 9);
        lines.signedNumber(t.edge);
        return lines.endLine();
    };
    const bool read = reader->forEachBlockInRange(
        from, last,
        [&](const vexadin::Event2D *eb, const vexadin::Event2D *ee, const vexadin::EventTriggerIn *tb,
            const vexadin::EventTriggerIn *te) {
            if (!withTriggers)
                tb = te;
            // Both spans are sorted: merge, a trigger before events of the same microsecond.
            while (eb != ee || tb != te) {
                const bool takeTrigger = tb != te && (eb == ee || tb->timestamp <= eb->timestamp);
                outputOk = takeTrigger ? triggerLine(*tb++) : eventLine(*eb++);
                if (!outputOk)
                    return false;
            }
            return true;
        });
    if (!lines.flush() || !outputOk)
        return fail(err, "dump", kVxrawFailed, "write error on standard output");
    if (!read)
        return fail(err, "dump", kVxrawFailed, p.positional[0] + ": " + reader->lastError());
    if (reader->corruptBlockCount() != 0)
        return fail(err, "dump", kVxrawFailed,
                    p.positional[0] + ": skipped " + std::to_string(reader->corruptBlockCount())
                        + " damaged block(s); run 'vxraw check' for details");
    return kVxrawOk;
}

int cmdConvert(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    ParsedArgs p;
    std::string error;
    if (!parseArgs(args, 1, {"--width", "--height", "--sensor", "--serial", "--product"}, {}, p, error))
        return fail(err, "convert", kVxrawUsage, error);
    if (p.positional.size() != 2)
        return fail(err, "convert", kVxrawUsage,
                    "expected: vxraw convert IN OUT.raw [--width W] [--height H] [--sensor NAME] [--serial S] "
                    "[--product P]");
    vxraw::ConvertOptions options;
    for (const auto &o : p.options) {
        if (o.first == "--width" || o.first == "--height") {
            uint64_t v = 0;
            if (!parseU64(o.second, v) || v == 0 || v > 65535)
                return fail(err, "convert", kVxrawUsage, o.first + ": expected 1..65535, got '" + o.second + "'");
            (o.first == "--width" ? options.width : options.height) = static_cast<uint16_t>(v);
        } else if (o.first == "--sensor") {
            options.sensor = o.second;
        } else if (o.first == "--serial") {
            options.serial = o.second;
        } else {
            options.product = o.second;
        }
    }
    if (!options.sensor.empty()) {
        const vxraw::SensorModel *model = vxraw::SensorModel::byName(options.sensor);
        if (!model)
            return fail(err, "convert", kVxrawUsage,
                        "--sensor: unknown sensor '" + options.sensor + "' (known: "
                            + vxraw::SensorModel::knownNames() + ")");
        if (!options.width)
            options.width = model->width;
        if (!options.height)
            options.height = model->height;
    }
    ProgressLine line("vxraw convert:");
    options.progress = [&line](double fraction) {
        line.update(fraction);
        return !ProgressLine::interrupted();
    };
    const vxraw::ConvertResult r = vxraw::convertToRecording(p.positional[0], p.positional[1], options);
    line.finish();
    switch (r.status) {
    case vxraw::ConvertResult::Status::Ok:
        break;
    case vxraw::ConvertResult::Status::NotEventFile:
        return fail(err, "convert", kVxrawUsage, r.error);
    case vxraw::ConvertResult::Status::BadData:
        return fail(err, "convert", kVxrawFailed, r.error);
    case vxraw::ConvertResult::Status::Cancelled:
        return fail(err, "convert", kVxrawFailed, kVxrawInterrupted);
    }
    out << "converted " << r.events << " events (" << r.format << ", " << r.width << " x " << r.height << ") to "
        << p.positional[1] << '\n';
    if (r.recordingStartUnixUs)
        out << "times are Unix time: stored relative to the first event, recording_start_unix_us "
            << r.recordingStartUnixUs << '\n';
    if (r.outsideSensor)
        out << r.outsideSensor << " event(s) outside the " << r.width << " x " << r.height << " sensor skipped\n";
    if (!r.skipped.empty())
        out << r.skipped << '\n';
    return kVxrawOk;
}

int cmdCut(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    ParsedArgs p;
    std::string error;
    if (!parseArgs(args, 1, {}, {}, p, error))
        return fail(err, "cut", kVxrawUsage, error);
    if (p.positional.size() != 4)
        return fail(err, "cut", kVxrawUsage, "expected: vxraw cut IN OUT START_US END_US");
    uint64_t start = 0;
    uint64_t end = 0;
    if (!parseU64(p.positional[2], start))
        return fail(err, "cut", kVxrawUsage, "START_US: not a timestamp in µs: '" + p.positional[2] + "'");
    if (!parseU64(p.positional[3], end))
        return fail(err, "cut", kVxrawUsage, "END_US: not a timestamp in µs: '" + p.positional[3] + "'");
    if (end < start)
        return fail(err, "cut", kVxrawUsage, "END_US is before START_US");
    std::unique_ptr<RawFileReader> reader;
    if (int status = vxrawOpenRecording("cut", p.positional[0], err, reader))
        return status;
    {
        ProgressLine line("vxraw cut:");
        vexadin::OperationControl control;
        vxrawFollow(control, line);
        const bool ok = reader->cut(start, end, p.positional[1], control);
        line.finish();
        if (!ok && ProgressLine::interrupted())
            return fail(err, "cut", kVxrawFailed, kVxrawInterrupted);
        if (!ok)
            return fail(err, "cut", kVxrawFailed, reader->lastError());
    }
    std::unique_ptr<RawFileReader> written = RawFileReader::create(p.positional[1]);
    vexadin::DvsFileInfo info;
    if (!written || !written->open() || !written->getFileInfo(info))
        return fail(err, "cut", kVxrawFailed, p.positional[1] + ": the written recording cannot be read back");
    out << "cut " << info.eventCount << " events, " << info.triggerCount << " triggers of [" << start << ", " << end
        << "] to " << p.positional[1] << '\n';
    return kVxrawOk;
}

int cmdCheck(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    ParsedArgs p;
    std::string error;
    if (!parseArgs(args, 1, {}, {}, p, error))
        return fail(err, "check", kVxrawUsage, error);
    if (p.positional.size() != 1)
        return fail(err, "check", kVxrawUsage, "expected: vxraw check FILE");
    const std::string &path = p.positional[0];
    std::unique_ptr<RawFileReader> reader;
    if (int status = vxrawOpenRecording("check", path, err, reader))
        return status;
    std::vector<std::string> problems;
    bool sound = false;
    {
        ProgressLine line("vxraw check:");
        vexadin::OperationControl control;
        vxrawFollow(control, line);
        sound = reader->verifyAll(&problems, &control);
        line.finish();
        if (ProgressLine::interrupted())
            return fail(err, "check", kVxrawFailed, kVxrawInterrupted);
    }
    // A fusion recording's video and calibration beside it.
    sound = checkFusionNeighbours(path, reader->header().apsTimeOffset, out, problems) && sound;
    for (const std::string &problem : problems)
        out << oneLine(problem) << '\n';
    out << path << ": " << reader->blockCount() << " blocks, " << reader->corruptBlockCount() << " damaged, index "
        << (reader->indexRebuilt() ? "rebuilt" : "ok") << '\n';
    if (!sound)
        return fail(err, "check", kVxrawFailed,
                    path + ": " + std::to_string(problems.size()) + " problem(s) found, "
                        + std::to_string(reader->corruptBlockCount()) + " damaged block(s)");
    return kVxrawOk;
}

} // namespace

const char *vxrawUsage() { return kUsage; }

std::string vxrawLastDriverLine() { return lastDriverLine(); }

int runVxrawArgs(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.empty()) {
        out << kUsage;
        return kVxrawUsage;
    }
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsage;
        return kVxrawOk;
    }
    DriverLogSilencer quiet;
    if (command == "info")
        return cmdInfo(args, out, err);
    if (command == "dump")
        return cmdDump(args, out, err);
    if (command == "convert")
        return cmdConvert(args, out, err);
    if (command == "cut")
        return cmdCut(args, out, err);
    if (command == "check")
        return cmdCheck(args, out, err);
    if (command == "export")
        return runVxrawExport(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    if (command == "cameras")
        return runVxrawCameras(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    if (command == "record")
        return runVxrawRecord(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    err << "vxraw: unknown command '" << oneLine(command) << "' (see vxraw --help)\n";
    return kVxrawUsage;
}

int runVxraw(int argc, char **argv, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return runVxrawArgs(args, out, err);
}

int vxrawFail(std::ostream &err, const std::string &command, int status, const std::string &message)
{
    err << "vxraw " << command << ": " << oneLine(message) << '\n';
    return status;
}

bool vxrawParseU64(const std::string &s, uint64_t &value)
{
    if (s.empty() || s[0] < '0' || s[0] > '9')
        return false;
    const char *end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, value);
    return r.ec == std::errc() && r.ptr == end;
}

int vxrawOpenRecording(const std::string &command, const std::string &path, std::ostream &err,
                       std::unique_ptr<vexadin::RawFileReader> &reader)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return vxrawFail(err, command, kVxrawUsage, path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return vxrawFail(err, command, kVxrawUsage, path + ": is a directory");
    if (!S_ISREG(st.st_mode)) // a FIFO or device: not a recording, and reading it may block
        return vxrawFail(err, command, kVxrawUsage, path + ": not a regular file");
    reader = RawFileReader::create(path);
    if (!reader) {
        // Our signature but a header we cannot use (damaged, or a newer format) is bad
        // data in a recording, not a file of another kind.
        uint8_t magic[sizeof vexadin::rawformat::kFileMagic] = {};
        std::FILE *f = std::fopen(path.c_str(), "rb");
        const bool readable = f != nullptr;
        const bool ours = f && std::fread(magic, 1, sizeof magic, f) == sizeof magic &&
                          std::memcmp(magic, vexadin::rawformat::kFileMagic, sizeof magic) == 0;
        if (f)
            std::fclose(f);
        if (!readable)
            return vxrawFail(err, command, kVxrawFailed, path + ": " + std::strerror(errno));
        if (!ours)
            return vxrawFail(err, command, kVxrawUsage, path + ": not a recording");
        std::string why = lastDriverLine();
        const std::string prefix = "not a readable recording: ";
        if (why.compare(0, prefix.size(), prefix) == 0)
            why.erase(0, prefix.size());
        return vxrawFail(err, command, kVxrawFailed, why.empty() ? path + ": damaged recording header" : why);
    }
    // Only a recording whose writer was killed needs its index rebuilt, which reads
    // the whole file: that shows progress and listens to Ctrl-C.
    ProgressLine line("vxraw " + command + ": rebuilding the index");
    vexadin::OperationControl control;
    vxrawFollow(control, line);
    const bool opened = reader->open(control);
    line.finish();
    if (!opened && ProgressLine::interrupted())
        return vxrawFail(err, command, kVxrawFailed, kVxrawInterrupted);
    if (!opened)
        return vxrawFail(err, command, kVxrawFailed, path + ": " + reader->lastError());
    return kVxrawOk;
}

const char *const kVxrawInterrupted = "interrupted; nothing was written";

void vxrawFollow(vexadin::OperationControl &control, ProgressLine &line)
{
    control.setProgressHandler([&line](double fraction) { line.update(fraction); });
    control.setStopCondition(&ProgressLine::interrupted);
}
