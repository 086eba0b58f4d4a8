#include "app/appsettings.h"
#include "processing/vxeventprocessor.h"
#include "ui/mainwidget.h"
#include "ui/vxgeneralsetting.h"
#include "widgets/vxcombobox.h"
#include "widgets/vxcomboboxbase.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

namespace {

// The dialog's Chinese texts the tests look at, without depending on the
// compiled translation files.
class ChineseTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        static const QHash<QString, QString> table = {
            {QStringLiteral("Rising Edge"), QStringLiteral("上升沿")},
            {QStringLiteral("Falling Edge"), QStringLiteral("下降沿")},
            {QStringLiteral("General Settings"), QStringLiteral("通用设置")},
        };
        if (qstrcmp(context, "VxGeneralSetting") != 0)
            return QString();
        return table.value(QString::fromUtf8(sourceText));
    }
    bool isEmpty() const override { return false; }
};

QString configFile()
{
    return AppSettings::instance().configDir + QStringLiteral("/config.ini");
}

QByteArray configBytes()
{
    QFile file(configFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename T> T *child(QWidget &dialog, const char *name)
{
    T *widget = dialog.findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("missing child %s", name);
    return widget;
}

VXComboBoxBase *combo(QWidget &dialog, const char *name)
{
    return child<VxComboBox>(dialog, name)->innerComboBox();
}

void click(QWidget &dialog, const char *button)
{
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
}

QRgb firstPixelOfNextFrame(VxEventProcessor &processor)
{
    // The image comes from the render thread; a receiver living on this thread
    // gets it queued, so nothing here is touched by two threads.
    QEventLoop loop;
    QRgb pixel = 0;
    const auto connection = QObject::connect(&processor, &VxEventProcessor::signalEventImage, &loop,
                                             [&](const QImage &image) {
                                                 pixel = image.pixel(0, 0);
                                                 loop.quit();
                                             });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    processor.publishFrame();
    loop.exec();
    QObject::disconnect(connection);
    return pixel;
}

} // namespace

class TstGeneralSetting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void opensWithStoredValues();
    void edgeIsStoredInEnglishWhateverTheLanguage_data();
    void edgeIsStoredInEnglishWhateverTheLanguage();
    void stepButtons();
    void cancelAndCloseStoreNothing();
    void saveStoresEveryFieldAndSignals();
    void savingDarkRecoloursTheNextFrame();
    void folderChooserStartsInStoredFolder();
    void mainWindowOpensItFromButtonAndMenu();

private:
    QTemporaryDir m_dirs;
};

void TstGeneralSetting::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Vexadin"));
    QCoreApplication::setApplicationName(QStringLiteral("VexadinView"));
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/config.ini"));
    QVERIFY(m_dirs.isValid());
    QVERIFY(QDir(m_dirs.path()).mkpath(QStringLiteral("raw")));
    QVERIFY(QDir(m_dirs.path()).mkpath(QStringLiteral("video")));
    QVERIFY(QDir(m_dirs.path()).mkpath(QStringLiteral("chosen")));
}

void TstGeneralSetting::init()
{
    AppSettings &s = AppSettings::instance();
    s.outputRawFilePath = m_dirs.filePath(QStringLiteral("raw"));
    s.videoSavePath = m_dirs.filePath(QStringLiteral("video"));
    s.triggerInRecEnable = false;
    s.triggerInEdgeType = VxGeneralSetting::kRisingEdge;
    s.beforeTriggerInSaveTime = 3;
    s.afterTriggerInSaveTime = 7;
    s.colorType = QStringLiteral("Gray");
    s.save();
}

