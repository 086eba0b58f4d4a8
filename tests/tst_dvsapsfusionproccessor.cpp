// vx-test-labels: tsan
// Pairing of colour frames with the events of their exposure, by order: frames before
// edges, edges before frames, empty batches, ignored edges, clear, no callback, the
// caps that keep a camera whose triggers stop from growing memory, and feeding from
// two camera threads at once.
#include "processing/dvsapsfusionproccessor.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using vexadin::ApsFrame;
using vexadin::Event2D;
using vexadin::EventTriggerIn;

namespace {

struct Pair {
    uint64_t frameTs;
    uint8_t firstByte;
    std::vector<Event2D> events;
};

// Records every pair the processor hands out.
struct Recorder {
    std::mutex mutex;
    std::vector<Pair> pairs;

    DvsApsFusionProccessor::FusionCallback callback()
    {
        return [this](ApsFrame &frame, Event2D *begin, Event2D *end) {
            std::lock_guard<std::mutex> lock(mutex);
            pairs.push_back({frame.getTimestamp(), frame.isEmpty() ? uint8_t(0) : frame.data()[0],
                             std::vector<Event2D>(begin, end)});
        };
    }
    std::vector<Pair> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(pairs);
    }
};

ApsFrame frameAt(uint64_t ts, uint8_t fill = 0)
{
    ApsFrame f(8, 4, ts, ts);
    std::memset(f.data(), fill, f.getDataSize());
    return f;
}

std::vector<Event2D> eventsAt(uint64_t from, int n)
{
    std::vector<Event2D> ev;
    for (int i = 0; i < n; ++i)
        ev.emplace_back(uint16_t(i), uint16_t(1), uint8_t(i & 1), from + uint64_t(i));
    return ev;
}

void addEvents(DvsApsFusionProccessor &p, const std::vector<Event2D> &ev)
{
    p.addDvsData(ev.data(), ev.data() + ev.size());
}

const EventTriggerIn kEdge(0, 1, 0);
const EventTriggerIn kOtherEdge(0, 0, 0);

} // namespace

