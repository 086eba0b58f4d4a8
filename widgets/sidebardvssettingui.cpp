#include "widgets/sidebardvssettingui.h"

#include "ui_sidebardvssettingui.h"

#include "camera/cameratool.h"
#include "camera/dvscamera.h"
#include "camera/parameterinfo.h"
#include "camera/tooltype.h"
#include "widgets/settingbasewithcombobox.h"
#include "widgets/settingbasewithlineedit.h"
#include "widgets/settingbasewithswitchbutton.h"
#include "widgets/settingitembox.h"
#include "widgets/vxstyle.h"

#include <QDebug>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace {

constexpr int kAllSections = -1;
constexpr int kNoSection = -2;

// How a section starts its items of one value type.
enum class Initial {
    Skip,       // parameters of this type are left out
    Zero,       // 0, or the nearer end of the range
    FromInfo,   // the value in the parameter info
    Off,        // switches start off
    FromCamera, // the value the camera holds now
};

// Where an item goes in its section: appended, or at a fixed position.
enum Place { Append = -1, First = 0, Second = 1 };

using IntSlot = void (SidebarDvsSettingUI::*)(std::string, int);
using BoolSlot = void (SidebarDvsSettingUI::*)(std::string, bool);
using EnumSlot = void (SidebarDvsSettingUI::*)(std::string, std::string);

struct SectionSpec {
    vexadin::ToolType type;
    const char *title;
    const char *noToolLine;
    const char *noParametersLine;
    Initial ints;
    bool floats; // on whole numbers
    Initial bools;
    Place boolPlace;
    bool enums;
    Place enumPlace;
    IntSlot intSlot; // null: the ROI check callback writes instead
    BoolSlot boolSlot;
    EnumSlot enumSlot;
};

const SectionSpec &specOf(int section)
{
    using P = SidebarDvsSettingUI;
    static const SectionSpec specs[P::SectionCount] = {
        {vexadin::TOOL_BIASES, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Biases"), "Camera tool is null .",
         "camera biases is null .", Initial::Zero, false, Initial::Skip, Append, false, Append,
         &P::onBiasSliderValueChanged, nullptr, nullptr},
        {vexadin::TOOL_TRIGGER_IN, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Trigger In"), "camera device is null .",
         "camera trigger is null .", Initial::Skip, false, Initial::FromInfo, Append, false, Append, nullptr,
         &P::onTriggerInSliderValueChanged, nullptr},
        {vexadin::TOOL_ANTI_FLICKER, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Anti Flicker"),
         "camera device is null .", "camera anti flicker is null .", Initial::FromInfo, true, Initial::Off, First,
         true, Second, qOverload<std::string, int>(&P::onAntiFlickerSliderValueChanged),
         qOverload<std::string, bool>(&P::onAntiFlickerSliderValueChanged), &P::onAntiFlickerSliderEnumValueChanged},
        {vexadin::TOOL_EVENT_RATE_CONTROL, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Event Rate Control"),
         "camera device is null .", "camera event rate control is null .", Initial::FromInfo, false, Initial::Off,
         Append, false, Append, qOverload<std::string, int>(&P::onEventRateControlSliderValueChanged),
         qOverload<std::string, bool>(&P::onEventRateControlSliderValueChanged), nullptr},
        {vexadin::TOOL_EVENT_TRAIL_FILTER, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "Event Trail Filter"),
         "camera device is null .", "camera event trail filter is null .", Initial::FromInfo, false, Initial::Off,
         Append, true, Append, qOverload<std::string, int>(&P::onEventTrailFilterSliderValueChanged),
         qOverload<std::string, bool>(&P::onEventTrailFilterSliderValueChanged),
         qOverload<std::string, std::string>(&P::onEventTrailFilterSliderValueChanged)},
        {vexadin::TOOL_ROI, QT_TRANSLATE_NOOP("SidebarDvsSettingUI", "ROI"), "camera device is null .",
         "camera roi is null .", Initial::FromCamera, false, Initial::FromCamera, Append, false, Append, nullptr,
         qOverload<std::string, bool>(&P::onROISliderValueChanged), nullptr},
    };
    return specs[section];
}

