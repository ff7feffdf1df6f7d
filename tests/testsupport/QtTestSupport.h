#pragma once
// The one QApplication of a test process (the offscreen platform, from the suite's environment).
#include <QApplication>

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

}  // namespace zx::test
