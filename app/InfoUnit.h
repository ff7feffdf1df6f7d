#pragma once
// The info box: name, version, memory, and the check for a newer version on the maker's server.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <string>

#include "net/Internet.h"

namespace zx {

class TInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Status = nullptr;  // shows that the check is on its way
    // Limits of the version check's transfer.
    THttpLimits HttpLimits;

    void Button2Click();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void done(int r) override;

private:
    bool checking_ = false;
};

// The version check's verdict on a version file: true when its first line names a newer version
// than this program's (compared as texts), with that line and the download address.
struct TVersionCheck {
    bool Valid = false;  // at least two lines
    bool Newer = false;
    std::string Version;
    std::string Address;
};
TVersionCheck CheckVersionText(const std::string& text);

}  // namespace zx
