#pragma once

#include <QThread>

#include <functional>

// Runs one blocking task on a thread of its own, e.g. opening a camera while
// the GUI stays responsive. taskCompleted() is emitted from the worker thread
// after the task returns (delivered queued to receivers on other threads).
class WorkerThread : public QThread
{
    Q_OBJECT

public:
    explicit WorkerThread(std::function<void()> task, QObject *parent = nullptr);
    // Waits for a task still running: destroying a running QThread aborts
    // the process (e.g. the owner closes while a camera is being opened).
    ~WorkerThread() override;

signals:
    void taskCompleted();

protected:
    void run() override;

private:
    std::function<void()> m_task;
};