int sectionOf(vexadin::ToolType type)
{
    for (int s = 0; s < SidebarDvsSettingUI::SectionCount; ++s) {
        if (specOf(s).type == type)
            return s;
    }
    return kNoSection;
}

// Float limits are edited on whole numbers: truncated toward zero, and kept
// inside int so that a huge or non-finite limit cannot overflow the cast.
int truncateToInt(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= float(INT_MAX))
        return INT_MAX;
    if (value <= float(INT_MIN))
        return INT_MIN;
    return int(value);
}

// The panel's value signal of this type reaches the item while `takes` allows it.
template <typename Value, typename Item>
void connectValues(SidebarDvsSettingUI *panel, Item *item, std::function<bool()> takes)
{
    QObject::connect(panel, qOverload<std::string, Value>(&SidebarDvsSettingUI::signalSetValue), item,
                     [item, takes = std::move(takes)](std::string name, Value value) {
                         if (takes())
                             item->slotItemValueChanged(std::move(name), value);
                     });
}

} // namespace

SidebarDvsSettingUI::SidebarDvsSettingUI(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SidebarDvsSettingUI)
    , m_refreshingSection(kAllSections)
{
    ui->setupUi(this);
    m_configBar = buildConfigBar();
}

SidebarDvsSettingUI::~SidebarDvsSettingUI()
{
    delete ui;
}

QWidget *SidebarDvsSettingUI::buildConfigBar()
{
    auto *bar = new QWidget(ui->scroll_area_content);
    bar->setObjectName(QStringLiteral("widget_config_bar"));
    bar->setStyleSheet(kVxPanelButtonStyle);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(8);
    layout->addStretch();
    const struct {
        const char *objectName;
        QString text;
        void (SidebarDvsSettingUI::*slot)();
    } buttons[] = {
        {"pb_refresh_config", tr("Refresh"), &SidebarDvsSettingUI::slotRefreshConfig},
        {"pb_load_config", tr("Load"), &SidebarDvsSettingUI::slotLoadConfig},
        {"pb_export_config", tr("Export"), &SidebarDvsSettingUI::slotExportConfig},
    };
    for (const auto &b : buttons) {
        auto *button = new QPushButton(b.text, bar);
        button->setObjectName(QLatin1String(b.objectName));
        button->setFixedSize(60, 20);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, b.slot);
        layout->addWidget(button);
    }
    // Shown only by setCamera().
    bar->hide();
    return bar;
}

void SidebarDvsSettingUI::setBiasesToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(Biases, std::move(tool));
}

void SidebarDvsSettingUI::setTriggerInToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(TriggerIn, std::move(tool));
}

void SidebarDvsSettingUI::setAntiFlickerToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(AntiFlicker, std::move(tool));
}

void SidebarDvsSettingUI::setEventRateControlToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(EventRateControl, std::move(tool));
}

void SidebarDvsSettingUI::setEventTrailFilterToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(EventTrailFilter, std::move(tool));
}

void SidebarDvsSettingUI::setROIToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    buildSection(Roi, std::move(tool));
}

void SidebarDvsSettingUI::removeSection(Section section)
{
    SettingItemBox *&box = m_sections[section].box;
    if (section == Roi)
        m_roiValueItems.clear();
    if (!box)
        return;
    ui->verticalLayout_content->removeWidget(box);
    delete box;
    box = nullptr;
    ui->verticalLayout_content->update();
}

