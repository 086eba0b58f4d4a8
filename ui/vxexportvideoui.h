#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class VxWindowAgent;

namespace Ui {
class VxExportVideoUI;
}

// Asks for the range of the open recording to export and for the video file
// to write. Only collects values: the caller reads them back after exec() and
// the playback engine does the work, deciding what an unusable range means.
class VxExportVideoUI : public QDialog
{
    Q_OBJECT

public:
    explicit VxExportVideoUI(QWidget *parent = nullptr);
    ~VxExportVideoUI() override;

    void setStartTime(uint64_t start_us);
    void setEndTime(uint64_t end_us);
    void setSavePath(const QString &dir);
    void setFileName(const QString &name);

    // Field text as an unsigned decimal number; text that does not read gives 0.
    uint64_t getStartTime() const;
    uint64_t getEndTime() const;
    // Folder field + "/" + file-name field.
    QString getOutputPath() const;
    QString getSaveDir() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();

private:
    Ui::VxExportVideoUI *ui;
    VxWindowAgent *m_windowAgent = nullptr;
};
