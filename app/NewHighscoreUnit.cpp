#include "app/NewHighscoreUnit.h"

#include "app/Main.h"
#include "game/GameRecords.h"

namespace zx {

TNewHighscoreForm::TNewHighscoreForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NewHighscoreForm"));
    setWindowTitle(QStringLiteral("A New Highscore!"));
    setFont(LauncherFont());
    MarkOwnForm(this);
    const QPixmap back = JpegResourcePixmap("BACK");
    const QSize size = back.isNull() ? QSize(400, 300) : back.size() / 2;
    setFixedSize(size);
    Image1 = new QLabel(this);
    Image1->setPixmap(back);
    Image1->setScaledContents(true);
    Image1->setGeometry(0, 0, size.width(), size.height());

    QFont text = font();
    text.setPixelSize(21);
    auto label = [&](const QString& caption, int top, int height) {
        auto* l = new QLabel(caption, this);
        l->setFont(text);
        l->setAlignment(Qt::AlignCenter);
        l->setWordWrap(true);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        l->setPalette(p);
        l->setGeometry(8, top, size.width() - 16, height);
        return l;
    };
    Label1 = label(QStringLiteral("Congratulations!"), 24, 28);
    Label4 = label(QString::number(EnvData.Highscores[0].Score) + QStringLiteral(" Points,"), 60, 28);
    Label2 = label(QStringLiteral("a new highscore!"), 96, 28);
    Label3 = label(QStringLiteral("Do you want to upload it to the worldwide web ranking list?"), 140, 60);

    Button1 = new QPushButton(QStringLiteral("Yes"), this);
    Button2 = new QPushButton(QStringLiteral("No"), this);
    Button1->setGeometry(size.width() / 2 - 90, size.height() - 48, 80, 28);
    Button2->setGeometry(size.width() / 2 + 10, size.height() - 48, 80, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace zx