void TstGeneralSetting::opensWithStoredValues()
{
    AppSettings &s = AppSettings::instance();
    s.triggerInRecEnable = true;
    s.colorType = QStringLiteral("RedGreen");
    VxGeneralSetting d;
    QCOMPARE(child<QLineEdit>(d, "le_default_file_path")->text(), s.outputRawFilePath);
    QCOMPARE(child<QLineEdit>(d, "le_default_video_file_path")->text(), s.videoSavePath);
    QVERIFY(child<QPushButton>(d, "sb_trigger_in_rec_enable")->isChecked());
    QCOMPARE(child<QLineEdit>(d, "le_trigger_in_before_time")->text(), QString("3"));
    QCOMPARE(child<QLineEdit>(d, "le_trigger_in_after_time")->text(), QString("7"));
    // Selected in the list, not only written into the text field.
    QCOMPARE(combo(d, "widget_combobox_color_theme")->currentIndex(), 3);
    QCOMPARE(combo(d, "widget_combobox_color_theme")->count(), 5);

    // A name outside the list is shown and kept as it is (the store then
    // leaves the colours alone).
    s.colorType = QStringLiteral("gray");
    {
        VxGeneralSetting unknown;
        QCOMPARE(combo(unknown, "widget_combobox_color_theme")->currentText(), QString("gray"));
        click(unknown, "pb_save");
        QCOMPARE(s.colorType, QString("gray"));
    }

    // The page list drives the hidden-tab page stack.
    auto *pages = child<QTabWidget>(d, "tw_settings");
    QCOMPARE(pages->currentIndex(), 0);
    child<QListWidget>(d, "lw_general_setting_items")->setCurrentRow(1);
    QCOMPARE(pages->currentIndex(), 1);
}

void TstGeneralSetting::edgeIsStoredInEnglishWhateverTheLanguage_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("English") << false;
    QTest::newRow("Chinese") << true;
}

void TstGeneralSetting::edgeIsStoredInEnglishWhateverTheLanguage()
{
    QFETCH(bool, chinese);
    ChineseTranslator translator;
    if (chinese)
        QVERIFY(QCoreApplication::installTranslator(&translator));
    AppSettings &s = AppSettings::instance();

    // Anything but the exact rising-edge value opens as the falling edge.
    for (const QString &stored : {QStringLiteral("Falling Edge"), QString(), QStringLiteral("rising edge")}) {
        s.triggerInEdgeType = stored;
        VxGeneralSetting d;
        QCOMPARE(combo(d, "cb_trigger_in_edge")->currentIndex(), 1);
        QCOMPARE(combo(d, "cb_trigger_in_edge")->currentText(),
                 chinese ? QStringLiteral("下降沿") : QStringLiteral("Falling Edge"));
    }
    {
        VxGeneralSetting d;
        QCOMPARE(child<QLabel>(d, "lb_title")->text(),
                 chinese ? QStringLiteral("通用设置") : QStringLiteral("General Settings"));
        combo(d, "cb_trigger_in_edge")->setCurrentIndex(0);
        click(d, "pb_save");
    }
    QCOMPARE(s.triggerInEdgeType, VxGeneralSetting::kRisingEdge);
    QCOMPARE(QSettings(configFile(), QSettings::IniFormat).value("Setting/dvs_trigger_in_rec_edge_type").toString(),
             QString("Rising Edge"));
    {
        VxGeneralSetting d;
        QCOMPARE(combo(d, "cb_trigger_in_edge")->currentIndex(), 0);
        QCOMPARE(combo(d, "cb_trigger_in_edge")->currentText(),
                 chinese ? QStringLiteral("上升沿") : QStringLiteral("Rising Edge"));
        combo(d, "cb_trigger_in_edge")->setCurrentIndex(1);
        click(d, "pb_save");
    }
    QCOMPARE(s.triggerInEdgeType, VxGeneralSetting::kFallingEdge);
    {
        VxGeneralSetting d;
        QCOMPARE(combo(d, "cb_trigger_in_edge")->currentIndex(), 1);
    }
    QCoreApplication::removeTranslator(&translator);
}

