// Behaviour of the setting item widgets: name/label conversion, the slider
// item's validation and clamping, step buttons, the combo item, the slider's
// click-to-jump and the fold look of the section box.

#include "widgets/parameternames.h"
#include "widgets/settingbasewithcombobox.h"
#include "widgets/settingbasewithlineedit.h"
#include "widgets/settingbasewithswitchbutton.h"
#include "widgets/settingitembox.h"
#include "widgets/vxcombobox.h"
#include "widgets/vxcomboboxbase.h"
#include "widgets/vxlineeditbase.h"
#include "widgets/vxslider.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <climits>
#include <string>
#include <vector>

#include "support/qtesttime.h"

namespace {

VxLineEditBase *valueField(QWidget *item)
{
    return item->findChild<VxLineEditBase *>(QStringLiteral("le_vx_line_edit"));
}

VxSlider *sliderOf(QWidget *item)
{
    return item->findChild<VxSlider *>(QStringLiteral("horizontalSlider"));
}

QPushButton *button(QWidget *item, const char *name)
{
    return item->findChild<QPushButton *>(QLatin1String(name));
}

// The colour of the first border declaration, where the state is painted.
QString borderColor(QWidget *w)
{
    static const QRegularExpression re(QStringLiteral("\\bborder:\\s*1px solid (#[0-9A-Fa-f]{6})"));
    return re.match(w->styleSheet()).captured(1).toUpper();
}

std::string nameArg(const QList<QVariant> &args)
{
    return args.at(0).value<std::string>();
}

} // namespace

class TestSettingItems : public QObject
{
    Q_OBJECT

private slots:
    void labelFromName_data();
    void labelFromName();
    void nameFromLabel();
    void itemNamesComeFromLabel();

    void unreadableTextIsRedAndSilent();
    void everyReadableKeystrokeIsReported();
    void typedValueClampsToRange();
    void stepButtonsStopAtRangeEndsAndOnBadText();
    void valuesForOtherNamesAreIgnored();
    void floatValueThatIsNotWholeStaysRed();
    void setValueOutsideRangeIsIgnored();
    void sliderRowFollowsFieldFocus();
    void checkCallbackSeesEveryReportedValue();

    void switchItemReportsClicksOnly();

    void comboWheelNeverChangesValue();
    void comboOwnValueIsNotReportedAgain();
    void comboHaloAndTextEditsOnlyTheirProperty();
    void comboEditableForwardsEdits();
    void comboListOpensFromReadOnlyTextWithHalo();
    void longTextsDoNotWidenItems();
    void comboListStaysOpenAfterTheClickOnItsText();

    void sliderClickJumpsOnce();
    void destroyingFocusedFieldsIsSafe();

    void boxStartsCollapsedAndFolds();
};

void TestSettingItems::labelFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::newRow("snake case") << "bias_diff_on" << "Bias Diff On";
    QTest::newRow("leading digit") << "2nd_value" << "2Nd Value";
    QTest::newRow("already title") << "Bias" << "Bias";
    QTest::newRow("blank separates") << "roi x" << "Roi X";
    QTest::newRow("inner capitals kept") << "roi_xMin" << "Roi XMin";
    QTest::newRow("double underscore") << "a__b" << "A  B";
    QTest::newRow("empty") << "" << "";
}

void TestSettingItems::labelFromName()
{
    QFETCH(QString, name);
    QFETCH(QString, label);
    QCOMPARE(toParameterLabel(name), label);
}

void TestSettingItems::nameFromLabel()
{
    QCOMPARE(toParameterName(QStringLiteral("Bias Diff On")), QStringLiteral("bias_diff_on"));
    QCOMPARE(toParameterName(QStringLiteral("2Nd Value")), QStringLiteral("2nd_value"));
    // The round trip is exact for lower-case names without blanks only.
    for (const char *name : {"bias_diff_on", "2nd_value", "x", "evt_rate_100"})
        QCOMPARE(toParameterName(toParameterLabel(QLatin1String(name))), QLatin1String(name));
    QCOMPARE(toParameterName(toParameterLabel(QStringLiteral("Bias"))), QStringLiteral("bias"));
}

