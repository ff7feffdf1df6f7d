#pragma once
// The options dialog: display, effects and sound settings of EnvData, and the cave editor switch
// of kvd\prog.cfg on a page that stays hidden.
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include "app/DeferredDelete.h"

namespace zx {

class TMainOptions : public QDialog {
    Q_OBJECT
public:
    explicit TMainOptions(QWidget* parent = nullptr);

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabGrafic = nullptr;
    QWidget* TabSound = nullptr;
    QWidget* TabExtras = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* DisplayItems[3] = {};
    QCheckBox* CheckBox2 = nullptr;  // Autostart, not visible
    QCheckBox* CheckBox3 = nullptr;  // Transparency
    QCheckBox* CheckBox7 = nullptr;  // Front
    QSlider* TrackBar3 = nullptr;    // Bubbles
    QCheckBox* CheckBox1 = nullptr;  // Sound on
    QCheckBox* CheckBox6 = nullptr;  // No Music, not visible
    QSlider* TrackBar1 = nullptr;    // Music
    QSlider* TrackBar2 = nullptr;    // Sound FX
    QCheckBox* CheckBox4 = nullptr;  // Cave Editor
    QPushButton* BtOk = nullptr;
    QPushButton* BtCancel = nullptr;

    void FormShow();
    void BtOkClick();
    void BtCancelClick();

    // The chosen display mode (0 to 2), -1 when none is checked.
    int RadioGroup1ItemIndex() const;

    // Closed by either button or the frame; the dialog goes once its handler has returned.
    void done(int r) override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    TDeferredDelete life_{this};
};

}  // namespace zx
