#include "app/NewHighscoreUnit.h"

#include "app/Main.h"
#include "game/GameRecords.h"

namespace zx {

TNewHighscoreForm::TNewHighscoreForm(QWidget* parent) : QDialog(parent) {
    Image1 = SetUpPictureForm(this, "NewHighscoreForm", "A New Highscore!");
    const QSize size = this->size();

    QFont text = font();
    text.setPixelSize(21);
    auto label = [&](const QString& caption, int top, int height) {
        QLabel* l = PictureText(this, caption);
        l->setFont(text);
        l->setWordWrap(true);
        l->setGeometry(8, top, size.width() - 16, height);
        return l;
    };
    Label1 = label(QStringLiteral("Congratulations!"), 24, 28);
    Label4 =
        label(QString::number(EnvData.Highscores[0].Score) + QStringLiteral(" Points,"), 60, 28);
    Label2 = label(QStringLiteral("a new highscore!"), 96, 28);
    Label3 = label(QStringLiteral("Do you want to upload it to the worldwide web ranking list?"),
                   140, 60);

    Button1 = new QPushButton(QStringLiteral("Yes"), this);
    Button2 = new QPushButton(QStringLiteral("No"), this);
    Button1->setGeometry(size.width() / 2 - 90, size.height() - 48, 80, 28);
    Button2->setGeometry(size.width() / 2 + 10, size.height() - 48, 80, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace zx
