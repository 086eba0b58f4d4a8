#include "camera/cameratool.h"
#include "camera/dvscameramanager.h"
#include "camera/fusioncamera.h"
#include "driver/cameratesthooks.h"
#include "ui/showcamerainfoui.h"
#include "widgets/parameternames.h"
#include "widgets/settingbasewithlineedit.h"
#include "widgets/settingbasewithswitchbutton.h"
#include "widgets/settingitembox.h"
#include "widgets/sidebarapssettingui.h"
#include "widgets/vxtooltip.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <map>
#include <memory>

#include "support/qtesttime.h"

using namespace vexadin;

namespace {

const std::string kOmnira = "VXSIM-OMNIRA-0001";

// The camera's own APS tool, with the writes that reach it counted.
class CountingTool : public CameraTool
{
public:
    explicit CountingTool(std::shared_ptr<CameraTool> tool) : tool_(std::move(tool)) {}

    std::map<std::string, int> writes;

    std::map<std::string, BasicParameterInfo> getParameters() override { return tool_->getParameters(); }
    bool getEnumParamInfo(const std::string &n, EnumParameterInfo &i) override { return tool_->getEnumParamInfo(n, i); }
    bool getBoolParamInfo(const std::string &n, BoolParameterInfo &i) override { return tool_->getBoolParamInfo(n, i); }
    bool getFloatParamInfo(const std::string &n, FloatParameterInfo &i) override
    {
        return tool_->getFloatParamInfo(n, i);
    }
    bool getIntParamInfo(const std::string &n, IntParameterInfo &i) override { return tool_->getIntParamInfo(n, i); }
    bool getEnumValue(const std::string &n, std::string &v) override { return tool_->getEnumValue(n, v); }
    bool getBoolValue(const std::string &n, bool &v) override { return tool_->getBoolValue(n, v); }
    bool getFloatValue(const std::string &n, float &v) override { return tool_->getFloatValue(n, v); }
    bool getIntValue(const std::string &n, int &v) override { return tool_->getIntValue(n, v); }
    bool setEnumValue(const std::string &n, const std::string &v) override { return ++writes[n], tool_->setEnumValue(n, v); }
    bool setBoolValue(const std::string &n, bool v) override { return ++writes[n], tool_->setBoolValue(n, v); }
    bool setFloatValue(const std::string &n, float v) override { return ++writes[n], tool_->setFloatValue(n, v); }
    bool setIntValue(const std::string &n, int v) override { return ++writes[n], tool_->setIntValue(n, v); }

private:
    std::shared_ptr<CameraTool> tool_;
};

QString labelOf(const QWidget *item)
{
    for (const char *name : {"lb_set_item_name", "lb_item_name"})
        if (auto *label = item->findChild<QLabel *>(QLatin1String(name)))
            return label->text();
    return {};
}

template <typename Item>
Item *itemNamed(const QWidget *parent, const QString &parameter)
{
    for (Item *item : parent->findChildren<Item *>())
        if (toParameterName(labelOf(item)) == parameter)
            return item;
    return nullptr;
}

QString toolTipOf(const QWidget *item)
{
    const auto tips = item->findChildren<VxToolTip *>();
    return tips.isEmpty() ? QString() : tips.first()->text();
}

QString fieldText(const SettingBaseWithLineEdit *item)
{
    return item->findChild<QLineEdit *>(QStringLiteral("le_vx_line_edit"))->text();
}

QVBoxLayout *contentLayout(const SidebarApsSettingUI &panel)
{
    auto *area = panel.findChild<QScrollArea *>(QStringLiteral("scroll_area_setting"));
    return qobject_cast<QVBoxLayout *>(area->widget()->layout());
}

// The sections in layout order, and whether the column still ends with its stretch.
QList<SettingItemBox *> sections(const SidebarApsSettingUI &panel, bool *endsWithStretch)
{
    QVBoxLayout *layout = contentLayout(panel);
    QList<SettingItemBox *> boxes;
    for (int i = 0; i < layout->count(); ++i)
        if (auto *box = qobject_cast<SettingItemBox *>(layout->itemAt(i)->widget()))
            boxes << box;
    *endsWithStretch = layout->count() > 0 && layout->itemAt(layout->count() - 1)->spacerItem();
    return boxes;
}

} // namespace

