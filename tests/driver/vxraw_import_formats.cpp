// Importers of AEDAT 2.0, AEDAT 3.1 and HDF5 event files, and what the converter
// does with absolute (Unix) times, on files the tests write with known events.
#include "aedat2importer.h"
#include "aedat3importer.h"
#include "eventconverter.h"
#include "hdf5importer.h"
#include "textimporter.h"
#include "vxrawcommands.h"

#include "driver/rawfilereader.h"
#include "support/foreignfiles.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using vexadin::Event2D;
using Events = std::vector<Event2D>;

namespace {

std::string writeTemp(const std::string &content, const std::string &suffix)
{
    const std::string path = vxtest::tempPath("vxraw-formats", suffix);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct Imported {
    bool opened = false;
    Events events;
    std::string error;
    uint64_t outside = 0;
    std::string skipped;
};

// Everything one importer yields from `path`, in small batches.
template <class Importer>
Imported importFile(const std::string &path, const std::string &sensor = {})
{
    Importer importer(path);
    importer.setSensorName(sensor);
    Imported r;
    r.opened = importer.open();
    std::vector<Event2D> batch;
    while (r.opened && importer.next(batch, 2))
        r.events.insert(r.events.end(), batch.begin(), batch.end());
    r.events.insert(r.events.end(), batch.begin(), batch.end()); // good events before an error
    r.error = importer.error();
    r.outside = importer.outsideSensor();
    r.skipped = importer.skippedSummary();
    return r;
}

template <class Importer>
Imported importBytes(const std::string &bytes, const std::string &sensor = {})
{
    const std::string path = writeTemp(bytes, ".aedat");
    Imported r = importFile<Importer>(path, sensor);
    std::remove(path.c_str());
    return r;
}

using Recording = vxtest::RecordingContents;
using vxtest::readRecording;

// Converts `in` and reads the recording back (the output is removed).
Recording convert(const std::string &in, vxraw::ConvertResult &result, const vxraw::ConvertOptions &options = {})
{
    const std::string out = vxtest::tempPath("vxraw-formats-out");
    result = vxraw::convertToRecording(in, out, options);
    Recording r = readRecording(out);
    std::remove(out.c_str());
    return r;
}

std::string aedat2(const std::string &chip, const std::vector<std::pair<uint32_t, uint32_t>> &records)
{
    std::string f = vxtest::aedat2Header(chip);
    for (const auto &r : records)
        vxtest::appendAedat2Record(f, r.first, r.second);
    return f;
}

} // namespace

// ---- AEDAT 2.0 ------------------------------------------------------------------

TEST(Aedat2Import, Dvs128AddressesTurnIntoTopLeftEventsAndOthersAreCounted)
{
    const Imported r = importBytes<vxraw::Aedat2Importer>(aedat2(
        "ch.unizh.ini.jaer.chip.retina.DVS128",
        {{0x0000, 10},                           // x 0, y 0 from the bottom right, ON
         {(5u << 8) | (10u << 1) | 1u, 11},      // OFF
         {0x8000, 12},                           // external event
         {0x10000, 13},                          // not a DVS128 address
         {(127u << 8) | (127u << 1), 20}}));     // the top-left pixel
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events, (Events{{127, 127, 1, 10}, {117, 122, 0, 11}, {0, 0, 1, 20}}));
    EXPECT_EQ(r.skipped, "1 external event, 1 address that is not a DVS128 event skipped");

    vxraw::Aedat2Importer importer(writeTemp(aedat2("ch.unizh.ini.jaer.chip.retina.DVS128", {}), ".aedat"));
    ASSERT_TRUE(importer.open());
    EXPECT_EQ(importer.fileWidth(), 128);
    EXPECT_EQ(importer.fileProduct(), "DVS128");
}

