#include "widgets/vxthreehandleslider.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

class TstVxThreeHandleSlider : public QObject
{
    Q_OBJECT

private:
    // A shown slider of the given width with the range [min, max].
    std::unique_ptr<VxThreeHandleSlider> makeSlider(int mode, uint64_t min, uint64_t max, int w = 532)
    {
        auto s = std::make_unique<VxThreeHandleSlider>(nullptr, 1, mode);
        s->resize(w, 30);
        s->setMaximum(max);
        s->setMinimum(min);
        s->show();
        if (!QTest::qWaitForWindowExposed(s.get()))
            return nullptr;
        return s;
    }

    static QPoint centreOf(const QRect &r) { return r.center(); }

private slots:
    void handlesSitOnTheTrackOfTheirMode()
    {
        auto s = makeSlider(3, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(2500000);
        QCOMPARE(s->lowerHandleRect().x(), 0);
        QCOMPARE(s->upperHandleRect().x(), 526);
        QCOMPARE(s->centerHandleRect().x(), 6 + 125);
        QCOMPARE(s->lowerHandleRect().size(), QSize(6, 27));
        QCOMPARE(s->centerHandleRect().size(), QSize(20, 20));
        // Vertically centred in the 30 px high widget.
        QCOMPARE(s->lowerHandleRect().y(), 1);
        QCOMPARE(s->centerHandleRect().y(), 5);

        // Equal values put the three handles side by side.
        s->setCenterValue(0);
        QCOMPARE(s->centerHandleRect().x(), s->lowerHandleRect().right() + 1);

        auto single = makeSlider(1, 0, 10000000);
        QVERIFY(single);
        single->setCenterValue(10000000);
        QCOMPARE(single->centerHandleRect().x(), 506 + 3);
        single->setCenterValue(0);
        QCOMPARE(single->centerHandleRect().x(), 3);
    }

    void slotsClampAndStaySilent()
    {
        auto s = makeSlider(3, 1000, 9000);
        QVERIFY(s);
        QSignalSpy lower(s.get(), &VxThreeHandleSlider::lowerValueChanged);
        QSignalSpy upper(s.get(), &VxThreeHandleSlider::upperValueChanged);
        QSignalSpy center(s.get(), &VxThreeHandleSlider::centerValueMove);

        s->setCenterValue(5000);
        s->setLowerValue(7000); // beyond the centre in mode 3
        QCOMPARE(s->lowerValue(), uint64_t(5000));
        s->setLowerValue(10);
        QCOMPARE(s->lowerValue(), uint64_t(1000));
        s->setUpperValue(2000); // below the centre
        QCOMPARE(s->upperValue(), uint64_t(5000));
        s->setUpperValue(UINT64_MAX);
        QCOMPARE(s->upperValue(), uint64_t(9000));
        s->setUpperValue(6000);
        s->setCenterValue(8000);
        QCOMPARE(s->centerValue(), uint64_t(6000));
        s->setCenterValue(0);
        QCOMPARE(s->centerValue(), uint64_t(1000));
        QCOMPARE(lower.count() + upper.count() + center.count(), 0);

        QCOMPARE(s->rangeStart(), uint64_t(1000));
        QCOMPARE(s->rangeEnd(), uint64_t(6000));
    }

    void rangeChangeResetsTheSubRange()
    {
        auto s = makeSlider(3, 0, 100);
        QVERIFY(s);
        QSignalSpy range(s.get(), &VxThreeHandleSlider::rangeChanged);
        s->setMaximum(9000000);
        s->setMinimum(1000000);
        QCOMPARE(range.count(), 2);
        QCOMPARE(range.last().at(0).toULongLong(), 1000000ull);
        QCOMPARE(range.last().at(1).toULongLong(), 9000000ull);
        QCOMPARE(s->lowerValue(), uint64_t(1000000));
        QCOMPARE(s->upperValue(), uint64_t(9000000));

        // A position outside the new range (the previous recording's, or the
        // initial middle of the 64-bit range) goes to the new start, so the
        // centre handle stays on the track.
        auto fresh = std::make_unique<VxThreeHandleSlider>(nullptr, 1, 1);
        fresh->resize(532, 30);
        fresh->setMinimum(1000000);
        fresh->setMaximum(7000000);
        QCOMPARE(fresh->centerValue(), uint64_t(1000000));
        QCOMPARE(fresh->centerHandleRect().x(), 3);
        fresh->setCenterValue(4000000);
        fresh->setMinimum(5000000);
        fresh->setMaximum(8000000);
        QCOMPARE(fresh->centerValue(), uint64_t(5000000));
        fresh->setCenterValue(6000000);
        fresh->setMaximum(9000000); // still inside: kept
        QCOMPARE(fresh->centerValue(), uint64_t(6000000));
    }

    void modeSwitchReportsTheWholeRangeEachTime()
    {
        auto s = makeSlider(1, 1000000, 9000000);
        QVERIFY(s);
        QSignalSpy lower(s.get(), &VxThreeHandleSlider::lowerValueChanged);
        QSignalSpy upper(s.get(), &VxThreeHandleSlider::upperValueChanged);
        s->setHandleMode(3);
        s->setLowerValue(2000000);
        s->setHandleMode(1);
        QCOMPARE(lower.count(), 2);
        QCOMPARE(upper.count(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(lower.at(i).at(0).toULongLong(), 1000000ull);
            QCOMPARE(upper.at(i).at(0).toULongLong(), 9000000ull);
        }
        QCOMPARE(s->rangeStart(), uint64_t(1000000));
    }

    void clickOnTheGrooveSeeks()
    {
        auto s = makeSlider(1, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(5000000);
        QSignalSpy click(s.get(), &VxThreeHandleSlider::centerValueTrackClick);

        // Left of pixel 13 the value lies below the start: clamped to the start.
        QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(8, 15));
        QCOMPARE(click.count(), 1);
        QCOMPARE(click.last().at(0).toULongLong(), 0ull);

        // Pixel 13 + 130 of a 520 px track is a quarter of the range.
        QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(143, 15));
        QCOMPARE(click.last().at(0).toULongLong(), 2500000ull);
        QCOMPARE(s->centerValue(), uint64_t(2500000));

        // The last pixel maps to (531 - 13) / 520 of the range.
        QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(531, 15));
        QCOMPARE(click.last().at(0).toULongLong(), 9961538ull);

        // Other buttons do nothing.
        QTest::mouseClick(s.get(), Qt::RightButton, {}, QPoint(143, 15));
        QCOMPARE(click.count(), 3);
    }

