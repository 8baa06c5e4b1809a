#pragma once

#include <functional>

// The one way code on a worker thread hands work back to the main (GUI) thread: `work`
// runs later on the thread of the QCoreApplication instance, in posting order.
namespace MainThread {
void post(std::function<void()> work);
}