TEST(Aedat2Import, DavisLayoutsSkipFrameAndImuSamplesAndCountEventsOutsideTheSensor)
{
    auto davis = [](uint32_t x, uint32_t y, uint32_t on) { return (y << 22) | (x << 12) | (on << 11); };
    const std::vector<std::pair<uint32_t, uint32_t>> records = {
        {0x23000001u, 5},           // starts with '#', still data: y 140
        {davis(0, 0, 1), 6},
        {0x80000000u | 0x3FFu, 7},  // APS sample
        {0x80000C00u, 8},           // IMU sample
        {davis(3, 4, 0) | 0x400u, 9}, // external event
        {davis(300, 10, 0), 10},    // x beyond 240 but inside 346
        {davis(7, 250, 1), 11},     // y beyond 180 but inside 260
    };
    Imported r = importBytes<vxraw::Aedat2Importer>(aedat2("eu.seebetter.ini.chips.davis.DAVIS240C", records));
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events, (Events{{239, 39, 0, 5}, {239, 179, 1, 6}}));
    EXPECT_EQ(r.outside, 2u);
    EXPECT_EQ(r.skipped, "2 frame/IMU samples, 1 external event skipped");

    // The same records as a DAVIS346: --sensor wins over the chip line.
    r = importBytes<vxraw::Aedat2Importer>(aedat2("eu.seebetter.ini.chips.davis.DAVIS240C", records), "davis346");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events, (Events{{345, 119, 0, 5}, {345, 259, 1, 6}, {45, 249, 0, 10}, {338, 9, 1, 11}}));
    EXPECT_EQ(r.outside, 0u);

    // The helper the benchmarks use packs events the same way.
    EXPECT_EQ(vxtest::aedat2Address(Event2D(45, 249, 0, 0), false, 346, 260), davis(300, 10, 0));
    EXPECT_EQ(vxtest::aedat2Address(Event2D(117, 122, 0, 0), true, 128, 128), (5u << 8) | (10u << 1) | 1u);
}

TEST(Aedat2Import, TimestampWrapsAreFollowedButStepsBackAreRefused)
{
    Imported r = importBytes<vxraw::Aedat2Importer>(
        aedat2("DVS128", {{0, 0xFFFFFFF0u}, {0, 0xFFFFFFFFu}, {0, 3}, {0, 3}, {0, 0x90000000u}, {0, 0x10}}));
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.events.size(), 6u);
    EXPECT_EQ(r.events[2].timestamp, 0x100000003ull);
    EXPECT_EQ(r.events[5].timestamp, 0x200000010ull);

    r = importBytes<vxraw::Aedat2Importer>(aedat2("DVS128", {{0, 100}, {0, 200}, {0, 150}}));
    EXPECT_EQ(r.events.size(), 2u);
    const size_t header = vxtest::aedat2Header("DVS128").size();
    EXPECT_EQ(r.error, "record 3 at byte " + std::to_string(header + 16)
                           + ": timestamp 150 us is earlier than the previous event's 200 us (events must be in "
                             "time order)");
}

TEST(Aedat2Import, UnknownSensorsAndDamageAreNamed)
{
    Imported r = importBytes<vxraw::Aedat2Importer>(aedat2("", {{0, 1}}));
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.error, "header: no 'AEChip:' line names the sensor (give --sensor: dvs128, davis240, davis346)");
    r = importBytes<vxraw::Aedat2Importer>(aedat2("", {{0, 1}}), "dvs128");
    EXPECT_EQ(r.events.size(), 1u);
    r = importBytes<vxraw::Aedat2Importer>(aedat2("MysteryChip", {{0, 1}}));
    EXPECT_NE(r.error.find("chip 'MysteryChip' is not a sensor whose addresses we know"), std::string::npos) << r.error;
    r = importBytes<vxraw::Aedat2Importer>(aedat2("DVS128", {{0, 1}}), "davis999");
    EXPECT_EQ(r.error, "unknown sensor 'davis999' (known: dvs128, davis240, davis346)");

    // Cut inside the second record: the first one is kept, the rest named.
    const std::string whole = aedat2("DVS128", {{0, 1}, {0, 2}});
    r = importBytes<vxraw::Aedat2Importer>(whole.substr(0, whole.size() - 3));
    EXPECT_EQ(r.events.size(), 1u);
    EXPECT_NE(r.error.find("the file ends inside record 2"), std::string::npos) << r.error;
    // A header line that never ends.
    r = importBytes<vxraw::Aedat2Importer>("#!AER-DAT2.0\r\n# AEChip: DVS128");
    EXPECT_NE(r.error.find("is not terminated"), std::string::npos) << r.error;
}