class TestDvsApsFusionProccessor : public QObject {
    Q_OBJECT

private slots:
    void framesBeforeEdges()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        const auto a = eventsAt(100, 3), b = eventsAt(200, 2);
        p.addApsData(frameAt(1));
        p.addApsData(frameAt(2));
        addEvents(p, a);
        QVERIFY(r.take().empty());
        p.addSyncSignal(kEdge);
        auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(1));
        QVERIFY(pairs[0].events == a);
        addEvents(p, b);
        p.addSyncSignal(kEdge);
        pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(2));
        QVERIFY(pairs[0].events == b);
    }

    void edgeBeforeFrame()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        const auto early = eventsAt(10, 4);
        addEvents(p, early);
        p.addSyncSignal(kEdge);
        addEvents(p, eventsAt(50, 2)); // belongs to the next batch
        QVERIFY(r.take().empty());
        p.addApsData(frameAt(7));
        const auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(7));
        QVERIFY(pairs[0].events == early);
        QCOMPARE(p.currentBatchSize(), size_t(2));
    }

    void emptyBatchesAndIgnoredEdges()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        p.addSyncSignal(kEdge);
        p.addSyncSignal(kEdge);
        p.addApsData(frameAt(1));
        p.addApsData(frameAt(2));
        auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(2));
        QVERIFY(pairs[0].events.empty() && pairs[1].events.empty());

        // The other edge neither closes the batch nor pairs.
        const auto a = eventsAt(300, 2), b = eventsAt(400, 3);
        addEvents(p, a);
        p.addApsData(frameAt(3));
        p.addSyncSignal(kOtherEdge);
        p.addSyncSignal(EventTriggerIn(0, 5, 0));
        addEvents(p, b);
        QVERIFY(r.take().empty());
        p.addSyncSignal(kEdge);
        pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        std::vector<Event2D> both = a;
        both.insert(both.end(), b.begin(), b.end());
        QVERIFY(pairs[0].events == both);
        addEvents(p, {}); // an empty batch from the camera changes nothing
        QCOMPARE(p.currentBatchSize(), size_t(0));
    }

    void clearDropsEverythingQueued()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        // Three frames waiting for edges, events in the open batch.
        for (uint64_t i = 1; i <= 3; ++i)
            p.addApsData(frameAt(i));
        addEvents(p, eventsAt(30, 4));
        p.clear();
        QCOMPARE(p.queuedFrames(), size_t(0));
        QCOMPARE(p.currentBatchSize(), size_t(0));
        // A closed batch waiting for a frame.
        addEvents(p, eventsAt(40, 2));
        p.addSyncSignal(kEdge);
        QCOMPARE(p.closedBatches(), size_t(1));
        p.clear();
        QCOMPARE(p.closedBatches(), size_t(0));
        QVERIFY(r.take().empty());
        // The next pair needs a new frame and a new edge.
        p.addApsData(frameAt(8));
        QVERIFY(r.take().empty());
        p.addSyncSignal(kEdge);
        const auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(8));
        QVERIFY(pairs[0].events.empty());
    }

    void pairsWithoutCallbackAreConsumed()
    {
        DvsApsFusionProccessor p;
        p.addApsData(frameAt(1));
        addEvents(p, eventsAt(5, 2));
        p.addSyncSignal(kEdge);
        QCOMPARE(p.queuedFrames(), size_t(0));
        QCOMPARE(p.closedBatches(), size_t(0));
        Recorder r;
        p.addFusionDataCallback(r.callback());
        p.addApsData(frameAt(2));
        QVERIFY(r.take().empty());
        p.addSyncSignal(kEdge);
        const auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(2));
        p.removeFusionDataCallback();
        p.addApsData(frameAt(3));
        p.addSyncSignal(kEdge);
        QVERIFY(r.take().empty());
    }

    // The camera may reuse its buffer once addApsData returns.
    void framesAreCopiedOnEntry()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        ApsFrame f = frameAt(1, 42);
        p.addApsData(f);
        std::memset(f.data(), 9, f.getDataSize());
        p.addSyncSignal(kEdge);
        const auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].firstByte, uint8_t(42));

        // Copies reuse their buffers once nobody holds them, never while someone
        // (the queue, a callback that kept the frame) still does.
        std::vector<ApsFrame> kept;
        p.addFusionDataCallback([&](ApsFrame &frame, Event2D *, Event2D *) { kept.push_back(frame); });
        const auto feed = [&](uint64_t from, uint64_t to) {
            for (uint64_t ts = from; ts < to; ++ts) {
                ApsFrame camera = frameAt(ts, uint8_t(ts));
                p.addApsData(camera);
                std::memset(camera.data(), 0, camera.getDataSize()); // the camera reuses it
                if (ts % 2) { // pairs complete every other frame, two at a time
                    p.addSyncSignal(kEdge);
                    p.addSyncSignal(kEdge);
                }
            }
        };
        const auto check = [&] {
            for (const ApsFrame &f : kept) {
                QCOMPARE(f.data()[0], uint8_t(f.getTimestamp()));
                QCOMPARE(f.data()[f.getDataSize() - 1], uint8_t(f.getTimestamp()));
            }
        };
        feed(2, 12);
        QCOMPARE(kept.size(), size_t(10));
        check();
        kept.clear(); // buffers free for reuse now
        feed(12, 22);
        QCOMPARE(kept.size(), size_t(10));
        check();
    }

    void queuesAreCapped()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        // Triggers stopped: only the newest frames wait.
        for (uint64_t i = 1; i <= 10; ++i)
            p.addApsData(frameAt(i));
        QCOMPARE(p.queuedFrames(), DvsApsFusionProccessor::kMaxQueuedFrames);
        QCOMPARE(p.droppedFrames(), uint64_t(10 - DvsApsFusionProccessor::kMaxQueuedFrames));
        p.addSyncSignal(kEdge);
        auto pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].frameTs, uint64_t(10 - DvsApsFusionProccessor::kMaxQueuedFrames + 1));
        p.clear();

        // Frames stopped: only the newest batches wait.
        for (int i = 0; i < 12; ++i) {
            addEvents(p, eventsAt(uint64_t(1000 * i), 1));
            p.addSyncSignal(kEdge);
        }
        QCOMPARE(p.closedBatches(), DvsApsFusionProccessor::kMaxClosedBatches);
        QCOMPARE(p.droppedBatches(), uint64_t(12 - DvsApsFusionProccessor::kMaxClosedBatches));
        p.addApsData(frameAt(99));
        pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].events.at(0).timestamp, uint64_t(1000 * (12 - DvsApsFusionProccessor::kMaxClosedBatches)));
        p.clear();

        // No edge at all: the batch keeps its newest events within the cap.
        const size_t cap = DvsApsFusionProccessor::kMaxBatchEvents;
        std::vector<Event2D> chunk(cap / 4);
        uint64_t t = 0;
        for (int round = 0; round < 7; ++round) {
            for (Event2D &e : chunk)
                e = Event2D(1, 2, 1, t++);
            addEvents(p, chunk);
            QVERIFY(p.currentBatchSize() <= cap);
        }
        QVERIFY(p.droppedEvents() > 0);
        QCOMPARE(p.droppedEvents() + p.currentBatchSize(), uint64_t(t));
        // One oversized delivery on its own keeps its newest part.
        std::vector<Event2D> huge(cap + 10, Event2D(3, 3, 0, 0));
        huge.back().timestamp = 777;
        addEvents(p, huge);
        QVERIFY(p.currentBatchSize() <= cap);
        p.addSyncSignal(kEdge);
        p.addApsData(frameAt(100));
        pairs = r.take();
        QCOMPARE(pairs.size(), size_t(1));
        QCOMPARE(pairs[0].events.back().timestamp, uint64_t(777));
    }

    // Frames on one camera thread, events and edges on another (as the camera delivers
    // them): every frame meets the batch of its own exposure, in order.
    void twoCameraThreads()
    {
        DvsApsFusionProccessor p;
        Recorder r;
        p.addFusionDataCallback(r.callback());
        constexpr int kFrames = 200;
        // A camera keeps the two streams within a few frames of each other.
        std::atomic<int> framesSent{0}, edgesSent{0};
        std::thread frames([&] {
            for (int i = 0; i < kFrames; ++i) {
                while (edgesSent.load() + 2 < i)
                    std::this_thread::yield();
                p.addApsData(frameAt(uint64_t(i), uint8_t(i)));
                ++framesSent;
            }
        });
        std::thread events([&] {
            for (int i = 0; i < kFrames; ++i) {
                while (framesSent.load() + 5 < i)
                    std::this_thread::yield();
                for (int k = 0; k < 3; ++k) {
                    std::vector<Event2D> batch(40, Event2D(uint16_t(i), 0, 1, uint64_t(i)));
                    p.addDvsData(batch.data(), batch.data() + batch.size());
                }
                p.addSyncSignal(kEdge);
                ++edgesSent;
                p.addSyncSignal(kOtherEdge);
            }
        });
        frames.join();
        events.join();
        const auto pairs = r.take();
        QCOMPARE(p.droppedFrames() + p.droppedBatches(), uint64_t(0));
        QCOMPARE(pairs.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            QCOMPARE(pairs[size_t(i)].frameTs, uint64_t(i));
            QCOMPARE(pairs[size_t(i)].events.size(), size_t(120));
            for (const Event2D &e : pairs[size_t(i)].events)
                QCOMPARE(e.timestamp, uint64_t(i));
        }
    }
};

QTEST_GUILESS_MAIN(TestDvsApsFusionProccessor)
#include "tst_dvsapsfusionproccessor.moc"
