#pragma once

#include <QWidget>

#include <cstdint>

class SettingDisplayItem;
class SettingItemBox;

namespace Ui {
class SidebarCameraSettingUI;
}

// Side panel "Camera Setting": one collapsible "Display" section with the
// accumulation time and slow rate. Its signals carry exactly what the display
// item reports.
class SidebarCameraSettingUI : public QWidget
{
    Q_OBJECT

public:
    explicit SidebarCameraSettingUI(QWidget *parent = nullptr);
    ~SidebarCameraSettingUI() override;

    // The slow rate only means something for recordings: disabled while a
    // camera is open.
    void setSlowRateEnabled(bool enabled);

    SettingDisplayItem *displayItem() const { return m_displayItem; }
    SettingItemBox *displayBox() const { return m_displayBox; }

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

private:
    Ui::SidebarCameraSettingUI *ui;
    SettingItemBox *m_displayBox = nullptr;
    SettingDisplayItem *m_displayItem = nullptr;
};
