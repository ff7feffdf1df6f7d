#pragma once
// Network waits of the launcher and its dialogs: the work runs on a thread of its own while the
// window's event loop goes on, so the program repaints and takes input however long a peer takes.
#include <QAbstractButton>
#include <QLabel>
#include <QString>

#include <functional>

#include "net/Internet.h"

namespace zx {

struct TAwaitOptions {
    // Shown in this label while the wait lasts longer than half a second, then cleared.
    QLabel* Status = nullptr;
    QString BusyText = QStringLiteral("Please wait ...");
    // Pressed while waiting, it cancels the wait (the dialog stays as it was).
    QAbstractButton* Cancel = nullptr;
    // The window the wait belongs to: CancelWaitsOf(Owner) ends it when that window closes.
    QObject* Owner = nullptr;
};

// Runs work off the window's thread and returns when it is done, with the event loop running
// meanwhile; after half a second the program shows that it is busy (a busy cursor, the status
// line). Raises what work raised, or ETransferCancelled when the wait was cancelled or the
// program is ending (CancelAllWaits).
void AwaitTransfer(const std::function<void(const TTransfer&)>& work,
                   const TAwaitOptions& options = {});
// True while some AwaitTransfer is waiting.
bool Waiting();
// Runs f from the window thread's event loop once no AwaitTransfer is waiting (at the next pass
// when none is); dropped when context is gone by then.
void WhenNotWaiting(QObject* context, std::function<void()> f);
// Cancels every running wait: the program is ending.
void CancelAllWaits();
// Cancels the waits of one window (it is closing).
void CancelWaitsOf(const QObject* owner);

}  // namespace zx
