#include "ui/mainwidget.h"
#include "widgets/settingdisplayitem.h"
#include "widgets/settingitembox.h"
#include "widgets/sidebarcamerasettingui.h"
#include "widgets/vxcombobox.h"
#include "widgets/vxcomboboxbase.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

QLineEdit *editOf(VxComboBox *box)
{
    return box->innerComboBox()->lineEdit();
}

bool showsInvalid(VxComboBox *box)
{
    const QWidget *halo = box->findChild<QWidget *>(QStringLiteral("comboBoxWidget"));
    return box->innerComboBox()->styleSheet().contains(QLatin1String("border: 1px solid #FF6058;"))
        && halo->styleSheet().contains(QLatin1String("#FFDAD8"));
}

} // namespace

class TstDisplaySettings : public QObject
{
    Q_OBJECT

private slots:
    void typedDigitIsAppliedAndCompletedWithMs();
    void accumulationTimeText_data();
    void accumulationTimeText();
    void slowRateText_data();
    void slowRateText();
    void choosingAnEntryAppliesItOnce();
    void invalidTextKeepsMarkingWhenLeft();
    void panelForwardsAndDisablesSlowRate();
    void mainWindowShowsPanelAtStart();
};

void TstDisplaySettings::typedDigitIsAppliedAndCompletedWithMs()
{
    SettingDisplayItem item;
    item.show();
    QLineEdit *edit = editOf(item.accumulationTimeBox());
    QCOMPARE(edit->text(), QString("33.33ms"));
    QCOMPARE(editOf(item.slowRateBox())->text(), QString("1"));
    QSignalSpy spy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);

    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_5);
    QCOMPARE(edit->text(), QString("5ms"));
    QCOMPARE(edit->cursorPosition(), 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).value<uint64_t>(), uint64_t(5000));

    QTest::keyClick(edit, Qt::Key_0);
    QCOMPARE(edit->text(), QString("50ms"));
    QCOMPARE(edit->cursorPosition(), 2);
    QCOMPARE(spy.last().at(0).value<uint64_t>(), uint64_t(50000));
    QVERIFY(!showsInvalid(item.accumulationTimeBox()));

    // Removing the digits again: "5ms" is applied, "ms" alone is invalid.
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(spy.last().at(0).value<uint64_t>(), uint64_t(5000));
    const int before = spy.count();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString("ms"));
    QCOMPARE(spy.count(), before);
    QVERIFY(showsInvalid(item.accumulationTimeBox()));
}

void TstDisplaySettings::accumulationTimeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qulonglong>("expected"); // 0 = invalid, nothing emitted
    QTest::addColumn<QString>("shown");

    QTest::newRow("one second in ms") << "1000ms" << 1000000ull << "1000ms";
    QTest::newRow("one second in us") << "1000000us" << 1000000ull << "1000000us";
    QTest::newRow("over one second") << "1001ms" << 0ull << "1001ms";
    QTest::newRow("one us over") << "1000001us" << 0ull << "1000001us";
    QTest::newRow("zero") << "0ms" << 0ull << "0ms";
    QTest::newRow("half a us") << "0.5us" << 0ull << "0.5us";
    QTest::newRow("unit case") << "2MS" << 2000ull << "2MS";
    QTest::newRow("us case") << "250Us" << 250ull << "250Us";
    QTest::newRow("decimal without exact binary form") << "0.7ms" << 700ull << "0.7ms";
    QTest::newRow("no unit is ms") << "7" << 7000ull << "7ms";
    QTest::newRow("negative") << "-5ms" << 0ull << "-5ms";
    QTest::newRow("huge") << "1e30ms" << 0ull << "1e30ms";
    QTest::newRow("not a number") << "abc" << 0ull << "abc";
    QTest::newRow("infinite") << "infms" << 0ull << "infms";
    QTest::newRow("unit only") << "us" << 0ull << "us";
}

void TstDisplaySettings::accumulationTimeText()
{
    QFETCH(QString, text);
    QFETCH(qulonglong, expected);
    QFETCH(QString, shown);

    SettingDisplayItem item;
    QSignalSpy spy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
    editOf(item.accumulationTimeBox())->setText(text);

    QCOMPARE(editOf(item.accumulationTimeBox())->text(), shown);
    if (expected == 0) {
        QCOMPARE(spy.count(), 0);
        QVERIFY(showsInvalid(item.accumulationTimeBox()));
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<uint64_t>(), uint64_t(expected));
        QVERIFY(!showsInvalid(item.accumulationTimeBox()));
    }
}

void TstDisplaySettings::slowRateText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("fps"); // 0 = invalid, nothing emitted

    QTest::newRow("half") << "0.5" << 15u;
    QTest::newRow("maximum") << "1000" << 30000u;
    QTest::newRow("three") << "3" << 90u;
    QTest::newRow("truncated") << "0.45" << 13u;
    QTest::newRow("decimal without exact binary form") << "4.1" << 123u;
    QTest::newRow("below minimum") << "0.02" << 0u;
    QTest::newRow("above maximum") << "1001" << 0u;
    QTest::newRow("not a number") << "abc" << 0u;
    QTest::newRow("empty") << "" << 0u;
    // In range but below 1/30: would be 0 fps, which the receivers divide by.
    QTest::newRow("minimum gives no frame") << "0.03" << 0u;
    QTest::newRow("just one frame") << "0.034" << 1u;
}

