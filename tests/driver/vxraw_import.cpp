// Importers of research event formats: text/CSV lists and AEDAT 4.0, checked on
// hand-made inputs and, when present, on the real sample recordings.
#include "aedat4importer.h"
#include "eventconverter.h"
#include "textimporter.h"
#include "vxrawcommands.h"

#include "driver/rawfilereader.h"
#include "support/foreignfiles.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using vexadin::Event2D;

namespace {

bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

unsigned long long fileSize(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
}

std::string writeTemp(const std::string &content, const std::string &suffix = ".txt")
{
    const std::string path = vxtest::tempPath("vxraw-import", suffix);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Everything an importer yields, or the error it stopped with.
struct Imported {
    bool opened = false;
    bool recognised = false;
    std::vector<Event2D> events;
    std::string error;
};

Imported importAll(vxraw::EventImporter &importer, uint16_t width = 0, uint16_t height = 0)
{
    Imported r;
    r.opened = importer.open();
    r.recognised = importer.recognised();
    if (!r.opened) {
        r.error = importer.error();
        return r;
    }
    if (width)
        importer.setSensorSize(width, height);
    std::vector<Event2D> batch;
    while (importer.next(batch, 3)) // tiny batches exercise the line carry-over
        r.events.insert(r.events.end(), batch.begin(), batch.end());
    r.events.insert(r.events.end(), batch.begin(), batch.end()); // good events before an error
    r.error = importer.error();
    return r;
}

Imported importText(const std::string &content, uint16_t width = 0, uint16_t height = 0)
{
    const std::string path = writeTemp(content);
    vxraw::TextImporter importer(path);
    Imported r = importAll(importer, width, height);
    std::remove(path.c_str());
    return r;
}

uint64_t ts(const char *text)
{
    uint64_t us = 0;
    EXPECT_TRUE(vxraw::TextImporter::parseTimestampUs(text, text + std::strlen(text), us)) << text;
    return us;
}

bool tsFails(const char *text)
{
    uint64_t us = 0;
    return !vxraw::TextImporter::parseTimestampUs(text, text + std::strlen(text), us);
}

using vxtest::Aedat4Codec;
using AedatEvent = vxtest::Aedat4Event;

std::string aedatFile(Aedat4Codec codec, const std::vector<AedatEvent> &first, const std::vector<AedatEvent> &second,
                      bool withTable = true)
{
    return vxtest::aedat4File(codec, {first, second}, withTable);
}

const std::vector<AedatEvent> kFirst = {{1000, 0, 0, 1}, {1000, 63, 47, 0}, {1005, 10, 20, 1}};
const std::vector<AedatEvent> kSecond = {{2000000, 5, 6, 0}, {2000001, 7, 8, 1}};

Imported importAedat(const std::string &bytes, uint16_t width = 0, uint16_t height = 0)
{
    const std::string path = writeTemp(bytes, ".aedat4");
    vxraw::Aedat4Importer importer(path);
    Imported r = importAll(importer, width, height);
    std::remove(path.c_str());
    return r;
}

std::string sharedData(const char *name)
{
    return std::string(VX_SHARED_DATA_DIR) + "/" + name;
}

} // namespace

TEST(TextTimestamp, SecondsAreExactAndRoundToNearestMicrosecond)
{
    EXPECT_EQ(ts("0.003811000"), 3811u);
    EXPECT_EQ(ts("0.174156000"), 174156u);
    EXPECT_EQ(ts("0.5"), 500000u);
    EXPECT_EQ(ts("1."), 1000000u);
    EXPECT_EQ(ts(".25"), 250000u);
    EXPECT_EQ(ts("2.0000004999"), 2000000u);
    EXPECT_EQ(ts("2.0000005"), 2000001u);
    EXPECT_EQ(ts("0.9999995"), 1000000u); // the carry crosses into the seconds
    EXPECT_EQ(ts("1605537493.718345"), 1605537493718345u);
    // Values a double cannot hold exactly keep every digit.
    EXPECT_EQ(ts("9007199254.740993"), 9007199254740993u);
}

TEST(TextTimestamp, IntegersAreMicrosecondsAndJunkIsRefused)
{
    EXPECT_EQ(ts("0"), 0u);
    EXPECT_EQ(ts("3811"), 3811u);
    EXPECT_EQ(ts("18446744073709551615"), UINT64_MAX);
    for (const char *bad : {"", ".", "-1", "+1", "1e-3", "1.2.3", "0x10", "1,5", "18446744073709551616",
                            "18446744073709.551616", "1.5s"})
        EXPECT_TRUE(tsFails(bad)) << "'" << bad << "'";
}

TEST(TextImport, AcceptsCommentsBlankLinesCsvTabsAndMixedPrecision)
{
    const Imported r = importText("# t x y p\n"
                                  "\n"
                                  "0.003811000 96 133 0\n"
                                  "   # indented comment\n"
                                  "0.0038115\t1\t2\t1\r\n"
                                  "0.004,3,4,-1\n"
                                  "4001 , 5 , 6 , +1\n"
                                  "0.5 7 8 1"); // no final newline
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.error, "");
    const std::vector<Event2D> expected = {{96, 133, 0, 3811}, {1, 2, 1, 3812}, {3, 4, 0, 4000},
                                           {5, 6, 1, 4001},    {7, 8, 1, 500000}};
    EXPECT_EQ(r.events, expected);
}

