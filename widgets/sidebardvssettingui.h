#pragma once

#include "app/vxmessagetype.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QPushButton;
class SettingBaseWithLineEdit;
class SettingItemBox;

namespace vexadin {
class CameraTool;
class DvsCamera;
} // namespace vexadin

namespace Ui {
class SidebarDvsSettingUI;
}

// Side panel "DVS Setting": the parameters of the open camera, one collapsible
// section per camera tool, built from whatever parameters the tool reports.
// Every change in an item is written to the camera at once. With a plain DVS
// camera the panel also carries the Refresh / Load / Export bar.
class SidebarDvsSettingUI : public QWidget
{
    Q_OBJECT

public:
    // The sections, top to bottom, in the order the window builds them.
    enum Section { Biases = 0, TriggerIn, AntiFlicker, EventRateControl, EventTrailFilter, Roi, SectionCount };

    explicit SidebarDvsSettingUI(QWidget *parent = nullptr);
    ~SidebarDvsSettingUI() override;

    // Each (re)builds its section from the tool; an empty tool removes it.
    // Building writes nothing to the camera.
    void setBiasesToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    void setTriggerInToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    void setAntiFlickerToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    void setEventRateControlToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    void setEventTrailFilterToolUI(std::shared_ptr<vexadin::CameraTool> tool);
    void setROIToolUI(std::shared_ptr<vexadin::CameraTool> tool);

    // Plain DVS cameras only: shows the config bar below the sections and keeps
    // the camera for Refresh, Load and Export.
    void setCamera(std::shared_ptr<vexadin::DvsCamera> camera);
    // Before a recording opens: no sections, no bar, and the camera let go.
    void clearToolUI();

    SettingItemBox *sectionBox(Section section) const { return m_sections[section].box; }
    QWidget *configBar() const { return m_configBar; }

signals:
    // The parameter called name now has this value; items of that type and
    // name show it.
    void signalSetValue(std::string name, int value);
    void signalSetValue(std::string name, bool value);
    void signalSetValue(std::string name, float value);
    void signalSetValue(std::string name, std::string value);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    // Item changes, written to the camera through the section's tool; the
    // tool's answer is not used.
    void onBiasSliderValueChanged(std::string name, int value);
    void onTriggerInSliderValueChanged(std::string name, bool value);
    void onAntiFlickerSliderValueChanged(std::string name, int value);
    void onAntiFlickerSliderValueChanged(std::string name, bool value);
    // Float parameters are edited on whole numbers.
    void onAntiFlickerSliderFloatValueChanged(std::string name, int value);
    void onAntiFlickerSliderEnumValueChanged(std::string name, std::string value);
    void onEventRateControlSliderValueChanged(std::string name, int value);
    void onEventRateControlSliderValueChanged(std::string name, bool value);
    void onEventTrailFilterSliderValueChanged(std::string name, int value);
    void onEventTrailFilterSliderValueChanged(std::string name, bool en);
    void onEventTrailFilterSliderValueChanged(std::string name, std::string value);
    void onROISliderValueChanged(std::string name, int value);
    void onROISliderValueChanged(std::string name, bool value);
    void onROISliderValueChanged(std::string name, std::string value);

    void slotCumulativeTimeChanged(uint64_t time_us);
    void slotFpsChanged(uint32_t fps);

    // Re-reads every value from the stored camera into the items.
    void slotRefreshConfig();
    void slotExportConfig();
    void slotLoadConfig();
    void slotDefaultConfig();

protected:
    // The file dialogs of Export and Load; an empty path means cancelled.
    virtual QString chooseExportPath();
    virtual QString chooseLoadPath();

private:
    struct SectionState {
        std::shared_ptr<vexadin::CameraTool> tool;
        SettingItemBox *box = nullptr;
    };

    void buildSection(Section section, std::shared_ptr<vexadin::CameraTool> tool);
    void removeSection(Section section);
    // One item per parameter; null when the tool refuses the parameter's info.
    QWidget *createIntItem(Section section, SettingItemBox *box, const std::string &name, const QString &tip);
    QWidget *createFloatItem(Section section, SettingItemBox *box, const std::string &name, const QString &tip);
    QWidget *createBoolItem(Section section, SettingItemBox *box, const std::string &name, const QString &tip);
    QWidget *createEnumItem(Section section, SettingItemBox *box, const std::string &name, const QString &tip);
    bool checkRoiValue(const std::string &name, int value);
    // Values reach the items of one section only while it is being refreshed,
    // so parameters of the same name in different tools stay apart.
    bool takesValues(Section section) const;
    // Puts w just above the closing stretch of the content column.
    void insertAboveStretch(QWidget *w);
    QWidget *buildConfigBar();
    void writeInt(Section section, const std::string &name, int value);
    void writeBool(Section section, const std::string &name, bool value);
    void writeEnum(Section section, const std::string &name, const std::string &value);

    Ui::SidebarDvsSettingUI *ui;
    std::shared_ptr<vexadin::DvsCamera> m_camera;
    SectionState m_sections[SectionCount];
    QWidget *m_configBar = nullptr;
    QList<SettingBaseWithLineEdit *> m_roiValueItems;
    // Section whose values slotRefreshConfig() is sending; kAllSections otherwise.
    int m_refreshingSection;
};