void TstDisplaySettings::slowRateText()
{
    QFETCH(QString, text);
    QFETCH(uint, fps);

    SettingDisplayItem item;
    QSignalSpy spy(&item, &SettingDisplayItem::signalFpsChanged);
    editOf(item.slowRateBox())->setText(text);

    if (fps == 0) {
        QCOMPARE(spy.count(), 0);
        QVERIFY(showsInvalid(item.slowRateBox()));
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<uint32_t>(), uint32_t(fps));
        QVERIFY(!showsInvalid(item.slowRateBox()));
    }
}

void TstDisplaySettings::choosingAnEntryAppliesItOnce()
{
    SettingDisplayItem item;
    QSignalSpy timeSpy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
    QSignalSpy fpsSpy(&item, &SettingDisplayItem::signalFpsChanged);

    item.accumulationTimeBox()->innerComboBox()->setCurrentIndex(1);
    QCOMPARE(editOf(item.accumulationTimeBox())->text(), QString("100ms"));
    QCOMPARE(timeSpy.count(), 1);
    QCOMPARE(timeSpy.at(0).at(0).value<uint64_t>(), uint64_t(100000));

    // Back to the first entry, the starting value.
    item.accumulationTimeBox()->innerComboBox()->setCurrentIndex(0);
    QCOMPARE(timeSpy.count(), 2);
    QCOMPARE(timeSpy.at(1).at(0).value<uint64_t>(), uint64_t(33330));

    item.slowRateBox()->innerComboBox()->setCurrentIndex(5);
    QCOMPARE(fpsSpy.count(), 1);
    QCOMPARE(fpsSpy.at(0).at(0).value<uint32_t>(), uint32_t(30000));
    QCOMPARE(timeSpy.count(), 2);
}

void TstDisplaySettings::invalidTextKeepsMarkingWhenLeft()
{
    SettingDisplayItem item;
    item.show();
    QSignalSpy spy(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
    QLineEdit *edit = editOf(item.accumulationTimeBox());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "2000");
    QCOMPARE(spy.last().at(0).value<uint64_t>(), uint64_t(200000));
    const int applied = spy.count();

    QTest::keyClick(edit, Qt::Key_Return); // leaves the edit as finished
    QCOMPARE(edit->text(), QString("2000ms"));
    QCOMPARE(spy.count(), applied);
    QVERIFY(showsInvalid(item.accumulationTimeBox()));
}

void TstDisplaySettings::panelForwardsAndDisablesSlowRate()
{
    SidebarCameraSettingUI panel;
    QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("lb_setting_ui"))->text(), QString("Camera Setting"));
    SettingItemBox *box = panel.displayBox();
    QVERIFY(box);
    QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lb_setting_box_title_text"))->text(), QString("Display"));
    QVERIFY(box->isAncestorOf(panel.displayItem()));

    QSignalSpy timeSpy(&panel, &SidebarCameraSettingUI::signalCumulativeTimeChanged);
    QSignalSpy fpsSpy(&panel, &SidebarCameraSettingUI::signalFpsChanged);
    editOf(panel.displayItem()->accumulationTimeBox())->setText("12us");
    editOf(panel.displayItem()->slowRateBox())->setText("2");
    QCOMPARE(timeSpy.count(), 1);
    QCOMPARE(timeSpy.at(0).at(0).value<uint64_t>(), uint64_t(12));
    QCOMPARE(fpsSpy.count(), 1);
    QCOMPARE(fpsSpy.at(0).at(0).value<uint32_t>(), uint32_t(60));

    panel.setSlowRateEnabled(false);
    QVERIFY(!panel.displayItem()->slowRateBox()->isEnabled());
    QVERIFY(panel.displayItem()->accumulationTimeBox()->isEnabled());
    panel.setSlowRateEnabled(true);
    QVERIFY(panel.displayItem()->slowRateBox()->isEnabled());
}

void TstDisplaySettings::mainWindowShowsPanelAtStart()
{
    MainWidget window;
    window.show();
    auto *panel = qobject_cast<SidebarCameraSettingUI *>(window.sidePanel(MainWidget::DisplayPanel));
    QVERIFY(panel);
    QVERIFY(panel->isVisible());
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("pb_fold_setting"))->property("checked").toBool());

    // Opening a recording enables the slow rate (a camera disables it).
    panel->setSlowRateEnabled(false);
    window.openRecording(QStringLiteral("/nonexistent/recording.raw"));
    QVERIFY(panel->displayItem()->slowRateBox()->isEnabled());
}

QTEST_MAIN(TstDisplaySettings)
#include "tst_displaysettings.moc"