TEST(TextImport, SkipsOneCsvHeaderLineOnly)
{
    Imported r = importText("timestamp,x,y,polarity\n1,2,3,1\n");
    ASSERT_TRUE(r.opened) << r.error;
    EXPECT_EQ(r.events, (std::vector<Event2D>{{2, 3, 1, 1}}));

    r = importText("t x y p\n1 2 3 1\nt x y p\n");
    EXPECT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.error, "line 3: bad timestamp 't'");
}

TEST(TextImport, BadLinesAreNamedByNumber)
{
    struct Case {
        const char *text;
        const char *error;
    } cases[] = {
        {"1 2 3 1\n2 2 3\n", "line 2: expected 4 fields 't x y p', found 3"},
        {"1 2 3 1\n2 2 3 1 9\n", "line 2: expected 4 fields 't x y p', found 5"},
        {"1 2 3 1\n\n# c\n2 2 3 2\n", "line 4: bad polarity '2' (expected 0/1 or -1/1)"},
        {"1 2 3 1\n2 -2 3 1\n", "line 2: bad x '-2'"},
        {"1 2 3 1\n2 2 70000 1\n", "line 2: bad y '70000'"},
        {"1 2 3 1\n2,,3,1\n", "line 2: empty field"},
        {"1 2 3 1\n0.5e3 2 3 1\n", "line 2: bad timestamp '0.5e3'"},
        {"5 2 3 1\n4 2 3 1\n", "line 2: timestamp 4 us is earlier than the previous event's 5 us "
                               "(events must be in time order)"},
    };
    for (const Case &c : cases) {
        const Imported r = importText(c.text);
        ASSERT_TRUE(r.opened) << c.text;
        EXPECT_EQ(r.error, c.error) << c.text;
    }
}

TEST(TextImport, FirstLineDecidesWhetherItIsAnEventListAtAll)
{
    Imported r = importText("hello world\nthis is prose\n");
    EXPECT_FALSE(r.opened);
    EXPECT_FALSE(r.recognised);
    EXPECT_EQ(r.error, "not a text event list: line 1: expected 4 fields 't x y p', found 2");

    r = importText(std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    EXPECT_FALSE(r.opened);
    EXPECT_FALSE(r.recognised);
    EXPECT_EQ(r.error, "not a text event list: binary content");

    r = importText("\xEF\xBB\xBF" "0.25 1 2 1\n");
    EXPECT_EQ(r.events, (std::vector<Event2D>{{1, 2, 1, 250000}}));

    r = importText(std::string(5000, '1') + " 1 1 1\n");
    EXPECT_FALSE(r.opened);
    EXPECT_NE(r.error.find("line 1: longer than 4096 characters"), std::string::npos) << r.error;

    r = importText("# nothing but comments\n\n");
    EXPECT_TRUE(r.opened);
    EXPECT_TRUE(r.events.empty());
}

TEST(TextImport, EventOutsideTheSensorIsAnErrorUnlessTheSensorIsLarger)
{
    const char text[] = "1 10 10 1\n2 1279 719 0\n3 1280 5 1\n";
    Imported r = importText(text);
    EXPECT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.error, "line 3: event at x=1280 y=5 is outside the 1280 x 720 sensor (use --width/--height)");

    r = importText(text, 2000, 720);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events.size(), 3u);

    r = importText(text, 240, 180);
    EXPECT_EQ(r.error, "line 2: event at x=1279 y=719 is outside the 240 x 180 sensor (use --width/--height)");
}

