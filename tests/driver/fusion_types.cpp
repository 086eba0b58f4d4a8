// vx-test-labels: tsan
// APS frames (shared buffers, deep clones, black when new), the object pool
// (grows when empty, survives its objects' late return, never hands one object
// to two users at once) and the FusionCamera base (description, tools, deletion
// through the base).
#include "camera/apsframe.h"
#include "camera/event2d.h"
#include "camera/fusioncamera.h"
#include "camera/vxobjectpool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using vexadin::ApsFrame;
using vexadin::VxObjectPoolFactory;

TEST(ApsFrame, NewFrameIsBlackWithItsSizeAndNumbers)
{
    ApsFrame f(6, 4, 17, 123456789);
    EXPECT_EQ(f.getWidth(), 6);
    EXPECT_EQ(f.getHeight(), 4);
    EXPECT_EQ(f.getFrameNumber(), 17u);
    EXPECT_EQ(f.getTimestamp(), 123456789u);
    ASSERT_EQ(f.getDataSize(), 6u * 4 * 3);
    ASSERT_NE(f.data(), nullptr);
    EXPECT_TRUE(std::all_of(f.data(), f.data() + f.getDataSize(), [](uint8_t b) { return b == 0; }));

    const ApsFrame none(0, 720, 1, 2);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.getDataSize(), 0u);
    EXPECT_EQ(ApsFrame().data(), nullptr);
}

TEST(ApsFrame, CopiesShareTheBufferAndCloneDoesNot)
{
    ApsFrame original(4, 2, 1, 1000);
    original.data()[0] = 7;
    ApsFrame copy = original;
    EXPECT_FALSE(original.ownsBufferAlone());
    copy.data()[1] = 9; // writing through a copy shows in the original
    EXPECT_EQ(original.data(), copy.data());
    EXPECT_EQ(original.data()[1], 9);

    ApsFrame deep = original.clone();
    EXPECT_NE(deep.data(), original.data());
    EXPECT_TRUE(deep.ownsBufferAlone());
    EXPECT_EQ(deep.getFrameNumber(), 1u);
    EXPECT_EQ(deep.getTimestamp(), 1000u);
    EXPECT_TRUE(std::equal(deep.data(), deep.data() + deep.getDataSize(), original.data()));
    deep.data()[0] = 42;
    EXPECT_EQ(original.data()[0], 7);

    // The buffer lives as long as any copy.
    const uint8_t *pixels = original.data();
    original = ApsFrame();
    EXPECT_EQ(copy.data(), pixels);
    EXPECT_TRUE(copy.ownsBufferAlone());
    EXPECT_EQ(copy.data()[0], 7);
}

TEST(ApsFrame, MovedFromFrameIsEmpty)
{
    ApsFrame a(8, 8, 3, 4);
    const uint8_t *pixels = a.data();
    ApsFrame b = std::move(a);
    EXPECT_EQ(b.data(), pixels);
    EXPECT_EQ(b.getWidth(), 8);
    EXPECT_TRUE(a.isEmpty()); // NOLINT(bugprone-use-after-move): the contract under test
    EXPECT_EQ(a.getDataSize(), 0u);
    ApsFrame c(2, 2, 0, 0);
    c = std::move(b);
    EXPECT_EQ(c.data(), pixels);
    EXPECT_EQ(b.getDataSize(), 0u);
}

TEST(ApsFrame, BufferLeftByAnotherThreadIsReusedOnlyAfterItsReads)
{
    ApsFrame mine(64, 64, 0, 0);
    std::thread reader([copy = ApsFrame(mine)]() mutable {
        unsigned sum = 0;
        for (size_t i = 0; i < copy.getDataSize(); ++i)
            sum += copy.data()[i];
        EXPECT_EQ(sum, 0u);
        copy = ApsFrame(); // the last other copy goes
    });
    while (!mine.ownsBufferAlone())
        std::this_thread::yield();
    // ThreadSanitizer reports this write unless the check ordered it after the reads.
    std::fill(mine.data(), mine.data() + mine.getDataSize(), uint8_t(7));
    reader.join();
}

