// vx-test-labels: tsan
// The calibrator's arithmetic compared bit for bit: defaults, the warp against a
// pixel-by-pixel reference of its formula, offsets, saving, inversion, refusal of
// unusable records, and warps running while the offsets change.
#include "processing/calibrator.h"

#include "camera/calibrationjson.h"
#include "support/syntheticevents.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

using vexadin::ApsFrame;
using vexadin::Calibrator;
using vexadin::CalibratorParameters;
using vexadin::Event2D;

namespace {

uint64_t bitsOf(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool sameBits(const double *a, const double *b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (bitsOf(a[i]) != bitsOf(b[i])) {
            qWarning("value %zu: %.17g vs %.17g", i, a[i], b[i]);
            return false;
        }
    return true;
}

bool sameBits(const Calibrator::Affine &a, const std::vector<double> &b)
{
    return b.size() == 6 && sameBits(a.data(), b.data(), 6);
}

// Every source pixel tells where it came from: B = x low byte, G = y low byte,
// R = 1 + (x >> 8) * 10 + (y >> 8), never 0, so black means "no source".
ApsFrame positionFrame(uint16_t width, uint16_t height, uint64_t number = 7, uint64_t timestamp = 123456)
{
    ApsFrame frame(width, height, number, timestamp);
    uint8_t *p = frame.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(1 + (x >> 8) * 10 + (y >> 8));
        }
    return frame;
}

// The source pixel a result pixel shows, or (-1, -1) for black.
QPoint sourceOf(const ApsFrame &result, int x, int y)
{
    const uint8_t *p = result.data() + (size_t(y) * result.getWidth() + x) * 3;
    if (p[2] == 0)
        return {-1, -1};
    return {p[0] | (p[2] - 1) / 10 << 8, p[1] | (p[2] - 1) % 10 << 8};
}

// The warp exactly as the formula reads, one pixel at a time.
ApsFrame referenceWarp(const ApsFrame &src, const Calibrator::Affine &m, double ox, double oy,
                       uint16_t dvsW, uint16_t dvsH, uint16_t apsW, uint16_t apsH)
{
    ApsFrame out(dvsW, dvsH, src.getFrameNumber(), src.getTimestamp());
    for (int y = 0; y < dvsH; ++y)
        for (int x = 0; x < dvsW; ++x) {
            const double vx = ((y * m[1] + x * m[0]) + m[2]) + ox;
            const double vy = ((y * m[4] + x * m[3]) + m[5]) + oy;
            if (!(vx > -2147483648.0 && vx < 2147483647.0 && vy > -2147483648.0 && vy < 2147483647.0))
                continue;
            const int32_t sx = int32_t(vx);
            const int32_t sy = int32_t(vy);
            if (sx >= 0 && sx < apsW && sy >= 0 && sy < apsH)
                std::memcpy(out.data() + (size_t(y) * dvsW + x) * 3,
                            src.data() + (size_t(sy) * apsW + sx) * 3, 3);
        }
    return out;
}

CalibratorParameters record(uint16_t dvsW, uint16_t dvsH, uint16_t apsW, uint16_t apsH,
                            const Calibrator::Affine &toAps)
{
    CalibratorParameters p;
    p.label = "test";
    p.dvs_width = dvsW;
    p.dvs_height = dvsH;
    p.aps_width = apsW;
    p.aps_height = apsH;
    p.transforms["1"].values.assign(toAps.begin(), toAps.end());
    Calibrator::Affine toDvs{};
    Calibrator::computeInverseAffine(toAps.data(), toDvs.data());
    p.transforms["0"].values.assign(toDvs.begin(), toDvs.end());
    return p;
}

} // namespace

