#include "app/PublishHighscoreUnit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Await.h"
#include "app/HighscoreuploadedUnit.h"
#include "app/Main.h"
#include "game/GameRecords.h"
#include "game/Highscores.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "support/Ansi.h"
#include "support/Random.h"

namespace zx {
namespace {

QLineEdit* Edit(QWidget* parent, int maxLength) {
    auto* e = new QLineEdit(parent);
    e->setMaxLength(maxLength);
    return e;
}

}  // namespace

std::string ScoreRequestAddress(const std::string& encoded) {
    return "http://" + HostSetting("ScoreServer") + "/score2.php?cs=" + encoded;
}

std::string ReplayRequestAddress(const std::string& encoded) {
    return "http://" + HostSetting("ScoreServer") + "/replay.php?cs=" + encoded;
}

std::string SendReplay(const std::string& encoded, const std::optional<std::string>& replay,
                       const THttpLimits& limits, const TTransfer* transfer) {
    if (!replay) return "No record of this game was kept: your score stays unverified.";
    const std::string packed = Gzip(*replay);
    if (packed.size() > kMaxSentReplayBytes)
        return "The record of this game is too large to send: your score stays unverified.";
    // The server waits a while for its verifier and answers "pending" when the verdict is still
    // to come; the same replay sent again is not played twice, only waited for again.
    constexpr int kAsks = 6;
    std::string text, verdict;
    TPayloadAnswer answer;
    const auto value = [&](const char* name) {
        auto it = answer.find(name);
        return it == answer.end() ? std::string() : AnsiToUtf8(it->second);
    };
    for (int ask = 1; ask <= kAsks && (ask == 1 || verdict == "pending"); ++ask) {
        try {
            text = HttpPost(ReplayRequestAddress(encoded),
                            {"Content-Type: application/gzip", "Accept: text/plain"}, packed,
                            limits, transfer);
        } catch (const EHttpError& e) {
            if (e.Status == 503)
                return "The server is busy checking other games: your score stays unverified for "
                       "now.";
            return "The record of your game could not be sent: " + ShortPeerText(e.what(), 200);
        }
        answer = ParseAnswer(text);
        verdict = value("Replay");
    }
    if (verdict == "verified") return "The server played your game again: your score is verified.";
    if (verdict == "refused")
        return "The server could not verify your game: " + ShortPeerText(value("Error"), 200);
    if (verdict == "pending") return "The server will check your game shortly.";
    return "The server gave no verdict on your game: " + ShortPeerText(AnsiToUtf8(text), 200);
}

TPublishHighscoreForm::TPublishHighscoreForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PublishHighscoreForm"));
    setWindowTitle(QStringLiteral("Publish Highscore"));
    setFont(LauncherFont());
    MarkOwnForm(this);

    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Your highest score:"), this);
    Label2 = new QLabel(this);
    QFont big = font();
    big.setPointSize(20);
    big.setBold(true);
    Label2->setFont(big);
    layout->addWidget(Label1);
    layout->addWidget(Label2);

    GroupBox1 = new QGroupBox(
        QStringLiteral("Additional data which will appear in the web highscore: "), this);
    auto* g1 = new QGridLayout(GroupBox1);
    Edit1 = Edit(GroupBox1, 20);
    Edit2 = Edit(GroupBox1, 20);
    Edit3 = Edit(GroupBox1, 20);
    SpinEdit1 = new QSpinBox(GroupBox1);
    SpinEdit1->setRange(0, 110);
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->addItems({QString(), QStringLiteral("f"), QStringLiteral("m")});
    const std::pair<const char*, QWidget*> rows1[] = {{"Name:", Edit1},
                                                      {"City:", Edit2},
                                                      {"Country:", Edit3},
                                                      {"Age:", SpinEdit1},
                                                      {"Male/female:", ComboBox1}};
    int row = 0;
    for (const auto& [caption, field] : rows1) {
        g1->addWidget(new QLabel(QString::fromUtf8(caption), GroupBox1), row, 0);
        g1->addWidget(field, row++, 1);
    }
    layout->addWidget(GroupBox1);

    GroupBox2 = new QGroupBox(
        QStringLiteral("Additional data that will NOT appear in the highscore table:"), this);
    auto* g2 = new QVBoxLayout(GroupBox2);
    Edit4 = Edit(GroupBox2, 40);
    Edit5 = Edit(GroupBox2, 80);
    g2->addWidget(new QLabel(QStringLiteral("Email (If you want to win a prize):"), GroupBox2));
    g2->addWidget(Edit4);
    g2->addWidget(
        new QLabel(QStringLiteral("A comment which will be forwarded to us:"), GroupBox2));
    g2->addWidget(Edit5);
    layout->addWidget(GroupBox2);

    Button1 = new QPushButton(QStringLiteral("Publish"), this);
    Button1->setDefault(true);
    Status = new QLabel(this);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(Status, 1);
    row2->addWidget(Button1);
    layout->addLayout(row2);
    connect(Button1, &QPushButton::clicked, this, &TPublishHighscoreForm::Button1Click);
    setFixedWidth(380);
}

void TPublishHighscoreForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TPublishHighscoreForm::FormShow() {
    const THighscore& best = EnvData.Highscores[0];
    Label2->setText(QString::number(best.Score));
    Edit1->setText(Qs(best.Name));
    Edit2->setText(Qs(EnvData.City));
    Edit3->setText(Qs(EnvData.Country));
    SpinEdit1->setValue(EnvData.Age);
    const int item = EnvData.Sex == ' ' ? 0 : EnvData.Sex == 'f' ? 1 : EnvData.Sex == 'm' ? 2 : -1;
    ComboBox1->setCurrentIndex(item);
    Edit4->setText(Qs(EnvData.Email));
    Edit5->clear();
}

void TPublishHighscoreForm::Button1Click() {
    const auto busy = life_.Busy();
    EnvData.PublishName = CutText(Edit1->text().toStdString(), 20);
    EnvData.City = CutText(Edit2->text().toStdString(), 20);
    EnvData.Country = CutText(Edit3->text().toStdString(), 20);
    EnvData.Age = SpinEdit1->value();
    const QString sex = ComboBox1->currentText();
    EnvData.Sex = sex.isEmpty() ? ' ' : static_cast<char>(sex.at(0).toLatin1());
    EnvData.Email = CutText(Edit4->text().toStdString(), 40);
    EnvData.Comment = CutText(Edit5->text().toStdString(), 80);
    if (Trim(EnvData.PublishName).empty()) {
        platform::ShowMessage("Please enter a name before you upload your score.");
        Edit1->setFocus();
        return;
    }
    try {
        const std::string payload = BuildPayload(PublishedFields());
        const std::string encoded = ScramblePayload(payload, [](int n) { return RandInt(n); });
        // The self-check: what the server will read back. Nothing is sent that cannot be read.
        lastResponse_.clear();
        (void)UnscramblePayload(encoded);
        Autodial();
        if (!IsOnline()) {
            platform::ShowMessage(std::string(kOfflineMessage));
        } else {
            const std::string address = ScoreRequestAddress(encoded);
            const THttpLimits limits = HttpLimits;
            std::string answerText;
            // One publish at a time; the result dialog follows the server's answer.
            Exchange(QStringLiteral("Publishing ..."), [&](const TTransfer& t) {
                answerText = DownloadText(address,
                                          {"Accept: text/html, */*",
                                           "User-Agent: Mozilla/3.0 (compatible; Indy Library)"},
                                          limits, &t);
            });
            lastResponse_ = std::move(answerText);
        }
        const TPayloadAnswer answer = ParseAnswer(lastResponse_);
        if (auto id = answer.find("ID"); id != answer.end() && !id->second.empty())
            EnvData.PlayerId = CutText(AnsiToUtf8(id->second), 32);
        if (auto rang = answer.find("Rang"); rang == answer.end() || rang->second.empty())
            throw Exception("Unknown result");
        // The score is in; its game follows in a request of its own, and the result shows the
        // verdict (or why there is none).
        std::string verdict;
        {
            const std::optional<std::string> replay = ReplayFor(EnvData.ScoreCodes[0]);
            const THttpLimits limits = HttpLimits;
            Exchange(QStringLiteral("Checking your game ..."), [&](const TTransfer& t) {
                verdict = SendReplay(encoded, replay, limits, &t);
            });
        }
        {
            THighscoreuploadedForm uploaded(answer, verdict);
            uploaded.exec();
        }
        close();
    } catch (const ETransferCancelled&) {
        // Closed while publishing: nothing to tell.
    } catch (const std::exception& e) {
        // The server's answer is shown shortened: garbage must not make a box taller than the
        // screen. A failed exchange's message is bounded already and leads with its reason; its
        // address (with the cut payload) follows on its own line and is kept.
        platform::ShowMessage("Could not publish Highscore: " + ShortPeerText(e.what(), 600) +
                              "\r\n" + ShortPeerText(AnsiToUtf8(lastResponse_)));
    }
}

void TPublishHighscoreForm::done(int r) {
    if (publishing_) CancelWaitsOf(this);
    QDialog::done(r);
    life_.Closed();
}

// One exchange with the server while the window goes on: the button is off and a close waits
// for the exchange's end (or cancels it) until it is over.
void TPublishHighscoreForm::Exchange(const QString& busyText,
                                     const std::function<void(const TTransfer&)>& work) {
    Button1->setEnabled(false);
    struct Restore {
        QPushButton* b;
        bool& flag;
        ~Restore() {
            b->setEnabled(true);
            flag = false;
        }
    } restore{Button1, publishing_};
    publishing_ = true;
    AwaitTransfer(work, {.Status = Status, .BusyText = busyText, .Cancel = nullptr, .Owner = this});
}

}  // namespace zx
