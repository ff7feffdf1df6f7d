// The program: one copy per user, then the launcher.
#include <SDL.h>
#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "app/CommandLine.h"
#include "app/Main.h"
#include "app/StopSignals.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/Paths.h"

int main(int argc, char** argv) {
    // Answered before the toolkit looks for a display: "zolvex --version" works on a console.
    if (const std::optional<int> rc = zx::HandleCommandLine(argc, argv, std::cout, std::cerr))
        return *rc;
    // A logout or a kill asks the program to end as the close button does, saving the settings;
    // the game screen's library must not take those signals for itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The game screen's window belongs to the launcher's desktop entry too: SDL takes its window
    // class (X11) and app id (Wayland) from these, else from the executable's name. A value the
    // user set stays.
    setenv("SDL_VIDEO_X11_WMCLASS", "Zolvex", 0);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", zx::kDesktopFileName, 0);
    // Beyond the two options the program takes no arguments, so Qt sees only its name.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zolvex"));
    // The desktop matches the windows to the desktop entry (its icon and name) by this.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(zx::kDesktopFileName));
    QApplication::setWindowIcon(zx::ProgramIcon());
    // One copy per user and per folder the settings are written to: two copies would each save
    // their settings over the other's. Two installed copies share the user's data folder.
    zx::platform::SingleInstanceLock lock(
        zx::platform::InstanceLockName("Zolvex Application", zx::DataDir()));
    if (lock.AnotherRunning()) {
        QMessageBox::information(
            nullptr, QStringLiteral("Zolvex"),
            QStringLiteral("You have another instance of this application already running"));
        return 0;
    }
    zx::InstallMessageBoxes();
    QApplication::setFont(zx::LauncherFont());
    int rc = 0;
    {
        std::unique_ptr<zx::TForm1> created = zx::CreateLauncher();
        if (!created) {
            zx::platform::SetMessageHook(nullptr);
            return 1;
        }
        zx::TForm1& form = *created;
        const zx::TStopSignals stopSignals(form);
        form.show();
        rc = QApplication::exec();
    }
    zx::platform::SetMessageHook(nullptr);
    // The settings are saved. A transfer cancelled on the way out ends at its next progress call;
    // one that does not end in time must not run on while the libraries are taken down.
    if (!zx::WaitForTransfers(std::chrono::milliseconds(1500))) std::_Exit(rc);
    return rc;
}