class TestCalibrator : public QObject {
    Q_OBJECT

private slots:
    void defaults()
    {
        Calibrator c;
        const Calibrator::Affine toAps = {3.351724137931035, 0, -225.10344827586232, 0, 3.351724137931035,
                                          -126.62068965517255};
        const Calibrator::Affine toDvs = {0.29835390946502055, 0, 67.16049382716051, 0, 0.29835390946502055,
                                          37.77777777777783};
        QVERIFY(sameBits(c.dvsToAps().data(), toAps.data(), 6));
        QVERIFY(sameBits(c.apsToDvs().data(), toDvs.data(), 6));
        QCOMPARE(bitsOf(c.offsetX()), bitsOf(0.0));
        QCOMPARE(bitsOf(c.offsetY()), bitsOf(0.0));
        const CalibratorParameters p = c.parameters();
        QCOMPARE(p.dvs_width, uint16_t(1280));
        QCOMPARE(p.dvs_height, uint16_t(720));
        QCOMPARE(p.aps_width, uint16_t(3840));
        QCOMPARE(p.aps_height, uint16_t(2160));
        QVERIFY(p.label.empty() && p.transforms.empty() && p.values_1.empty() && p.matrix_1.values.empty());
    }

    void defaultWarpLandmarks()
    {
        Calibrator c;
        const ApsFrame src = positionFrame(3840, 2160);
        const ApsFrame out = c.mapApsToDvs(src);
        QCOMPARE(out.getWidth(), uint16_t(1280));
        QCOMPARE(out.getHeight(), uint16_t(720));
        QCOMPARE(out.getFrameNumber(), uint64_t(7));
        QCOMPARE(out.getTimestamp(), uint64_t(123456));
        QCOMPARE(sourceOf(out, 640, 360), QPoint(1920, 1080));
        QCOMPARE(sourceOf(out, 0, 0), QPoint(-1, -1));
        // -0.538 truncates to 0 and is accepted.
        QCOMPARE(sourceOf(out, 67, 38), QPoint(0, 0));
        // Columns 67 .. 1212 and rows 38 .. 682 receive pixels, no others.
        QCOMPARE(sourceOf(out, 66, 100), QPoint(-1, -1));
        QVERIFY(sourceOf(out, 1212, 100).x() >= 0);
        QCOMPARE(sourceOf(out, 1213, 100), QPoint(-1, -1));
        QCOMPARE(sourceOf(out, 100, 37), QPoint(-1, -1));
        QVERIFY(sourceOf(out, 100, 682).x() >= 0);
        QCOMPARE(sourceOf(out, 100, 683), QPoint(-1, -1));
    }

    // The fast paths must give exactly what the formula gives, pixel for pixel.
    void warpMatchesFormula_data()
    {
        QTest::addColumn<QVector<double>>("matrix");
        QTest::addColumn<double>("ox");
        QTest::addColumn<double>("oy");
        QTest::addColumn<int>("apsW");
        QTest::addColumn<int>("apsH");
        QTest::addColumn<int>("dvsW");
        QTest::addColumn<int>("dvsH");
        QTest::newRow("default") << QVector<double>{3.351724137931035, 0, -225.10344827586232, 0,
                                                    3.351724137931035, -126.62068965517255}
                                 << 0.0 << 0.0 << 3840 << 2160 << 1280 << 720;
        QTest::newRow("default with offsets") << QVector<double>{3.351724137931035, 0, -225.10344827586232, 0,
                                                                 3.351724137931035, -126.62068965517255}
                                              << 37.25 << -81.5 << 3840 << 2160 << 1280 << 720;
        QTest::newRow("scaled, negative coordinates") << QVector<double>{0.7, 0, -300.3, 0, 0.55, -200.9}
                                                      << -0.999 << 0.999 << 640 << 360 << 1280 << 720;
        QTest::newRow("mirrored") << QVector<double>{-0.5, 0, 700.25, 0, -0.5, 359.75} << 3.0 << -2.0 << 640 << 360 << 1280 << 720;
        QTest::newRow("rotated") << QVector<double>{3.3, 0.05, -260.7, -0.04, 3.32, -100.1} << 12.0 << -7.0
                                 << 3840 << 2160 << 1280 << 720;
        QTest::newRow("sheared, offsets") << QVector<double>{0.45, -0.13, 50.5, 0.11, 0.5, -80.25} << -4.75
                                          << 9.5 << 640 << 360 << 1280 << 720;
        // Sizes that are no multiple of any block width, a steep turn (source rows jump
        // across a block), and a pixel that lands on the source's very last pixel.
        QTest::newRow("odd sizes, steep, last source pixel")
            << QVector<double>{0.6, -0.35, 204.5, 0.35, 0.6, -135.5} << 0.0 << 0.0 << 640 << 360 << 1001 << 577;
    }

