// The vxraw commands: output formats, closed/half-open ranges, exit statuses and
// one-line errors; in-process, plus a few runs of the real executable.
#include "vxrawcommands.h"

#include "driver/rawfilereader.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using vexadin::Event2D;
using vexadin::EventTriggerIn;

namespace {

struct VxrawRun {
    int status = -1;
    std::string out;
    std::string err;
};

VxrawRun vxraw(const std::vector<std::string> &args)
{
    std::ostringstream out, err;
    VxrawRun r;
    r.status = runVxrawArgs(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

size_t lineCount(const std::string &s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// A failure is exactly one line on stderr and nothing else there.
#define EXPECT_ONE_ERROR_LINE(run, status_)                                                                  \
    do {                                                                                                     \
        EXPECT_EQ((run).status, status_) << (run).err;                                                       \
        EXPECT_EQ(lineCount((run).err), 1u) << (run).err;                                                    \
        EXPECT_EQ((run).err.compare(0, 5, "vxraw"), 0) << (run).err;                                        \
    } while (0)

std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A small recording: events every 10 µs from 1000, triggers at 1500 (edge 1) and 1700 (edge 0).
struct Fixture {
    std::string path = vxtest::tempPath("vxraw-cmd");
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers{{0, 1, 1500}, {0, 0, 1700}};

    Fixture()
    {
        for (uint64_t i = 0; i < 100; ++i)
            events.emplace_back(static_cast<uint16_t>(i), static_cast<uint16_t>(2 * i), static_cast<uint8_t>(i % 2),
                                1000 + 10 * i);
        vexadin::RawFileHeader header;
        header.width = 640;
        header.height = 480;
        header.serial = "SN-0042";
        header.product = "EVK4";
        header.apsTimeOffset = -250;
        EXPECT_TRUE(vxtest::writeRecording(path, events, triggers, header));
    }
    ~Fixture() { std::remove(path.c_str()); }

    // Expected dump text of [from, to).
    std::string dump(uint64_t from, uint64_t to, bool withTriggers) const
    {
        std::string s;
        size_t t = 0;
        for (const Event2D &e : events) {
            while (withTriggers && t < triggers.size() && triggers[t].timestamp <= e.timestamp) {
                if (triggers[t].timestamp >= from && triggers[t].timestamp < to)
                    s += std::to_string(triggers[t].timestamp) + " trigger " + std::to_string(triggers[t].edge) + "\n";
                ++t;
            }
            if (e.timestamp >= from && e.timestamp < to)
                s += std::to_string(e.timestamp) + " " + std::to_string(e.x) + " " + std::to_string(e.y) + " "
                     + std::to_string(e.polarity) + "\n";
        }
        return s;
    }
};

std::string infoValue(const std::string &info, const std::string &key)
{
    std::istringstream lines(info);
    std::string line;
    while (std::getline(lines, line))
        if (line.compare(0, key.size() + 2, key + ": ") == 0)
            return line.substr(key.size() + 2);
    return "<missing>";
}

} // namespace

TEST(VxrawUsage, HelpAndWrongUsageGiveUsageOrOneLine)
{
    VxrawRun r = vxraw({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("usage: vxraw"), std::string::npos);
    r = vxraw({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, vxrawUsage());
    EXPECT_EQ(r.err, "");

    const std::vector<std::vector<std::string>> wrong = {
        {"frobnicate"},
        {"info"},
        {"info", "a", "b"},
        {"dump", "x.raw", "--from"},
        {"dump", "x.raw", "--from", "12abc"},
        {"dump", "x.raw", "--from", "-5"},
        {"dump", "x.raw", "--bogus"},
        {"dump", "x.raw", "--triggers=1"},
        {"convert", "in.txt"},
        {"convert", "in.txt", "out.raw", "--width", "0"},
        {"convert", "in.txt", "out.raw", "--height", "70000"},
        {"cut", "a.raw", "b.raw", "10"},
        {"cut", "a.raw", "b.raw", "10", "5"},
        {"cut", "a.raw", "b.raw", "1e3", "5000"},
        {"check"},
    };
    for (const auto &args : wrong) {
        r = vxraw(args);
        EXPECT_ONE_ERROR_LINE(r, 2);
    }
    EXPECT_EQ(vxraw({"cut", "a.raw", "b.raw", "10", "5"}).err, "vxraw cut: END_US is before START_US\n");
    EXPECT_EQ(vxraw({"frobnicate"}).err, "vxraw: unknown command 'frobnicate' (see vxraw --help)\n");
}

TEST(VxrawUsage, MissingFilesAndNonRecordingsAreStatusTwo)
{
    const std::string missing = vxtest::tempPath("vxraw-missing");
    const std::string text = vxtest::tempPath("vxraw-text", ".txt");
    writeFile(text, "this is not a recording\n");
    for (const std::string cmd : {"info", "dump", "check"}) {
        VxrawRun r = vxraw({cmd, missing});
        EXPECT_ONE_ERROR_LINE(r, 2);
        EXPECT_EQ(r.err, "vxraw " + cmd + ": " + missing + ": No such file or directory\n");
        r = vxraw({cmd, text});
        EXPECT_ONE_ERROR_LINE(r, 2);
        EXPECT_EQ(r.err, "vxraw " + cmd + ": " + text + ": not a recording\n");
    }
    const std::string fifo = vxtest::tempPath("vxraw-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // opening it for reading would wait for a writer
    EXPECT_EQ(vxraw({"info", fifo}).err, "vxraw info: " + fifo + ": not a regular file\n");
    VxrawRun r = vxraw({"export", fifo, fifo + ".mp4", "0", "1"});
    EXPECT_ONE_ERROR_LINE(r, 2);
    std::remove(fifo.c_str());
    r = vxraw({"cut", text, missing, "0", "10"});
    EXPECT_ONE_ERROR_LINE(r, 2);
    r = vxraw({"convert", missing, text + ".raw"});
    EXPECT_ONE_ERROR_LINE(r, 2);
    EXPECT_EQ(r.err, "vxraw convert: " + missing + ": No such file or directory\n");
    r = vxraw({"convert", text, text + ".raw"});
    EXPECT_ONE_ERROR_LINE(r, 2);
    EXPECT_EQ(r.err, "vxraw convert: " + text
                         + ": not a text event list: line 1: expected 4 fields 't x y p', found 5 "
                           "(expected 't x y p' text lines, AEDAT 2.0, 3.1 or 4.0, or HDF5)\n");
    std::remove(text.c_str());
}

TEST(VxrawUsage, RecordingWithUnusableHeaderIsBadDataNotUsage)
{
    Fixture f;
    const std::string original = readFile(f.path);
    std::string bytes = original;
    bytes[20] ^= 0x01; // reserved flags: the header checksum no longer matches
    writeFile(f.path, bytes);
    for (const std::string cmd : {"info", "dump", "check"}) {
        const VxrawRun r = vxraw({cmd, f.path});
        EXPECT_ONE_ERROR_LINE(r, 1);
        EXPECT_NE(r.err.find("header checksum mismatch"), std::string::npos) << r.err;
    }
    VxrawRun r = vxraw({"export", f.path, f.path + ".mp4", "0", "10"});
    EXPECT_ONE_ERROR_LINE(r, 1);

    bytes = original;
    bytes[8] = 9; // read version 9
    writeFile(f.path, bytes);
    r = vxraw({"cut", f.path, f.path + ".cut", "1000", "1100"});
    EXPECT_ONE_ERROR_LINE(r, 1);
    EXPECT_NE(r.err.find("needs a newer program"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(f.path + ".cut").good());
}

TEST(VxrawInfo, ReportsHeaderAndIndexFacts)
{
    Fixture f;
    const VxrawRun r = vxraw({"info", f.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(infoValue(r.out, "events"), "100");
    EXPECT_EQ(infoValue(r.out, "triggers"), "2");
    EXPECT_EQ(infoValue(r.out, "start_us"), "1000");
    EXPECT_EQ(infoValue(r.out, "end_us"), "1990");
    EXPECT_EQ(infoValue(r.out, "width"), "640");
    EXPECT_EQ(infoValue(r.out, "height"), "480");
    EXPECT_EQ(infoValue(r.out, "serial"), "SN-0042");
    EXPECT_EQ(infoValue(r.out, "product"), "EVK4");
    EXPECT_EQ(infoValue(r.out, "aps_time_offset_us"), "-250");
    EXPECT_EQ(infoValue(r.out, "blocks"), "1");
    EXPECT_EQ(infoValue(r.out, "corrupt_blocks"), "0");
    EXPECT_EQ(infoValue(r.out, "index"), "ok");
}

TEST(VxrawDump, HalfOpenRangeWithTriggersInTimeOrder)
{
    Fixture f;
    VxrawRun r = vxraw({"dump", f.path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, f.dump(0, UINT64_MAX, false));
    EXPECT_EQ(r.out.substr(0, 18), "1000 0 0 0\n1010 1 ");

    r = vxraw({"dump", f.path, "--triggers", "--from", "1500", "--to=1700"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, f.dump(1500, 1700, true));
    EXPECT_EQ(r.out.substr(0, 32), "1500 trigger 1\n1500 50 100 0\n151");
    EXPECT_EQ(r.out.find("1700"), std::string::npos); // the end is exclusive

    r = vxraw({"dump", f.path, "--from", "1990", "--triggers"});
    EXPECT_EQ(r.out, "1990 99 198 1\n");
    r = vxraw({"dump", f.path, "--from", "1700", "--to", "1700", "--triggers"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(VxrawCut, ClosedRangeRoundTrip)
{
    Fixture f;
    const std::string out = vxtest::tempPath("vxraw-cut");
    VxrawRun r = vxraw({"cut", f.path, out, "1500", "1700"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cut 21 events, 2 triggers of [1500, 1700] to " + out + "\n");
    r = vxraw({"dump", out, "--triggers"});
    EXPECT_EQ(r.out, f.dump(1500, 1701, true));
    std::remove(out.c_str());

    r = vxraw({"cut", f.path, out, "5000", "6000"});
    EXPECT_ONE_ERROR_LINE(r, 1);
    std::ifstream none(out);
    EXPECT_FALSE(none.good());
}

TEST(VxrawConvert, TextToRecordingAndBack)
{
    const std::string in = vxtest::tempPath("vxraw-conv", ".csv");
    const std::string out = vxtest::tempPath("vxraw-conv");
    writeFile(in, "t,x,y,p\n0.000001,1,2,1\n0.0000015,3,4,-1\n7,5,6,1\n");
    VxrawRun r = vxraw({"convert", in, out, "--serial", "S1", "--product=Taskelo"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "converted 3 events (text, 1280 x 720) to " + out + "\n");
    r = vxraw({"dump", out});
    EXPECT_EQ(r.out, "1 1 2 1\n2 3 4 0\n7 5 6 1\n");
    r = vxraw({"info", out});
    EXPECT_EQ(infoValue(r.out, "serial"), "S1");
    EXPECT_EQ(infoValue(r.out, "product"), "Taskelo");

    // Converting a recording is refused by name, and the failed run leaves no file.
    const std::string again = out + ".again.raw";
    r = vxraw({"convert", out, again});
    EXPECT_ONE_ERROR_LINE(r, 2);
    EXPECT_EQ(r.err, "vxraw convert: " + out + ": already a recording (use 'vxraw cut' to copy a range of it)\n");
    EXPECT_FALSE(std::ifstream(again).good());

    writeFile(in, "1 1 2 1\n2 3 4\n");
    r = vxraw({"convert", in, again});
    EXPECT_ONE_ERROR_LINE(r, 1);
    EXPECT_EQ(r.err, "vxraw convert: " + in + ": line 2: expected 4 fields 't x y p', found 3\n");
    EXPECT_FALSE(std::ifstream(again).good());
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(VxrawCheck, DamagedBlockIsReportedWithItsTimeRangeAndFailsReading)
{
    vxtest::SyntheticOptions o;
    o.seed = 7;
    o.durationUs = 1000000;
    o.eventRate = 200000;
    o.startTimestampUs = 5000000;
    const std::vector<Event2D> events = vxtest::generateEvents(o);
    const std::string path = vxtest::tempPath("vxraw-check");
    ASSERT_TRUE(vxtest::writeRecording(path, events));

    VxrawRun r = vxraw({"check", path});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.err, "");

    auto reader = vexadin::RawFileReader::create(path);
    ASSERT_TRUE(reader && reader->open());
    ASSERT_GE(reader->blockCount(), 3u);
    const vexadin::RawBlockInfo second = reader->blockInfo(1);
    reader.reset();

    // One flipped payload byte in the second block.
    std::string bytes = readFile(path);
    bytes[second.fileOffset + 40 + 17] ^= 0x40;
    writeFile(path, bytes);

    r = vxraw({"check", path});
    EXPECT_ONE_ERROR_LINE(r, 1);
    EXPECT_NE(r.out.find(std::to_string(second.firstTimestamp)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::to_string(second.lastTimestamp)), std::string::npos) << r.out;

    r = vxraw({"dump", path});
    EXPECT_ONE_ERROR_LINE(r, 1);
    EXPECT_EQ(r.err, "vxraw dump: " + path + ": skipped 1 damaged block(s); run 'vxraw check' for details\n");
    EXPECT_EQ(lineCount(r.out), events.size() - second.eventCount);

    // Without its trailer the index is rebuilt by scanning.
    bytes = readFile(path);
    bytes.resize(bytes.size() - 48);
    writeFile(path, bytes);
    r = vxraw({"info", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(infoValue(r.out, "index"), "rebuilt");
    std::remove(path.c_str());
}

TEST(VxrawExecutable, ExitStatusAndStreamsOfTheRealProgram)
{
    const std::string missing = vxtest::tempPath("vxraw-exe-missing");
    const std::string outFile = vxtest::tempPath("vxraw-exe", ".out");
    const std::string errFile = vxtest::tempPath("vxraw-exe", ".err");
    auto run = [&](const std::string &args) {
        const std::string cmd = std::string("'") + VX_VXRAW_EXE + "' " + args + " >'" + outFile + "' 2>'" + errFile + "'";
        const int raw = std::system(cmd.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_NE(readFile(outFile).find("usage: vxraw"), std::string::npos);
    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run("info '" + missing + "'"), 2);
    EXPECT_EQ(readFile(errFile), "vxraw info: " + missing + ": No such file or directory\n");
    EXPECT_NE(run("export a.raw b.mp4 0 1"), 0);
    EXPECT_EQ(lineCount(readFile(errFile)), 1u);

    Fixture f;
    EXPECT_EQ(run("dump '" + f.path + "' --triggers"), 0);
    EXPECT_EQ(readFile(outFile), f.dump(0, UINT64_MAX, true));
    EXPECT_EQ(readFile(errFile), "");

    // The driver's own log lines must not reach stderr beside the command's one line.
    const std::string text = vxtest::tempPath("vxraw-exe", ".txt");
    writeFile(text, "1 2 3 1\n");
    EXPECT_EQ(run("info '" + text + "'"), 2);
    EXPECT_EQ(readFile(errFile), "vxraw info: " + text + ": not a recording\n");
    std::string bytes = readFile(f.path);
    bytes.resize(bytes.size() - 60); // into the index: rebuilt by scanning, with a warning
    bytes[bytes.size() / 2] ^= 0x10; // and a damaged block
    writeFile(f.path, bytes);
    EXPECT_EQ(run("dump '" + f.path + "'"), 1);
    EXPECT_EQ(lineCount(readFile(errFile)), 1u) << readFile(errFile);
    EXPECT_EQ(run("check '" + f.path + "'"), 1);
    EXPECT_EQ(lineCount(readFile(errFile)), 1u) << readFile(errFile);
    std::remove(text.c_str());
    std::remove(outFile.c_str());
    std::remove(errFile.c_str());
}