void TestSettingItems::itemNamesComeFromLabel()
{
    SettingBaseWithLineEdit slider("Bias");
    slider.setRange(0, 255);
    QCOMPARE(slider.findChild<QLabel *>(QStringLiteral("lb_set_item_name"))->text(), QStringLiteral("Bias"));
    QSignalSpy spy(&slider, &SettingBaseWithLineEdit::signalItemValueChanged);
    // Answers to the derived name, not to the one it was built with.
    slider.slotItemValueChanged(std::string("Bias"), 7);
    QCOMPARE(spy.count(), 0);
    slider.slotItemValueChanged(std::string("bias"), 7);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(nameArg(spy.at(0)), std::string("bias"));
    QCOMPARE(spy.at(0).at(1).toInt(), 7);

    SettingBaseWithSwitchButton toggle("bias_diff_on");
    QCOMPARE(toggle.findChild<QLabel *>(QStringLiteral("lb_item_name"))->text(), QStringLiteral("Bias Diff On"));
    QSignalSpy toggled(&toggle, &SettingBaseWithSwitchButton::signalItemValueChanged);
    button(&toggle, "switchButton")->click();
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(nameArg(toggled.at(0)), std::string("bias_diff_on"));
    QCOMPARE(toggled.at(0).at(1).toBool(), true);
}

void TestSettingItems::unreadableTextIsRedAndSilent()
{
    SettingBaseWithLineEdit item("bias_fo");
    item.setRange(0, 255);
    item.setValue(100);
    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    valueField(&item)->setText(QStringLiteral("abc"));
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#FF6058"));
    QCOMPARE(sliderOf(&item)->value(), 100);
    QCOMPARE(spy.count(), 0);
    // Leaving the field keeps the red mark on text that still does not read.
    emit valueField(&item)->editingFinished();
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#FF6058"));
    QCOMPARE(spy.count(), 0);
}

void TestSettingItems::everyReadableKeystrokeIsReported()
{
    SettingBaseWithLineEdit item("bias_fo");
    item.setRange(0, 255);
    item.setValue(100);
    item.show();
    QVERIFY(QTest::qWaitForWindowExposed(&item));
    VxLineEditBase *field = valueField(&item);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());

    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("abc"));
    QCOMPARE(borderColor(field), QStringLiteral("#FF6058"));

    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_1);
    QCOMPARE(borderColor(field), QStringLiteral("#004B6A"));
    QTest::keyClick(field, Qt::Key_2);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(1).toInt(), 1);
    QCOMPARE(spy.at(1).at(1).toInt(), 12);
    QCOMPARE(nameArg(spy.at(1)), std::string("bias_fo"));
    QCOMPARE(field->text(), QStringLiteral("12"));
}

void TestSettingItems::typedValueClampsToRange()
{
    SettingBaseWithLineEdit item("bias_hpf");
    item.setRange(0, 255);
    item.setValue(10);
    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    valueField(&item)->setText(QStringLiteral("300"));
    QCOMPARE(sliderOf(&item)->value(), 255);
    QCOMPARE(valueField(&item)->text(), QStringLiteral("255"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), 255);

    // Already at the top: the slider cannot move, so finishing the edit
    // brings the field back to the value in force, without a new report.
    valueField(&item)->setText(QStringLiteral("999"));
    QCOMPARE(valueField(&item)->text(), QStringLiteral("999"));
    emit valueField(&item)->editingFinished();
    QCOMPARE(valueField(&item)->text(), QStringLiteral("255"));
    QCOMPARE(spy.count(), 1);
}

void TestSettingItems::stepButtonsStopAtRangeEndsAndOnBadText()
{
    SettingBaseWithLineEdit item("bias_refr");
    item.setRange(-3, 3);
    item.setValue(2);
    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    QPushButton *plus = button(&item, "pb_add_item_value");
    QPushButton *minus = button(&item, "pb_sub_item_value");

    plus->click();
    QCOMPARE(valueField(&item)->text(), QStringLiteral("3"));
    plus->click();
    QCOMPARE(valueField(&item)->text(), QStringLiteral("3"));
    QCOMPARE(spy.count(), 1);

    item.setValue(-3);
    spy.clear();
    minus->click();
    QCOMPARE(valueField(&item)->text(), QStringLiteral("-3"));
    QCOMPARE(spy.count(), 0);
    plus->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), -2);

    valueField(&item)->setText(QStringLiteral("x1"));
    spy.clear();
    plus->click();
    minus->click();
    QCOMPARE(valueField(&item)->text(), QStringLiteral("x1"));
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#FF6058"));
    QCOMPARE(spy.count(), 0);

    // The step must not overflow at the ends of int.
    item.setRange(INT_MIN, INT_MAX);
    item.setValue(INT_MAX);
    spy.clear();
    plus->click();
    QCOMPARE(sliderOf(&item)->value(), INT_MAX);
    QCOMPARE(spy.count(), 0);
}

