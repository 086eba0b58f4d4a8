// Seeded generators of camera-like event streams shared by tests and benchmarks.
#include "syntheticevents.h"

#include "driver/rawfilereader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace vxtest {

using vexadin::Event2D;
using vexadin::EventTriggerIn;

SyntheticEventStream::SyntheticEventStream(const SyntheticOptions &options)
    : m_opt(options), m_rng(options.seed), m_now(options.startTimestampUs),
      m_end(options.startTimestampUs + options.durationUs)
{
    if (m_opt.width == 0)
        m_opt.width = 1;
    if (m_opt.height == 0)
        m_opt.height = 1;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (unsigned i = 0; i < m_opt.edgeCount; ++i) {
        Edge e;
        e.vertical = (i % 2) == 0;
        const double extent = e.vertical ? m_opt.width : m_opt.height;
        e.pos = unit(m_rng) * extent;
        // Crosses the sensor in 0.2 .. 1 s.
        e.speed = extent / (200000.0 + unit(m_rng) * 800000.0) * (unit(m_rng) < 0.5 ? -1 : 1);
        e.polarity = static_cast<uint8_t>(i % 2);
        m_edges.push_back(e);
    }
}

bool SyntheticEventStream::nextSlice(std::vector<Event2D> &out, uint64_t sliceUs)
{
    out.clear();
    if (m_now >= m_end)
        return false;
    const uint64_t sliceEnd = std::min(m_end, m_now + std::max<uint64_t>(1, sliceUs));
    const double perUs = m_opt.eventRate / 1e6;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const uint32_t w = m_opt.width, h = m_opt.height;
    for (; m_now < sliceEnd; ++m_now) {
        // Poisson-like count per µs without the cost of a Poisson draw: the mean is
        // kept exactly by carrying the fraction.
        m_carry += perUs;
        auto n = static_cast<uint64_t>(m_carry);
        m_carry -= static_cast<double>(n);
        for (uint64_t k = 0; k < n; ++k) {
            const uint64_t r = m_rng();
            const double u = static_cast<double>(r >> 11) * (1.0 / 9007199254740992.0);
            Event2D ev;
            ev.timestamp = m_now;
            if (m_edges.empty() || u < m_opt.noiseFraction) {
                ev.x = static_cast<uint16_t>((r & 0xffffffu) % w);
                ev.y = static_cast<uint16_t>(((r >> 24) & 0xffffffu) % h);
                ev.polarity = static_cast<uint8_t>((r >> 48) & 1u);
            } else {
                const Edge &e = m_edges[(r >> 40) % m_edges.size()];
                // Events cluster within 2 px of the edge, spread along its length.
                const int jitter = static_cast<int>((r >> 56) % 5) - 2;
                const int along = static_cast<int>((r & 0xffffffu) % (e.vertical ? h : w));
                int across = static_cast<int>(e.pos) + jitter;
                const int extent = static_cast<int>(e.vertical ? w : h);
                across = std::clamp(across, 0, extent - 1);
                ev.x = static_cast<uint16_t>(e.vertical ? across : along);
                ev.y = static_cast<uint16_t>(e.vertical ? along : across);
                ev.polarity = e.polarity;
            }
            out.push_back(ev);
        }
        for (Edge &e : m_edges) {
            e.pos += e.speed;
            const double extent = e.vertical ? m_opt.width : m_opt.height;
            if (e.pos < 0 || e.pos >= extent) {
                e.speed = -e.speed;
                e.pos = std::clamp(e.pos, 0.0, extent - 1);
                e.polarity ^= 1u;
            }
        }
    }
    (void)unit;
    return true;
}

std::vector<Event2D> generateEvents(const SyntheticOptions &options)
{
    std::vector<Event2D> all;
    all.reserve(static_cast<size_t>(options.eventRate * static_cast<double>(options.durationUs) / 1e6) + 16);
    SyntheticEventStream stream(options);
    std::vector<Event2D> slice;
    while (stream.nextSlice(slice, 10000))
        all.insert(all.end(), slice.begin(), slice.end());
    return all;
}

std::vector<EventTriggerIn> generateTriggers(const SyntheticOptions &options)
{
    std::vector<EventTriggerIn> out;
    if (options.triggerRateHz <= 0 || options.durationUs == 0)
        return out;
    std::mt19937_64 rng(options.seed ^ 0x9e3779b97f4a7c15ull);
    const double periodUs = 1e6 / options.triggerRateHz;
    int16_t edge = 1;
    for (double t = periodUs / 2; t < static_cast<double>(options.durationUs); t += periodUs) {
        const auto jitter = static_cast<int64_t>(rng() % 21) - 10;
        int64_t ts = static_cast<int64_t>(t) + jitter;
        ts = std::clamp<int64_t>(ts, 0, static_cast<int64_t>(options.durationUs) - 1);
        out.emplace_back(int16_t(0), edge, options.startTimestampUs + static_cast<uint64_t>(ts));
        edge = static_cast<int16_t>(edge ? 0 : 1);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const EventTriggerIn &a, const EventTriggerIn &b) { return a.timestamp < b.timestamp; });
    return out;
}

bool writeRecording(const std::string &path, const std::vector<Event2D> &events,
                    const std::vector<EventTriggerIn> &triggers, vexadin::RawFileHeader header)
{
    vexadin::RawFileWriter writer;
    if (!writer.open(path, header))
        return false;
    bool ok = true;
    size_t i = 0, j = 0;
    while (ok && (i < events.size() || j < triggers.size())) {
        if (j < triggers.size() && (i == events.size() || triggers[j].timestamp <= events[i].timestamp)) {
            ok = writer.writeTrigger(triggers[j++]);
            continue;
        }
        // The run of events before the next trigger.
        size_t k = events.size();
        if (j < triggers.size()) {
            const uint64_t limit = triggers[j].timestamp;
            k = i;
            while (k < events.size() && events[k].timestamp < limit)
                ++k;
        }
        ok = writer.write(events.data() + i, events.data() + k);
        i = k;
    }
    return writer.close() && ok;
}

RecordingContents readRecording(const std::string &path)
{
    RecordingContents r;
    auto reader = vexadin::RawFileReader::create(path);
    if (!reader || !reader->open() || !reader->getFileInfo(r.info))
        return r;
    r.ok = reader->forEachBlockInRange(0, UINT64_MAX, [&](const Event2D *b, const Event2D *e,
                                                          const vexadin::EventTriggerIn *tb,
                                                          const vexadin::EventTriggerIn *te) {
        r.events.insert(r.events.end(), b, e);
        r.triggers.insert(r.triggers.end(), tb, te);
        return true;
    });
    r.ok = r.ok && reader->corruptBlockCount() == 0;
    return r;
}

std::string RecordingContents::metadataValue(const std::string &key) const
{
    for (const auto &kv : info.metadata)
        if (kv.first == key)
            return kv.second;
    return std::string();
}

std::string tempPath(const std::string &stem, const std::string &suffix)
{
    static std::atomic<unsigned> counter{0};
    const char *dir = std::getenv("TMPDIR");
    std::string base = (dir && *dir) ? dir : "/tmp";
    return base + "/" + stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix;
}

} // namespace vxtest