namespace {

using EventVector = std::vector<vexadin::Event2D>;

} // namespace

TEST(VxObjectPool, ObjectsAreBuiltWithTheArgumentsAndComeBackForReuse)
{
    auto pool = VxObjectPoolFactory::createUniqueVxObjectPoolWithArgs<EventVector>(3, 1000);
    EXPECT_EQ(pool->idleCount(), 3u);
    EXPECT_EQ(pool->createdCount(), 3u);

    std::shared_ptr<EventVector> v = pool->acquire();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->size(), 1000u); // constructed as vector(1000)
    v->clear();
    v->emplace_back(1, 2, 1, 3);
    const EventVector *address = v.get();
    const size_t capacity = v->capacity();
    EXPECT_EQ(pool->idleCount(), 2u);

    std::shared_ptr<EventVector> sharedCopy = v;
    v.reset();
    EXPECT_EQ(pool->idleCount(), 2u) << "returned while a copy still holds it";
    sharedCopy.reset();
    EXPECT_EQ(pool->idleCount(), 3u);

    // Last in, first out: the same vector, as its user left it (capacity kept).
    std::shared_ptr<EventVector> again = pool->acquire();
    EXPECT_EQ(again.get(), address);
    EXPECT_EQ(again->size(), 1u);
    EXPECT_EQ(again->capacity(), capacity);
}

TEST(VxObjectPool, EmptyPoolGrowsAndKeepsOnlyItsInitialNumberIdle)
{
    auto pool = VxObjectPoolFactory::createUniqueVxObjectPoolWithArgs<EventVector>(2, 16);
    std::vector<std::shared_ptr<EventVector>> out;
    std::set<const EventVector *> distinct;
    for (int i = 0; i < 5; ++i) {
        out.push_back(pool->acquire());
        ASSERT_TRUE(out.back());
        EXPECT_EQ(out.back()->size(), 16u);
        distinct.insert(out.back().get());
    }
    EXPECT_EQ(distinct.size(), 5u) << "an object was handed out twice";
    EXPECT_EQ(pool->createdCount(), 5u);
    EXPECT_EQ(pool->idleCount(), 0u);
    out.clear();
    EXPECT_EQ(pool->idleCount(), 2u) << "surplus objects are freed, not hoarded";
}

TEST(VxObjectPool, ObjectReleasedAfterThePoolIsGoneIsFreed)
{
    std::shared_ptr<EventVector> survivor;
    std::weak_ptr<EventVector> watch;
    {
        auto pool = VxObjectPoolFactory::createUniqueVxObjectPoolWithArgs<EventVector>(2, 8);
        survivor = pool->acquire();
        watch = survivor;
    }
    survivor->push_back(vexadin::Event2D()); // still usable
    survivor.reset();                        // AddressSanitizer checks this release
    EXPECT_TRUE(watch.expired());
}

