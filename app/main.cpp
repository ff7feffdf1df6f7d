// The program: one copy per user, then the launcher.
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>

#include "app/Main.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/Paths.h"

namespace {

int stopPipe[2] = {-1, -1};

void RequestStop(int) {
    const char c = 1;
    (void)!write(stopPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
    // A logout or a kill asks the program to end as the close button does, saving the settings;
    // the game screen's library must not take those signals for itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The program takes no arguments; Qt still needs to see argv for its own platform options.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zolvex"));
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
        if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &form);
            QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
                char buf[16];
                while (read(stopPipe[0], buf, sizeof buf) > 0) {
                }
                form.RequestStop();
            });
            struct sigaction sa {};
            sa.sa_handler = RequestStop;
            sigemptyset(&sa.sa_mask);
            sigaction(SIGTERM, &sa, nullptr);
            sigaction(SIGINT, &sa, nullptr);
            sigaction(SIGHUP, &sa, nullptr);
        }
        form.show();
        rc = QApplication::exec();
    }
    zx::platform::SetMessageHook(nullptr);
    // The settings are saved. A transfer cancelled on the way out ends at its next progress call;
    // one that does not end in time must not run on while the libraries are taken down.
    if (!zx::WaitForTransfers(std::chrono::milliseconds(1500))) std::_Exit(rc);
    return rc;
}
