#pragma once
// The result of a publication: the overall and the weekly ranking the server computed.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <string>

#include "payload/Payload.h"

namespace zx {

class THighscoreuploadedForm : public QDialog {
    Q_OBJECT
public:
    // verdict: what became of the game's replay, shown below the ranks (none: nothing shown).
    explicit THighscoreuploadedForm(const TPayloadAnswer& answer, const std::string& verdict = {},
                                    QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    std::array<QLabel*, 9> Lines{};
    QLabel* Verdict = nullptr;       // the replay's verdict
    QLabel* p = nullptr;             // " points", hidden
    QPushButton* Button1 = nullptr;  // Open Website
    QPushButton* Button2 = nullptr;  // Ok

    void Button1Click();
};

// The game's page on the campaign's site.
std::string CampaignGamePageAddress();

}  // namespace zx