// ---- AEDAT 3.1 ------------------------------------------------------------------

TEST(Aedat3Import, PolarityPacketsOfTheFirstSourceOthersSkippedAndCounted)
{
    std::string f = vxtest::aedat3Header("DAVIS240C");
    f += vxtest::aedat3PolarityPacket({{1, 2, true, 100}, {3, 4, false, 100, false}, {239, 179, false, 101}});
    f += vxtest::aedat3OtherPacket(0, 1, 8, 2);   // special events
    f += vxtest::aedat3OtherPacket(2, 1, 40, 1);  // a frame
    f += vxtest::aedat3OtherPacket(3, 1, 36, 3);  // IMU
    f += vxtest::aedat3PolarityPacket({{9, 9, true, 102}}, 2);
    f += vxtest::aedat3PolarityPacket({{5, 6, true, (1ull << 31) + 7}, {300, 6, true, (1ull << 31) + 8}});
    const Imported r = importBytes<vxraw::Aedat3Importer>(f);
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events, (Events{{1, 2, 1, 100}, {239, 179, 0, 101}, {5, 6, 1, (1ull << 31) + 7}}));
    EXPECT_EQ(r.outside, 1u);
    EXPECT_EQ(r.skipped, "1 invalid event(s), 1 IMU packet(s), 1 frame packet(s), 1 polarity packet(s) of another "
                         "source, 1 special-event packet(s) skipped");
}

TEST(Aedat3Import, DamageAndTimeGoingBackAreNamedByPacket)
{
    const std::string header = vxtest::aedat3Header("DVS128");
    const std::string first = vxtest::aedat3PolarityPacket({{1, 1, true, 50}});
    Imported r = importBytes<vxraw::Aedat3Importer>(header + first + vxtest::aedat3PolarityPacket({{1, 1, true, 49}}));
    EXPECT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.error, "packet 2 at byte " + std::to_string(header.size() + first.size())
                           + ", event 0: timestamp 49 us is earlier than the previous event's 50 us (events must be "
                             "in time order)");

    // Truncated inside the events, and a header whose counts contradict each other.
    const std::string whole = header + first + first;
    r = importBytes<vxraw::Aedat3Importer>(whole.substr(0, whole.size() - 4));
    EXPECT_NE(r.error.find("packet 2 at byte"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("run past the end of the file"), std::string::npos) << r.error;
    std::string contradicting = first;
    contradicting[20] = 5; // number 5 > capacity 1
    r = importBytes<vxraw::Aedat3Importer>(header + contradicting);
    EXPECT_NE(r.error.find("packet 1 at byte"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("damaged packet header"), std::string::npos) << r.error;

    r = importBytes<vxraw::Aedat3Importer>("#!AER-DAT3.1\r\n#Format: RAW\r\n");
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.error, "header: no '#!END-HEADER' line");
}

TEST(Aedat3Import, AnUnknownChipGetsItsSizeFromAFirstPass)
{
    std::string f = vxtest::aedat3Header("SomeNewCamera");
    f += vxtest::aedat3PolarityPacket({{400, 2, true, 1}, {3, 299, false, 2}});
    const std::string in = writeTemp(f, ".aedat");
    vxraw::ConvertResult result;
    const Recording rec = convert(in, result);
    ASSERT_EQ(result.status, vxraw::ConvertResult::Status::Ok) << result.error;
    EXPECT_EQ(rec.info.width, 401);
    EXPECT_EQ(rec.info.height, 300);
    EXPECT_EQ(rec.info.product, "SomeNewCamera");
    EXPECT_EQ(rec.events, (Events{{400, 2, 1, 1}, {3, 299, 0, 2}}));
    std::remove(in.c_str());
}

