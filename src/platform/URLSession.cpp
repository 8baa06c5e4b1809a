#include "URLSession.h"

#include "URLSessionTask.h"
#include "URLSessionWorker.h"

URLSession::URLSession(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("URLSession"));
}

URLSession::~URLSession()
{
    m_thread.quit();
    m_thread.wait();
}

URLSessionTask *URLSession::dataTask(
    const URLRequest &request, Completion completion, Configuration configuration)
{
    // Started with the first task, so that a session that sends nothing costs no thread.
    if (!m_worker) {
        m_worker = new URLSessionWorker();
        m_worker->moveToThread(&m_thread);
        connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_thread.start();
    }
    const quint64 id = ++m_lastTaskID;
    QMetaObject::invokeMethod(m_worker,
        [worker = m_worker, id, request, completion = std::move(completion),
            configuration = std::move(configuration)]() mutable {
            worker->add(id, std::move(request), std::move(completion), std::move(configuration));
        });
    auto *task = new URLSessionTask(this, m_worker, id);
    connect(m_worker, &URLSessionWorker::ended, task, [task, id](quint64 ended) {
        if (ended == id)
            task->deleteLater();
    });
    return task;
}
