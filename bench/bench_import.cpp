// Import speed of every foreign format vxraw reads, in events per second of this
// thread's CPU time: the importer alone (parsing into events), and the whole
// conversion into a recording. Inputs are camera-like events (346 x 260, moving
// edges plus noise) written once per run into the temp folder.
//
// VX_BENCH_BIG=1 adds the memory check of a ~2 GB HDF5 import: the file is made
// once (and kept in the temp folder), `vxraw convert` runs on it as a child
// process and its peak resident memory is reported (it must stay under 200 MB).
#include "eventconverter.h"
#include "eventimporter.h"

#include "support/foreignfiles.h"
#include "support/syntheticevents.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using vexadin::Event2D;

namespace {

constexpr uint16_t kWidth = 346;
constexpr uint16_t kHeight = 260;

const std::vector<Event2D> &sampleEvents()
{
    static const std::vector<Event2D> events = [] {
        vxtest::SyntheticOptions opt;
        opt.width = kWidth;
        opt.height = kHeight;
        opt.eventRate = 10e6;
        opt.durationUs = 400000; // 4 M events
        opt.startTimestampUs = 1000;
        opt.noiseFraction = 0.15;
        opt.edgeCount = 4;
        return vxtest::generateEvents(opt);
    }();
    return events;
}

enum class Format { Text, Aedat2, Aedat3, Aedat4Lz4, Aedat4Zstd, Hdf5Us, Hdf5Seconds, Hdf5Deflate };

const char *const kFormatNames[] = {"text",       "aedat2_davis346", "aedat3",      "aedat4_lz4",
                                    "aedat4_zstd", "hdf5_us",        "hdf5_seconds", "hdf5_deflate"};

std::string writeFile(Format format, const std::string &path)
{
    const std::vector<Event2D> &events = sampleEvents();
    // Text is ~25 bytes a line: a quarter of the events keep the file modest.
    const size_t textEvents = events.size() / 4;
    std::string bytes;
    switch (format) {
    case Format::Text: {
        std::ofstream out(path, std::ios::binary);
        char line[64];
        for (size_t i = 0; i < textEvents; ++i) {
            const Event2D &e = events[i];
            const int n = std::snprintf(line, sizeof line, "%llu.%06llu %u %u %u\n",
                                        static_cast<unsigned long long>(e.timestamp / 1000000),
                                        static_cast<unsigned long long>(e.timestamp % 1000000), e.x, e.y, e.polarity);
            out.write(line, n);
        }
        return path;
    }
    case Format::Aedat2:
        bytes = vxtest::aedat2Header("eu.seebetter.ini.chips.davis.DAVIS346B");
        bytes.reserve(bytes.size() + events.size() * 8);
        for (const Event2D &e : events)
            vxtest::appendAedat2Record(bytes, vxtest::aedat2Address(e, false, kWidth, kHeight),
                                       static_cast<uint32_t>(e.timestamp));
        break;
    case Format::Aedat3: {
        bytes = vxtest::aedat3Header("DAVIS346B");
        std::vector<vxtest::Aedat3Event> packet;
        for (size_t i = 0; i < events.size(); ++i) {
            const Event2D &e = events[i];
            packet.push_back({e.x, e.y, e.polarity != 0, e.timestamp, true});
            if (packet.size() == 8192 || i + 1 == events.size()) {
                bytes += vxtest::aedat3PolarityPacket(packet);
                packet.clear();
            }
        }
        break;
    }
    case Format::Aedat4Lz4:
    case Format::Aedat4Zstd: {
        std::vector<std::vector<vxtest::Aedat4Event>> packets(1);
        for (const Event2D &e : events) {
            if (packets.back().size() == 8192)
                packets.emplace_back();
            packets.back().push_back({static_cast<int64_t>(e.timestamp), static_cast<int16_t>(e.x),
                                      static_cast<int16_t>(e.y), e.polarity});
        }
        bytes = vxtest::aedat4File(format == Format::Aedat4Lz4 ? vxtest::Aedat4Codec::Lz4 : vxtest::Aedat4Codec::Zstd,
                                   packets, true, vxtest::aedat4Xml(kWidth, kHeight));
        break;
    }
    case Format::Hdf5Us:
    case Format::Hdf5Seconds:
    case Format::Hdf5Deflate: {
        vxtest::Hdf5Layout layout;
        layout.width = kWidth;
        layout.height = kHeight;
        layout.seconds = format == Format::Hdf5Seconds;
        if (format == Format::Hdf5Deflate) {
            layout.chunk = 1 << 16;
            layout.deflate = 1;
        }
        vxtest::writeHdf5Events(path, layout, events);
        return path;
    }
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// One input file per format for the whole run, removed at exit.
const std::string &inputFile(Format format)
{
    static std::map<Format, std::string> files;
    static const struct Remover {
        ~Remover()
        {
            for (const auto &f : files)
                std::remove(f.second.c_str());
        }
    } remover;
    (void)remover;
    auto it = files.find(format);
    if (it == files.end())
        it = files.emplace(format, writeFile(format, vxtest::tempPath("bench-import", ".in"))).first;
    return it->second;
}

uint64_t fileSize(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void BM_Importer(benchmark::State &state)
{
    const Format format = static_cast<Format>(state.range(0));
    const std::string &path = inputFile(format);
    state.SetLabel(kFormatNames[state.range(0)]);
    uint64_t events = 0;
    std::vector<Event2D> batch;
    for (auto _ : state) {
        std::string error;
        std::unique_ptr<vxraw::EventImporter> importer = vxraw::importerFor(path, error);
        if (!importer || !importer->open()) {
            state.SkipWithError(importer ? importer->error().c_str() : error.c_str());
            return;
        }
        while (importer->next(batch, 1 << 16))
            events += batch.size();
        if (!importer->error().empty()) {
            state.SkipWithError(importer->error().c_str());
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(events));
    state.counters["MB_in"] = static_cast<double>(fileSize(path)) / 1e6;
}
BENCHMARK(BM_Importer)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

void BM_Convert(benchmark::State &state)
{
    const Format format = static_cast<Format>(state.range(0));
    const std::string &path = inputFile(format);
    state.SetLabel(kFormatNames[state.range(0)]);
    const std::string out = vxtest::tempPath("bench-import-out");
    uint64_t events = 0;
    for (auto _ : state) {
        const vxraw::ConvertResult r = vxraw::convertToRecording(path, out, {});
        if (r.status != vxraw::ConvertResult::Status::Ok) {
            state.SkipWithError(r.error.c_str());
            break;
        }
        events += r.events;
    }
    std::remove(out.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(events));
}
BENCHMARK(BM_Convert)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

// ~2 GB of HDF5 (13 bytes per event), converted by the real program in a child
// process so its peak memory is the conversion's alone.
void BM_BigHdf5ConvertMemory(benchmark::State &state)
{
    const char *big = std::getenv("VX_BENCH_BIG");
    if (!big || std::string(big) != "1") {
        state.SkipWithError("set VX_BENCH_BIG=1 to run (makes a 2 GB file)");
        return;
    }
#ifndef VX_VXRAW_EXE
    state.SkipWithError("built without the vxraw tool");
    return;
#else
    const char *dir = std::getenv("TMPDIR");
    const std::string in = std::string(dir && *dir ? dir : "/tmp") + "/bench-import-big.h5";
    const uint64_t count = 165'000'000;
    if (fileSize(in) < count * 13) {
        vxtest::SyntheticOptions opt;
        opt.width = 1280;
        opt.height = 720;
        opt.eventRate = 20e6;
        opt.durationUs = count / 20 + 1000;
        vxtest::SyntheticEventStream stream(opt);
        std::vector<Event2D> slice;
        size_t used = 0;
        vxtest::Hdf5Layout layout;
        layout.width = 1280;
        layout.height = 720;
        layout.chunk = 1 << 20;
        const bool ok = vxtest::writeHdf5Events(in, layout, count, [&](uint64_t, size_t n, Event2D *out) {
            for (size_t i = 0; i < n; ++i) {
                while (used == slice.size()) {
                    stream.nextSlice(slice, 10000);
                    used = 0;
                }
                out[i] = slice[used++];
            }
        });
        if (!ok) {
            state.SkipWithError("cannot write the HDF5 input");
            return;
        }
    }
    const std::string out = vxtest::tempPath("bench-import-big");
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execl(VX_VXRAW_EXE, "vxraw", "convert", in.c_str(), out.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage {};
        wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("vxraw convert failed");
            break;
        }
        state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
        state.counters["input_GB"] = static_cast<double>(fileSize(in)) / 1e9;
        state.counters["child_cpu_s"] = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                                        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        if (usage.ru_maxrss >= 200 * 1024)
            state.SkipWithError("peak resident memory of the conversion is 200 MB or more");
    }
    std::remove(out.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(count * state.iterations()));
#endif
}
BENCHMARK(BM_BigHdf5ConvertMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
