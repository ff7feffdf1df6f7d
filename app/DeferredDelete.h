#pragma once
// A window of the launcher that deletes itself once it is closed, but never while one of its own
// handlers is still running. A handler that shows a message box or waits for a peer runs a nested
// event loop; a close that arrives there (the program asked to end by a signal, say) must not
// delete the window, and the box that belongs to it, under that handler.
#include <QWidget>

namespace zx {

class TDeferredDelete {
public:
    explicit TDeferredDelete(QWidget* form) : form_(form) {}
    TDeferredDelete(const TDeferredDelete&) = delete;
    TDeferredDelete& operator=(const TDeferredDelete&) = delete;

    // Held by a handler for as long as it runs (its first local, so that it goes last).
    class TBusy {
    public:
        explicit TBusy(TDeferredDelete& owner) : owner_(owner) { ++owner_.busy_; }
        ~TBusy() {
            if (--owner_.busy_ == 0 && owner_.closed_) owner_.form_->deleteLater();
        }
        TBusy(const TBusy&) = delete;
        TBusy& operator=(const TBusy&) = delete;

    private:
        TDeferredDelete& owner_;
    };
    TBusy Busy() { return TBusy(*this); }

    // The window was closed: it goes once no handler of it runs any more.
    void Closed() {
        closed_ = true;
        if (busy_ == 0) form_->deleteLater();
    }

private:
    QWidget* form_;
    int busy_ = 0;
    bool closed_ = false;
};

}  // namespace zx
