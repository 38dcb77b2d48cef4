#include "ui/qt/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <climits>

namespace {

int clampedMs(MainQueue::Duration d) {
    auto ms = d.count();
    if (ms < 0) return 0;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

class QtMainQueue::QtTimer : public MainQueue::Timer {
public:
    explicit QtTimer(QTimer* timer) : m_timer(timer) {}
    // Stopping a QTimer on its own thread removes any pending timeout, so no
    // firing can follow.
    void invalidate() override {
        if (!m_timer) return;
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }

private:
    QPointer<QTimer> m_timer;
};

QtMainQueue::QtMainQueue() : m_context(new QObject) {
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
}

QtMainQueue::~QtMainQueue() { delete m_context; }

void QtMainQueue::post(Task task) {
    // A queued invocation is a posted event: thread-safe, and delivered in
    // the order posted because all of them target the same object.
    QMetaObject::invokeMethod(m_context, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtMainQueue::postAfter(Duration delay, Task task) {
    // The timer must be started on the thread that owns its context, so the
    // start itself goes through the queue first.
    int ms = clampedMs(delay);
    QObject* context = m_context;
    post([context, ms, task = std::move(task)] { QTimer::singleShot(ms, Qt::PreciseTimer, context, task); });
}

std::shared_ptr<MainQueue::Timer> QtMainQueue::schedule(Duration interval, bool repeating, Task task) {
    auto* timer = new QTimer(m_context);
    timer->setSingleShot(!repeating);
    timer->setInterval(clampedMs(interval));
    // Short timers (the notice) are precise; hours-long ones may coalesce.
    timer->setTimerType(interval < std::chrono::minutes(1) ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, repeating, task = std::move(task)] {
        if (!repeating) timer->deleteLater();
        task();
    });
    timer->start();
    return std::make_shared<QtTimer>(timer);
}
