#include "widgets/sidebarapssettingui.h"

#include "ui_sidebarapssettingui.h"

#include "camera/cameratool.h"
#include "camera/parameterinfo.h"
#include "widgets/settingbasewithlineedit.h"
#include "widgets/settingbasewithswitchbutton.h"
#include "widgets/settingitembox.h"
#include "widgets/vxstyle.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace {

// The slider items hold ints; a float outside int's range (or NaN) would make
// the plain conversion undefined, so it is bounded first.
int truncateToInt(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<float>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<float>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

} // namespace

SidebarApsSettingUI::SidebarApsSettingUI(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SidebarApsSettingUI)
{
    ui->setupUi(this);

    content_ = new QWidget;
    content_layout_ = new QVBoxLayout(content_);
    content_layout_->setContentsMargins(0, 0, 0, 0);
    content_layout_->addStretch();
    ui->scroll_area_setting->setWidget(content_);
    ui->scroll_area_setting->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->scroll_area_setting->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->scroll_area_setting->setWidgetResizable(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SidebarApsSettingUI::~SidebarApsSettingUI()
{
    delete ui;
}

void SidebarApsSettingUI::insertSection(SettingItemBox *box)
{
    box->setFold(true);
    content_layout_->insertWidget(qMax(0, content_layout_->count() - 1), box);
    const int count = content_layout_->count();
    if (count == 0 || !content_layout_->itemAt(count - 1)->spacerItem())
        content_layout_->addStretch();
    update();
}

void SidebarApsSettingUI::removeSection(SettingItemBox *&box)
{
    if (!box)
        return;
    content_layout_->removeWidget(box);
    delete box;
    box = nullptr;
}

void SidebarApsSettingUI::setApsToolUI(std::shared_ptr<vexadin::CameraTool> tool)
{
    removeSection(aps_box_);
    if (!tool) {
        // Nothing can write to a tool any more once its items are gone.
        aps_tool_.reset();
        qDebug() << "camera device is null .";
        return;
    }
    aps_tool_ = std::move(tool);
    const std::map<std::string, vexadin::BasicParameterInfo> parameters = aps_tool_->getParameters();
    if (parameters.empty()) {
        qDebug() << "camera aps infos is null .";
        return;
    }

    aps_box_ = new SettingItemBox(content_);
    aps_box_->setTitle(tr("APS"));
    for (const auto &[name, description] : parameters) {
        const QString toolTip = QString::fromStdString(description.description);
        switch (description.type) {
        case vexadin::PARAM_BOOL: {
            vexadin::BoolParameterInfo info;
            if (!aps_tool_->getBoolParamInfo(name, info))
                break;
            auto *item = new SettingBaseWithSwitchButton(name, aps_box_);
            item->setItemToolTip(toolTip);
            item->setChecked(info.value);
            connect(item, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsBoolValueChanged);
            aps_box_->addItem(item);
            break;
        }
        case vexadin::PARAM_INT: {
            vexadin::IntParameterInfo info;
            if (!aps_tool_->getIntParamInfo(name, info))
                break;
            auto *item = new SettingBaseWithLineEdit(name, aps_box_);
            item->setItemToolTip(toolTip);
            item->setRange(info.min, info.max);
            item->setValue(info.value);
            item->setUnit(info.unit);
            // Connected after the value is shown, so building writes nothing back.
            connect(item, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsSliderValueChanged);
            aps_box_->addItem(item);
            break;
        }
        case vexadin::PARAM_FLOAT: {
            vexadin::FloatParameterInfo info;
            if (!aps_tool_->getFloatParamInfo(name, info))
                break;
            auto *item = new SettingBaseWithLineEdit(name, aps_box_);
            item->setRange(truncateToInt(info.min), truncateToInt(info.max));
            item->setValue(truncateToInt(info.value));
            item->setUnit(info.unit);
            item->setItemToolTip(toolTip);
            connect(item, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                    &SidebarApsSettingUI::onApsSliderFloatValueChanged);
            aps_box_->addItem(item);
            break;
        }
        default:
            break;
        }
    }
    insertSection(aps_box_);
}

void SidebarApsSettingUI::setManualCalibrationUI()
{
    removeSection(calibration_box_);
    // The fields start at 0 again; the values sent must be the ones shown.
    manual_offset_x_ = 0.0;
    manual_offset_y_ = 0.0;

    calibration_box_ = new SettingItemBox(content_);
    calibration_box_->setTitle(tr("APS Manual Calibration"));

    const auto addOffset = [this](const char *name, const QString &toolTip, double SidebarApsSettingUI::*field) {
        auto *item = new SettingBaseWithLineEdit(name, calibration_box_);
        item->setItemToolTip(toolTip);
        item->setRange(-100, 100);
        item->setValue(0);
        item->setUnit(std::string());
        connect(item, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                [this, field](const std::string &, int value) {
                    this->*field = value;
                    emit signalManualCaliOffsetXY(manual_offset_x_, manual_offset_y_);
                });
        calibration_box_->addItem(item);
    };
    addOffset("Offset X", tr("Set aps offset x."), &SidebarApsSettingUI::manual_offset_x_);
    addOffset("Offset Y", tr("Set aps offset y."), &SidebarApsSettingUI::manual_offset_y_);

    auto *row = new QWidget(calibration_box_);
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 9, 0);
    rowLayout->addStretch();
    auto *apply = new QPushButton(tr("Apply"), row);
    apply->setObjectName(QStringLiteral("pb_apply_offset"));
    apply->setFixedSize(60, 20);
    apply->setStyleSheet(QString::fromLatin1(kVxPanelButtonStyle));
    rowLayout->addWidget(apply);
    connect(apply, &QPushButton::pressed, this, &SidebarApsSettingUI::signalApplyCaliOffset);
    calibration_box_->addItem(row);

    insertSection(calibration_box_);
}

void SidebarApsSettingUI::resetApsUI()
{
    setApsToolUI(nullptr);
    removeSection(calibration_box_);
    manual_offset_x_ = 0.0;
    manual_offset_y_ = 0.0;
}

void SidebarApsSettingUI::onApsBoolValueChanged(std::string name, bool value)
{
    if (aps_tool_)
        aps_tool_->setBoolValue(name, value);
}

void SidebarApsSettingUI::onApsSliderValueChanged(std::string name, int value)
{
    if (aps_tool_)
        aps_tool_->setIntValue(name, value);
}

void SidebarApsSettingUI::onApsSliderFloatValueChanged(std::string name, int value)
{
    if (aps_tool_)
        aps_tool_->setFloatValue(name, static_cast<float>(value));
}
