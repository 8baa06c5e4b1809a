#pragma once

#include <QObject>

// Work in flight that the user can stop: a URL session task, for instance. It lives on the
// main thread and is deleted once it has ended, so hold it through a QPointer.
class Cancellable : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Safe at any time from the main thread; once the work has ended it has no effect.
    virtual void cancel() = 0;
};
