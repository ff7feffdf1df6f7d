#include "app/HighscoreuploadedUnit.h"

#include "app/Main.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "support/Ansi.h"

namespace zx {
namespace {

std::string Value(const TPayloadAnswer& answer, const char* name) {
    auto it = answer.find(name);
    return it == answer.end() ? std::string() : AnsiToUtf8(it->second);
}

// A caption followed by a blank and the answer's value; the bare caption when there is none.
std::string WithValue(const char* caption, const std::string& value) {
    return value.empty() ? std::string(caption) : std::string(caption) + " " + value;
}

}  // namespace

std::string CampaignGamePageAddress() {
    return "http://" + HostSetting("WebSite") + "/game/game_zolvex.html";
}

THighscoreuploadedForm::THighscoreuploadedForm(const TPayloadAnswer& answer,
                                               const std::string& verdict, QWidget* parent)
    : QDialog(parent) {
    Image1 = SetUpPictureForm(this, "HighscoreuploadedForm", "Highscore Uploaded!");
    QSize size = this->size();

    p = new QLabel(QStringLiteral(" points"), this);
    p->hide();
    const std::string points = p->text().toStdString();
    const std::string texts[9] = {
        "Your score has been successfuly uploaded!",
        "Overall Ranking List",
        WithValue("Your ranking:", Value(answer, "Rang")),
        WithValue("Your old ranking:", Value(answer, "Alterrang")),
        "Top of the list: " + Value(answer, "Platz1") + points,
        "Weekly Ranking List",
        WithValue("Your ranking:", Value(answer, "wRang")),
        WithValue("Your old ranking:", Value(answer, "wAlterrang")),
        "Top of the list: " + Value(answer, "wPlatz1") + points,
    };
    QFont text = font();
    text.setPixelSize(16);
    QFont heading = text;
    heading.setBold(true);
    int top = 16;
    for (size_t i = 0; i < Lines.size(); ++i) {
        QLabel* l = PictureText(this, QString::fromStdString(texts[i]));
        l->setFont(i == 0 || i == 1 || i == 5 ? heading : text);
        if (i == 1 || i == 5) top += 8;
        l->setGeometry(0, top, size.width(), 22);
        top += 22;
        Lines[i] = l;
    }
    Verdict = PictureText(this, QString::fromStdString(verdict));
    Verdict->setFont(text);
    Verdict->setWordWrap(true);
    const QRect said(8, top + 6, size.width() - 16, 44);
    Verdict->setGeometry(said);
    Verdict->setVisible(!verdict.empty());
    // The verdict's two lines would lie under the buttons: the box grows to hold them.
    const int buttonsTop = said.bottom() + 1 + 8;
    if (!verdict.empty() && size.height() < buttonsTop + 40) {
        size.setHeight(buttonsTop + 40);
        setFixedSize(size);
        Image1->setGeometry(0, 0, size.width(), size.height());
    }
    Button1 = new QPushButton(QStringLiteral("Open Website"), this);
    Button2 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setGeometry(size.width() / 2 - 120, size.height() - 40, 110, 28);
    Button2->setGeometry(size.width() / 2 + 10, size.height() - 40, 110, 28);
    Button2->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &THighscoreuploadedForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
}

void THighscoreuploadedForm::Button1Click() {
    const std::string page = CampaignGamePageAddress();
    if (!platform::ShellOpen(page))
        platform::ShowError("Could not open Internet browser. Please start it manually and goto " +
                            page);
    accept();
}

}  // namespace zx
