#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

void MainThread::post(std::function<void()> work)
{
    // Once the application object is gone there is no main thread left to run `work`.
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}