    void warpMatchesFormula()
    {
        QFETCH(QVector<double>, matrix);
        QFETCH(double, ox);
        QFETCH(double, oy);
        QFETCH(int, apsW);
        QFETCH(int, apsH);
        QFETCH(int, dvsW);
        QFETCH(int, dvsH);
        Calibrator::Affine m;
        std::copy(matrix.begin(), matrix.end(), m.begin());
        Calibrator c;
        QVERIFY(c.loadCalibrationParam(record(uint16_t(dvsW), uint16_t(dvsH), uint16_t(apsW), uint16_t(apsH), m)));
        c.adjustAffineTranslation(ox, oy);
        const ApsFrame src = positionFrame(uint16_t(apsW), uint16_t(apsH));
        const ApsFrame want = referenceWarp(src, m, ox, oy, uint16_t(dvsW), uint16_t(dvsH), uint16_t(apsW),
                                            uint16_t(apsH));
        // Both vector widths (the wider one only where the processor has it).
        for (const bool wide : {true, false}) {
            Calibrator::setWideVectorsAllowed(wide);
            const ApsFrame got = c.mapApsToDvs(src);
            QCOMPARE(got.getDataSize(), want.getDataSize());
            QVERIFY2(std::memcmp(got.data(), want.data(), want.getDataSize()) == 0, wide ? "wide" : "narrow");
        }
        Calibrator::setWideVectorsAllowed(true);
        // Something was actually mapped (the case is not trivially all black).
        size_t lit = 0;
        bool lastSourcePixel = false;
        for (size_t i = 0; i < want.getDataSize(); ++i)
            lit += want.data()[i] != 0;
        for (int y = 0; y < dvsH && !lastSourcePixel; ++y)
            for (int x = 0; x < dvsW && !lastSourcePixel; ++x)
                lastSourcePixel = sourceOf(want, x, y) == QPoint(apsW - 1, apsH - 1);
        QVERIFY(lit > 1000);
        if (QByteArray(QTest::currentDataTag()).startsWith("odd"))
            QVERIFY(lastSourcePixel);
    }

    void unusableSourceFrames()
    {
        Calibrator c;
        // Smaller than the calibration's APS size: black, sized and stamped, no read past the buffer.
        const ApsFrame out = c.mapApsToDvs(positionFrame(1920, 1080, 3, 99));
        QCOMPARE(out.getWidth(), uint16_t(1280));
        QCOMPARE(out.getTimestamp(), uint64_t(99));
        QCOMPARE(sourceOf(out, 640, 360), QPoint(-1, -1));
        QCOMPARE(c.mapApsToDvs(ApsFrame()).getWidth(), uint16_t(1280));

        // Wider than the calibration: rows are addressed with the frame's own stride.
        const ApsFrame wide = c.mapApsToDvs(positionFrame(4000, 2200));
        QCOMPARE(sourceOf(wide, 640, 360), QPoint(1920, 1080));
        QCOMPARE(sourceOf(wide, 1212, 682), sourceOf(c.mapApsToDvs(positionFrame(3840, 2160)), 1212, 682));
    }

    void offsetsAreReplacedAndSavedIntoTheMatrix()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("cal.json").toStdString();
        Calibrator c;
        const Calibrator::Affine before = c.dvsToAps();
        c.adjustAffineTranslation(10, -5);
        c.adjustAffineTranslation(10, -5);
        QCOMPARE(c.offsetX(), 10.0);
        QCOMPARE(c.offsetY(), -5.0);
        // The pending offsets already move the picture: APS (1920 + 10, 1080 - 5).
        QCOMPARE(sourceOf(c.mapApsToDvs(positionFrame(3840, 2160)), 640, 360), QPoint(1930, 1075));

