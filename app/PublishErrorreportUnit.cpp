#include "app/PublishErrorreportUnit.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Await.h"
#include "app/Main.h"
#include "net/ErrorMail.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "support/Ansi.h"
#include "support/LogFiles.h"
#include "support/Paths.h"

namespace zx {
namespace {

QPlainTextEdit* Memo(QWidget* parent) {
    auto* m = new QPlainTextEdit(parent);
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab goes on to the address field, as in every other field of the dialog.
    m->setTabChangesFocus(true);
    return m;
}

// A failure of a button becomes an error box; the dialog stays as it was.
template <typename F>
void Guarded(F&& handler) {
    try {
        handler();
    } catch (const ETransferCancelled&) {
        // Closed while sending: the report stays for another try.
    } catch (const std::exception& e) {
        platform::ShowError(e.what());
    }
}

}  // namespace

TPublishErrorreportForm::TPublishErrorreportForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PublishErrorreportForm"));
    setWindowTitle(QStringLiteral("Send Errorreport"));
    setFont(LauncherFont());
    MarkOwnForm(this);

    Label2 = new QLabel(
        QStringLiteral("Error Description (What happened? How can we reproduce the error?):"),
        this);
    Memo1 = Memo(this);
    Label3 = new QLabel(
        QStringLiteral("Additionally, this logfile will be attached to your report:"), this);
    Memo2 = Memo(this);
    Memo2->setReadOnly(true);
    Memo2->setFocusPolicy(Qt::ClickFocus);
    Label4 = new QLabel(
        QStringLiteral("Probably we need additional help from you to find and eleminate the bug. "
                       "Perhaps we have further questions or we want to send you a debug version "
                       "of the program. We can only get in touch with you if you enter your email "
                       "here:"),
        this);
    Label4->setWordWrap(true);
    Edit1 = new QLineEdit(this);
    Button2 = new QPushButton(QStringLiteral("Clear Logfile"), this);
    Button1 = new QPushButton(QStringLiteral("Send Report to Brightmoor"), this);
    // Return in the description starts a new line, never a send.
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(4);
    column->addWidget(Label2);
    column->addWidget(Memo1, 1);
    column->addSpacing(4);
    column->addWidget(Label3);
    column->addWidget(Memo2, 1);
    column->addSpacing(4);
    column->addWidget(Label4);
    column->addWidget(Edit1);
    column->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    Status = new QLabel(this);
    buttons->addWidget(Status, 1);
    buttons->addWidget(Button1);
    column->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    setTabOrder(Memo1, Edit1);
    setTabOrder(Edit1, Button2);
    setTabOrder(Button2, Button1);

    // The outer size of the window is 445 by 427; the frame takes what the desktop gives it.
    resize(445 - 8, 427 - 27);
}

void TPublishErrorreportForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (shown_) return;
    shown_ = true;
    closed_ = false;
    Guarded([this] { FormShow(); });
    Memo1->setFocus();
}

void TPublishErrorreportForm::FormShow() {
    Edit1->setText(Qs(ReadProgCfg("PER Name")));
    LogPath = ResolvePath(ProgramDir() + "\\kvd\\log.txt");
    Memo2->clear();
    if (const auto bytes =
            FileExists(LogPath) ? ReadFileBytes(LogPath, kLogFileLimit) : std::nullopt) {
        QString text = Qs(AnsiToUtf8(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (text.endsWith(QChar('\n'))) text.chop(1);
        Memo2->setPlainText(text);
        return;
    }
    Memo2->appendPlainText(Qs("No logfile available (" + LogPath + ")"));
    LogPath.clear();
}

void TPublishErrorreportForm::Button1Click() {
    Autodial();
    if (!IsOnline()) {
        platform::ShowMessage(std::string(kOfflineMessage));
        return;
    }
    const std::string sender = Edit1->text().toStdString();
    const std::string body = Memo1->toPlainText().toStdString();
    const std::string logPath = LogPath;
    const TMailLimits limits = MailLimits;
    // One send at a time; closing the dialog calls the send off.
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    struct Restore {
        TPublishErrorreportForm* f;
        ~Restore() {
            f->Button1->setEnabled(true);
            f->Button2->setEnabled(true);
        }
    } restore{this};
    sending_ = true;
    struct Sending {
        bool& flag;
        ~Sending() { flag = false; }
    } sendingDone{sending_};
    AwaitTransfer([&](const TTransfer& t) { SendErrorMail(sender, body, logPath, limits, &t); },
                  {.Status = Status,
                   .BusyText = QStringLiteral("Sending the report ..."),
                   .Cancel = nullptr,
                   .Owner = this});
    platform::ShowMessage("Thanks for your help!");
    ClearLog();
    close();
}

void TPublishErrorreportForm::Button2Click() {
    ClearLog();
    close();
}

void TPublishErrorreportForm::FormClose() {
    // One line of the configuration file: a pasted line break must not start a key of its own.
    QString address = Edit1->text();
    address.remove(QChar('\r')).remove(QChar('\n'));
    WriteProgCfg("PER Name", address.toStdString());
}

void TPublishErrorreportForm::done(int r) {
    if (sending_) CancelWaitsOf(this);
    if (!closed_) {
        closed_ = true;
        Guarded([this] { FormClose(); });
    }
    shown_ = false;
    QDialog::done(r);
}

}  // namespace zx