class TstFusionSettingUi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void apsSectionFollowsTheTool();
    void apsChangesReachTheToolOnce();
    void manualCalibrationSendsBothOffsets();
    void resetEmptiesThePanel();
    void cameraInfoShowsTheFusionCamera();

private:
    std::shared_ptr<FusionCamera> openOmnira();

    std::unique_ptr<DvsCameraManager> m_manager;
};

void TstFusionSettingUi::initTestCase()
{
    // Only the tools are used; a small frame sensor keeps the camera cheap.
    qputenv("VEXADIN_FUSION_FRAME_SIZE", "64x36");
    qputenv("VEXADIN_FUSION_FPS", "5");
    m_manager = std::make_unique<DvsCameraManager>();
}

std::shared_ptr<FusionCamera> TstFusionSettingUi::openOmnira()
{
    return m_manager->openFusionCamera(kOmnira);
}

void TstFusionSettingUi::apsSectionFollowsTheTool()
{
    auto camera = openOmnira();
    QVERIFY(camera);
    std::shared_ptr<CameraTool> tool = camera->getTool(TOOL_APS);
    QVERIFY(tool);
    const auto parameters = tool->getParameters();
    QVERIFY(!parameters.empty());

    SidebarApsSettingUI panel;
    bool stretch = false;
    QVERIFY(sections(panel, &stretch).isEmpty());
    QVERIFY(stretch);

    panel.setApsToolUI(tool);
    SettingItemBox *box = panel.apsBox();
    QVERIFY(box);
    QCOMPARE(sections(panel, &stretch), QList<SettingItemBox *>{box});
    QVERIFY(stretch);
    QVERIFY(box->findChild<QPushButton *>(QStringLiteral("pb_fold"))->isChecked()); // collapsed
    QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lb_setting_box_title_text"))->text(), QString("APS"));

    int built = 0;
    for (const auto &[name, description] : parameters) {
        const QString parameter = QString::fromStdString(name);
        const QString tip = QString::fromStdString(description.description);
        if (description.type == PARAM_BOOL) {
            BoolParameterInfo info;
            QVERIFY(tool->getBoolParamInfo(name, info));
            auto *item = itemNamed<SettingBaseWithSwitchButton>(box, parameter);
            QVERIFY2(item, name.c_str());
            QCOMPARE(item->findChild<QPushButton *>(QStringLiteral("switchButton"))->isChecked(), info.value);
            QCOMPARE(toolTipOf(item), tip);
        } else if (description.type == PARAM_INT) {
            IntParameterInfo info;
            QVERIFY(tool->getIntParamInfo(name, info));
            auto *item = itemNamed<SettingBaseWithLineEdit>(box, parameter);
            QVERIFY2(item, name.c_str());
            QCOMPARE(fieldText(item), QString::number(info.value));
            QCOMPARE(item->findChild<QLabel *>(QStringLiteral("lb_unit"))->text(),
                     "(" + QString::fromStdString(info.unit) + ")");
            QCOMPARE(toolTipOf(item), tip);
        } else if (description.type == PARAM_FLOAT) {
            FloatParameterInfo info;
            QVERIFY(tool->getFloatParamInfo(name, info));
            auto *item = itemNamed<SettingBaseWithLineEdit>(box, parameter);
            QVERIFY2(item, name.c_str());
            QCOMPARE(fieldText(item), QString::number(int(info.value)));
            QCOMPARE(toolTipOf(item), tip);
        } else {
            continue;
        }
        ++built;
    }
    QVERIFY(built > 0);
    QCOMPARE(box->findChildren<SettingBaseWithLineEdit *>().size()
                 + box->findChildren<SettingBaseWithSwitchButton *>().size(),
             built);

    // A second camera's tool replaces the section instead of adding one.
    auto other = openOmnira();
    panel.setApsToolUI(other->getTool(TOOL_APS));
    QVERIFY(panel.apsBox() && panel.apsBox() != box);
    QCOMPARE(sections(panel, &stretch).size(), 1);
    QVERIFY(stretch);

    QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
    panel.setApsToolUI(nullptr);
    QVERIFY(!panel.apsBox());
    QVERIFY(sections(panel, &stretch).isEmpty());
}

