#include "app/workerthread.h"

#include <utility>

WorkerThread::WorkerThread(std::function<void()> task, QObject *parent)
    : QThread(parent), m_task(std::move(task))
{
}

WorkerThread::~WorkerThread()
{
    wait();
}

void WorkerThread::run()
{
    if (!m_task)
        return;
    m_task();
    emit taskCompleted();
}