// ---- HDF5 -----------------------------------------------------------------------

namespace {

const Events kHdf5Events = {{0, 0, 1, 10}, {5, 3, 0, 10}, {319, 239, 1, 1500000}, {7, 8, 0, 2750001}};

std::string hdf5File(const vxtest::Hdf5Layout &layout, const Events &events = kHdf5Events)
{
    const std::string path = vxtest::tempPath("vxraw-formats", ".h5");
    EXPECT_TRUE(vxtest::writeHdf5Events(path, layout, events));
    return path;
}

} // namespace

TEST(Hdf5Import, NamesTimeUnitsOffsetsAndPolarityTypesOfCommonLayouts)
{
    struct Case {
        const char *what;
        vxtest::Hdf5Layout layout;
    };
    std::vector<Case> cases(6);
    cases[0].what = "x/y/t/p in /events, µs, size attributes";
    cases[0].layout.width = 320;
    cases[0].layout.height = 240;
    cases[1].what = "xs/ys/ts/ps in the root, seconds";
    cases[1].layout.group = "/";
    cases[1].layout.x = "xs";
    cases[1].layout.y = "ys";
    cases[1].layout.t = "ts";
    cases[1].layout.p = "ps";
    cases[1].layout.seconds = true;
    cases[2].what = "t_offset in the root";
    cases[2].layout.hasOffset = true;
    cases[2].layout.offsetUs = 7;
    cases[3].what = "seconds with t_offset";
    cases[3].layout.seconds = true;
    cases[3].layout.hasOffset = true;
    cases[3].layout.offsetUs = 5;
    cases[4].what = "boolean polarity";
    cases[4].layout.boolPolarity = true;
    cases[5].what = "chunked and deflate-compressed";
    cases[5].layout.chunk = 3;
    cases[5].layout.deflate = 4;
    for (const Case &c : cases) {
        const std::string path = hdf5File(c.layout);
        const Imported r = importFile<vxraw::Hdf5Importer>(path);
        vxraw::ConvertResult result;
        const Recording rec = convert(path, result);
        std::remove(path.c_str());
        EXPECT_TRUE(r.opened) << c.what << ": " << r.error;
        EXPECT_EQ(r.events, kHdf5Events) << c.what;
        ASSERT_EQ(result.status, vxraw::ConvertResult::Status::Ok) << c.what << ": " << result.error;
        EXPECT_EQ(rec.events, kHdf5Events) << c.what;
        // Without attributes the largest coordinates decide the size.
        EXPECT_EQ(rec.info.width, 320) << c.what;
        EXPECT_EQ(rec.info.height, 240) << c.what;
    }
}

TEST(Hdf5Import, ReadsAcrossSliceBoundariesInOrder)
{
    // One more event than a slice, so the second slice holds a handful.
    const uint64_t count = vxraw::Hdf5Importer::kReadEvents + 5;
    vxtest::Hdf5Layout layout;
    layout.width = 64;
    layout.height = 64;
    layout.chunk = 100000;
    const std::string path = vxtest::tempPath("vxraw-formats", ".h5");
    auto eventAt = [](uint64_t i) {
        return Event2D(static_cast<uint16_t>(i % 64), static_cast<uint16_t>((i / 64) % 64),
                       static_cast<uint8_t>(i & 1), i / 3);
    };
    ASSERT_TRUE(vxtest::writeHdf5Events(path, layout, count, [&](uint64_t first, size_t n, Event2D *out) {
        for (size_t i = 0; i < n; ++i)
            out[i] = eventAt(first + i);
    }));
    vxraw::ConvertResult result;
    const Recording rec = convert(path, result);
    std::remove(path.c_str());
    ASSERT_EQ(result.status, vxraw::ConvertResult::Status::Ok) << result.error;
    ASSERT_EQ(rec.events.size(), count);
    for (uint64_t i = 0; i < count; i += 4099)
        ASSERT_EQ(rec.events[i], eventAt(i)) << i;
    EXPECT_EQ(rec.events.back(), eventAt(count - 1));
}