void TstFusionSettingUi::apsChangesReachTheToolOnce()
{
    auto camera = openOmnira();
    QVERIFY(camera);
    std::shared_ptr<CameraTool> real = camera->getTool(TOOL_APS);
    auto counting = std::make_shared<CountingTool>(real);

    SidebarApsSettingUI panel;
    panel.setApsToolUI(counting);
    QVERIFY(counting->writes.empty()); // showing the values writes nothing back

    // Integer: one step of the plus button is one write of the new value.
    auto *exposure = itemNamed<SettingBaseWithLineEdit>(panel.apsBox(), "exposure_time");
    QVERIFY(exposure);
    int before = 0;
    QVERIFY(real->getIntValue("exposure_time", before));
    QTest::mouseClick(exposure->findChild<QPushButton *>(QStringLiteral("pb_sub_item_value")), Qt::LeftButton);
    QCOMPARE(counting->writes["exposure_time"], 1);
    int after = 0;
    QVERIFY(real->getIntValue("exposure_time", after));
    QCOMPARE(after, before - 1);

    // Float parameters are edited in whole numbers and written as floats.
    auto *gain = itemNamed<SettingBaseWithLineEdit>(panel.apsBox(), "analog_gain");
    QVERIFY(gain);
    gain->slotItemValueChanged(std::string("analog_gain"), 4);
    QCOMPARE(counting->writes["analog_gain"], 1);
    float gainValue = 0.0f;
    QVERIFY(real->getFloatValue("analog_gain", gainValue));
    QCOMPARE(gainValue, 4.0f);

    // Boolean: one click, one write.
    auto *autoExposure = itemNamed<SettingBaseWithSwitchButton>(panel.apsBox(), "auto_exposure");
    QVERIFY(autoExposure);
    bool was = false;
    QVERIFY(real->getBoolValue("auto_exposure", was));
    QTest::mouseClick(autoExposure->findChild<QPushButton *>(QStringLiteral("switchButton")), Qt::LeftButton);
    QCOMPARE(counting->writes["auto_exposure"], 1);
    bool now = was;
    QVERIFY(real->getBoolValue("auto_exposure", now));
    QCOMPARE(now, !was);

    // Nothing else was written along the way.
    int total = 0;
    for (const auto &entry : counting->writes)
        total += entry.second;
    QCOMPARE(total, 3);
}

void TstFusionSettingUi::manualCalibrationSendsBothOffsets()
{
    SidebarApsSettingUI panel;
    QSignalSpy offsets(&panel, &SidebarApsSettingUI::signalManualCaliOffsetXY);
    QSignalSpy apply(&panel, &SidebarApsSettingUI::signalApplyCaliOffset);
    panel.setManualCalibrationUI();
    QCOMPARE(offsets.count(), 0);
    SettingItemBox *box = panel.calibrationBox();
    QVERIFY(box);
    auto *x = itemNamed<SettingBaseWithLineEdit>(box, "offset_x");
    auto *y = itemNamed<SettingBaseWithLineEdit>(box, "offset_y");
    QVERIFY(x && y);
    QCOMPARE(labelOf(x), QString("Offset X"));
    QCOMPARE(fieldText(x), QString("0"));
    QCOMPARE(fieldText(y), QString("0"));
    QCOMPARE(toolTipOf(x), QString("Set aps offset x."));

    // Every change sends both current values.
    y->slotItemValueChanged(std::string("offset_y"), -3);
    x->slotItemValueChanged(std::string("offset_x"), 12);
    QCOMPARE(offsets.count(), 2);
    QCOMPARE(offsets.at(0), (QList<QVariant>{0.0, -3.0}));
    QCOMPARE(offsets.at(1), (QList<QVariant>{12.0, -3.0}));

    // Typed values beyond the range arrive at its end.
    auto *field = x->findChild<QLineEdit *>(QStringLiteral("le_vx_line_edit"));
    field->setText(QStringLiteral("250"));
    QCOMPARE(offsets.last(), (QList<QVariant>{100.0, -3.0}));
    field->setText(QStringLiteral("-250"));
    QCOMPARE(offsets.last(), (QList<QVariant>{-100.0, -3.0}));

    // "Apply" once per press, whatever the fields show; the fields stay.
    auto *button = box->findChild<QPushButton *>(QStringLiteral("pb_apply_offset"));
    QVERIFY(button);
    QCOMPARE(button->text(), QString("Apply"));
    const int sent = offsets.count();
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(apply.count(), 2);
    QCOMPARE(offsets.count(), sent);
    QCOMPARE(fieldText(x), QString("-100"));

    // A rebuilt section starts from 0 on both axes, silently, and sends what it shows.
    panel.setManualCalibrationUI();
    QCOMPARE(offsets.count(), sent);
    bool stretch = false;
    QCOMPARE(sections(panel, &stretch).size(), 1);
    QVERIFY(stretch);
    auto *newX = itemNamed<SettingBaseWithLineEdit>(panel.calibrationBox(), "offset_x");
    QCOMPARE(fieldText(newX), QString("0"));
    newX->slotItemValueChanged(std::string("offset_x"), 5);
    QCOMPARE(offsets.last(), (QList<QVariant>{5.0, 0.0}));
}