TEST(AedatImport, ReadsLz4ZstdAndUncompressedPacketsSkippingOtherStreams)
{
    std::vector<Event2D> expected;
    for (const auto *list : {&kFirst, &kSecond})
        for (const AedatEvent &e : *list)
            expected.emplace_back(e.x, e.y, e.on, e.t);
    for (Aedat4Codec codec : {Aedat4Codec::Lz4, Aedat4Codec::Zstd, Aedat4Codec::None}) {
        for (bool withTable : {true, false}) {
            const std::string path = writeTemp(aedatFile(codec, kFirst, kSecond, withTable), ".aedat4");
            vxraw::Aedat4Importer importer(path);
            const Imported r = importAll(importer);
            std::remove(path.c_str());
            ASSERT_TRUE(r.opened) << r.error;
            EXPECT_EQ(r.error, "");
            EXPECT_EQ(r.events, expected);
            EXPECT_EQ(importer.fileWidth(), 64);
            EXPECT_EQ(importer.fileHeight(), 48);
            EXPECT_EQ(importer.fileSerial(), "TestCam_S&N42");
            EXPECT_EQ(importer.fileProduct(), "TestCam");
        }
    }
}

TEST(AedatImport, DamageIsReportedWithThePacketNotReadPastTheBuffer)
{
    const std::string good = aedatFile(Aedat4Codec::Lz4, kFirst, kSecond);

    // An unclosed recording (no table) cut inside its last packet.
    const std::string unclosed = aedatFile(Aedat4Codec::Lz4, kFirst, kSecond, false);
    Imported r = importAedat(unclosed.substr(0, unclosed.size() - 10));
    EXPECT_EQ(r.events.size(), kFirst.size());
    EXPECT_NE(r.error.find("packet 3 at byte"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("runs past the end of the file"), std::string::npos) << r.error;

    // A closed one cut short: its table position now lies past the end.
    r = importAedat(good.substr(0, good.size() - 60));
    EXPECT_FALSE(r.opened);
    EXPECT_NE(r.error.find("lies beyond the end of the file"), std::string::npos) << r.error;

    // A vector that claims more elements than the buffer holds.
    std::string lying = aedatFile(Aedat4Codec::None, kFirst, kSecond);
    const std::string honest = vxtest::aedat4EventPacket(kFirst);
    const size_t at = lying.find(honest);
    ASSERT_NE(at, std::string::npos);
    lying.replace(at, honest.size(), vxtest::aedat4EventPacket(kFirst, 1000000));
    r = importAedat(lying);
    EXPECT_TRUE(r.events.empty());
    EXPECT_NE(r.error.find("packet 1 at byte"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("damaged FlatBuffer (event vector)"), std::string::npos) << r.error;

    // Bytes that are not an LZ4 frame although the header says LZ4.
    std::string garbled = good;
    const size_t lz4 = garbled.find("\x04\x22\x4d\x18");
    ASSERT_NE(lz4, std::string::npos);
    for (size_t i = lz4 + 8; i < lz4 + 40; ++i)
        garbled[i] = static_cast<char>(0xA5);
    r = importAedat(garbled);
    EXPECT_TRUE(r.events.empty());
    EXPECT_NE(r.error.find("packet 1 at byte"), std::string::npos) << r.error;

    // An event packet with no body at all: reported, never copied from a null buffer.
    std::string hollow = aedatFile(Aedat4Codec::None, kFirst, kSecond, false);
    const std::string firstPacket = vxtest::aedat4Packet(4, vxtest::aedat4EventPacket(kFirst));
    const size_t packetAt = hollow.find(firstPacket);
    ASSERT_NE(packetAt, std::string::npos);
    hollow.replace(packetAt, firstPacket.size(), vxtest::aedat4Packet(4, ""));
    r = importAedat(hollow);
    EXPECT_TRUE(r.events.empty());
    EXPECT_NE(r.error.find("packet 1 at byte"), std::string::npos) << r.error;

    // No prefix of a closed recording that lacks events passes for a whole one.
    for (size_t n = 0; n < good.size(); n += 7) {
        r = importAedat(good.substr(0, n));
        EXPECT_LE(r.events.size(), kFirst.size() + kSecond.size());
        if (r.events.size() < kFirst.size() + kSecond.size()) {
            EXPECT_NE(r.error, "") << "prefix of " << n << " bytes";
        }
    }
}

// The header's table position marks where the packets end. A wrong one that lands
// on a packet boundary used to end the import early and report success.
TEST(AedatImport, AWrongDataTablePositionIsAnErrorNotAnEarlyEnd)
{
    for (Aedat4Codec codec : {Aedat4Codec::Lz4, Aedat4Codec::None}) {
        const std::string good = aedatFile(codec, kFirst, kSecond);
        const std::string second = vxtest::aedat4Packet(4, vxtest::aedat4Compress(vxtest::aedat4EventPacket(kSecond), codec));
        const size_t third = good.find(second);
        ASSERT_NE(third, std::string::npos);
        const size_t table = third + second.size();
        std::string pos;
        vxtest::putLe64(pos, table);
        const size_t field = good.find(pos); // the header's copy of the position
        ASSERT_NE(field, std::string::npos);

        for (uint64_t wrong : {uint64_t(third), uint64_t(third + 3), uint64_t(5), uint64_t(good.size() + 100)}) {
            std::string bad = good;
            std::string w;
            vxtest::putLe64(w, wrong);
            bad.replace(field, 8, w);
            const Imported r = importAedat(bad);
            EXPECT_NE(r.error, "") << "table position " << wrong;
            EXPECT_NE(r.error.find(wrong == third ? "does not lead to the data table" : "data table"), std::string::npos)
                << r.error;
        }
    }
}

TEST(AedatImport, OtherVersionsAndMissingEventStreamAreRefusedByName)
{
    Imported r = importAedat("#!AER-DAT3.0\r\n#Format: RAW\r\n");
    EXPECT_FALSE(r.opened);
    EXPECT_TRUE(r.recognised);
    EXPECT_EQ(r.error, "unsupported AEDAT version '#!AER-DAT3.0' (AEDAT 2.0, 3.1 and 4.0 can be imported)");

    std::string noEvents = aedatFile(Aedat4Codec::Lz4, kFirst, kSecond);
    const size_t at = noEvents.find(">EVTS<");
    ASSERT_NE(at, std::string::npos);
    noEvents.replace(at + 1, 4, "FRME");
    r = importAedat(noEvents);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.error, "header: the file has no polarity event stream (EVTS)");
}

TEST(AedatImport, SensorSizeComesFromTheFileUnlessOverridden)
{
    const std::vector<AedatEvent> wide = {{10, 100, 5, 1}};
    Imported r = importAedat(aedatFile(Aedat4Codec::Lz4, kFirst, wide));
    EXPECT_EQ(r.events.size(), kFirst.size());
    EXPECT_NE(r.error.find("packet 3 at byte"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("event 0: event at x=100 y=5 is outside the 64 x 48 sensor"), std::string::npos)
        << r.error;

    r = importAedat(aedatFile(Aedat4Codec::Lz4, kFirst, {{2000000, 100, 5, 1}}), 128, 48);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.events.size(), kFirst.size() + 1);
}

// ---- conversion to a recording ----------------------------------------------

using ReadBack = vxtest::RecordingContents;
using vxtest::readRecording;

TEST(Convert, FailureLeavesNoOutputAndKeepsAnExistingFile)
{
    const std::string in = writeTemp("1 1 1 1\n2 5000 1 1\n");
    const std::string out = vxtest::tempPath("vxraw-convert");
    vxraw::ConvertResult r = vxraw::convertToRecording(in, out, {});
    EXPECT_EQ(r.status, vxraw::ConvertResult::Status::BadData);
    EXPECT_EQ(r.error, in + ": line 2: event at x=5000 y=1 is outside the 1280 x 720 sensor (use --width/--height)");
    EXPECT_FALSE(fileExists(out));

    std::ofstream(out) << "precious";
    r = vxraw::convertToRecording(in, out, {});
    EXPECT_EQ(r.status, vxraw::ConvertResult::Status::BadData);
    std::ifstream kept(out);
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "precious");

    vxraw::ConvertOptions wide;
    wide.width = 5001;
    r = vxraw::convertToRecording(in, out, wide);
    ASSERT_EQ(r.status, vxraw::ConvertResult::Status::Ok) << r.error;
    const ReadBack back = readRecording(out);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.events, (std::vector<Event2D>{{1, 1, 1, 1}, {5000, 1, 1, 2}}));
    EXPECT_EQ(back.info.width, 5001);
    EXPECT_EQ(back.info.height, 720);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// A failing read is not the end of the file: the events after it would be lost
