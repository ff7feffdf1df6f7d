#pragma once
// The result of a publication: the overall and the weekly ranking the server computed.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>

#include "payload/Payload.h"

namespace zx {

class THighscoreuploadedForm : public QDialog {
    Q_OBJECT
public:
    explicit THighscoreuploadedForm(const TPayloadAnswer& answer, QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    std::array<QLabel*, 9> Lines{};
    QLabel* p = nullptr;             // " points", hidden
    QPushButton* Button1 = nullptr;  // Open Website
    QPushButton* Button2 = nullptr;  // Ok

    void Button1Click();
};

// The game's page on the campaign's site.
std::string CampaignGamePageAddress();

}  // namespace zx
