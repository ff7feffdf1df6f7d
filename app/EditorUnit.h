#pragma once
// The level text editor: the current level file, unscrambled, in a memo; "Save" writes it back
// scrambled.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "app/DeferredDelete.h"

namespace zx {

class TEditorForm : public QWidget {
    Q_OBJECT
public:
    explicit TEditorForm(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;  // Exit
    QPushButton* Button2 = nullptr;  // Save

    void FormShow();
    void Button1Click();
    void Button2Click();
    void FormResize();

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // Return on a focused button presses it, as in every dialog of the program.
    void keyPressEvent(QKeyEvent* e) override;
    // A closed editor goes, once its handler has returned.
    void closeEvent(QCloseEvent* e) override;

private:
    bool shown_ = false;
    TDeferredDelete life_{this};
};

}  // namespace zx
