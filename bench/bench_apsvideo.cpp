// Speed of the fusion recordings' colour video: encoding 3840 x 2160 frames (as fast
// as possible, and live at 30 frames per second with drops counted), building the
// frame index on open, and readFrameAt at random places of a 10-minute recording.
//
// Test videos are made once and kept in $VX_BENCH_DIR (default /tmp/vx-bench-apsvideo):
// a 10-minute 30 fps video at 640 x 360 (18,000 frames) and a 20-second one at
// 3840 x 2160 (600 frames); VX_BENCH_4K_MINUTES=10 makes the full-size one 10 minutes
// long too (slow to make). Frames are a textured, moving picture (gradients, moving
// bars, mild noise), not flat colour, so the decoder has real work.
#include "camera/apsfilereader.h"
#include "driver/apsvideoreader.h"
#include "driver/apsvideowriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <time.h>

using namespace vexadin;

namespace {

std::string benchDir()
{
    const char *env = std::getenv("VX_BENCH_DIR");
    const std::string dir = env && *env ? env : "/tmp/vx-bench-apsvideo";
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

// A camera-like picture: a diagonal gradient drifting with time, bright bars moving
// across, and ±3 of noise.
void drawScene(ApsFrame &frame, uint32_t number, std::mt19937 &rng)
{
    const int w = frame.getWidth(), h = frame.getHeight();
    const int shift = int(number * 7);
    uint8_t *p = frame.data();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x, p += 3) {
            const int g = ((x + y + shift) * 255 / (w + h)) & 255;
            const bool bar = ((x + shift * 3) / (w / 16 + 1)) % 5 == 0;
            const int noise = int(rng() % 7) - 3;
            p[0] = uint8_t(std::clamp(g / 2 + noise + (bar ? 90 : 0), 0, 255));
            p[1] = uint8_t(std::clamp(g + noise, 0, 255));
            p[2] = uint8_t(std::clamp(255 - g + noise, 0, 255));
        }
    }
}

// Distinct pictures, made once (drawing is not what is measured).
std::vector<ApsFrame> scenePictures(uint16_t w, uint16_t h, size_t count)
{
    std::mt19937 rng(11);
    std::vector<ApsFrame> pictures;
    for (size_t i = 0; i < count; ++i) {
        ApsFrame f(w, h, i, 0);
        drawScene(f, uint32_t(i), rng);
        pictures.push_back(f);
    }
    return pictures;
}

// Writes `frames` frames at 30 fps, waiting for the encoder instead of dropping.
bool writeVideo(const std::string &path, uint16_t w, uint16_t h, size_t frames)
{
    const std::vector<ApsFrame> pictures = scenePictures(w, h, 30);
    ApsVideoWriter writer;
    if (!writer.open(path, w, h))
        return false;
    for (size_t i = 0; i < frames; ++i) {
        ApsFrame f = pictures[i % pictures.size()].clone();
        f.setFrameNumber(i);
        f.setTimestamp(i * 1000000 / 30);
        while (writer.framesQueued() >= 4)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!writer.push(f))
            return false;
    }
    return writer.close();
}

// The video at path with `frames` frames, made when missing.
std::string video(const std::string &name, uint16_t w, uint16_t h, size_t frames)
{
    const std::string path = benchDir() + "/" + name;
    auto reader = ApsVideoReader::create(path);
    if (reader && reader->open() && reader->frameCount() == frames)
        return path;
    std::fprintf(stderr, "making %s (%zu frames of %d x %d)...\n", path.c_str(), frames, w, h);
    if (!writeVideo(path, w, h, frames))
        std::fprintf(stderr, "could not write %s\n", path.c_str());
    return path;
}

size_t fullSizeFrames()
{
    const char *env = std::getenv("VX_BENCH_4K_MINUTES");
    const int minutes = env ? std::atoi(env) : 0;
    return minutes > 0 ? size_t(minutes) * 60 * 30 : 600;
}

// CPU time of the whole process (all threads: the encoder and decoder use several),
// which the machine's load does not inflate the way it inflates wall time.
double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

