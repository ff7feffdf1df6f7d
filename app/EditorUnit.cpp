#include "app/EditorUnit.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QScrollBar>

#include "app/Main.h"
#include "game/LevelFile.h"
#include "platform/Dialogs.h"

namespace zx {

TEditorForm::TEditorForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("EditorForm"));
    setWindowTitle(QStringLiteral("Editor"));
    setFont(LauncherFont());
    MarkOwnForm(this);
    Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont = font();
    memoFont.setPixelSize(16);
    Memo1->setFont(memoFont);
    Button1 = new QPushButton(QStringLiteral("Exit"), this);
    Button2 = new QPushButton(QStringLiteral("Save"), this);
    connect(Button1, &QPushButton::clicked, this, &TEditorForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, [this] {
        const auto busy = life_.Busy();
        try {
            Button2Click();
        } catch (const std::exception& e) {
            platform::ShowError(e.what());
        }
    });
    // The outer size of the window is 485 by 469; the frame takes what the desktop gives it.
    resize(485 - 8, 469 - 27);
    Button1->setFocus();
}

void TEditorForm::showEvent(QShowEvent* e) {
    const auto busy = life_.Busy();
    QWidget::showEvent(e);
    if (shown_) return;
    shown_ = true;
    try {
        FormShow();
    } catch (const std::exception& err) {
        platform::ShowError(err.what());
    }
    Button1->setFocus();
}

void TEditorForm::FormShow() {
    std::vector<std::string> lines;
    LoadLevel(lines);
    QStringList list;
    for (const std::string& l : lines)
        list << QString::fromUtf8(l.data(), static_cast<qsizetype>(l.size()));
    Memo1->setPlainText(list.join(QChar('\n')));
}

void TEditorForm::Button1Click() { close(); }

void TEditorForm::closeEvent(QCloseEvent* e) {
    QWidget::closeEvent(e);
    if (e->isAccepted()) life_.Closed();
}

void TEditorForm::keyPressEvent(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
        e->modifiers() == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
    }
    QWidget::keyPressEvent(e);
}

void TEditorForm::Button2Click() {
    std::vector<std::string> lines;
    const QStringList list = Memo1->toPlainText().split(QChar('\n'));
    for (const QString& l : list) lines.push_back(l.toStdString());
    SaveLevel(lines);
}

void TEditorForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FormResize();
}

void TEditorForm::FormResize() {
    const int w = width(), h = height();
    Memo1->setGeometry(0, 0, w, std::max(0, h - 33));
    Button1->setGeometry(w - 83, h - 29, 75, 25);
    Button2->setGeometry(w - 166, h - 29, 75, 25);
}

}  // namespace zx