void SidebarDvsSettingUI::buildSection(Section section, std::shared_ptr<vexadin::CameraTool> tool)
{
    const SectionSpec &spec = specOf(section);
    removeSection(section);
    if (!tool) {
        qDebug() << spec.noToolLine;
        return;
    }
    m_sections[section].tool = tool;
    const std::map<std::string, vexadin::BasicParameterInfo> parameters = tool->getParameters();
    if (parameters.empty()) {
        qDebug() << spec.noParametersLine;
        return;
    }

    auto *box = new SettingItemBox(ui->scroll_area_content);
    box->setTitle(tr(spec.title));
    int itemCount = 0;
    for (const auto &[name, description] : parameters) {
        const QString tip = QString::fromStdString(description.description);
        QWidget *item = nullptr;
        Place place = Append;
        switch (description.type) {
        case vexadin::PARAM_INT:
            item = createIntItem(section, box, name, tip);
            break;
        case vexadin::PARAM_FLOAT:
            item = createFloatItem(section, box, name, tip);
            break;
        case vexadin::PARAM_BOOL:
            item = createBoolItem(section, box, name, tip);
            place = spec.boolPlace;
            break;
        case vexadin::PARAM_ENUM:
            item = createEnumItem(section, box, name, tip);
            place = spec.enumPlace;
            break;
        default:
            break;
        }
        if (!item)
            continue;
        if (place == Append)
            box->addItem(item);
        else
            box->insertItem(item, std::min<int>(place, itemCount)); // a fixed slot past the end appends
        ++itemCount;
    }

    box->setFold(true);
    m_sections[section].box = box;
    insertAboveStretch(box);
}

QWidget *SidebarDvsSettingUI::createIntItem(Section section, SettingItemBox *box, const std::string &name,
                                            const QString &tip)
{
    const SectionSpec &spec = specOf(section);
    const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[section].tool;
    vexadin::IntParameterInfo info;
    if (spec.ints == Initial::Skip || !tool->getIntParamInfo(name, info))
        return nullptr;

    auto *item = new SettingBaseWithLineEdit(name, box);
    item->setItemToolTip(tip);
    item->setRange(info.min, info.max);
    int initial = info.value;
    if (spec.ints == Initial::Zero) {
        // A range without 0 starts at its nearer end rather than at an empty field.
        initial = info.min <= info.max ? std::clamp(0, info.min, info.max) : 0;
    } else if (spec.ints == Initial::FromCamera) {
        initial = 0;
        tool->getIntValue(name, initial);
    }
    item->setValue(initial);
    item->setUnit(info.unit);

    // Connected only now, so that building writes nothing to the camera.
    if (spec.intSlot) {
        connect(item, &SettingBaseWithLineEdit::signalItemValueChanged, this, spec.intSlot);
    } else {
        // The check callback replaces the connection: the camera sees each
        // change once, and its answer colours every field of the window.
        item->setValueCallback(
            [this](std::string itemName, int value) { return checkRoiValue(itemName, value); });
        m_roiValueItems.append(item);
    }
    connectValues<int>(this, item, [this, section] { return takesValues(section); });
    return item;
}

QWidget *SidebarDvsSettingUI::createFloatItem(Section section, SettingItemBox *box, const std::string &name,
                                              const QString &tip)
{
    vexadin::FloatParameterInfo info;
    if (!specOf(section).floats || !m_sections[section].tool->getFloatParamInfo(name, info))
        return nullptr;

    auto *item = new SettingBaseWithLineEdit(name, box);
    item->setItemToolTip(tip);
    item->setRange(truncateToInt(info.min), truncateToInt(info.max));
    item->setValue(truncateToInt(info.value));
    item->setUnit(info.unit);
    connect(item, &SettingBaseWithLineEdit::signalItemValueChanged, this,
            &SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged);
    connectValues<float>(this, item, [this, section] { return takesValues(section); });
    return item;
}

QWidget *SidebarDvsSettingUI::createBoolItem(Section section, SettingItemBox *box, const std::string &name,
                                             const QString &tip)
{
    const SectionSpec &spec = specOf(section);
    const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[section].tool;
    vexadin::BoolParameterInfo info;
    if (spec.bools == Initial::Skip || !tool->getBoolParamInfo(name, info))
        return nullptr;

    auto *item = new SettingBaseWithSwitchButton(name, box);
    item->setItemToolTip(tip);
    bool on = false;
    if (spec.bools == Initial::FromInfo)
        on = info.value;
    else if (spec.bools == Initial::FromCamera)
        tool->getBoolValue(name, on);
    item->setChecked(on);
    connect(item, &SettingBaseWithSwitchButton::signalItemValueChanged, this, spec.boolSlot);
    connectValues<bool>(this, item, [this, section] { return takesValues(section); });
    return item;
}

