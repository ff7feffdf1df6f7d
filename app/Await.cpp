#include "app/Await.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <exception>
#include <memory>
#include <vector>

namespace zx {
namespace {

struct TWait {
    std::shared_ptr<TTransfer> transfer;
    const QObject* owner = nullptr;
    QEventLoop* loop = nullptr;
    bool cancelled = false;
};

std::vector<TWait*>& Waits() {
    static std::vector<TWait*> waits;
    return waits;
}

constexpr int kBusyAfterMs = 500;

struct TWhenNotWaiting {
    QPointer<QObject> context;
    std::function<void()> f;
};

std::vector<TWhenNotWaiting>& AfterWaits() {
    static std::vector<TWhenNotWaiting> after;
    return after;
}

void RunAfterWaits() {
    std::vector<TWhenNotWaiting> due;
    due.swap(AfterWaits());
    for (TWhenNotWaiting& w : due)
        if (w.context) QMetaObject::invokeMethod(w.context, std::move(w.f), Qt::QueuedConnection);
}

}  // namespace

bool Waiting() { return !Waits().empty(); }

void WhenNotWaiting(QObject* context, std::function<void()> f) {
    AfterWaits().push_back({context, std::move(f)});
    if (!Waiting()) RunAfterWaits();
}

void CancelAllWaits() { CancelWaitsOf(nullptr); }

void CancelWaitsOf(const QObject* owner) {
    for (TWait* w : Waits()) {
        if (owner && w->owner != owner) continue;
        w->cancelled = true;
        if (w->transfer) w->transfer->Cancel();
        if (w->loop) w->loop->quit();
    }
}

void AwaitTransfer(const std::function<void(const TTransfer&)>& work,
                   const TAwaitOptions& options) {
    QEventLoop loop;
    TWait wait;
    wait.loop = &loop;
    wait.owner = options.Owner;
    bool finished = false;
    std::exception_ptr failure;
    wait.transfer = StartTransfer(work, [&loop, &finished, &failure](std::exception_ptr e) {
        // On the transfer's thread: the result goes back to the window's thread as an event.
        QMetaObject::invokeMethod(
            &loop,
            [&loop, &finished, &failure, e] {
                finished = true;
                failure = e;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    Waits().push_back(&wait);

    bool busyShown = false;
    QPointer<QLabel> status = options.Status;
    QTimer busy;
    busy.setSingleShot(true);
    QObject::connect(&busy, &QTimer::timeout, [&] {
        busyShown = true;
        QApplication::setOverrideCursor(Qt::BusyCursor);
        if (status) status->setText(options.BusyText);
    });
    busy.start(kBusyAfterMs);
    QMetaObject::Connection cancelled;
    if (options.Cancel)
        cancelled = QObject::connect(options.Cancel, &QAbstractButton::clicked, &loop, [&] {
            wait.cancelled = true;
            loop.quit();
        });

    // A quit of the whole program ends this loop too; it counts as a cancel.
    if (!finished && !wait.cancelled) loop.exec();

    // The completion runs under the transfer's lock: once Cancel() returns it cannot touch the
    // loop or the locals above.
    wait.transfer->Cancel();
    QObject::disconnect(cancelled);
    busy.stop();
    if (busyShown) {
        QApplication::restoreOverrideCursor();
        if (status) status->clear();
    }
    std::erase(Waits(), &wait);
    if (!Waiting()) RunAfterWaits();
    if (!finished) throw ETransferCancelled();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace zx
