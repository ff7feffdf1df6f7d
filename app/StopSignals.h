#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl+C) end the launcher as its close button does.
// The handler only writes a byte to a pipe; the event loop that is running when it arrives (the
// main one, a message box's, a network wait's) reads it and asks the launcher to stop.
#include <QSocketNotifier>

#include <csignal>
#include <memory>

namespace zx {

class TForm1;

class TStopSignals {
public:
    explicit TStopSignals(TForm1& form);
    // The handlers that were there before come back.
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // False when the pipe could not be made: the signals keep their default action.
    bool Installed() const { return installed_; }

private:
    bool installed_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3]{};
};

}  // namespace zx
