#pragma once

// Helpers for tests that drive the main window with real cameras: the diagnostic
// lines it logs, answering its modal dialogs, and choosing a camera.
#include "camera/cameraslist.h"
#include "ui/mainwidget.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>

namespace vxtest {

// Diagnostic lines from the GUI thread and from camera and worker threads, kept
// without the quotes and spaces qDebug() may add around strings.
class MessageLog
{
public:
    static MessageLog &instance()
    {
        static MessageLog log;
        return log;
    }
    void install() { qInstallMessageHandler(&MessageLog::handler); }
    int count(const QString &text) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_lines.count(text));
    }
    int countStartingWith(const QString &text) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(std::count_if(m_lines.begin(), m_lines.end(), [&](const QString &l) { return l.startsWith(text); }));
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        MessageLog &log = instance();
        std::lock_guard<std::mutex> lock(log.m_mutex);
        QString bare = message;
        bare.remove('"');
        log.m_lines.append(bare.trimmed());
    }
    mutable std::mutex m_mutex;
    QStringList m_lines;
};

// Runs `act` on the first modal dialog of type T as soon as it shows.
template <typename T> void onModal(QObject *context, std::function<void(T &)> act)
{
    auto *poll = new QTimer(context);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, context, [poll, act] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(*dialog);
        }
    });
    poll->start();
}

// "Open Camera", then the row of `serial` chosen with Open.
inline void openCamera(MainWidget &w, const std::string &serial)
{
    onModal<CamerasList>(&w, [serial](CamerasList &list) {
        auto *view = list.findChild<QListWidget *>("listWidget_cameras");
        for (int row = 0; row < view->count(); ++row)
            if (view->item(row)->text() == QString::fromStdString(serial))
                view->setCurrentRow(row);
        list.findChild<QPushButton *>("pb_open")->click();
    });
    w.slotOpenCamera();
}

template <typename T> T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}

} // namespace vxtest
