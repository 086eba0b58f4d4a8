#include "widgets/sidebarcamerasettingui.h"

#include "ui_sidebarcamerasettingui.h"

#include "widgets/settingdisplayitem.h"
#include "widgets/settingitembox.h"

#include <QSpacerItem>
#include <QVBoxLayout>

SidebarCameraSettingUI::SidebarCameraSettingUI(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SidebarCameraSettingUI)
{
    ui->setupUi(this);

    m_displayBox = new SettingItemBox(ui->scroll_area_content);
    m_displayBox->setTitle(tr("Display"));
    m_displayItem = new SettingDisplayItem(m_displayBox);
    m_displayBox->addItem(m_displayItem);
    m_displayBox->setFold(true);

    connect(m_displayItem, &SettingDisplayItem::signalCumulativeTimeChanged, this,
            &SidebarCameraSettingUI::slotCumulativeTimeChanged);
    connect(m_displayItem, &SettingDisplayItem::signalFpsChanged, this, &SidebarCameraSettingUI::slotFpsChanged);

    // The section goes above the closing stretch of the content column.
    QVBoxLayout *layout = ui->verticalLayout_content;
    layout->insertWidget(qMax(0, layout->count() - 1), m_displayBox);
    if (layout->count() == 0 || !layout->itemAt(layout->count() - 1)->spacerItem())
        layout->addStretch(1);
    update();
}

SidebarCameraSettingUI::~SidebarCameraSettingUI()
{
    delete ui;
}

void SidebarCameraSettingUI::setSlowRateEnabled(bool enabled)
{
    if (m_displayItem)
        m_displayItem->setSlowRateEnabled(enabled);
}

void SidebarCameraSettingUI::slotCumulativeTimeChanged(uint64_t time_us)
{
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarCameraSettingUI::slotFpsChanged(uint32_t fps)
{
    emit signalFpsChanged(fps);
}
