#include "processing/vxrangejob.h"

#include "camera/dvsfilereader.h"

#include <QDebug>
#include <QFileInfo>

#include <memory>

namespace {

bool sameFile(const std::string &localA, const QString &b)
{
    const QString canonicalA = QFileInfo(QString::fromLocal8Bit(localA.c_str())).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

VxRangeJob::VxRangeJob(uint64_t id, Kind kind, std::string sourcePath, QString outPath, QString outDir,
                       uint64_t start, uint64_t end)
    : id_(id), kind_(kind), sourcePath_(std::move(sourcePath)), outPath_(std::move(outPath)),
      outDir_(std::move(outDir)), start_(start), end_(end)
{
}

void VxRangeJob::setProgressHandler(std::function<void(double)> handler)
{
    control_.setProgressHandler(std::move(handler));
}

void VxRangeJob::cancel()
{
    control_.cancel();
}

bool VxRangeJob::isCancelled() const
{
    return control_.cancelled();
}

VxRangeJob::Result VxRangeJob::run()
{
    Result result;
    if (kind_ == Kind::Export)
        qDebug() << "start export video: " << outPath_;
    if (control_.cancelled()) {
        result.cancelled = true;
        return result;
    }
    if (sameFile(sourcePath_, outPath_)) {
        qWarning() << "refusing to overwrite the open recording: " << outPath_;
        return result;
    }
    control_.report(0.0); // the waiting window offers Cancel from the start
    std::unique_ptr<vexadin::DvsFileReader> reader = vexadin::DvsFileReader::createFileReader(sourcePath_);
    // Opening may rebuild the index of a recording whose writer was killed: that can
    // be cancelled too, but its progress is not the job's.
    vexadin::OperationControl opening;
    opening.setStopCondition([this] { return control_.cancelled(); });
    if (reader && reader->open(opening)) {
        const std::string out = outPath_.toLocal8Bit().toStdString();
        result.ok = kind_ == Kind::Export ? reader->exportVideo(start_, end_, out, control_)
                                          : reader->cut(start_, end_, out, control_);
    }
    result.cancelled = !result.ok && control_.cancelled();
    if (result.ok)
        result.unreadable = control_.unreadable();
    return result;
}