        QVERIFY(c.saveCalibrationParam(path));
        const Calibrator::Affine after = c.dvsToAps();
        QCOMPARE(bitsOf(after[2]), bitsOf(before[2] + 10.0));
        QCOMPARE(bitsOf(after[5]), bitsOf(before[5] + -5.0));
        QVERIFY(sameBits(after.data(), before.data(), 2));
        QVERIFY(sameBits(after.data() + 3, before.data() + 3, 2));
        QCOMPARE(bitsOf(c.offsetX()), bitsOf(0.0));
        QCOMPARE(bitsOf(c.offsetY()), bitsOf(0.0));
        // The picture does not jump at the save.
        QCOMPARE(sourceOf(c.mapApsToDvs(positionFrame(3840, 2160)), 640, 360), QPoint(1930, 1075));

        Calibrator::Affine inverse = c.apsToDvs();
        Calibrator::Affine expectInverse{};
        Calibrator::computeInverseAffine(after.data(), expectInverse.data());
        QVERIFY(sameBits(inverse.data(), expectInverse.data(), 6));
        CalibratorParameters file;
        QVERIFY(vexadin::jsonFileToParam(path, file));
        QVERIFY(sameBits(after, file.transforms["1"].values));
        QVERIFY(sameBits(inverse, file.transforms["0"].values));
        QCOMPARE(file.dvs_width, uint16_t(1280));
        QCOMPARE(file.aps_height, uint16_t(2160));

        // A second save without new offsets writes the same matrices.
        const std::string second = dir.filePath("again.json").toStdString();
        QVERIFY(c.saveCalibrationParam(second));
        CalibratorParameters again;
        QVERIFY(vexadin::jsonFileToParam(second, again));
        QVERIFY(sameBits(after, again.transforms["1"].values));
        QVERIFY(sameBits(inverse, again.transforms["0"].values));

