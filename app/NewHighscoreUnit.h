#pragma once
// Shown after a game that changed place 1 of the local list: offers to publish the new best.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace zx {

class TNewHighscoreForm : public QDialog {
    Q_OBJECT
public:
    explicit TNewHighscoreForm(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;        // "Congratulations!"
    QLabel* Label4 = nullptr;        // the score line
    QLabel* Label2 = nullptr;        // "a new highscore!"
    QLabel* Label3 = nullptr;        // the question
    QPushButton* Button1 = nullptr;  // Yes
    QPushButton* Button2 = nullptr;  // No
};

}  // namespace zx
