#pragma once

// Helpers of the Qt tests that record from cameras: notifications collected on
// the GUI thread, the camera library's log, and checking a finished recording.
// Header-only: the support library itself does not link Qt.

#include "app/vxmessagetype.h"
#include "camera/dvsfilereader.h"
#include "camera/logger.h"
#include "vxrawcommands.h"

#include <QDebug>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace vxtest {

// Sanitizer builds run the simulated cameras far below real time (their stream
// skips ahead to keep up), so checks of how much stream time a recording spans
// only hold in plain builds.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define VX_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || defined(VX_TEST_SANITIZED)
constexpr bool kRealTimeBuild = false;
#else
constexpr bool kRealTimeBuild = true;
#endif

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
    bool ok = false;        // vxraw check passed
    bool hasEvents = false; // first and last are set
    uint64_t first = 0;
    uint64_t last = 0;
    double seconds() const { return double(last - first) / 1e6; }
};

// Whether `vxraw check` accepts a (finished) recording, and its time span. The
// command runs in-process: forking a threaded test is not possible under TSan.
inline FileSpan checkedRecording(const QString &path)
{
    FileSpan span;
    std::ostringstream out, err;
    if (runVxrawArgs({"check", path.toLocal8Bit().toStdString()}, out, err) != kVxrawOk) {
        qWarning() << "vxraw check" << path << out.str().c_str() << err.str().c_str();
        return span;
    }
    auto reader = vexadin::DvsFileReader::createFileReader(path.toLocal8Bit().toStdString());
    span.ok = true;
    span.hasEvents = reader && reader->open() && reader->getStartTimestamp(span.first) &&
                     reader->getEndTimestamp(span.last);
    return span;
}

} // namespace vxtest