void TestSettingItems::valuesForOtherNamesAreIgnored()
{
    SettingBaseWithLineEdit item("bias_diff_on");
    item.setRange(0, 255);
    item.setValue(5);
    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    item.slotItemValueChanged(std::string("bias_diff_off"), 42);
    item.slotItemValueChanged(std::string("bias_diff_off"), 42.0f);
    QCOMPARE(valueField(&item)->text(), QStringLiteral("5"));
    QCOMPARE(spy.count(), 0);

    // The value it already shows is not reported again.
    item.slotItemValueChanged(std::string("bias_diff_on"), 5);
    QCOMPARE(spy.count(), 0);
    item.slotItemValueChanged(std::string("bias_diff_on"), 6);
    QCOMPARE(spy.count(), 1);
}

void TestSettingItems::floatValueThatIsNotWholeStaysRed()
{
    SettingBaseWithLineEdit item("afk_low_freq");
    item.setRange(0, 100);
    item.setValue(3);
    QSignalSpy spy(&item, &SettingBaseWithLineEdit::signalItemValueChanged);
    item.slotItemValueChanged(std::string("afk_low_freq"), 2.5f);
    QCOMPARE(valueField(&item)->text(), QStringLiteral("2.5"));
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#FF6058"));
    QCOMPARE(sliderOf(&item)->value(), 3);
    QCOMPARE(spy.count(), 0);

    item.slotItemValueChanged(std::string("afk_low_freq"), 50.0f);
    QCOMPARE(valueField(&item)->text(), QStringLiteral("50"));
    QCOMPARE(spy.count(), 1);
}

void TestSettingItems::setValueOutsideRangeIsIgnored()
{
    SettingBaseWithLineEdit item("bias_fo");
    item.setRange(10, 20);
    item.setValue(15);
    item.setValue(9);
    item.setValue(21);
    QCOMPARE(valueField(&item)->text(), QStringLiteral("15"));
    QCOMPARE(sliderOf(&item)->value(), 15);

    item.setUnit(" ");
    QCOMPARE(item.findChild<QLabel *>(QStringLiteral("lb_unit"))->text(), QString());
    item.setUnit("us");
    QCOMPARE(item.findChild<QLabel *>(QStringLiteral("lb_unit"))->text(), QStringLiteral("(us)"));

    item.setValid(false);
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#FF6058"));
    item.setValid(true);
    QCOMPARE(borderColor(valueField(&item)), QStringLiteral("#ACACAC"));
}

void TestSettingItems::sliderRowFollowsFieldFocus()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *item = new SettingBaseWithLineEdit("bias_fo");
    item->setValue(1);
    auto *other = new QLineEdit;
    layout->addWidget(other);
    layout->addWidget(item);
    other->setFocus();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *row = item->findChild<QWidget *>(QStringLiteral("widget_with_slider"));
    QVERIFY(!row->isVisible());

    valueField(item)->setFocus();
    QTRY_VERIFY(row->isVisible());
    QCOMPARE(borderColor(valueField(item)), QStringLiteral("#004B6A"));
    other->setFocus();
    QTRY_VERIFY(!row->isVisible());
    QCOMPARE(borderColor(valueField(item)), QStringLiteral("#ACACAC"));

    // Focus shows teal also on text that does not read; leaving such a
    // field keeps it red, since its text was not applied.
    valueField(item)->setText(QStringLiteral("1x"));
    QCOMPARE(borderColor(valueField(item)), QStringLiteral("#FF6058"));
    valueField(item)->setFocus();
    QTRY_VERIFY(row->isVisible());
    QCOMPARE(borderColor(valueField(item)), QStringLiteral("#004B6A"));
    other->setFocus();
    QTRY_VERIFY(!row->isVisible());
    QCOMPARE(borderColor(valueField(item)), QStringLiteral("#FF6058"));
}

