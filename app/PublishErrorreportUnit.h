#pragma once
// The error report: the player describes what happened and sends it, with the log, to the maker.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <string>

#include "net/ErrorMail.h"

namespace zx {

class TPublishErrorreportForm : public QDialog {
    Q_OBJECT
public:
    explicit TPublishErrorreportForm(QWidget* parent = nullptr);

    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label3 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;

    // The log's real path, or empty when there was no log to attach.
    std::string LogPath;
    // Shows that a send is on its way.
    QLabel* Status = nullptr;
    // Limits of the mail's transfer.
    TMailLimits MailLimits;

    void FormShow();
    // Send: the log is cleared and the dialog closed only once the mail is out; a mail that did
    // not go leaves both as they were.
    void Button1Click();
    // "Clear Logfile".
    void Button2Click();
    // Keeps the address for the next report.
    void FormClose();

    void done(int r) override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    bool shown_ = false;
    bool closed_ = false;
    bool sending_ = false;
};

}  // namespace zx
