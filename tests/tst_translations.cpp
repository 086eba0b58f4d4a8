// The catalogues are kept by hand, so nothing else notices when one loses an
// entry: the Chinese interface then shows that text in English. Every text the
// sources mark translatable, as lupdate extracts it from the tree, must be in
// both compiled catalogues: unchanged in English and, apart from the texts that
// read the same in every language, in Chinese words.
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

struct SourceText {
    QString context;
    QString source;
    QString comment; // disambiguation, empty for most texts
};

// Shown as written in both languages: version texts, file-name placeholders,
// the language switch that names both languages, and the form fillers.
const QSet<QString> kUntranslated = {
    "Version:1.0.0", "xxx.raw", "xxx.mp4", "EN/中文", "Tab 1", "Tab 2", "--/ --", "0", "111",
};

// Texts that were once kept out of the catalogues; each context stands for a
// form whose texts must be extracted at all.
const QList<SourceText> kMustBeExtracted = {
    {"Widget", "Widget", {}},
    {"Widget", "Camera: ", {}},
    {"MainWidget", "Cut Recording", {}},
    {"VxCutRawFile", "VxCutRawFile", {}},
    {"VxCutRawFile", "xxx.raw", {}},
    {"VxExportVideoUI", "VxExportVideoUI", {}},
    {"VxExportVideoUI", "xxx.mp4", {}},
    {"ShowImageForm", "ShowImageForm", {}},
    {"WaitingWin", "WaitingWin", {}},
    {"VxGeneralSetting", "General Settings", {}},
    {"VXMessageBox", "Title", {}},
    {"VxFilePathReminderForm", "Open Dir", {}},
};

QString describe(const SourceText &text)
{
    return text.context + " \"" + text.source + "\"";
}

bool readExtraction(const QString &tsPath, QList<SourceText> *texts)
{
    QFile file(tsPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    QString context;
    SourceText current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("context"))
                context.clear();
            else if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("message"))
                current = SourceText{context, {}, {}};
            else if (xml.name() == QLatin1String("source"))
                current.source = xml.readElementText();
            else if (xml.name() == QLatin1String("comment"))
                current.comment = xml.readElementText();
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            texts->append(current);
        }
    }
    return !xml.hasError();
}

} // namespace

class TstTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyInterfaceTextIsInBothCatalogues();

private:
    QList<SourceText> m_texts;
};

void TstTranslations::initTestCase()
{
    // The layer folders that hold interface code; those not built yet are skipped.
    const QString root = QStringLiteral(VX_SOURCE_DIR);
    QStringList args{"-I", root};
    for (const char *folder : {"app", "camera", "processing", "Utility", "ui", "widgets"}) {
        if (QFile::exists(root + '/' + folder))
            args << root + '/' + folder;
    }
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString ts = tmp.filePath("extracted.ts");
    args << "-extensions" << "cpp,h,ui" << "-locations" << "none" << "-no-obsolete" << "-silent" << "-ts" << ts;

    QProcess lupdate;
    lupdate.start(QStringLiteral(VX_LUPDATE), args);
    QVERIFY2(lupdate.waitForFinished(60000), qPrintable(lupdate.errorString()));
    const QByteArray errors = lupdate.readAllStandardError();
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0, errors.constData());
    if (!errors.trimmed().isEmpty())
        qInfo("lupdate: %s", errors.constData());
    QVERIFY(readExtraction(ts, &m_texts));
}

void TstTranslations::everyInterfaceTextIsInBothCatalogues()
{
    // An extraction that silently found little would pass everything below.
    QVERIFY2(m_texts.size() >= 100, qPrintable(QString::number(m_texts.size())));
    for (const SourceText &wanted : kMustBeExtracted) {
        const bool found = std::any_of(m_texts.cbegin(), m_texts.cend(), [&](const SourceText &t) {
            return t.context == wanted.context && t.source == wanted.source;
        });
        QVERIFY2(found, qPrintable("not marked translatable: " + describe(wanted)));
    }

    QTranslator english;
    QVERIFY(english.load(":/app_en.qm"));
    QTranslator chinese;
    QVERIFY(chinese.load(":/app_zh.qm"));

    QStringList faults;
    for (const SourceText &text : std::as_const(m_texts)) {
        const QByteArray context = text.context.toUtf8();
        const QByteArray source = text.source.toUtf8();
        const QByteArray comment = text.comment.toUtf8();
        const char *disambiguation = comment.isEmpty() ? nullptr : comment.constData();

        const QString en = english.translate(context.constData(), source.constData(), disambiguation);
        if (en.isEmpty())
            faults << "missing in English: " + describe(text);
        else if (en != text.source)
            faults << "English differs from the source: " + describe(text) + " -> \"" + en + "\"";

        const QString zh = chinese.translate(context.constData(), source.constData(), disambiguation);
        if (zh.isEmpty())
            faults << "missing in Chinese: " + describe(text);
        else if (kUntranslated.contains(text.source) ? zh != text.source : zh == text.source)
            faults << "Chinese reads \"" + zh + "\" for " + describe(text);
    }
    QVERIFY2(faults.isEmpty(), qPrintable("\n" + faults.join('\n')));
}

QTEST_GUILESS_MAIN(TstTranslations)

#include "tst_translations.moc"