void TstGeneralSetting::stepButtons()
{
    VxGeneralSetting d;
    struct Field {
        const char *edit, *plus, *minus;
    };
    for (const Field &f : {Field{"le_trigger_in_before_time", "pb_add_trigger_in_before_time",
                                 "pb_sub_trigger_in_before_time"},
                           Field{"le_trigger_in_after_time", "pb_add_trigger_in_after_time",
                                 "pb_sub_trigger_in_after_time"}}) {
        auto *edit = child<QLineEdit>(d, f.edit);
        edit->setText("0");
        click(d, f.minus);
        QCOMPARE(edit->text(), QString("0"));
        edit->setText("abc");
        click(d, f.plus);
        QCOMPARE(edit->text(), QString("1"));
        edit->setText("abc");
        click(d, f.minus); // reads as 0: stays as typed
        QCOMPARE(edit->text(), QString("abc"));
        edit->setText("41");
        click(d, f.plus);
        click(d, f.plus);
        click(d, f.minus);
        QCOMPARE(edit->text(), QString("42"));
        // 32-bit store: plus stops instead of wrapping round to 0.
        edit->setText("4294967295");
        click(d, f.plus);
        QCOMPARE(edit->text(), QString("4294967295"));
    }
}

void TstGeneralSetting::cancelAndCloseStoreNothing()
{
    const QByteArray before = configBytes();
    QVERIFY(!before.isEmpty());
    AppSettings &s = AppSettings::instance();

    for (const char *button : {"pb_cancel", "pb_win_close"}) {
        VxGeneralSetting d;
        QSignalSpy spy(&d, &VxGeneralSetting::signalTriggerInSaveFileParamChanged);
        child<QLineEdit>(d, "le_default_file_path")->setText("/elsewhere/raw");
        child<QLineEdit>(d, "le_default_video_file_path")->setText("/elsewhere/video");
        click(d, "sb_trigger_in_rec_enable");
        combo(d, "cb_trigger_in_edge")->setCurrentIndex(1);
        child<QLineEdit>(d, "le_trigger_in_before_time")->setText("99");
        child<QLineEdit>(d, "le_trigger_in_after_time")->setText("98");
        combo(d, "widget_combobox_color_theme")->setCurrentIndex(4);
        d.show();
        click(d, button);
        QVERIFY2(!d.isVisible(), button);
        QCOMPARE(spy.count(), 0);

        QCOMPARE(configBytes(), before);
        QCOMPARE(s.outputRawFilePath, m_dirs.filePath("raw"));
        QCOMPARE(s.videoSavePath, m_dirs.filePath("video"));
        QCOMPARE(s.triggerInRecEnable, false);
        QCOMPARE(s.triggerInEdgeType, QString("Rising Edge"));
        QCOMPARE(s.beforeTriggerInSaveTime, 3u);
        QCOMPARE(s.afterTriggerInSaveTime, 7u);
        QCOMPARE(s.colorType, QString("Gray"));
    }
    // The next opening shows the stored values again.
    VxGeneralSetting again;
    QCOMPARE(child<QLineEdit>(again, "le_trigger_in_before_time")->text(), QString("3"));
    QCOMPARE(combo(again, "widget_combobox_color_theme")->currentText(), QString("Gray"));
}

