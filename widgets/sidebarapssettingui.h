#pragma once

#include <QWidget>

#include <memory>
#include <string>

namespace vexadin {
class CameraTool;
}

class QVBoxLayout;
class SettingItemBox;

namespace Ui {
class SidebarApsSettingUI;
}

// Side panel "APS Setting" for a fusion camera: the frame sensor's parameters,
// built from the camera's APS tool and written to it at once, and the manual
// calibration offsets that move the APS picture against the events.
class SidebarApsSettingUI : public QWidget
{
    Q_OBJECT

public:
    explicit SidebarApsSettingUI(QWidget *parent = nullptr);
    ~SidebarApsSettingUI() override;

    // (Re)builds the "APS" section from the tool's parameters; an empty tool
    // only removes it.
    void setApsToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    // (Re)builds the "APS Manual Calibration" section with both offsets at 0.
    void setManualCalibrationUI();
    // Removes both sections: the panel shows only its title.
    void resetApsUI();

    SettingItemBox *apsBox() const { return aps_box_; }
    SettingItemBox *calibrationBox() const { return calibration_box_; }

signals:
    // Both offsets as the fields show them, in APS pixels; absolute, not steps.
    void signalManualCaliOffsetXY(double x, double y);
    void signalApplyCaliOffset();

private slots:
    // The tool's answer is not shown: a refused value stays in the item.
    void onApsBoolValueChanged(std::string name, bool value);
    void onApsSliderValueChanged(std::string name, int value);
    void onApsSliderFloatValueChanged(std::string name, int value);

private:
    void insertSection(SettingItemBox *box);
    void removeSection(SettingItemBox *&box);

    Ui::SidebarApsSettingUI *ui;
    QWidget *content_ = nullptr;
    QVBoxLayout *content_layout_ = nullptr;
    std::shared_ptr<vexadin::CameraTool> aps_tool_;
    SettingItemBox *aps_box_ = nullptr;
    SettingItemBox *calibration_box_ = nullptr;
    double manual_offset_x_ = 0.0;
    double manual_offset_y_ = 0.0;
};
