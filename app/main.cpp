// The program: one copy per user, then the launcher.
#include <QApplication>
#include <QMessageBox>

#include "app/Main.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"

int main(int argc, char** argv) {
    // The program takes no arguments; Qt still needs to see argv for its own platform options.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zolvex"));
    zx::platform::SingleInstanceLock lock("Zolvex Application");
    if (lock.AnotherRunning()) {
        QMessageBox::information(nullptr, QStringLiteral("Zolvex"),
                                 QStringLiteral("You have another instance of this application already running"));
        return 0;
    }
    zx::InstallMessageBoxes();
    QApplication::setFont(zx::LauncherFont());
    int rc = 0;
    {
        zx::TForm1 form;
        form.show();
        rc = QApplication::exec();
    }
    zx::platform::SetMessageHook(nullptr);
    return rc;
}
