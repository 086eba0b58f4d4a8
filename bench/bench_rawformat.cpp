// Speed of the .raw recording format on camera-like data (1280 x 720, moving edges
// plus noise, ~10 Mev/s): encoding, decoding in 33 ms playback windows, seeking to
// random places, and the size per event.
//
// The seek benchmark uses a 500-million-event file (~2 GB, made once in /tmp and
// reused) when VX_BENCH_BIG=1, otherwise a 20-million-event one.
#include "driver/crc32c.h"
#include "driver/rawfilereader.h"
#include "driver/rawfilewriter.h"
#include "driver/rawformat.h"
#include "support/syntheticevents.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <time.h>

using namespace vexadin;

namespace {

constexpr uint64_t kWindowUs = 33333;
constexpr double kRate = 10e6;

vxtest::SyntheticOptions cameraLike(uint64_t durationUs, uint64_t seed = 1)
{
    vxtest::SyntheticOptions opt;
    opt.seed = seed;
    opt.eventRate = kRate;
    opt.durationUs = durationUs;
    opt.startTimestampUs = 1000000;
    opt.noiseFraction = 0.15;
    opt.edgeCount = 4;
    return opt;
}

// Half a second of camera-like data, shared by the benchmarks below.
const std::vector<Event2D> &sampleEvents()
{
    static const std::vector<Event2D> events = vxtest::generateEvents(cameraLike(500000));
    return events;
}

const std::string &sampleFile()
{
    static const std::string path = [] {
        const std::string p = vxtest::tempPath("bench-rawformat");
        vxtest::writeRecording(p, sampleEvents());
        return p;
    }();
    static const struct Remover {
        ~Remover() { std::remove(path.c_str()); }
    } remover;
    (void)remover;
    return path;
}

// This thread's CPU time in ns: the machine may be shared, and the targets are per core.
double cpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

uint64_t fileSize(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Nanoseconds per Event2D of a plain memcpy in windows of the given sizes.
double memcpyNsPerEvent(const std::vector<size_t> &windowSizes)
{
    const auto &src = sampleEvents();
    size_t largest = 0, total = 0;
    for (size_t n : windowSizes) {
        largest = std::max(largest, n);
        total += n;
    }
    std::vector<Event2D> dst(largest);
    double best = 1e30;
    for (int rep = 0; rep < 5; ++rep) {
        const double t0 = cpuNs();
        size_t at = 0;
        for (size_t n : windowSizes) {
            std::memcpy(static_cast<void *>(dst.data()), src.data() + (at % (src.size() - n + 1)), n * sizeof(Event2D));
            benchmark::DoNotOptimize(dst.data());
            at += n;
        }
        benchmark::ClobberMemory();
        best = std::min(best, (cpuNs() - t0) / double(total));
    }
    return best;
}

} // namespace

// Writer: events in, encoded blocks written to a file (page cache).
static void BM_Encode(benchmark::State &state)
{
    const auto &events = sampleEvents();
    const std::string path = vxtest::tempPath("bench-encode");
    uint64_t bytes = 0;
    for (auto _ : state) {
        RawFileWriter w;
        w.open(path, RawFileHeader{});
        // Batches as a camera delivers them.
        for (size_t i = 0; i < events.size(); i += 20000)
            w.write(events.data() + i, events.data() + std::min(events.size(), i + 20000));
        w.close();
        bytes = fileSize(path);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(events.size()));
    state.counters["bytes_per_event"] = double(bytes) / double(events.size());
    std::remove(path.c_str());
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

// Payload codec alone, one full block (no file, no checksum).
static void BM_EncodePayload(benchmark::State &state)
{
    const auto &events = sampleEvents();
    const size_t n = RawFileWriter::kDefaultBlockEvents;
    const auto pk = rawformat::EventPacking::forSensor(1280, 720);
    std::vector<uint8_t> out(rawformat::maxPayloadSize(pk, n, 0) + rawformat::kDecodeSlack);
    size_t size = 0;
    for (auto _ : state) {
        size = rawformat::encodePayload(pk, events[0].timestamp, events.data(), n, nullptr, 0, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    state.counters["bytes_per_event"] = double(size) / double(n);
}
BENCHMARK(BM_EncodePayload);

static void BM_DecodePayload(benchmark::State &state)
{
    const auto &events = sampleEvents();
    const uint32_t n = RawFileWriter::kDefaultBlockEvents;
    const auto pk = rawformat::EventPacking::forSensor(1280, 720);
    std::vector<uint8_t> payload(rawformat::maxPayloadSize(pk, n, 0) + rawformat::kDecodeSlack);
    rawformat::BlockHeader h;
    h.eventCount = n;
    h.firstTimestamp = events[0].timestamp;
    h.lastTimestamp = events[n - 1].timestamp;
    h.payloadSize = uint32_t(rawformat::encodePayload(pk, h.firstTimestamp, events.data(), n, nullptr, 0, payload.data()));
    std::vector<Event2D> out(n);
    for (auto _ : state) {
        rawformat::decodePayload(pk, h, payload.data(), out.data(), nullptr, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_DecodePayload);

static void BM_Crc32c(benchmark::State &state)
{
    std::vector<uint8_t> data(1 << 20, 0x5a);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32c(data.data(), data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Crc32c);

// Playback: the whole file in successive 33 ms windows through readRange.
static void BM_DecodeWindows(benchmark::State &state)
{
    auto reader = RawFileReader::create(sampleFile());
    if (!reader || !reader->open()) {
        state.SkipWithError("cannot open the sample recording");
        return;
    }
    uint64_t start = 0, end = 0;
    reader->getStartTimestamp(start);
    reader->getEndTimestamp(end);
    std::vector<size_t> sizes;
    for (uint64_t t = start; t <= end; t += kWindowUs)
        sizes.push_back(reader->readRange(t, kWindowUs)->size());
    uint64_t events = 0;
    const double t0 = cpuNs();
    for (auto _ : state) {
        for (uint64_t t = start; t <= end; t += kWindowUs) {
            auto w = reader->readRange(t, kWindowUs);
            events += w->size();
            benchmark::DoNotOptimize(w->data());
        }
    }
    const double ns = cpuNs() - t0;
    state.SetItemsProcessed(int64_t(events));
    const double decodeNs = ns / double(std::max<uint64_t>(events, 1));
    const double copyNs = memcpyNsPerEvent(sizes);
    state.counters["decode_ns_per_event"] = decodeNs;
    state.counters["memcpy_ns_per_event"] = copyNs;
    state.counters["decode_over_memcpy"] = decodeNs / copyNs;
}
BENCHMARK(BM_DecodeWindows)->Unit(benchmark::kMillisecond);

// A plain copy of the same windows, for comparison with BM_DecodeWindows.
static void BM_MemcpyWindows(benchmark::State &state)
{
    const auto &src = sampleEvents();
    const uint64_t start = src.front().timestamp;
    std::vector<std::pair<size_t, size_t>> windows;
    size_t at = 0;
    for (uint64_t t = start; at < src.size(); t += kWindowUs) {
        size_t b = at;
        while (at < src.size() && src[at].timestamp < t + kWindowUs)
            ++at;
        windows.emplace_back(b, at - b);
    }
    for (auto _ : state) {
        for (const auto &w : windows) {
            auto out = std::make_shared<std::vector<Event2D>>(src.begin() + long(w.first),
                                                              src.begin() + long(w.first + w.second));
            benchmark::DoNotOptimize(out->data());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_MemcpyWindows)->Unit(benchmark::kMillisecond);

// Random seek + one 33 ms window in a large file.
static void BM_SeekWindow(benchmark::State &state)
{
    const bool big = std::getenv("VX_BENCH_BIG") && std::string(std::getenv("VX_BENCH_BIG")) == "1";
    const uint64_t durationUs = big ? 50000000 : 2000000; // 500 M or 20 M events
    const std::string path = big ? "/tmp/vx_bench_big_500M.raw" : "/tmp/vx_bench_seek_20M.raw";
    auto reader = RawFileReader::create(path);
    if (!reader || !reader->open() || reader->indexRebuilt()) {
        reader.reset();
        RawFileWriter w;
        w.open(path, RawFileHeader{});
        vxtest::SyntheticEventStream stream(cameraLike(durationUs, 99));
        std::vector<Event2D> slice;
        while (stream.nextSlice(slice, 10000))
            w.write(slice);
        w.close();
        reader = RawFileReader::create(path);
    }
    if (!reader || !reader->open()) {
        state.SkipWithError("cannot make the seek recording");
        return;
    }
    uint64_t start = 0, end = 0;
    reader->getStartTimestamp(start);
    reader->getEndTimestamp(end);
    std::mt19937_64 rng(7);
    uint64_t events = 0;
    for (auto _ : state) {
        const uint64_t t = start + rng() % (end - start - kWindowUs);
        reader->seek(t);
        auto w = reader->readNext(kWindowUs);
        events += w->size();
        benchmark::DoNotOptimize(w->data());
    }
    state.SetItemsProcessed(int64_t(events));
    state.counters["file_events"] = double(durationUs) * kRate / 1e6;
    state.counters["bytes_per_event"] = double(fileSize(path)) / (double(durationUs) * kRate / 1e6);
}
BENCHMARK(BM_SeekWindow)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
