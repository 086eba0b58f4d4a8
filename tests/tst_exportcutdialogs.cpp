#include "ui/vxcutrawfile.h"
#include "ui/vxexportvideoui.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs `action` on the dialog once it is the active modal window, then
// returns what exec() returned. A dialog still open after 3 s is closed so a
// failing test does not hang.
template <typename Dialog> int execWith(Dialog &dialog, std::function<void(Dialog &)> action)
{
    QTimer::singleShot(0, &dialog, [&] { action(dialog); });
    QTimer::singleShot(3000, &dialog, [&] { dialog.done(-1); });
    return dialog.exec();
}

template <typename Dialog> QLineEdit *field(Dialog &d, const char *name)
{
    return d.template findChild<QLineEdit *>(QString::fromLatin1(name));
}

template <typename Dialog> QPushButton *button(Dialog &d, const char *name)
{
    return d.template findChild<QPushButton *>(QString::fromLatin1(name));
}

} // namespace

class TstExportCutDialogs : public QObject
{
    Q_OBJECT

private:
    template <typename Dialog> void checkValuesRoundTrip()
    {
        Dialog d;
        d.setStartTime(1000000);
        d.setEndTime(UINT64_MAX);
        d.setSavePath("/data/out");
        d.setFileName("20260101_120000.raw");
        QCOMPARE(field(d, "le_start_time")->text(), QString("1000000"));
        QCOMPARE(d.getStartTime(), uint64_t(1000000));
        QCOMPARE(d.getEndTime(), UINT64_MAX);
        QCOMPARE(d.getOutputPath(), QString("/data/out/20260101_120000.raw"));
        QCOMPARE(d.getSaveDir(), QString("/data/out"));
        // A folder too long for the field is shown from its root.
        const QString deep = "/home/user/" + QString("very_long_folder_name/").repeated(6) + "out";
        d.setSavePath(deep);
        QCOMPARE(field(d, "le_save_file_path")->cursorPosition(), 0);
        QCOMPARE(d.getSaveDir(), deep);
        d.setSavePath("/data/out");

        // Times that do not read as an unsigned decimal number become 0.
        for (const char *text : {"abc", "", "-5", "12x", "1e6", "18446744073709551616"}) {
            field(d, "le_start_time")->setText(text);
            QVERIFY2(d.getStartTime() == 0, text);
        }
        field(d, "le_end_time")->setText(" 42 ");
        QCOMPARE(d.getEndTime(), uint64_t(42));
        // No check of the range: an inverted one is passed on as typed.
        d.setStartTime(9);
        d.setEndTime(3);
        QCOMPARE(d.getStartTime(), uint64_t(9));
        QCOMPARE(d.getEndTime(), uint64_t(3));
    }

    template <typename Dialog> void checkButtons()
    {
        Dialog save;
        save.setStartTime(0); // the caller always fills the range
        save.setEndTime(10);
        QCOMPARE(execWith<Dialog>(save, [](Dialog &d) { QTest::mouseClick(button(d, "pb_save"), Qt::LeftButton); }),
                 int(QDialog::Accepted));
        Dialog cancel;
        QCOMPARE(execWith<Dialog>(cancel, [](Dialog &d) { QTest::mouseClick(button(d, "pb_cancel"), Qt::LeftButton); }),
                 int(QDialog::Rejected));
        Dialog closeButton;
        QCOMPARE(execWith<Dialog>(closeButton,
                                  [](Dialog &d) { QTest::mouseClick(button(d, "pb_win_close"), Qt::LeftButton); }),
                 int(QDialog::Rejected));
        Dialog escape;
        QCOMPARE(execWith<Dialog>(escape, [](Dialog &d) { QTest::keyClick(&d, Qt::Key_Escape); }),
                 int(QDialog::Rejected));
    }