        // A file that cannot be written is reported, and the state is as after a good save.
        c.adjustAffineTranslation(1, 1);
        QVERIFY(!c.saveCalibrationParam(dir.filePath("missing/folder/cal.json").toStdString()));
        QCOMPARE(bitsOf(c.dvsToAps()[2]), bitsOf(after[2] + 1.0));
        QCOMPARE(c.offsetX(), 0.0);
    }

    void inverse()
    {
        const double singular[6] = {0, 0, 5, 0, 0, 7};
        double dst[6] = {1, 2, 3, 4, 5, 6};
        Calibrator::computeInverseAffine(singular, dst);
        const double untouched[6] = {1, 2, 3, 4, 5, 6};
        QVERIFY(sameBits(dst, untouched, 6));

        const double m[6] = {2, 0.5, 10, -0.25, 4, -3};
        double inv[6] = {};
        Calibrator::computeInverseAffine(m, inv);
        // (x, y) -> m -> inv gives (x, y) back.
        for (const QPointF p : {QPointF(0, 0), QPointF(123.5, -40), QPointF(-7, 999)}) {
            const double x = m[0] * p.x() + m[1] * p.y() + m[2];
            const double y = m[3] * p.x() + m[4] * p.y() + m[5];
            QVERIFY(std::fabs(inv[0] * x + inv[1] * y + inv[2] - p.x()) < 1e-9);
            QVERIFY(std::fabs(inv[3] * x + inv[4] * y + inv[5] - p.y()) < 1e-9);
        }
    }

    void eventsToApsGrid()
    {
        Calibrator c;
        std::vector<Event2D> events = {{640, 360, 1, 5}, {0, 0, 0, 6}};
        c.mapDvsToAps(events.data(), events.data()); // empty range
        QCOMPARE(events[0].x, uint16_t(640));
        c.adjustAffineTranslation(50, 50); // not applied to events
        c.mapDvsToAps(events.data(), events.data() + events.size());
        QCOMPARE(events[0], Event2D(1920, 1080, 1, 5));
        // -225.1 truncates to -225; the field keeps its low 16 bits.
        QCOMPARE(events[1].x, uint16_t(uint32_t(-225)));
        QCOMPARE(events[1].y, uint16_t(uint32_t(-126)));
        QCOMPARE(events[1].polarity, uint8_t(0));
        QCOMPARE(events[1].timestamp, uint64_t(6));
    }

    void unusableRecordsAreRefused()
    {
        Calibrator c;
        const Calibrator::Affine good = {0.5, 0, 1, 0, 0.5, 2};
        QVERIFY(c.loadCalibrationParam(record(640, 480, 320, 240, good)));
        c.adjustAffineTranslation(3, 4);
        const Calibrator::Affine toAps = c.dvsToAps();
        const Calibrator::Affine toDvs = c.apsToDvs();

        std::vector<CalibratorParameters> bad;
        bad.push_back(record(640, 480, 320, 240, {1, 0, 0, 0, 1, 0}));
        bad.back().transforms.erase("1");
        bad.push_back(record(640, 480, 320, 240, {1, 0, 0, 0, 1, 0}));
        bad.back().transforms.erase("0");
        bad.push_back(record(640, 480, 320, 240, {1, 0, 0, 0, 1, 0}));
        bad.back().transforms["1"].values.resize(5);
        bad.push_back(record(640, 480, 320, 240, {1, 0, std::numeric_limits<double>::quiet_NaN(), 0, 1, 0}));
        bad.push_back(record(640, 480, 320, 240, {1, 0, 0, 0, 1, 0}));
        bad.back().transforms["0"].values[4] = std::numeric_limits<double>::infinity();
        bad.push_back(record(0, 480, 320, 240, {1, 0, 0, 0, 1, 0}));
        bad.push_back(CalibratorParameters()); // what a damaged file leaves
        for (const CalibratorParameters &p : bad) {
            QVERIFY(!c.loadCalibrationParam(p));
            QVERIFY(sameBits(c.dvsToAps().data(), toAps.data(), 6));
            QVERIFY(sameBits(c.apsToDvs().data(), toDvs.data(), 6));
            QCOMPARE(c.parameters().dvs_width, uint16_t(640));
            QCOMPARE(c.offsetX(), 3.0);
        }

        // A good record is taken over whole, and the offsets return to 0.
        CalibratorParameters next = record(320, 200, 640, 400, {2, 0, 0, 0, 2, 0});
        next.transforms["1"].values.push_back(99); // extra values are carried along
        next.values_1 = {1.5};
        QVERIFY(c.loadCalibrationParam(next));
        QCOMPARE(c.offsetX(), 0.0);
        QCOMPARE(c.parameters().values_1, std::vector<double>{1.5});
        const ApsFrame out = c.mapApsToDvs(positionFrame(640, 400));
        QCOMPARE(out.getWidth(), uint16_t(320));
        QCOMPARE(out.getHeight(), uint16_t(200));
        QCOMPARE(sourceOf(out, 100, 50), QPoint(200, 100));
    }

    // Warps on two threads while the GUI thread moves, saves and reloads: every
    // warped frame is one of the consistent pictures, never a mix.
    void warpsWhileOffsetsChange()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("cal.json").toStdString();
        Calibrator c;
        QVERIFY(c.loadCalibrationParam(record(320, 180, 960, 540, {3, 0, 0, 0, 3, 0})));
        const ApsFrame src = positionFrame(960, 540);
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        std::atomic<int> warps{0};
        auto worker = [&] {
            while (!stop.load()) {
                const ApsFrame out = c.mapApsToDvs(src);
                // Shifts are whole pixels, so rows and columns move together.
                const QPoint a = sourceOf(out, 100, 100);
                const QPoint b = sourceOf(out, 101, 101);
                if (a.x() >= 0 && b.x() >= 0 && (b.x() - a.x() != 3 || b.y() - a.y() != 3))
                    ++bad;
                ++warps;
            }
        };
        std::thread t1(worker), t2(worker);
        for (int i = 0; i < 200 || warps.load() < 20; ++i) {
            c.adjustAffineTranslation(i % 7, -(i % 5));
            if (i % 50 == 0)
                c.saveCalibrationParam(path);
        }
        stop = true;
        t1.join();
        t2.join();
        QCOMPARE(bad.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCalibrator)
#include "tst_calibrator.moc"