QWidget *SidebarDvsSettingUI::createEnumItem(Section section, SettingItemBox *box, const std::string &name,
                                             const QString &tip)
{
    const SectionSpec &spec = specOf(section);
    vexadin::EnumParameterInfo info;
    if (!spec.enums || !m_sections[section].tool->getEnumParamInfo(name, info))
        return nullptr;

    auto *item = new SettingBaseWithComboBox(name, box);
    item->setItemToolTip(tip);
    for (const std::string &option : info.options)
        item->addItem(QString::fromStdString(option));
    connect(item, &SettingBaseWithComboBox::signalItemValueChanged, this, spec.enumSlot);
    connectValues<std::string>(this, item, [this, section] { return takesValues(section); });
    return item;
}

bool SidebarDvsSettingUI::checkRoiValue(const std::string &name, int value)
{
    const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[Roi].tool;
    const bool accepted = tool && tool->setIntValue(name, value);
    for (SettingBaseWithLineEdit *item : std::as_const(m_roiValueItems))
        item->setValid(accepted);
    return accepted;
}

bool SidebarDvsSettingUI::takesValues(Section section) const
{
    return m_refreshingSection == kAllSections || m_refreshingSection == section;
}

void SidebarDvsSettingUI::insertAboveStretch(QWidget *w)
{
    QVBoxLayout *layout = ui->verticalLayout_content;
    // Moving a widget that is already in the column (the bar of an earlier
    // camera) must not leave a second entry behind.
    if (layout->indexOf(w) >= 0)
        layout->removeWidget(w);
    layout->insertWidget(std::max(0, layout->count() - 1), w);
    if (layout->count() == 0 || !layout->itemAt(layout->count() - 1)->spacerItem())
        layout->addStretch(1);
    w->show();
    update();
}

void SidebarDvsSettingUI::setCamera(std::shared_ptr<vexadin::DvsCamera> camera)
{
    insertAboveStretch(m_configBar);
    m_camera = std::move(camera);
}

void SidebarDvsSettingUI::clearToolUI()
{
    // Out of the layout is not out of sight: the bar would stay drawn where it was.
    ui->verticalLayout_content->removeWidget(m_configBar);
    m_configBar->hide();
    // The window releases the camera when a recording opens; a handle kept here
    // would keep it open (and streaming) behind the window's back. Nothing can
    // reach it without the bar anyway, and the next setCamera brings one.
    m_camera.reset();
    setBiasesToolUI(nullptr);
    setTriggerInToolUI(nullptr);
    setAntiFlickerToolUI(nullptr);
    setEventRateControlToolUI(nullptr);
    setEventTrailFilterToolUI(nullptr);
    setROIToolUI(nullptr);
}

void SidebarDvsSettingUI::writeInt(Section section, const std::string &name, int value)
{
    if (const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[section].tool)
        tool->setIntValue(name, value);
}

void SidebarDvsSettingUI::writeBool(Section section, const std::string &name, bool value)
{
    if (const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[section].tool)
        tool->setBoolValue(name, value);
}

void SidebarDvsSettingUI::writeEnum(Section section, const std::string &name, const std::string &value)
{
    if (const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[section].tool)
        tool->setEnumValue(name, value);
}

void SidebarDvsSettingUI::onBiasSliderValueChanged(std::string name, int value)
{
    writeInt(Biases, name, value);
}