    template <typename Dialog> void checkFolderButton()
    {
        QTemporaryDir shown, chosen;
        QVERIFY(shown.isValid() && chosen.isValid());
        Dialog d;
        d.setSavePath(shown.path());
        d.show();

        QString startedIn;
        // Cancelled chooser: the field keeps its folder.
        QTimer::singleShot(100, &d, [&] {
            if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                startedIn = chooser->directory().absolutePath();
                chooser->reject();
            }
        });
        QTest::mouseClick(button(d, "pb_select_dir"), Qt::LeftButton);
        QCOMPARE(startedIn, QDir(shown.path()).absolutePath());
        QCOMPARE(d.getSaveDir(), shown.path());

        // A chosen folder replaces the field.
        QTimer::singleShot(100, &d, [&] {
            if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                chooser->setDirectory(chosen.path());
                static_cast<QDialog *>(chooser)->accept();
            }
        });
        QTest::mouseClick(button(d, "pb_select_dir"), Qt::LeftButton);
        QCOMPARE(QDir(d.getSaveDir()).absolutePath(), QDir(chosen.path()).absolutePath());
    }

    // A time that does not read is shown invalid and keeps the dialog open; fixed,
    // the dialog accepts.
    template <typename Dialog> void checkUnreadableTimesAreRefused()
    {
        Dialog d;
        d.setStartTime(1000);
        d.setEndTime(2000);
        QWidget *startBox = d.template findChild<QWidget *>("widget_start_time");
        QWidget *endBox = d.template findChild<QWidget *>("widget_end_time");
        QVERIFY(!startBox->property("invalid").toBool());
        const int result = execWith<Dialog>(d, [&](Dialog &dialog) {
            field(dialog, "le_start_time")->setText("12x");
            field(dialog, "le_end_time")->setText("");
            QVERIFY(startBox->property("invalid").toBool() && endBox->property("invalid").toBool());
            QTest::mouseClick(button(dialog, "pb_save"), Qt::LeftButton);
            QVERIFY(dialog.isVisible()); // refused
            field(dialog, "le_start_time")->setText(" 1500 ");
            QTest::mouseClick(button(dialog, "pb_save"), Qt::LeftButton);
            QVERIFY(dialog.isVisible()); // the end is still empty
            field(dialog, "le_end_time")->setText("2500");
            QVERIFY(!startBox->property("invalid").toBool() && !endBox->property("invalid").toBool());
            QTest::mouseClick(button(dialog, "pb_save"), Qt::LeftButton);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(d.getStartTime(), uint64_t(1500));
        QCOMPARE(d.getEndTime(), uint64_t(2500));
    }

private slots:
    void initTestCase()
    {
        // Qt's own dialogs, so the chooser can be driven from the test.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void formTextsAndPlaceholders()
    {
        VxExportVideoUI e;
        QCOMPARE(e.findChild<QLabel *>("lb_title")->text(), QString("Export a video"));
        QCOMPARE(button(e, "pb_save")->text(), QString("Export"));
        QCOMPARE(field(e, "le_file_name")->text(), QString("xxx.mp4"));
        VxCutRawFile c;
        QCOMPARE(c.findChild<QLabel *>("lb_title")->text(), QString("Cut Recording"));
        QCOMPARE(button(c, "pb_save")->text(), QString("Cut"));
        QCOMPARE(field(c, "le_file_name")->text(), QString("xxx.raw"));
        QVERIFY(e.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(c.windowFlags() & Qt::FramelessWindowHint);
    }

    void exportValuesRoundTrip() { checkValuesRoundTrip<VxExportVideoUI>(); }
    void cutValuesRoundTrip() { checkValuesRoundTrip<VxCutRawFile>(); }
    void exportButtons() { checkButtons<VxExportVideoUI>(); }
    void exportRefusesUnreadableTimes() { checkUnreadableTimesAreRefused<VxExportVideoUI>(); }
    void cutRefusesUnreadableTimes() { checkUnreadableTimesAreRefused<VxCutRawFile>(); }
    void cutButtons() { checkButtons<VxCutRawFile>(); }
    void exportFolderButtonStartsInTheShownFolder() { checkFolderButton<VxExportVideoUI>(); }
    void cutFolderButtonStartsInTheShownFolder() { checkFolderButton<VxCutRawFile>(); }
};

QTEST_MAIN(TstExportCutDialogs)
#include "tst_exportcutdialogs.moc"
