#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class QAbstractButton;
class QLineEdit;
class VxWindowAgent;

// Common part of the export-video and cut-recording dialogs: a closed time
// range of the open recording plus the folder and name of the file to write.
// Only collects values: the caller reads them back after exec() and the
// playback engine does the work, deciding what an unusable range means.
class VxRangeFileDialog : public QDialog
{
    Q_OBJECT

public:
    void setStartTime(uint64_t start_us);
    void setEndTime(uint64_t end_us);
    void setSavePath(const QString &dir);
    void setFileName(const QString &name);

    // Field text as an unsigned decimal number; text that does not read gives 0
    // (the dialog is not accepted with such a field).
    uint64_t getStartTime() const;
    uint64_t getEndTime() const;
    // Both time fields read as unsigned decimal numbers.
    bool timesValid() const;
    // Folder field + "/" + file-name field.
    QString getOutputPath() const;
    QString getSaveDir() const;

protected:
    // The widgets of the derived dialog's form, handed over after setupUi().
    struct Fields {
        QWidget *titleBar = nullptr;
        QAbstractButton *closeButton = nullptr;
        QLineEdit *startTime = nullptr;
        QLineEdit *endTime = nullptr;
        QLineEdit *savePath = nullptr;
        QLineEdit *fileName = nullptr;
    };

    explicit VxRangeFileDialog(QWidget *parent = nullptr);
    // selectDirTitle is translated by the derived dialog, in its own context.
    void initFields(const Fields &fields, const QString &selectDirTitle);

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // Connected by name when the derived form is set up.
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();

private:
    void showFolder(const QString &dir);
    // Shows a time field that does not read as a number in the invalid colour.
    void markTime(QLineEdit *edit);

    Fields m_fields;
    QString m_selectDirTitle;
    VxWindowAgent *m_windowAgent = nullptr;
};