void TestSettingItems::checkCallbackSeesEveryReportedValue()
{
    SettingBaseWithLineEdit item("roi_x0");
    item.setRange(0, 1279);
    std::vector<std::pair<std::string, int>> calls;
    item.setValueCallback([&calls](std::string name, int value) {
        calls.emplace_back(std::move(name), value);
        return value < 100;
    });
    item.setValue(50);
    item.slotItemValueChanged(std::string("roi_x0"), 200);
    QCOMPARE(calls.size(), size_t(2));
    QCOMPARE(calls[0].first, std::string("roi_x0"));
    QCOMPARE(calls[1].second, 200);
}

void TestSettingItems::switchItemReportsClicksOnly()
{
    SettingBaseWithSwitchButton item("trigger_in_enable");
    QSignalSpy spy(&item, &SettingBaseWithSwitchButton::signalItemValueChanged);
    QPushButton *sw = button(&item, "switchButton");
    item.setChecked(true);
    item.slotItemValueChanged(std::string("trigger_in_enable"), false);
    QVERIFY(!sw->isChecked());
    item.slotItemValueChanged(std::string("other"), true);
    QVERIFY(!sw->isChecked());
    QCOMPARE(spy.count(), 0);
    sw->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toBool(), true);
}

void TestSettingItems::comboWheelNeverChangesValue()
{
    SettingBaseWithComboBox item("afk_mode");
    for (const char *s : {"band_stop", "band_pass", "off"})
        item.addItem(QLatin1String(s));
    item.show();
    QVERIFY(QTest::qWaitForWindowExposed(&item));
    VXComboBoxBase *combo = item.findChild<VXComboBoxBase *>();
    combo->setFocus();
    QSignalSpy spy(&item, &SettingBaseWithComboBox::signalItemValueChanged);
    for (int delta : {-120, 120, -120}) {
        const QPointF pos(combo->width() / 2.0, combo->height() / 2.0);
        QWheelEvent wheel(pos, combo->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
        QVERIFY(!wheel.isAccepted());
    }
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(spy.count(), 0);
}

void TestSettingItems::comboOwnValueIsNotReportedAgain()
{
    SettingBaseWithComboBox item("afk_mode");
    for (const char *s : {"band_stop", "band_pass"})
        item.addItem(QLatin1String(s));
    VXComboBoxBase *combo = item.findChild<VXComboBoxBase *>();
    QVERIFY(combo->lineEdit()->isReadOnly());
    QSignalSpy spy(&item, &SettingBaseWithComboBox::signalItemValueChanged);

    item.slotItemValueChanged(std::string("afk_mode"), std::string("band_stop"));
    item.slotItemValueChanged(std::string("afk"), std::string("band_pass"));
    QCOMPARE(spy.count(), 0);

    item.slotItemValueChanged(std::string("afk_mode"), std::string("band_pass"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(nameArg(spy.at(0)), std::string("afk_mode"));
    QCOMPARE(spy.at(0).at(1).value<std::string>(), std::string("band_pass"));
    // The list selection follows the value, not only the shown text.
    QCOMPARE(combo->currentIndex(), 1);
}

void TestSettingItems::comboHaloAndTextEditsOnlyTheirProperty()
{
    VxComboBox box;
    QWidget *halo = box.findChild<QWidget *>(QStringLiteral("comboBoxWidget"));
    QCOMPARE(halo->styleSheet(), QStringLiteral("border: 2px solid transparent; border-radius: 3px;"));
    box.setHaloColor(QStringLiteral("#FFDAD8"));
    QCOMPARE(halo->styleSheet(), QStringLiteral("border: 2px solid #FFDAD8; border-radius: 3px;"));

    VXComboBoxBase *inner = box.innerComboBox();
    const QString before = inner->styleSheet();
    box.setTextColor(QStringLiteral("#004B6A"));
    box.setStyleProperty(QStringLiteral("border"), QStringLiteral("border: 1px solid #FF6058;"));
    QString expected = before;
    const auto replaceFirst = [&expected](const QString &from, const QString &to) {
        const int at = expected.indexOf(from);
        QVERIFY(at >= 0);
        expected.replace(at, from.size(), to);
    };
    replaceFirst(QStringLiteral("color: #A7A7A7;"), QStringLiteral("color: #004B6A;"));
    replaceFirst(QStringLiteral("border: 1px solid #A7A7A7;"), QStringLiteral("border: 1px solid #FF6058;"));
    QCOMPARE(inner->styleSheet(), expected);
}

void TestSettingItems::comboEditableForwardsEdits()
{
    VxComboBox box;
    box.innerComboBox()->addItems({QStringLiteral("1"), QStringLiteral("2")});
    QSignalSpy typed(&box, &VxComboBox::signalLineEditTextChanged);
    QSignalSpy finished(&box, &VxComboBox::signalLineEditEditingFinished);
    QLineEdit *edit = box.innerComboBox()->lineEdit();

    // Plain form: typeable, only current-text changes are forwarded.
    QVERIFY(!edit->isReadOnly());
    edit->setText(QStringLiteral("5"));
    QCOMPARE(typed.count(), 0);
    QCOMPARE(finished.count(), 1);

    box.setEditable(true);
    box.setEditable(true); // a second call must not double the forwarding
    edit->setText(QStringLiteral("7"));
    QCOMPARE(typed.count(), 1);
    QCOMPARE(typed.at(0).at(0).toString(), QStringLiteral("7"));
    QCOMPARE(finished.count(), 2);
    QVERIFY(box.findChild<QWidget *>(QStringLiteral("comboBoxWidget"))->styleSheet().contains(
        QStringLiteral("#D7E7EE")));

    box.setEditable(false);
    QVERIFY(edit->isReadOnly());
    edit->setText(QStringLiteral("8"));
    QCOMPARE(typed.count(), 1);
}

void TestSettingItems::comboListOpensFromReadOnlyTextWithHalo()
{
    SettingBaseWithComboBox item("afk_mode");
    item.addItem(QStringLiteral("band_stop"));
    item.addItem(QStringLiteral("band_pass"));
    item.show();
    QVERIFY(QTest::qWaitForWindowExposed(&item));
    VXComboBoxBase *combo = item.findChild<VXComboBoxBase *>();
    QWidget *halo = item.findChild<QWidget *>(QStringLiteral("comboBoxWidget"));
    QSignalSpy shown(combo, &VXComboBoxBase::popupShown);
    QSignalSpy hidden(combo, &VXComboBoxBase::popupHidden);

    QTest::mouseClick(combo->lineEdit(), Qt::LeftButton);
    QCOMPARE(shown.count(), 1);
    QTRY_VERIFY(halo->styleSheet().contains(QStringLiteral("#D7E7EE")));
    QVERIFY(combo->styleSheet().contains(QStringLiteral("color: #004B6A;")));

    combo->hidePopup();
    QCOMPARE(hidden.count(), 1);
    QVERIFY(halo->styleSheet().startsWith(QStringLiteral("border: 2px solid transparent;")));
    QVERIFY(combo->styleSheet().contains(QStringLiteral("color: #A7A7A7;")));
    QCOMPARE(combo->currentIndex(), 0);

    // Opened and closed again before the event loop turns: the late halo
    // update must not light up a closed box.
    combo->showPopup();
    combo->hidePopup();
    QTest::qWait(20);
    QVERIFY(halo->styleSheet().startsWith(QStringLiteral("border: 2px solid transparent;")));
    QVERIFY(combo->styleSheet().contains(QStringLiteral("color: #A7A7A7;")));

    // An empty list opens nothing, so nothing may look open.
    SettingBaseWithComboBox empty("afk_mode");
    empty.show();
    QVERIFY(QTest::qWaitForWindowExposed(&empty));
    VXComboBoxBase *emptyCombo = empty.findChild<VXComboBoxBase *>();
    QSignalSpy emptyShown(emptyCombo, &VXComboBoxBase::popupShown);
    QTest::mouseClick(emptyCombo->lineEdit(), Qt::LeftButton);
    QCOMPARE(emptyShown.count(), 1);
    QTest::qWait(20);
    QVERIFY(empty.findChild<QWidget *>(QStringLiteral("comboBoxWidget"))
                ->styleSheet().startsWith(QStringLiteral("border: 2px solid transparent;")));
}

void TestSettingItems::comboListStaysOpenAfterTheClickOnItsText()
{
    // Clicks go through the window, as the platform delivers them: an open
    // list takes the mouse, so the release of the click that opened it goes
    // to the list, not to the text.
    SettingBaseWithComboBox item("afk_mode");
    item.addItem(QStringLiteral("band_stop"));
    item.addItem(QStringLiteral("band_pass"));
    item.show();
    QVERIFY(QTest::qWaitForWindowExposed(&item));
    VXComboBoxBase *combo = item.findChild<VXComboBoxBase *>();
    QWindow *window = item.windowHandle();
    const QPoint text = combo->lineEdit()->mapTo(&item, combo->lineEdit()->rect().center());

    QTest::mousePress(window, Qt::LeftButton, {}, text);
    QTest::mouseRelease(window, Qt::LeftButton, {}, text);
    QTRY_VERIFY(combo->view()->isVisible());
    QTest::qWait(50);
    QVERIFY(combo->view()->isVisible());

    // A click on the text of the open list closes it, and it stays closed.
    QTest::mousePress(window, Qt::LeftButton, {}, text);
    QTest::mouseRelease(window, Qt::LeftButton, {}, text);
    QTest::qWait(50);
    QVERIFY(!combo->view()->isVisible());
    QCOMPARE(combo->currentIndex(), 0);
}

void TestSettingItems::sliderClickJumpsOnce()
{
    VxSlider slider(Qt::Horizontal);
    slider.setRange(0, 100);
    slider.resize(210, 20);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    slider.setValue(10);
    QSignalSpy moved(&slider, &QSlider::valueChanged);
    QSignalSpy clicked(&slider, &VxSlider::trackClicked);

    QStyleOptionSlider opt;
    opt.initFrom(&slider);
    opt.orientation = Qt::Horizontal;
    opt.minimum = 0;
    opt.maximum = 100;
    opt.sliderPosition = opt.sliderValue = 10;
    const int handle = slider.style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, &slider).width();
    // The click position whose computed value is 75.
    const double x = handle * 0.5 + 0.75 * (slider.width() - handle) + 0.01;
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(qRound(x + 0.49), 10));

    QCOMPARE(clicked.count(), 1);
    QVERIFY(qAbs(clicked.at(0).at(0).toInt() - 75) <= 1);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(slider.value(), clicked.at(0).at(0).toInt());

    // The right button pages as a plain slider would, without jumping.
    clicked.clear();
    QTest::mouseClick(&slider, Qt::RightButton, Qt::NoModifier, QPoint(5, 10));
    QCOMPARE(clicked.count(), 0);
}

void TestSettingItems::destroyingFocusedFieldsIsSafe()
{
    // A focused field signals editingFinished while its window is being
    // destroyed; the handlers must not run on the half-destroyed owner
    // (caught by the sanitizer builds).
    auto *item = new SettingBaseWithLineEdit("bias_fo");
    item->setRange(0, 255);
    item->show();
    QVERIFY(QTest::qWaitForWindowExposed(item));
    valueField(item)->setFocus();
    QTRY_VERIFY(valueField(item)->hasFocus());
    QTest::keyClicks(valueField(item), QStringLiteral("12"));
    delete item;

    auto *combo = new VxComboBox;
    combo->setEditable(true);
    combo->show();
    QVERIFY(QTest::qWaitForWindowExposed(combo));
    QLineEdit *edit = combo->innerComboBox()->lineEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClicks(edit, QStringLiteral("x"));
    delete combo;
}

void TestSettingItems::boxStartsCollapsedAndFolds()
{
    SettingItemBox box;
    box.setTitle(QStringLiteral("Biases"));
    auto *item = new SettingBaseWithSwitchButton("bias_en");
    box.addItem(item);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));

    QWidget *container = box.findChild<QWidget *>(QStringLiteral("widget_container"));
    QWidget *title = box.findChild<QWidget *>(QStringLiteral("widget_setting_box_title"));
    auto *fold = box.findChild<QPushButton *>(QStringLiteral("pb_fold"));
    QCOMPARE(item->parentWidget(), container);
    QVERIFY(fold->isChecked());
    QVERIFY(!container->isVisible());
    QVERIFY(title->styleSheet().contains(QStringLiteral("border-left: 0px solid #004B6A;")));
    QVERIFY(title->styleSheet().contains(QStringLiteral("background: #F4F5F7;")));
    QCOMPARE(title->height(), 30);

    // Collapsed shows the down arrow, expanded the up arrow.
    const QIcon icon = fold->icon();
    const QSize s(30, 30);
    const QImage down = QIcon(QStringLiteral(":/img/assets/bnt_arrow_down.svg")).pixmap(s).toImage();
    const QImage up = QIcon(QStringLiteral(":/img/assets/bnt_arrow_up_Pressed.svg")).pixmap(s).toImage();
    QVERIFY(!down.isNull() && down != up);
    QCOMPARE(icon.pixmap(s, QIcon::Normal, QIcon::On).toImage(), down);
    QCOMPARE(icon.pixmap(s, QIcon::Normal, QIcon::Off).toImage(), up);
    QCOMPARE(icon.pixmap(s, QIcon::Active, QIcon::On).toImage(), up);

    fold->click();
    QVERIFY(!fold->isChecked());
    QVERIFY(container->isVisible());
    QVERIFY(title->styleSheet().contains(QStringLiteral("border-left: 2px solid #004B6A;")));
    QVERIFY(title->styleSheet().contains(QStringLiteral("background: #E1E9ED;")));
    // Only the edited properties change; the hover rule survives.
    QVERIFY(title->styleSheet().contains(QStringLiteral(":hover")));

    // A click on the title bar (not on the arrow) folds and unfolds too.
    QWidget *label = box.findChild<QWidget *>(QStringLiteral("lb_setting_box_title_text"));
    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(fold->isChecked());
    QVERIFY(!container->isVisible());
    QTest::mouseClick(title, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!fold->isChecked());
    QVERIFY(container->isVisible());
    QTest::mouseClick(title, Qt::RightButton, {}, QPoint(5, 5));
    QVERIFY(!fold->isChecked());

    box.setFold(true);
    QVERIFY(fold->isChecked());
    QVERIFY(!container->isVisible());
    QVERIFY(title->styleSheet().contains(QStringLiteral("border-left: 0px solid #004B6A;")));

    auto *first = new SettingBaseWithSwitchButton("bias_first");
    box.insertItem(first, 0);
    auto *layout = qobject_cast<QVBoxLayout *>(container->layout());
    QCOMPARE(layout->itemAt(0)->widget(), first);
}