TEST(Hdf5Import, SensorSizeFromOptionsCountsEventsOutside)
{
    const std::string path = hdf5File({});
    vxraw::ConvertOptions options;
    options.width = 100;
    options.height = 100;
    vxraw::ConvertResult result;
    const Recording rec = convert(path, result, options);
    std::remove(path.c_str());
    ASSERT_EQ(result.status, vxraw::ConvertResult::Status::Ok) << result.error;
    EXPECT_EQ(result.outsideSensor, 1u);
    EXPECT_EQ(rec.events, (Events{kHdf5Events[0], kHdf5Events[1], kHdf5Events[3]}));
}

TEST(Hdf5Import, UnusableLayoutsAndValuesAreNamed)
{
    auto errorOf = [](const std::string &path) {
        const Imported r = importFile<vxraw::Hdf5Importer>(path);
        std::remove(path.c_str());
        return r.error;
    };
    vxtest::Hdf5Layout noP;
    noP.p = "polarity";
    EXPECT_EQ(errorOf(hdf5File(noP)), "no group holds the datasets x/xs, y/ys, t/ts and p/ps");

    Events backwards = kHdf5Events;
    backwards[3].timestamp = 9;
    EXPECT_EQ(errorOf(hdf5File({}, backwards)),
              "event 3: timestamp 9 us is earlier than the previous event's 1500000 us (events must be in time order)");

    // Stored times shifted below zero with no t_offset to lift them back.
    vxtest::Hdf5Layout negative;
    negative.offsetUs = 20;
    EXPECT_EQ(errorOf(hdf5File(negative)), "event 0: time -10 us is negative or too large");

    // A file with the signature that libhdf5 cannot open.
    std::string junk("\x89HDF\r\n\x1a\n", 8);
    junk += std::string(200, '\x07');
    const std::string junkPath = writeTemp(junk, ".h5");
    const std::string why = errorOf(junkPath);
    EXPECT_EQ(why.rfind("cannot be opened by libhdf5", 0), 0u) << why;
}

// ---- Unix times ---------------------------------------------------------------

TEST(AbsoluteTime, UnixTimesAreStoredFromTheFirstEventAndDumpedBackExactly)
{
    const std::string in = writeTemp("1605537493.718345 1 2 1\n"
                                     "1605537493.718348 3 4 0\n"
                                     "1605537494.000000 5 6 1\n",
                                     ".txt");
    const std::string out = vxtest::tempPath("vxraw-absolute");
    const vxraw::ConvertResult result = vxraw::convertToRecording(in, out, {});
    ASSERT_EQ(result.status, vxraw::ConvertResult::Status::Ok) << result.error;
    EXPECT_EQ(result.recordingStartUnixUs, 1605537493718345u);
    const Recording rec = readRecording(out);
    EXPECT_EQ(rec.events, (Events{{1, 2, 1, 0}, {3, 4, 0, 3}, {5, 6, 1, 281655}}));
    EXPECT_EQ(rec.info.recordingStartUnixUs, 1605537493718345u);

    std::ostringstream plain, absolute, window, err;
    EXPECT_EQ(runVxrawArgs({"dump", out}, plain, err), 0);
    EXPECT_EQ(plain.str(), "0 1 2 1\n3 3 4 0\n281655 5 6 1\n");
    EXPECT_EQ(runVxrawArgs({"dump", out, "--absolute"}, absolute, err), 0);
    EXPECT_EQ(absolute.str(), "1605537493718345 1 2 1\n1605537493718348 3 4 0\n1605537494000000 5 6 1\n");
    // With --absolute the window is in Unix time too.
    EXPECT_EQ(runVxrawArgs({"dump", out, "--absolute", "--from", "1605537493718348", "--to", "1605537494000000"},
                           window, err),
              0);
    EXPECT_EQ(window.str(), "1605537493718348 3 4 0\n");
    std::remove(in.c_str());
    std::remove(out.c_str());

    // Relative times are kept as they are; such a recording has no absolute start.
    const std::string relIn = writeTemp("3811 1 2 1\n", ".txt");
    const vxraw::ConvertResult rel = vxraw::convertToRecording(relIn, out, {});
    ASSERT_EQ(rel.status, vxraw::ConvertResult::Status::Ok);
    EXPECT_EQ(rel.recordingStartUnixUs, 0u);
    EXPECT_EQ(readRecording(out).events, (Events{{1, 2, 1, 3811}}));
    std::ostringstream none, noneErr;
    EXPECT_EQ(runVxrawArgs({"dump", out, "--absolute"}, none, noneErr), 1);
    EXPECT_EQ(noneErr.str(), "vxraw dump: " + out
                                 + ": the recording has no absolute start time (recording_start_unix_us is 0)\n");
    std::remove(relIn.c_str());
    std::remove(out.c_str());
}

