#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class AppSettings;
class QLineEdit;
class VxWindowAgent;

namespace Ui {
class VxGeneralSetting;
}

// "General Settings": default folders, trigger-in recording and the colour
// scheme of the event pictures. Edits the fields of the settings store and
// writes them only on Save; Cancel and the close button store nothing.
class VxGeneralSetting : public QDialog
{
    Q_OBJECT

public:
    // The values stored for the trigger edge, whatever the display language.
    static const QString kRisingEdge;
    static const QString kFallingEdge;

    explicit VxGeneralSetting(QWidget *parent = nullptr);
    ~VxGeneralSetting() override;

signals:
    // The settings were saved.
    void signalTriggerInSaveFileParamChanged();

private slots:
    void on_pb_win_close_clicked();
    void on_pb_cancel_clicked();
    void on_pb_save_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_select_video_save_path_clicked();
    void on_pb_add_trigger_in_before_time_clicked();
    void on_pb_sub_trigger_in_before_time_clicked();
    void on_pb_add_trigger_in_after_time_clicked();
    void on_pb_sub_trigger_in_after_time_clicked();
    void on_lw_general_setting_items_currentRowChanged(int currentRow);

private:
    void loadFromSettings();
    void chooseDirectory(const QString &startDir, QLineEdit *target);
    // A second count field as an unsigned number; text that does not read gives 0.
    static uint32_t readSeconds(const QLineEdit *edit);
    static void stepSeconds(QLineEdit *edit, int step);

    Ui::VxGeneralSetting *ui;
    VxWindowAgent *m_windowAgent = nullptr;
    AppSettings *m_settings = nullptr;
};
