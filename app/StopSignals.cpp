#include "app/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/Main.h"

namespace zx {
namespace {

constexpr int kStopSignals[3] = {SIGTERM, SIGINT, SIGHUP};
int stopPipe[2] = {-1, -1};

void RequestStop(int) {
    const int saved = errno;
    const char c = 1;
    (void)!write(stopPipe[1], &c, 1);
    errno = saved;
}

}  // namespace

TStopSignals::TStopSignals(TForm1& form) {
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &form, [&form] {
        char buf[16];
        while (read(stopPipe[0], buf, sizeof buf) > 0) {
        }
        form.RequestStop();
    });
    struct sigaction sa {};
    sa.sa_handler = RequestStop;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &sa, &previous_[i]);
    installed_ = true;
}

TStopSignals::~TStopSignals() {
    if (!installed_) return;
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
    notifier_.reset();
    close(stopPipe[0]);
    close(stopPipe[1]);
    stopPipe[0] = stopPipe[1] = -1;
}

}  // namespace zx