void SidebarDvsSettingUI::onTriggerInSliderValueChanged(std::string name, bool value)
{
    writeBool(TriggerIn, name, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, int value)
{
    writeInt(AntiFlicker, name, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, bool value)
{
    writeBool(AntiFlicker, name, value);
}

void SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged(std::string name, int value)
{
    if (const std::shared_ptr<vexadin::CameraTool> &tool = m_sections[AntiFlicker].tool)
        tool->setFloatValue(name, float(value));
}

void SidebarDvsSettingUI::onAntiFlickerSliderEnumValueChanged(std::string name, std::string value)
{
    writeEnum(AntiFlicker, name, value);
}

void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, int value)
{
    writeInt(EventRateControl, name, value);
}

void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, bool value)
{
    writeBool(EventRateControl, name, value);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, int value)
{
    writeInt(EventTrailFilter, name, value);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, bool en)
{
    writeBool(EventTrailFilter, name, en);
}

void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, std::string value)
{
    writeEnum(EventTrailFilter, name, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, int value)
{
    writeInt(Roi, name, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, bool value)
{
    writeBool(Roi, name, value);
}

void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, std::string value)
{
    writeEnum(Roi, name, value);
}

void SidebarDvsSettingUI::slotCumulativeTimeChanged(uint64_t time_us)
{
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarDvsSettingUI::slotFpsChanged(uint32_t fps)
{
    emit signalFpsChanged(fps);
}

void SidebarDvsSettingUI::slotRefreshConfig()
{
    if (m_camera) {
        for (const vexadin::ToolInfo &toolInfo : m_camera->getAllToolsInfo()) {
            const std::shared_ptr<vexadin::CameraTool> tool = m_camera->getTool(toolInfo.type);
            if (!tool)
                continue;
            // Tools share parameter names ("enable"): a value read from one tool
            // is for the items of its own section only.
            m_refreshingSection = sectionOf(toolInfo.type);
            for (const auto &[name, description] : tool->getParameters()) {
                switch (description.type) {
                case vexadin::PARAM_INT: {
                    int value = 0;
                    tool->getIntValue(name, value);
                    emit signalSetValue(name, value);
                    break;
                }
                case vexadin::PARAM_FLOAT: {
                    float value = 0.0f;
                    tool->getFloatValue(name, value);
                    emit signalSetValue(name, value);
                    break;
                }
                case vexadin::PARAM_BOOL: {
                    bool value = false;
                    tool->getBoolValue(name, value);
                    emit signalSetValue(name, value);
                    break;
                }
                case vexadin::PARAM_ENUM: {
                    std::string value;
                    tool->getEnumValue(name, value);
                    emit signalSetValue(name, value);
                    break;
                }
                default:
                    break;
                }
            }
        }
        m_refreshingSection = kAllSections;
    }
    update();
}

QString SidebarDvsSettingUI::chooseExportPath()
{
    return QFileDialog::getSaveFileName(nullptr, tr("Select a JSON file"), QString(), tr("Json file (*.json)"));
}

QString SidebarDvsSettingUI::chooseLoadPath()
{
    return QFileDialog::getOpenFileName(nullptr, tr("Select a JSON file"), QString(), tr("Json file (*.json)"));
}

void SidebarDvsSettingUI::slotExportConfig()
{
    const QString path = chooseExportPath();
    if (path.isEmpty())
        return;
    if (m_camera && m_camera->exportCameraConfigParams(path.toLocal8Bit().toStdString())) {
        emit signalShowLeftBottomTips(tr("Camera parameters exported successfully."), VxMessageType::Success,
                                      QString());
        return;
    }
    emit signalShowLeftBottomTips(tr("Failed to export camera parameters."), VxMessageType::Error, QString());
}

void SidebarDvsSettingUI::slotLoadConfig()
{
    const QString path = chooseLoadPath();
    if (path.isEmpty())
        return;
    if (m_camera && m_camera->loadCameraConfigParams(path.toLocal8Bit().toStdString())) {
        // The items show what the camera holds now.
        slotRefreshConfig();
        emit signalShowLeftBottomTips(tr("Camera parameters loaded successfully."), VxMessageType::Success,
                                      QString());
        return;
    }
    emit signalShowLeftBottomTips(tr("Failed to load camera parameters."), VxMessageType::Error, QString());
}

void SidebarDvsSettingUI::slotDefaultConfig()
{
}
