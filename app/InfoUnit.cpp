#include "app/InfoUnit.h"

#include "app/Await.h"
#include "app/Main.h"
#include "game/LevelFile.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "support/SystemInfo.h"

namespace zx {

TVersionCheck CheckVersionText(const std::string& text) {
    TVersionCheck check;
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.size() < 2) return check;
    check.Valid = true;
    check.Version = lines[0];
    check.Address = lines[1];
    // A comparison of texts, not of numbers: "1.9" is newer than "1.10", "1.1" is older.
    check.Newer = check.Version.compare(kProgramVersion) > 0;
    return check;
}

TInfoForm::TInfoForm(QWidget* parent) : QDialog(parent) {
    Image1 = SetUpPictureForm(this, "InfoForm", "Info");
    QFont big = font();
    big.setPointSize(20);
    big.setBold(true);
    const auto label = [this](const QString& text) { return PictureText(this, text); };
    Label1 = label(QStringLiteral("Zolvex"));
    Label1->setFont(big);
    Label2 = label(QStringLiteral("Version ") +
                   QString::fromUtf8(kProgramVersion.data(), kProgramVersion.size()));
    Label3 = label(QStringLiteral("Available Memory: ") + QString::number(AvailableMemoryKb()) +
                   QStringLiteral("Kb"));
    Label4 = label(QStringLiteral("Memory Needed (Aproximately): ") +
                   QString::number(MinimumMemoryKb) + QStringLiteral("Kb"));
    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button2 = new QPushButton(QStringLiteral("Check if new version is available"), this);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, [this] {
        try {
            Button2Click();
        } catch (const ETransferCancelled&) {
            // The box was closed while asking.
        } catch (const std::exception& e) {
            platform::ShowError(e.what());
        }
    });
    Status = PictureText(this, QString());
}

void TInfoForm::done(int r) {
    if (checking_) CancelWaitsOf(this);
    QDialog::done(r);
}

void TInfoForm::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    const int w = width(), h = height();
    Image1->setGeometry(0, 0, w, h);
    Label1->setGeometry(0, 40, w, 40);
    Label2->setGeometry(0, 88, w, 20);
    Label3->setGeometry(0, 130, w, 20);
    Label4->setGeometry(0, 152, w, 20);
    Button2->setGeometry((w - 220) / 2, 196, 220, 25);
    Status->setGeometry(0, 226, w, 20);
    Button1->setGeometry(w - 83, h - 33, 75, 25);
}

void TInfoForm::Button2Click() {
    Autodial();
    if (!IsOnline()) {
        platform::ShowMessage(std::string(kOfflineMessage));
        return;
    }
    const std::string address = GameServerAddress(true, "/zvxinternal/version.txt");
    std::string text;
    Button2->setEnabled(false);
    struct Restore {
        QPushButton* b;
        ~Restore() { b->setEnabled(true); }
    } restore{Button2};
    checking_ = true;
    struct Checking {
        bool& flag;
        ~Checking() { flag = false; }
    } checkingDone{checking_};
    AwaitTransfer([&](const TTransfer& t) { text = DownloadText(address, {}, HttpLimits, &t); },
                  {.Status = Status,
                   .BusyText = QStringLiteral("Looking for a new version ..."),
                   .Cancel = nullptr,
                   .Owner = this});
    if (text.empty()) return;
    const TVersionCheck check = CheckVersionText(text);
    if (!check.Valid) return;
    if (check.Newer) {
        if (platform::ConfirmMessage(
                "There is a new version (" + check.Version + ") of this program available at " +
                check.Address +
                ". Would you like to go to that website to download the new version?"))
            OpenInBrowser(check.Address);
        return;
    }
    platform::ShowMessage("The version you are running is the latest available one.");
}

}  // namespace zx