// while the conversion reported success. Reading /proc/self/mem at offset 0 fails
// with EIO, a real read error on a "regular" file.
TEST(Convert, AReadErrorIsAFailureNotAnEndOfFile)
{
    const std::string failing = "/proc/self/mem";
    struct stat st {};
    if (::stat(failing.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        GTEST_SKIP() << failing << " is not available here";
    vxraw::TextImporter text(failing);
    const Imported r = importAll(text);
    EXPECT_FALSE(r.opened);
    EXPECT_TRUE(text.readFailed());
    EXPECT_NE(r.error.find("read error"), std::string::npos) << r.error;

    const std::string out = vxtest::tempPath("vxraw-readerror");
    const vxraw::ConvertResult c = vxraw::convertToRecording(failing, out, {});
    EXPECT_EQ(c.status, vxraw::ConvertResult::Status::BadData) << c.error;
    EXPECT_NE(c.error.find("read error"), std::string::npos) << c.error;
    EXPECT_FALSE(fileExists(out));
}

// A FIFO without a writer used to block the conversion for ever.
TEST(Convert, APipeIsRefusedAtOnce)
{
    const std::string fifo = vxtest::tempPath("vxraw-fifo", ".txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = vxtest::tempPath("vxraw-fifo-out");
    auto result = std::async(std::launch::async, [&] { return vxraw::convertToRecording(fifo, out, {}); });
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Unblock the reader so the test ends.
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0)
            ::close(fd);
        result.wait();
        ADD_FAILURE() << "the conversion blocked on a FIFO";
    }
    const vxraw::ConvertResult c = result.get();
    EXPECT_EQ(c.status, vxraw::ConvertResult::Status::NotEventFile);
    EXPECT_NE(c.error.find("not a regular file"), std::string::npos) << c.error;
    EXPECT_FALSE(fileExists(out));
    std::remove(fifo.c_str());
}

TEST(Convert, SyntheticAedatKeepsEveryEventAndTheCameraName)
{
    const std::string in = writeTemp(aedatFile(Aedat4Codec::Zstd, kFirst, kSecond), ".aedat4");
    const std::string out = vxtest::tempPath("vxraw-convert");
    const vxraw::ConvertResult r = vxraw::convertToRecording(in, out, {});
    ASSERT_EQ(r.status, vxraw::ConvertResult::Status::Ok) << r.error;
    EXPECT_EQ(r.format, "AEDAT 4.0");
    const ReadBack back = readRecording(out);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.events.size(), 5u);
    EXPECT_EQ(back.events[4], Event2D(7, 8, 1, 2000001));
    EXPECT_EQ(back.info.serial, "TestCam_S&N42");
    EXPECT_EQ(back.info.product, "TestCam");
    EXPECT_EQ(back.info.width, 64);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(RealData, TextChunkRoundTripsExactly)
{
    const std::string in = sharedData("events_chunk.txt");
    if (!fileExists(in))
        GTEST_SKIP() << "sample data not present: " << in;
    const std::string out = vxtest::tempPath("vxraw-real-text");
    vxraw::ConvertOptions options;
    options.width = 240;
    options.height = 180;
    const vxraw::ConvertResult r = vxraw::convertToRecording(in, out, options);
    ASSERT_EQ(r.status, vxraw::ConvertResult::Status::Ok) << r.error;
    EXPECT_EQ(r.events, 50000u);

    const ReadBack back = readRecording(out);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.events.size(), 50000u);
    EXPECT_EQ(back.info.eventCount, 50000u);
    EXPECT_EQ(back.info.startTimestamp, 3811u);
    EXPECT_EQ(back.info.endTimestamp, 174156u);
    EXPECT_EQ(back.events.front(), Event2D(96, 133, 0, 3811));
    size_t on = 0, sameAsPrevious = 0;
    uint16_t xMax = 0, yMax = 0;
    for (size_t i = 0; i < back.events.size(); ++i) {
        on += back.events[i].polarity;
        xMax = std::max(xMax, back.events[i].x);
        yMax = std::max(yMax, back.events[i].y);
        if (i && back.events[i].timestamp == back.events[i - 1].timestamp)
            ++sameAsPrevious;
    }
    EXPECT_EQ(on, 21147u);
    EXPECT_EQ(back.events.size() - on, 28853u);
    EXPECT_EQ(sameAsPrevious, 11763u);
    EXPECT_EQ(xMax, 239);
    EXPECT_EQ(yMax, 179);

    // Every line, compared with an independent reading of the file.
    std::ifstream text(in);
    std::string t;
    unsigned x, y, p;
    size_t i = 0;
    while (text >> t >> x >> y >> p) {
        ASSERT_LT(i, back.events.size());
        const size_t dot = t.find('.');
        const uint64_t us = std::stoull(t.substr(0, dot)) * 1000000 + std::stoull(t.substr(dot + 1, 6));
        ASSERT_EQ(back.events[i], Event2D(x, y, p, us)) << "line " << i + 1;
        ++i;
    }
    EXPECT_EQ(i, 50000u);
    std::printf("events_chunk.txt: %llu bytes in, %llu bytes recording, %.2f bytes per event\n",
                static_cast<unsigned long long>(1053808),
                fileSize(out), static_cast<double>(fileSize(out)) / 50000.0);
    std::remove(out.c_str());
}

