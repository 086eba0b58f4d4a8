// Every resource the program loads by path must be compiled in and readable:
// a missing icon shows as an empty button, a missing font silently falls back.
#include <QtTest/QtTest>
#include <QDirIterator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QRawFont>
#include <QSvgRenderer>
#include <QTranslator>

namespace {

const char *const kFontPath = ":/font/NotoSansSC-Medium.ttf";
const char *const kFontFamily = "Noto Sans SC Medium";

QStringList svgPaths()
{
    QStringList paths = {
        // camera list, toasts, message boxes, setting items
        ":/img/assets/btn_search.svg",
        ":/img/assets/btn_camera.svg",
        ":/img/assets/icon_toasts_success.svg",
        ":/img/assets/icon_toasts_warning.svg",
        ":/img/assets/icon_toasts_error.svg",
        ":/img/assets/icon_toasts_close.svg",
        ":/img/assets/btn_switch_enable.svg",
        ":/img/assets/btn_switch_disable.svg",
        ":/img/assets/bnt_arrow_down.svg",
        ":/img/assets/bnt_arrow_up_Pressed.svg",
        ":/img/assets/btn_setting_plus.svg",
        ":/img/assets/btn_setting_plus_pressed.svg",
        ":/img/assets/btn_setting_minus.svg",
        ":/img/assets/btn_setting_minus_pressed.svg",
        ":/img/assets/btn_setting_thumbs.svg",
        ":/img/assets/icon_folder.svg",
        ":/img/assets/icon_combo_arrow.svg",
        ":/img/assets/icon_check.svg",
        ":/img/assets/icon_menu_arrow.svg",
    };
    const QStringList titleBar = {"Minimize", "Maximize", "Restore", "CloseWindow", "CloseWindow_White"};
    for (const QString &name : titleBar)
        for (const char *state : {"", "_Hover", "_Pressed"})
            paths << QStringLiteral(":/img/assets/btn_Nav_%1%2.svg").arg(name, QLatin1String(state));
    const QStringList playBar = {"DVS", "APS", "Fusion", "play", "pause", "prev", "next", "stop",
                                 "setting", "loop", "loop_checked", "record", "record_checked"};
    for (const QString &name : playBar)
        for (const char *state : {"", "_hover", "_disable"})
            paths << QStringLiteral(":/img/assets/btn_playbar_%1%2.svg").arg(name, QLatin1String(state));
    for (const char *name : {"display", "dvs", "aps", "general"})
        for (const char *state : {"", "_hover", "_checked"})
            paths << QStringLiteral(":/img/assets/btn_sidebar_%1%2.svg").arg(QLatin1String(name), QLatin1String(state));
    return paths;
}

// Share of pixels that are not fully transparent: an icon drawn in the wrong
// colour space or with a broken path renders empty.
double coverage(const QImage &img)
{
    int painted = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            painted += qAlpha(img.pixel(x, y)) > 0;
    return double(painted) / (img.width() * img.height());
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void svgIcons_data();
    void svgIcons();
    void everyPackedSvgIsValid();
    void logos();
    void waitingAnimation();
    void font();
    void translations();
};

void TestResources::svgIcons_data()
{
    QTest::addColumn<QString>("path");
    for (const QString &path : svgPaths())
        QTest::newRow(qPrintable(path)) << path;
}

void TestResources::svgIcons()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), "missing");
    QSvgRenderer renderer(path);
    QVERIFY2(renderer.isValid(), "not a readable SVG");
    QVERIFY(!renderer.defaultSize().isEmpty());

    QImage img(renderer.defaultSize() * 2, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter painter(&img);
    renderer.render(&painter);
    painter.end();
    QVERIFY2(coverage(img) > 0.02, "renders (almost) nothing");
}

