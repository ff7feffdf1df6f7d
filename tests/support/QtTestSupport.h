#pragma once
// The one QApplication of a test process (the offscreen platform, from the suite's environment).
#include <QApplication>

namespace zx::test {

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "zolvex-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

}  // namespace zx::test