TEST(RealData, AedatSampleRoundTripsExactly)
{
    const std::string in = sharedData("sample.aedat4");
    if (!fileExists(in))
        GTEST_SKIP() << "sample data not present: " << in;
    const std::string out = vxtest::tempPath("vxraw-real-aedat");
    const vxraw::ConvertResult r = vxraw::convertToRecording(in, out, {});
    ASSERT_EQ(r.status, vxraw::ConvertResult::Status::Ok) << r.error;

    const ReadBack back = readRecording(out);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.events.size(), 111954u);
    EXPECT_EQ(back.info.width, 320);
    EXPECT_EQ(back.info.height, 240);
    EXPECT_EQ(back.info.serial, "DVXplorer_DXB00010");
    // Unix times: stored from the first event on, the start kept in the header.
    EXPECT_EQ(r.recordingStartUnixUs, 1605537493718345u);
    EXPECT_EQ(back.info.recordingStartUnixUs, 1605537493718345u);
    EXPECT_EQ(back.info.startTimestamp, 0u);
    EXPECT_EQ(back.info.endTimestamp, 589917u);
    EXPECT_EQ(back.events[0], Event2D(154, 204, 0, 0));
    EXPECT_EQ(back.events[1], Event2D(149, 206, 0, 3));
    size_t on = 0;
    uint16_t xMax = 0, yMax = 0;
    for (const Event2D &e : back.events) {
        on += e.polarity;
        xMax = std::max(xMax, e.x);
        yMax = std::max(yMax, e.y);
    }
    EXPECT_EQ(on, 55023u);
    EXPECT_EQ(back.events.size() - on, 56931u);
    EXPECT_EQ(xMax, 319);
    EXPECT_EQ(yMax, 239);

    // The same events as the importer yields straight from the file, and
    // 'dump --absolute' gives back its times exactly.
    vxraw::Aedat4Importer direct(in);
    Imported imported = importAll(direct);
    ASSERT_EQ(imported.events.size(), back.events.size());
    std::string expectedDump;
    for (size_t i = 0; i < back.events.size(); ++i) {
        const Event2D &e = imported.events[i];
        expectedDump += std::to_string(e.timestamp) + " " + std::to_string(e.x) + " " + std::to_string(e.y) + " "
                        + std::to_string(e.polarity) + "\n";
        imported.events[i].timestamp -= 1605537493718345u;
    }
    EXPECT_EQ(imported.events, back.events);
    std::ostringstream dumped, errors;
    EXPECT_EQ(runVxrawArgs({"dump", out, "--absolute"}, dumped, errors), 0) << errors.str();
    EXPECT_TRUE(dumped.str() == expectedDump) << "dump --absolute differs from the source times";
    std::printf("sample.aedat4: %llu bytes in, %llu bytes recording, %.2f bytes per event\n",
                static_cast<unsigned long long>(949253),
                fileSize(out), static_cast<double>(fileSize(out)) / 111954.0);
    std::remove(out.c_str());
}
