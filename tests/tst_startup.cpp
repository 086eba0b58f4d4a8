#include "app/startup.h"
#include "ui/initdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include "support/qtesttime.h"

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void loadLanguagePicksTranslationFile_data();
    void loadLanguagePicksTranslationFile();
    void chineseInterfaceIsTranslated();
    void missingFontKeepsDefaultFont();
    void embeddedFontBecomesApplicationFont();
    void splashClosesByItselfAfterTwoSeconds();
    void splashCloseButtonClosesAtOnceAndOnlyOnce();
    void commandLineNamesFiles();
};

void TstStartup::loadLanguagePicksTranslationFile_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("file");
    QTest::newRow("zh") << "zh" << ":/app_zh.qm";
    QTest::newRow("en") << "en" << ":/app_en.qm";
    QTest::newRow("fr") << "fr" << ":/app_en.qm";
    QTest::newRow("empty") << "" << ":/app_en.qm";
    QTest::newRow("upper case ZH") << "ZH" << ":/app_en.qm";
}

void TstStartup::loadLanguagePicksTranslationFile()
{
    QFETCH(QString, language);
    QFETCH(QString, file);

    QTranslator *translator = loadLanguage(language);
    QVERIFY2(translator, qPrintable(file + " missing, empty or not installable"));
    QCOMPARE(translator->filePath(), file);
    QCOMPARE(translator->parent(), QCoreApplication::instance());
    QVERIFY(QCoreApplication::removeTranslator(translator));
    delete translator;
}

void TstStartup::chineseInterfaceIsTranslated()
{
    QTranslator *translator = loadLanguage("zh");
    QVERIFY(translator);
    // The label before the serial, and the two renderings of "Cut Recording".
    QCOMPARE(QCoreApplication::translate("Widget", "Camera: "), QString("序列号："));
    QCOMPARE(QCoreApplication::translate("MainWidget", "Cut Recording"), QString("裁剪录制文件"));
    QCOMPARE(QCoreApplication::translate("VxCutRawFile", "Cut Recording"), QString("裁剪Raw文件"));
    {
        // A form built after the translator is installed comes up in Chinese.
        QTest::ignoreMessage(QtDebugMsg, "VexadinView Version: 1.1.5");
        InitDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("对话框"));
        QCOMPARE(dialog.findChild<QLabel *>("label_2")->text(), QString("© 2026 Vexadin 版权所有。"));
    }
    QVERIFY(QCoreApplication::removeTranslator(translator));
    delete translator;

    // Any other language keeps the English source texts.
    translator = loadLanguage("fr");
    QVERIFY(translator);
    QCOMPARE(QCoreApplication::translate("Widget", "Camera: "), QString("Camera: "));
    {
        QTest::ignoreMessage(QtDebugMsg, "VexadinView Version: 1.1.5");
        InitDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Dialog"));
    }
    QVERIFY(QCoreApplication::removeTranslator(translator));
    delete translator;
}

void TstStartup::missingFontKeepsDefaultFont()
{
    const QFont before = QApplication::font();
    QTest::ignoreMessage(QtDebugMsg, "Failed to load font!");
    QVERIFY(!registerApplicationFont(":/font/NoSuchFont.ttf"));
    QCOMPARE(QApplication::font(), before);
}

void TstStartup::embeddedFontBecomesApplicationFont()
{
    const QString path = ":/font/NotoSansSC-Medium.ttf";
    if (!QFile::exists(path))
        QSKIP("font resource not compiled in");
    const QFont before = QApplication::font();
    // Desktop themes give some classes fonts of their own; ours must replace them too.
    QApplication::setFont(QFont("DejaVu Serif", 13), "QMenu");
    QApplication::setFont(QFont("DejaVu Serif", 13), "QMessageBox");
    QVERIFY(registerApplicationFont(path));
    const QFont font = QApplication::font();
    QVERIFY(font.family().startsWith("Noto Sans SC"));
    QCOMPARE(font.hintingPreference(), QFont::PreferNoHinting);
    QCOMPARE(QApplication::font("QMenu").family(), font.family());
    QMenu menu;
    QCOMPARE(menu.font().family(), font.family());
    QApplication::setFont(before);
}

void TstStartup::splashClosesByItselfAfterTwoSeconds()
{
    QTest::ignoreMessage(QtDebugMsg, "VexadinView Version: 1.1.5");
    QElapsedTimer clock;
    clock.start();
    InitDialog dialog;
    QCOMPARE(dialog.findChild<QLabel *>("lb_version")->text(), QString("Version: 1.1.5"));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    // Safety net so a broken timer fails the test instead of hanging it.
    QTimer::singleShot(6000, &dialog, [&] { dialog.done(42); });
    const int result = dialog.exec();
    const qint64 elapsed = clock.elapsed();
    QVERIFY(result != 42);
    QVERIFY2(elapsed >= 1900 && elapsed < 4000, qPrintable(QString::number(elapsed)));
    QVERIFY(!dialog.isVisible());
}

void TstStartup::splashCloseButtonClosesAtOnceAndOnlyOnce()
{
    QTest::ignoreMessage(QtDebugMsg, "VexadinView Version: 1.1.5");
    InitDialog dialog;
    QSignalSpy finished(&dialog, &QDialog::finished);
    auto *button = dialog.findChild<QAbstractButton *>("btn_close");
    QVERIFY(button);

    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(200, button, [button] { button->click(); });
    dialog.exec();
    QVERIFY2(clock.elapsed() < vxtest::scaled(1500), qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(finished.count(), 1);

    // The two seconds run out later; nothing more may happen.
    QTest::qWait(2300);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TstStartup)

void TstStartup::commandLineNamesFiles()
{
    QTest::ignoreMessage(QtWarningMsg, "Unknown option ignored: \"--fullscreen\"");
    QCOMPARE(filesFromArguments({"VexadinView", "a.raw", "--fullscreen", "-", "--", "-odd.raw", "--"}),
             QStringList({"a.raw", "-", "-odd.raw", "--"}));
    QCOMPARE(filesFromArguments({"VexadinView"}), QStringList());
    QCOMPARE(filesFromArguments({}), QStringList());
}

#include "tst_startup.moc"