// Files packed but not listed above (added later, or a typo) must still load.
void TestResources::everyPackedSvgIsValid()
{
    int count = 0;
    QDirIterator it(":/img", {"*.svg"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QVERIFY2(QSvgRenderer(path).isValid(), qPrintable(path));
        ++count;
    }
    QVERIFY(count >= svgPaths().size());
}

void TestResources::logos()
{
    const QImage splash(":/img/assets/Vexadin logo_ system-version.png");
    QVERIFY2(!splash.isNull(), "splash logo missing or unreadable");
    QVERIFY(splash.width() >= 200 && splash.height() >= 50 && splash.width() > 2 * splash.height());
    QVERIFY(splash.hasAlphaChannel());

    const QImage icon(":/img/assets/Vexadin logo_navigate.png");
    QVERIFY2(!icon.isNull(), "window icon missing or unreadable");
    QCOMPARE(icon.width(), icon.height());
    QVERIFY(icon.width() >= 64);
    // The window icon must stay recognisable when the title bar shows it small.
    const QImage small = icon.scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QVERIFY(coverage(small) > 0.5);
}

void TestResources::waitingAnimation()
{
    QMovie movie(":/img/icon/waiting.gif");
    QVERIFY2(movie.isValid(), "waiting animation missing or unreadable");
    QVERIFY(movie.frameCount() >= 8);
    QImageReader reader(":/img/icon/waiting.gif");
    QCOMPARE(reader.loopCount(), -1); // loops forever
    QVERIFY(reader.nextImageDelay() > 0);
    const QImage first = reader.read();
    QVERIFY(!first.isNull());
    QVERIFY(first.hasAlphaChannel());
    // Frames must differ, or the spinner stands still.
    QImage middle;
    for (int i = 0; i < reader.imageCount() / 2; ++i)
        middle = reader.read();
    QVERIFY(!middle.isNull());
    QVERIFY(middle != first);
}

void TestResources::font()
{
    const int id = QFontDatabase::addApplicationFont(kFontPath);
    QVERIFY2(id != -1, "interface font missing or unreadable");
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QCOMPARE(families, QStringList{kFontFamily});

    // The style sheets name the family; it must resolve to the embedded face.
    QFont font(kFontFamily);
    font.setPixelSize(16);
    QCOMPARE(QFontInfo(font).family(), QString(kFontFamily));

    // Latin, punctuation and the Chinese texts of the interface, including the
    // translations of "Camera: " and "Cut Recording", must come from this font
    // rather than a fallback.
    const QRawFont raw = QRawFont::fromFont(font);
    QVERIFY(raw.isValid());
    const QString sample = QStringLiteral("Vexadin 0123456789 Bandwidth: Mbps | Time: ,.;()%\u00b5\u00b0"
                                          "\u5e8f\u5217\u53f7\uff1a\u88c1\u526a\u5f55\u5236\u6587\u4ef6"
                                          "\u88c1\u526aRaw\u6587\u4ef6 EN/\u4e2d\u6587 \u3002\u3001\u201c\u201d"
                                          "\u4fdd\u5b58\u6210\u529f\u6253\u5f00\u76f8\u673a\u8bbe\u7f6e");
    for (const QChar ch : sample)
        QVERIFY2(raw.supportsCharacter(ch), qPrintable(QStringLiteral("no glyph for U+%1")
                                                       .arg(ch.unicode(), 4, 16, QLatin1Char('0'))));

    // Paint a line of mixed text; when VX_FONT_SAMPLE names a file the picture is kept for a look.
    QImage img(420, 90, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter painter(&img);
    painter.setFont(font);
    painter.setPen(QColor("#004B6A"));
    painter.drawText(img.rect().adjusted(8, 4, -8, -4), Qt::AlignVCenter | Qt::TextWordWrap, sample);
    painter.end();
    int dark = 0;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y)
            dark += qGray(img.pixel(x, y)) < 128;
    QVERIFY(dark > 500);
    const QByteArray samplePath = qgetenv("VX_FONT_SAMPLE");
    if (!samplePath.isEmpty())
        img.save(QString::fromLocal8Bit(samplePath));
}

void TestResources::translations()
{
    for (const char *path : {":/app_en.qm", ":/app_zh.qm"}) {
        QFile file(path);
        QVERIFY2(file.exists(), path);
        QVERIFY2(file.size() > 0, path);
    }
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
