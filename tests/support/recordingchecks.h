#pragma once

// Helpers of the Qt tests that record from cameras: notifications collected on
// the GUI thread, the camera library's log, and checking a finished recording.
// Header-only: the support library itself does not link Qt.

#include "app/vxmessagetype.h"
#include "camera/dvsfilereader.h"
#include "camera/logger.h"

#include <QDebug>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdint>

namespace vxtest {

struct Tip {
    QString text;
    VxMessageType type;
    QString path;
};

// Notifications of any emitter of signalShowLeftBottomTips, received queued on
// the GUI thread (workers and camera threads emit them too).
class TipLog : public QObject
{
public:
    template <typename Emitter> void watch(Emitter *emitter)
    {
        connect(emitter, &Emitter::signalShowLeftBottomTips, this,
                [this](QString text, VxMessageType type, QString path) { tips.append({text, type, path}); },
                Qt::QueuedConnection);
    }
    int count(const QString &text) const
    {
        return int(std::count_if(tips.begin(), tips.end(), [&](const Tip &t) { return t.text == text; }));
    }
    const Tip *last(const QString &text) const
    {
        for (auto it = tips.rbegin(); it != tips.rend(); ++it)
            if (it->text == text)
                return &*it;
        return nullptr;
    }
    QList<Tip> tips;
};

inline QString cameraLogText()
{
    QFile log(QString::fromLocal8Bit(vexadin::Logger::Instance().logFilePath()));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

struct FileSpan {
    bool ok = false;
    uint64_t first = 0;
    uint64_t last = 0;
    double seconds() const { return double(last - first) / 1e6; }
};

// A finished recording that `vxraw check` accepts (ok), with its time span.
inline FileSpan checkedRecording(const QString &path)
{
    FileSpan span;
    QProcess check;
    check.start(VX_VXRAW_EXE, {"check", path});
    if (!check.waitForFinished(30000) || check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) {
        qWarning() << "vxraw check" << path << check.readAllStandardOutput() << check.readAllStandardError();
        return span;
    }
    auto reader = vexadin::DvsFileReader::createFileReader(path.toLocal8Bit().toStdString());
    span.ok = reader && reader->open() && reader->getStartTimestamp(span.first) && reader->getEndTimestamp(span.last);
    return span;
}

} // namespace vxtest
