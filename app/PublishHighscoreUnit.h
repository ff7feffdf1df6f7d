#pragma once
// Publishing the best local score: the player's details, the scrambled payload sent to the
// highscore server, and its answer.
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/DeferredDelete.h"
#include "game/ReplayStore.h"
#include "net/Internet.h"
#include "payload/Payload.h"

namespace zx {

class TPublishHighscoreForm : public QDialog {
    Q_OBJECT
public:
    explicit TPublishHighscoreForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;  // "Your highest score:"
    QLabel* Label2 = nullptr;  // the score
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* Edit1 = nullptr;      // name
    QLineEdit* Edit2 = nullptr;      // city
    QLineEdit* Edit3 = nullptr;      // country
    QSpinBox* SpinEdit1 = nullptr;   // age
    QComboBox* ComboBox1 = nullptr;  // sex
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* Edit4 = nullptr;      // e-mail
    QLineEdit* Edit5 = nullptr;      // comment
    QPushButton* Button1 = nullptr;  // Publish
    QLabel* Status = nullptr;        // shows that a publish is on its way
    // Limits of the score server's transfer.
    THttpLimits HttpLimits;
    // The recorded game that gave a score code, sent after the score so that the server can play
    // it again; nothing when none was kept.
    std::function<std::optional<std::string>(std::string_view code)> ReplayFor = LoadReplayForCode;

    void FormShow();
    void Button1Click();

protected:
    void showEvent(QShowEvent* e) override;
    // Closing the dialog calls a publish on its way off; the dialog then goes, once its handler
    // has returned.
    void done(int r) override;

private:
    void Exchange(const QString& busyText, const std::function<void(const TTransfer&)>& work);

    TDeferredDelete life_{this};
    bool publishing_ = false;
    // The last text held as the answer, shown with a failure.
    std::string lastResponse_;
};

// The request address for an encoded payload.
std::string ScoreRequestAddress(const std::string& encoded);
// The address a score's replay is posted to: the same payload ties it to the score.
std::string ReplayRequestAddress(const std::string& encoded);
// The largest replay sent, compressed: what the server takes.
inline constexpr size_t kMaxSentReplayBytes = 64 * 1024;
// Sends the replay for the published payload and returns the line the result shows: the
// server's verdict, or why there is none yet. Blocks: call it from a transfer's work.
std::string SendReplay(const std::string& encoded, const std::optional<std::string>& replay,
                       const THttpLimits& limits, const TTransfer* transfer);

}  // namespace zx
