#pragma once
// The one QApplication of a test process (the offscreen platform, from the suite's environment).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <functional>

namespace zx::test {

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "zolvex-test";
    static char* argv[] = {name, nullptr};
    // Deliberately never destroyed: destroyed among the static objects at exit, it would outlive
    // Qt's own input-device registry and crash on the way out. The process end frees it.
    static QApplication* const app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until done() holds (true) or the time is up (false): for work that comes
// back from a real peer on another thread. The bound only keeps a broken test from hanging.
inline bool RunEventsUntil(const std::function<bool()>& done, int boundMs = 30000) {
    QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Once the event loop runs (the next box's own loop, say), looks at the modal box that is up and
// presses its button.
inline void AnswerTheNextBox(const std::function<void(QMessageBox&)>& look,
                             QMessageBox::StandardButton press = QMessageBox::Ok) {
    QTimer::singleShot(0, [look, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "no box is up";
        look(*box);
        box->button(press)->click();
    });
}

}  // namespace zx::test
