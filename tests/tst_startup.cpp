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

    QTranslator probe;
    QVERIFY2(probe.load(file), qPrintable(file + " is not compiled in"));
    // Qt refuses to install a translator without entries; until the
    // translation files are filled in that is the expected outcome.
    if (probe.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, "install translator failed.");

    QTranslator *translator = loadLanguage(language);
    if (probe.isEmpty()) {
        QVERIFY(!translator);
        return;
    }
    QVERIFY(translator);
    QCOMPARE(translator->filePath(), file);
    QCOMPARE(translator->parent(), QCoreApplication::instance());
    QVERIFY(QCoreApplication::removeTranslator(translator));
    delete translator;
}

void TstStartup::chineseInterfaceIsTranslated()
{
    QTranslator probe;
    QVERIFY(probe.load(":/app_zh.qm"));
    if (probe.translate("Widget", "Camera: ").isEmpty())
        QSKIP("Chinese translation does not hold the main window texts yet");

    QTranslator *translator = loadLanguage("zh");
    QVERIFY(translator);
    QCOMPARE(QCoreApplication::translate("Widget", "Camera: "), QString("序列号："));
    QVERIFY(QCoreApplication::removeTranslator(translator));
    delete translator;

    // English keeps the source texts.
    translator = loadLanguage("fr");
    QCOMPARE(QCoreApplication::translate("Widget", "Camera: "), QString("Camera: "));
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
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
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(finished.count(), 1);

    // The two seconds run out later; nothing more may happen.
    QTest::qWait(2300);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TstStartup)

#include "tst_startup.moc"
