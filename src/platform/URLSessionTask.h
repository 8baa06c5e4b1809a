#pragma once

#include <QObject>

// The handle of one data task of a URLSession.
class URLSessionTask : public QObject {
    Q_OBJECT
public:
    // Safe from the main thread at any time: before, during or after completion, any
    // number of times. A task cancelled before it ended completes with a Cancelled error.
    void cancel();
};