uint64_t fileSize(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Encoder throughput at full size: frames per second of wall time (the encoder uses
// every core), with the B, G, R to YUV conversion. 30 or more means a 30 fps camera
// can be recorded live.
void BM_EncodeFullSize(benchmark::State &state)
{
    const std::vector<ApsFrame> pictures = scenePictures(3840, 2160, 8);
    const std::string path = benchDir() + "/encode.mp4";
    const size_t frames = 60;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        ApsVideoWriter writer;
        writer.open(path, 3840, 2160);
        for (size_t i = 0; i < frames; ++i) {
            ApsFrame f = pictures[i % pictures.size()];
            ApsFrame copy(f); // shares: the writer only reads it
            copy.setTimestamp(i * 33333);
            while (writer.framesQueued() >= 4)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            writer.push(copy);
        }
        writer.close();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * frames));
    state.counters["cpu_ms_per_frame"] = (processCpuSeconds() - cpu0) * 1000 / double(state.iterations() * frames);
    state.counters["MB_per_min"] =
        benchmark::Counter(double(fileSize(path)) / 1e6 / (frames / 30.0 / 60.0));
}
BENCHMARK(BM_EncodeFullSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// A live recording: 10 s of 3840 x 2160 frames pushed at 30 per second, never
// waiting, as a camera does; how many the encoder had to drop.
void BM_LiveFullSize30fps(benchmark::State &state)
{
    const std::vector<ApsFrame> pictures = scenePictures(3840, 2160, 8);
    const std::string path = benchDir() + "/live.mp4";
    constexpr size_t kFrames = 300;
    uint64_t dropped = 0, written = 0;
    for (auto _ : state) {
        ApsVideoWriter writer;
        writer.open(path, 3840, 2160);
        const auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < kFrames; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / 30));
            ApsFrame f(pictures[i % pictures.size()]);
            f.setTimestamp(i * 1000000 / 30);
            writer.push(f);
        }
        writer.close();
        dropped += writer.framesDropped();
        written += writer.framesWritten();
    }
    state.counters["dropped"] = double(dropped) / double(state.iterations());
    state.counters["written"] = double(written) / double(state.iterations());
}
BENCHMARK(BM_LiveFullSize30fps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// open(): the frame index from every packet's time stamp.
void BM_OpenIndex(benchmark::State &state, uint16_t w, uint16_t h, size_t frames, const char *name)
{
    const std::string path = video(name, w, h, frames);
    for (auto _ : state) {
        auto reader = ApsVideoReader::create(path);
        if (!reader || !reader->open())
            state.SkipWithError("cannot open the video");
    }
    state.counters["frames"] = double(frames);
    state.counters["file_MB"] = double(fileSize(path)) / 1e6;
}
BENCHMARK_CAPTURE(BM_OpenIndex, 10min_640x360, 640, 360, 18000, "10min-640x360.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_OpenIndex, full_3840x2160, 3840, 2160, fullSizeFrames(), "full-3840x2160.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// readFrameAt at random times; the median, 90th percentile and slowest single call.
void BM_ReadFrameAt(benchmark::State &state, uint16_t w, uint16_t h, size_t frames, const char *name)
{
    const std::string path = video(name, w, h, frames);
    auto reader = ApsVideoReader::create(path);
    if (!reader || !reader->open()) {
        state.SkipWithError("cannot open the video");
        return;
    }
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    std::mt19937_64 rng(3);
    std::vector<double> ms;
    ApsFrame frame;
    const uint64_t decodedBefore = reader->framesDecoded();
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        const uint64_t t = index.front() + rng() % (index.back() - index.front() + 1);
        const auto t0 = std::chrono::steady_clock::now();
        if (!reader->readFrameAt(t, frame))
            state.SkipWithError("readFrameAt failed");
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    state.counters["cpu_ms_per_call"] = (processCpuSeconds() - cpu0) * 1000 / double(std::max<size_t>(1, ms.size()));
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
    state.counters["max_ms"] = ms.back();
    state.counters["decoded_per_call"] =
        double(reader->framesDecoded() - decodedBefore) / double(std::max<size_t>(1, ms.size()));
}
BENCHMARK_CAPTURE(BM_ReadFrameAt, 10min_640x360, 640, 360, 18000, "10min-640x360.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);
BENCHMARK_CAPTURE(BM_ReadFrameAt, full_3840x2160, 3840, 2160, fullSizeFrames(), "full-3840x2160.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);

// The playback pattern: the next frame after the current one.
void BM_ReadNextFrameFullSize(benchmark::State &state)
{
    const std::string path = video("full-3840x2160.mp4", 3840, 2160, fullSizeFrames());
    auto reader = ApsVideoReader::create(path);
    if (!reader || !reader->open()) {
        state.SkipWithError("cannot open the video");
        return;
    }
    ApsFrame frame;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        if (!reader->readNextFrame(frame))
            reader->rewind(0);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["cpu_ms_per_frame"] = (processCpuSeconds() - cpu0) * 1000 / double(state.iterations());
}
BENCHMARK(BM_ReadNextFrameFullSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(90);

} // namespace

BENCHMARK_MAIN();