    void clickSeeksOnlyInsideTheSubRange()
    {
        auto s = makeSlider(3, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(5000000);
        s->setLowerValue(4000000);
        s->setUpperValue(6000000);
        QSignalSpy click(s.get(), &VxThreeHandleSlider::centerValueTrackClick);
        QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(60, 15));
        QCOMPARE(click.count(), 1);
        QCOMPARE(click.last().at(0).toULongLong(), 4000000ull);
    }

    void draggingTheCentreHandleFollowsTheMouseAndStopsAtTheEnds()
    {
        auto s = makeSlider(1, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(0);
        QSignalSpy move(s.get(), &VxThreeHandleSlider::centerValueMove);
        QSignalSpy click(s.get(), &VxThreeHandleSlider::centerValueTrackClick);
        const QPoint grab = centreOf(s->centerHandleRect());
        QTest::mousePress(s.get(), Qt::LeftButton, {}, grab);
        QCOMPARE(click.count(), 0);
        QTest::mouseMove(s.get(), grab + QPoint(260, 0));
        QVERIFY(move.count() >= 1);
        const uint64_t mid = move.last().at(0).toULongLong();
        QVERIFY2(mid > 4700000 && mid < 5300000, QByteArray::number(qulonglong(mid)));
        QTest::mouseMove(s.get(), QPoint(531, 15));
        QCOMPARE(move.last().at(0).toULongLong(), 10000000ull);
        QTest::mouseMove(s.get(), QPoint(1, 15));
        QCOMPARE(move.last().at(0).toULongLong(), 0ull);
        QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(1, 15));

        // After release, moves without a button change nothing.
        const int before = move.count();
        QTest::mouseMove(s.get(), QPoint(300, 15));
        QCOMPARE(move.count(), before);
    }

    void sideHandlesStopAtTheCentre()
    {
        auto s = makeSlider(3, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(5000000);
        QSignalSpy lower(s.get(), &VxThreeHandleSlider::lowerValueChanged);
        QSignalSpy upper(s.get(), &VxThreeHandleSlider::upperValueChanged);

        QPoint grab = centreOf(s->lowerHandleRect());
        QTest::mousePress(s.get(), Qt::LeftButton, {}, grab);
        QTest::mouseMove(s.get(), QPoint(100, 15));
        QVERIFY(lower.count() >= 1);
        const uint64_t partway = lower.last().at(0).toULongLong();
        QVERIFY(partway > 0 && partway < 5000000);
        QTest::mouseMove(s.get(), QPoint(450, 15)); // well past the centre handle
        QCOMPARE(lower.last().at(0).toULongLong(), 5000000ull);
        QCOMPARE(s->lowerValue(), uint64_t(5000000));
        QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(450, 15));

        grab = centreOf(s->upperHandleRect());
        QTest::mousePress(s.get(), Qt::LeftButton, {}, grab);
        QTest::mouseMove(s.get(), QPoint(20, 15)); // left of the centre handle
        QVERIFY(upper.count() >= 1);
        QCOMPARE(upper.last().at(0).toULongLong(), 5000000ull);
        QCOMPARE(s->upperValue(), uint64_t(5000000));
        QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(20, 15));

        // Dragging the end handle far right stops at the maximum.
        grab = centreOf(s->upperHandleRect());
        QTest::mousePress(s.get(), Qt::LeftButton, {}, grab);
        QTest::mouseMove(s.get(), QPoint(2000, 15));
        QCOMPARE(s->upperValue(), uint64_t(10000000));
        QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(2000, 15));
    }

    void disabledSliderIsGrey()
    {
        auto s = makeSlider(1, 0, 10000000);
        QVERIFY(s);
        s->setCenterValue(10000000);
        const QPoint onBar(100, 15);
        QCOMPARE(s->grab().toImage().pixelColor(onBar), QColor("#004B6A"));
        s->setEnabled(false);
        QCOMPARE(s->grab().toImage().pixelColor(onBar), QColor("#C7C7C7"));
        const QPoint inHandle = s->centerHandleRect().center();
        QCOMPARE(s->grab().toImage().pixelColor(inHandle), QColor("#C7C7C7"));
        s->setEnabled(true);
        QCOMPARE(s->grab().toImage().pixelColor(inHandle), QColor("#FFFFFF"));
    }

    void singleTimestampRangeIsHarmless()
    {
        auto s = makeSlider(3, 5000, 5000);
        QVERIFY(s);
        QSignalSpy click(s.get(), &VxThreeHandleSlider::centerValueTrackClick);
        QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(300, 15));
        QCOMPARE(click.count(), 1);
        QCOMPARE(click.last().at(0).toULongLong(), 5000ull);
        QCOMPARE(s->lowerHandleRect().x(), 0);
        s->grab(); // paints without trouble
    }
};

QTEST_MAIN(TstVxThreeHandleSlider)
#include "tst_vxthreehandleslider.moc"