TEST(VxObjectPool, ConcurrentUsersNeverShareAnObject)
{
    auto pool = VxObjectPoolFactory::createUniqueVxObjectPoolWithArgs<std::vector<int>>(4, 1);
    std::mutex inUseMutex;
    std::set<const std::vector<int> *> inUse;
    std::atomic<int> doubleHanded{0};
    std::atomic<int> clobbered{0};
    constexpr int kThreads = 4, kRounds = 2000;

    const auto user = [&](int id) {
        for (int round = 0; round < kRounds; ++round) {
            std::shared_ptr<std::vector<int>> v = pool->acquire();
            {
                std::lock_guard<std::mutex> lock(inUseMutex);
                if (!inUse.insert(v.get()).second)
                    ++doubleHanded;
            }
            (*v)[0] = id;
            std::this_thread::yield();
            if ((*v)[0] != id)
                ++clobbered;
            {
                std::lock_guard<std::mutex> lock(inUseMutex);
                inUse.erase(v.get());
            }
            // Some releases happen on another thread than the acquisition.
            if (round % 8 == 0)
                std::thread([held = std::move(v)]() mutable { held.reset(); }).join();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(user, i + 1);
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(doubleHanded.load(), 0);
    EXPECT_EQ(clobbered.load(), 0);
    EXPECT_EQ(pool->idleCount(), 4u);
    // Never more than four out at once, so the pool never had to grow.
    EXPECT_EQ(pool->createdCount(), 4u);
}

namespace {

class NoTool : public vexadin::CameraTool {
public:
    std::map<std::string, vexadin::BasicParameterInfo> getParameters() override { return {}; }
    bool getEnumParamInfo(const std::string &, vexadin::EnumParameterInfo &) override { return false; }
    bool getBoolParamInfo(const std::string &, vexadin::BoolParameterInfo &) override { return false; }
    bool getFloatParamInfo(const std::string &, vexadin::FloatParameterInfo &) override { return false; }
    bool getIntParamInfo(const std::string &, vexadin::IntParameterInfo &) override { return false; }
    bool getEnumValue(const std::string &, std::string &) override { return false; }
    bool getBoolValue(const std::string &, bool &) override { return false; }
    bool getFloatValue(const std::string &, float &) override { return false; }
    bool getIntValue(const std::string &, int &) override { return false; }
    bool setEnumValue(const std::string &, const std::string &) override { return false; }
    bool setBoolValue(const std::string &, bool) override { return false; }
    bool setFloatValue(const std::string &, float) override { return false; }
    bool setIntValue(const std::string &, int) override { return false; }
};

// The smallest camera a library could derive: counts its destructions.
class CountingCamera : public vexadin::FusionCamera {
public:
    CountingCamera(const vexadin::CameraDescription &d, std::shared_ptr<vexadin::CameraTool> aps, int *destroyed)
        : FusionCamera(d), destroyed_(destroyed)
    {
        registerTool(vexadin::TOOL_APS, std::move(aps));
    }
    ~CountingCamera() override { ++*destroyed_; }
    bool isConnected() override { return true; }
    void addEventsCallback(std::function<void(const vexadin::Event2D *, const vexadin::Event2D *)>) override {}
    int addApsFrameCallback(std::function<void(ApsFrame)>) override { return 1; }
    void addTriggerInCallback(std::function<void(const vexadin::EventTriggerIn &)>) override {}
    bool start(vexadin::STREAM_TYPE) override { return true; }
    void stop(vexadin::STREAM_TYPE) override {}
    void shutdown() override {}
    bool startRecording(const std::string &, const std::string &, vexadin::STREAM_TYPE) override { return false; }
    bool stopRecording(vexadin::STREAM_TYPE) override { return false; }
    bool writeCalibrationFile(const std::string &) override { return false; }
    bool getCalibration(vexadin::CalibratorParameters &) override { return false; }
    std::string getFirmwareVersion() override { return "Omnira_V1.7.2"; }

private:
    int *destroyed_;
};

} // namespace

TEST(FusionCamera, KeepsItsDescriptionAndToolsAndIsDeletedThroughTheBase)
{
    vexadin::CameraDescription description;
    description.serial = "OM-0001";
    description.product = "Omnira";
    description.manufacturer = "Vexadin";
    auto aps = std::make_shared<NoTool>();
    int destroyed = 0;
    std::shared_ptr<vexadin::FusionCamera> camera = std::make_shared<CountingCamera>(description, aps, &destroyed);
    description.serial = "changed later";

    EXPECT_EQ(camera->getDescription().serial, "OM-0001");
    EXPECT_EQ(camera->getDescription().product, "Omnira");
    EXPECT_EQ(camera->getTool(vexadin::TOOL_APS), aps);
    EXPECT_EQ(camera->getTool(vexadin::TOOL_BIASES), nullptr);
    camera->setStatisticInfoCallback([](vexadin::VxStatisticInfo) { FAIL() << "the base hook calls nothing"; });

    vexadin::FusionCamera *raw = new CountingCamera(camera->getDescription(), aps, &destroyed);
    delete raw; // through the base: the camera's own destructor must run
    EXPECT_EQ(destroyed, 1);
    camera.reset();
    EXPECT_EQ(destroyed, 2);
}