void TstFusionSettingUi::resetEmptiesThePanel()
{
    auto camera = openOmnira();
    QVERIFY(camera);
    SidebarApsSettingUI panel;
    QSignalSpy offsets(&panel, &SidebarApsSettingUI::signalManualCaliOffsetXY);
    panel.setApsToolUI(camera->getTool(TOOL_APS));
    panel.setManualCalibrationUI();
    bool stretch = false;
    QCOMPARE(sections(panel, &stretch), (QList<SettingItemBox *>{panel.apsBox(), panel.calibrationBox()}));
    itemNamed<SettingBaseWithLineEdit>(panel.calibrationBox(), "offset_y")->slotItemValueChanged(std::string("offset_y"), 7);
    QCOMPARE(offsets.count(), 1);

    QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
    panel.resetApsUI();
    QVERIFY(!panel.apsBox() && !panel.calibrationBox());
    QVERIFY(sections(panel, &stretch).isEmpty());
    QVERIFY(stretch);
    QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("lb_setting_ui"))->text(), QString("APS Setting"));
    QCOMPARE(offsets.count(), 1);

    panel.setManualCalibrationUI();
    itemNamed<SettingBaseWithLineEdit>(panel.calibrationBox(), "offset_x")->slotItemValueChanged(std::string("offset_x"), 1);
    QCOMPARE(offsets.last(), (QList<QVariant>{1.0, 0.0}));
}

void TstFusionSettingUi::cameraInfoShowsTheFusionCamera()
{
    auto camera = openOmnira();
    QVERIFY(camera);
    const CameraDescription description = camera->getDescription();
    QCOMPARE(description.product, std::string("Omnira"));

    const auto text = [](const ShowCameraInfoUI &dialog, const char *name) {
        return dialog.findChild<QLabel *>(QLatin1String(name))->text();
    };
    {
        ShowCameraInfoUI dialog(nullptr);
        dialog.setCameraInfo(description, camera->getFirmwareVersion());
        QCOMPARE(text(dialog, "lb_product"), QString("Omnira"));
        QCOMPARE(text(dialog, "lb_manufacturer"), QString::fromStdString(description.manufacturer));
        QVERIFY(!text(dialog, "lb_manufacturer").isEmpty());
        QCOMPARE(text(dialog, "lb_firm_ver"), QString("Omnira_V1.7.2"));
        QCOMPARE(text(dialog, "lb_serial"), QString::fromStdString(kOmnira));
    }

    // The firmware row shows the camera's text as it is, an empty one too.
    testhooks::setFusionFirmwareVersion("Omnira_V1.7.1");
    auto older = openOmnira();
    testhooks::setFusionFirmwareVersion("");
    QVERIFY(older);
    ShowCameraInfoUI dialog(nullptr);
    dialog.setCameraInfo(older->getDescription(), older->getFirmwareVersion());
    QCOMPARE(text(dialog, "lb_firm_ver"), QString("Omnira_V1.7.1"));
    dialog.setCameraInfo(older->getDescription(), std::string());
    QCOMPARE(text(dialog, "lb_firm_ver"), QString());

    // Both close buttons close it.
    for (const char *button : {"pb_close", "pb_win_close"}) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
        QTRY_VERIFY2(!dialog.isVisible(), button);
    }
}

QTEST_MAIN(TstFusionSettingUi)

#include "tst_fusionsettingui.moc"
