#pragma once

#include <QObject>
#include <QPointer>

#include "platform/main_queue.h"

// The main queue of the tray application, on the Qt event loop. Tasks are
// queued events delivered to a context object that lives on the main thread,
// so posting from a worker thread is safe and tasks run in posting order.
class QtMainQueue : public MainQueue {
public:
    // Must be created on the main (GUI) thread, after the QApplication.
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    std::shared_ptr<Timer> schedule(Duration interval, bool repeating, Task task) override;

private:
    class QtTimer;
    // Deleted with the queue: tasks still pending then are dropped with it.
    QObject* m_context;
};