void TstGeneralSetting::saveStoresEveryFieldAndSignals()
{
    VxGeneralSetting d;
    QSignalSpy spy(&d, &VxGeneralSetting::signalTriggerInSaveFileParamChanged);
    child<QLineEdit>(d, "le_default_file_path")->setText(m_dirs.filePath("chosen"));
    child<QLineEdit>(d, "le_default_video_file_path")->setText("/typed/video path");
    click(d, "sb_trigger_in_rec_enable");
    child<QLineEdit>(d, "le_trigger_in_before_time")->setText("12");
    child<QLineEdit>(d, "le_trigger_in_after_time")->setText("not a number");
    combo(d, "widget_combobox_color_theme")->setCurrentIndex(2);
    d.show();
    click(d, "pb_save");
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(spy.count(), 1);

    const AppSettings &s = AppSettings::instance();
    QCOMPARE(s.outputRawFilePath, m_dirs.filePath("chosen"));
    QCOMPARE(s.videoSavePath, QString("/typed/video path")); // stored as typed
    QCOMPARE(s.triggerInRecEnable, true);
    QCOMPARE(s.beforeTriggerInSaveTime, 12u);
    QCOMPARE(s.afterTriggerInSaveTime, 0u);
    QCOMPARE(s.colorType, QString("RedBlue"));

    QSettings file(configFile(), QSettings::IniFormat);
    QCOMPARE(file.value("Setting/output_raw_file_path").toString(), m_dirs.filePath("chosen"));
    QCOMPARE(file.value("Setting/video_save_path").toString(), QString("/typed/video path"));
    QCOMPARE(file.value("Setting/dvs_trigger_in_rec_enable").toBool(), true);
    QCOMPARE(file.value("Setting/dvs_before_tirgger_in_save_time").toUInt(), 12u);
    QCOMPARE(file.value("Setting/dvs_after_tirgger_in_save_time").toUInt(), 0u);
    QCOMPARE(file.value("Setting/dvs_color_type").toString(), QString("RedBlue"));
}

void TstGeneralSetting::savingDarkRecoloursTheNextFrame()
{
    VxEventProcessor processor;
    QCOMPARE(firstPixelOfNextFrame(processor), qRgb(112, 112, 112));

    VxGeneralSetting d;
    combo(d, "widget_combobox_color_theme")->setCurrentIndex(1);
    QCOMPARE(combo(d, "widget_combobox_color_theme")->currentText(), QString("Dark"));
    click(d, "pb_save");
    QCOMPARE(firstPixelOfNextFrame(processor), qRgb(30, 37, 52));
    const AppSettings::EventColors colors = AppSettings::instance().eventColors();
    QCOMPARE(colors.positive, qRgb(216, 223, 236));
    QCOMPARE(colors.negative, qRgb(64, 126, 201));
}

void TstGeneralSetting::folderChooserStartsInStoredFolder()
{
    VxGeneralSetting d;
    auto *field = child<QLineEdit>(d, "le_default_file_path");
    field->setText("/shown/but/not/stored");

    QString startedIn;
    auto answer = [&](bool choose) {
        QTimer::singleShot(0, [&, choose] {
            auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!chooser)
                return;
            startedIn = chooser->directory().absolutePath();
            if (choose) {
                chooser->setDirectory(m_dirs.filePath("chosen"));
                QMetaObject::invokeMethod(chooser, "accept");
            } else {
                chooser->reject();
            }
        });
    };
    answer(false);
    click(d, "pb_select_dir");
    QCOMPARE(startedIn, m_dirs.filePath("raw"));
    QCOMPARE(field->text(), QString("/shown/but/not/stored")); // cancelled: unchanged

    answer(true);
    click(d, "pb_select_dir");
    QCOMPARE(field->text(), m_dirs.filePath("chosen"));
}

void TstGeneralSetting::mainWindowOpensItFromButtonAndMenu()
{
    MainWidget window;
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pb_fold_general_setting"));
    QVERIFY(button);

    int opened = 0;
    bool buttonDownWhileOpen = false;
    auto closeWhenShown = [&] {
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<VxGeneralSetting *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            ++opened;
            buttonDownWhileOpen = button->isChecked();
            click(*dialog, "pb_cancel");
        });
    };

    closeWhenShown();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(opened, 1);
    QVERIFY(buttonDownWhileOpen);
    QVERIFY(!button->isChecked());

    QAction *entry = nullptr;
    for (QMenu *menu : window.findChildren<QMenu *>()) {
        for (QAction *action : menu->actions()) {
            if (action->text() == QLatin1String("General Setting"))
                entry = action;
        }
    }
    QVERIFY(entry);
    closeWhenShown();
    entry->trigger();
    QCOMPARE(opened, 2);
}

QTEST_MAIN(TstGeneralSetting)
#include "tst_generalsetting.moc"