void TestSettingItems::longTextsDoNotWidenItems()
{
    // Names, units and options come from the camera; none may push a side
    // panel wider than its 300 px.
    const std::string longName = "photoreceptor_low_pass_cutoff_frequency_adjustment_for_dark_scenes";
    SettingBaseWithLineEdit slider(longName);
    slider.setUnit("thousand events per second");
    SettingBaseWithSwitchButton toggle(longName);
    SettingBaseWithComboBox combo(longName);
    combo.addItem(QString(120, QLatin1Char('m')));
    combo.addItem(QStringLiteral("short"));
    for (QWidget *item : {static_cast<QWidget *>(&slider), static_cast<QWidget *>(&toggle),
                          static_cast<QWidget *>(&combo)})
        QVERIFY2(item->minimumSizeHint().width() < 280, item->metaObject()->className());

    // The chosen option reads from its start.
    combo.resize(250, combo.sizeHint().height());
    combo.show();
    QCOMPARE(combo.findChild<VXComboBoxBase *>()->lineEdit()->cursorPosition(), 0);

    // A short unit leaves the rest of the row to the name.
    SettingBaseWithLineEdit narrow("high_frequency");
    narrow.setUnit("Hz");
    narrow.resize(270, narrow.sizeHint().height());
    narrow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&narrow));
    auto *name = narrow.findChild<QLabel *>(QStringLiteral("lb_set_item_name"));
    auto *unit = narrow.findChild<QLabel *>(QStringLiteral("lb_unit"));
    QVERIFY(name->width() >= name->fontMetrics().horizontalAdvance(name->text()));
    QVERIFY(unit->width() >= unit->fontMetrics().horizontalAdvance(unit->text()));
}

QTEST_MAIN(TestSettingItems)
#include "tst_settingitems.moc"