// ---- the conversion as a job --------------------------------------------------

TEST(ConvertJob, ProgressRisesToTheEndAndACancelLeavesNoFile)
{
    vxtest::Hdf5Layout layout; // no size attributes: a first pass, then the conversion
    const uint64_t count = 300000;
    const std::string in = vxtest::tempPath("vxraw-formats", ".h5");
    ASSERT_TRUE(vxtest::writeHdf5Events(in, layout, count, [](uint64_t first, size_t n, Event2D *out) {
        for (size_t i = 0; i < n; ++i)
            out[i] = Event2D(static_cast<uint16_t>((first + i) % 100), 1, 1, first + i);
    }));
    const std::string out = vxtest::tempPath("vxraw-job");
    std::vector<double> seen;
    vxraw::ConvertOptions options;
    options.progress = [&](double f) {
        seen.push_back(f);
        return true;
    };
    vxraw::ConvertResult r = vxraw::convertToRecording(in, out, options);
    ASSERT_EQ(r.status, vxraw::ConvertResult::Status::Ok) << r.error;
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    EXPECT_LE(*std::max_element(seen.begin(), seen.end() - 1), 1.0);
    std::remove(out.c_str());

    for (size_t stopAfter : {size_t(1), size_t(8)}) { // during the first pass, and while writing
        size_t calls = 0;
        options.progress = [&](double) { return ++calls < stopAfter; };
        r = vxraw::convertToRecording(in, out, options);
        EXPECT_EQ(r.status, vxraw::ConvertResult::Status::Cancelled);
        EXPECT_FALSE(fileExists(out));
        // Nothing half-written beside it either.
        const std::string dir = out.substr(0, out.find_last_of('/'));
        const std::string stem = out.substr(dir.size() + 1);
        DIR *d = opendir(dir.c_str());
        ASSERT_NE(d, nullptr);
        while (dirent *e = readdir(d))
            EXPECT_NE(std::string(e->d_name).rfind(stem, 0), 0u) << e->d_name;
        closedir(d);
    }
    std::remove(in.c_str());
}

TEST(ConvertCommand, SensorOptionAndWhatWasSkippedAreReported)
{
    std::string f = vxtest::aedat2Header("");
    vxtest::appendAedat2Record(f, 0x0000, 10);
    vxtest::appendAedat2Record(f, 0x8000, 11);
    const std::string in = writeTemp(f, ".aedat");
    const std::string out = vxtest::tempPath("vxraw-cmd");
    std::ostringstream o, e;
    EXPECT_EQ(runVxrawArgs({"convert", in, out}, o, e), 1);
    EXPECT_NE(e.str().find("give --sensor"), std::string::npos) << e.str();
    std::ostringstream o2, e2;
    EXPECT_EQ(runVxrawArgs({"convert", in, out, "--sensor", "dvs128"}, o2, e2), 0) << e2.str();
    EXPECT_EQ(o2.str(), "converted 1 events (AEDAT 2.0, 128 x 128) to " + out + "\n1 external event skipped\n");
    std::ostringstream o3, e3;
    EXPECT_EQ(runVxrawArgs({"convert", in, out, "--sensor", "dvs999"}, o3, e3), 2);
    std::remove(in.c_str());
    std::remove(out.c_str());
}
