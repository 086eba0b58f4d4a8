#include "processing/recordingimportjob.h"

#include "tools/vxraw/eventconverter.h"
#include "tools/vxraw/inputfile.h"

#include "driver/rawfilereader.h"
#include "driver/rawformat.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Bumped when a change of the importers makes older conversions wrong.
constexpr char kCacheVersion[] = "import-1";

// Conversions killed with the program leave their temporary file; a live one
// touches its file at least every 100 ms.
void removeStaleParts(const QString &dir)
{
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-600);
    for (const QFileInfo &f : QDir(dir).entryInfoList({"*.raw.part-*"}, QDir::Files))
        if (f.lastModified().toUTC() < old)
            QFile::remove(f.absoluteFilePath());
}

} // namespace

RecordingImportJob::RecordingImportJob(QString sourcePath, QString cacheDir, QObject *parent)
    : QObject(parent), m_source(std::move(sourcePath)), m_cacheDir(std::move(cacheDir))
{
}

RecordingImportJob::~RecordingImportJob()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

bool RecordingImportJob::isRecording(const QString &path)
{
    vxraw::InputFile file;
    uint8_t magic[sizeof vexadin::rawformat::kFileMagic] = {};
    return file.open(QFile::encodeName(path).toStdString())
           && file.readAt(0, magic, sizeof magic) == vxraw::InputFile::Read::Ok
           && std::memcmp(magic, vexadin::rawformat::kFileMagic, sizeof magic) == 0;
}

QString RecordingImportJob::defaultCacheDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/imports");
}

QString RecordingImportJob::cachePathFor(const QString &sourcePath, const QString &cacheDir)
{
    const QFileInfo info(sourcePath);
    if (!info.exists())
        return {};
    QCryptographicHash key(QCryptographicHash::Sha1);
    key.addData(QByteArray(kCacheVersion));
    key.addData(info.canonicalFilePath().toUtf8());
    key.addData(QByteArray::number(info.size()));
    key.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    return QDir(cacheDir).filePath(info.completeBaseName() + QLatin1Char('-')
                                   + QString::fromLatin1(key.result().toHex().left(16)) + QStringLiteral(".raw"));
}

void RecordingImportJob::start()
{
    if (m_thread.joinable())
        return;
    m_output = cachePathFor(m_source, m_cacheDir);
    m_thread = std::thread(&RecordingImportJob::run, this);
}

void RecordingImportJob::cancel()
{
    m_cancel.store(true);
}

void RecordingImportJob::run()
{
    if (m_cancel.load()) {
        emit finished(false, QString());
        return;
    }
    if (m_output.isEmpty()) {
        emit finished(false, QStringLiteral("the file does not exist"));
        return;
    }
    if (!QDir().mkpath(m_cacheDir)) {
        emit finished(false, QStringLiteral("cannot create the cache folder ") + m_cacheDir);
        return;
    }
    removeStaleParts(m_cacheDir);
    const std::string out = m_output.toLocal8Bit().toStdString();
    // A complete earlier conversion of the unchanged source: open it again.
    if (QFileInfo::exists(m_output) && vexadin::RawFileReader::create(out)) {
        m_reused.store(true);
        emit progress(1.0);
        emit finished(true, QString());
        return;
    }
    QFile::remove(m_output);

    const std::string in = m_source.toLocal8Bit().toStdString();
    vxraw::ConvertOptions options;
    int lastPercent = -1;
    options.progress = [&](double fraction) {
        // Whole percents: enough for a progress bar, few signals.
        const int percent = static_cast<int>(std::floor(fraction * 100));
        if (percent != lastPercent) {
            lastPercent = percent;
            emit progress(fraction);
        }
        return !m_cancel.load();
    };
    const vxraw::ConvertResult r = vxraw::convertToRecording(in, out, options);
    m_outsideSensor.store(r.outsideSensor);
    switch (r.status) {
    case vxraw::ConvertResult::Status::Ok:
        emit finished(true, QString());
        return;
    case vxraw::ConvertResult::Status::Cancelled:
        emit finished(false, QString());
        return;
    default:
        break;
    }
    // The reason without the source path in front: the window names the file itself.
    QString reason = QString::fromLocal8Bit(r.error.c_str());
    const QString prefix = m_source + QStringLiteral(": ");
    if (reason.startsWith(prefix))
        reason.remove(0, prefix.size());
    qWarning() << "import failed:" << m_source << reason;
    emit finished(false, reason);
}
