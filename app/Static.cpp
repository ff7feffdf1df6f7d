#include "app/Static.h"

#include <QButtonGroup>

#include "app/Main.h"
#include "game/GameRecords.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"

namespace zx {
namespace {

QSlider* TrackBar(QWidget* parent, int max, int tick) {
    auto* t = new QSlider(Qt::Horizontal, parent);
    t->setRange(0, max);
    t->setTickInterval(tick);
    t->setTickPosition(QSlider::TicksBelow);
    t->setPageStep(tick);
    return t;
}

}  // namespace

TMainOptions::TMainOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("MainOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(LauncherFont());
    MarkOwnForm(this);

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(8, 8, 320, 250);

    TabGrafic = new QWidget;
    RadioGroup1 = new QGroupBox(QStringLiteral("Display Mode"), TabGrafic);
    RadioGroup1->setGeometry(8, 8, 296, 86);
    auto* group = new QButtonGroup(RadioGroup1);
    const char* items[3] = {"Fullscreen 800 x 600 (standard)",
                            "Fullscreen, without changing resolution", "Window"};
    for (int i = 0; i < 3; ++i) {
        DisplayItems[i] = new QRadioButton(QString::fromUtf8(items[i]), RadioGroup1);
        DisplayItems[i]->setGeometry(10, 18 + i * 21, 280, 20);
        group->addButton(DisplayItems[i], i);
    }
    CheckBox2 = new QCheckBox(QStringLiteral("Autostart"), TabGrafic);
    CheckBox2->setGeometry(8, 100, 120, 20);
    CheckBox2->setVisible(false);
    auto* effects = new QGroupBox(QStringLiteral("Effects"), TabGrafic);
    effects->setGeometry(8, 100, 296, 112);
    CheckBox3 = new QCheckBox(QStringLiteral("Transparency"), effects);
    CheckBox3->setGeometry(10, 18, 130, 20);
    CheckBox7 = new QCheckBox(QStringLiteral("Front"), effects);
    CheckBox7->setGeometry(150, 18, 130, 20);
    auto* bubbles = new QLabel(QStringLiteral("Bubbles"), effects);
    bubbles->setGeometry(10, 44, 100, 16);
    TrackBar3 = TrackBar(effects, 100, 10);
    TrackBar3->setGeometry(10, 62, 276, 28);
    auto* zero = new QLabel(QStringLiteral("0%"), effects);
    zero->setGeometry(10, 90, 40, 16);
    auto* hundred = new QLabel(QStringLiteral("100%"), effects);
    hundred->setGeometry(246, 90, 40, 16);
    hundred->setAlignment(Qt::AlignRight);
    PageControl1->addTab(TabGrafic, QStringLiteral("Grafic"));

    TabSound = new QWidget;
    CheckBox1 = new QCheckBox(QStringLiteral("Sound on"), TabSound);
    CheckBox1->setGeometry(8, 8, 130, 20);
    CheckBox6 = new QCheckBox(QStringLiteral("No Music"), TabSound);
    CheckBox6->setGeometry(150, 8, 130, 20);
    CheckBox6->setVisible(false);
    auto* volume = new QGroupBox(QStringLiteral("Volume Adjustment"), TabSound);
    volume->setGeometry(8, 36, 296, 130);
    auto* music = new QLabel(QStringLiteral("Music"), volume);
    music->setGeometry(10, 20, 100, 16);
    TrackBar1 = TrackBar(volume, 127, 13);
    TrackBar1->setGeometry(10, 38, 276, 28);
    auto* fx = new QLabel(QStringLiteral("Sound FX"), volume);
    fx->setGeometry(10, 72, 100, 16);
    TrackBar2 = TrackBar(volume, 127, 13);
    TrackBar2->setGeometry(10, 90, 276, 28);
    PageControl1->addTab(TabSound, QStringLiteral("Sound"));

    TabExtras = new QWidget;
    CheckBox4 = new QCheckBox(QStringLiteral("Cave Editor"), TabExtras);
    CheckBox4->setGeometry(8, 8, 130, 20);
    PageControl1->addTab(TabExtras, QStringLiteral("Extras"));

    BtOk = new QPushButton(QStringLiteral("Ok"), this);
    BtOk->setGeometry(168, 266, 75, 25);
    BtOk->setDefault(true);
    BtCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BtCancel->setGeometry(252, 266, 75, 25);
    connect(BtOk, &QPushButton::clicked, this, [this] {
        const auto busy = life_.Busy();
        try {
            BtOkClick();
        } catch (const std::exception& e) {
            platform::ShowError(e.what());
        }
    });
    connect(BtCancel, &QPushButton::clicked, this, &TMainOptions::BtCancelClick);
    setFixedSize(336, 299);
}

void TMainOptions::showEvent(QShowEvent* e) {
    const auto busy = life_.Busy();
    QDialog::showEvent(e);
    try {
        FormShow();
    } catch (const std::exception& err) {
        platform::ShowError(err.what());
    }
}

int TMainOptions::RadioGroup1ItemIndex() const {
    for (int i = 0; i < 3; ++i)
        if (DisplayItems[i]->isChecked()) return i;
    return -1;
}

void TMainOptions::FormShow() {
    PageControl1->setTabVisible(PageControl1->indexOf(TabExtras), false);
    PageControl1->setCurrentWidget(TabGrafic);
    const int mode = EnvData.DisplayMode;
    for (int i = 0; i < 3; ++i) DisplayItems[i]->setChecked(i == mode);
    CheckBox2->setChecked(EnvData.Autostart);
    CheckBox3->setChecked(EnvData.Transparency);
    CheckBox7->setChecked(EnvData.FrontOn);
    TrackBar3->setValue(EnvData.BubblePercent);
    CheckBox1->setChecked(EnvData.SoundOn);
    CheckBox6->setChecked(!EnvData.MusicOn);
    TrackBar1->setValue(EnvData.MusicVolume);
    TrackBar2->setValue(EnvData.EffectsVolume);
    CheckBox4->setChecked(StrToInt(ReadProgCfgDefault("caveedit", "0")) != 0);
}

void TMainOptions::BtOkClick() {
    EnvData.DisplayMode = RadioGroup1ItemIndex();
    EnvData.SoundOn = CheckBox1->isChecked();
    EnvData.Autostart = CheckBox2->isChecked();
    EnvData.Transparency = CheckBox3->isChecked();
    WriteProgCfg("caveedit", CheckBox4->isChecked() ? "1" : "0");
    EnvData.BubblePercent = TrackBar3->value();
    EnvData.MusicOn = !CheckBox6->isChecked();
    EnvData.FrontOn = CheckBox7->isChecked();
    EnvData.MusicVolume = TrackBar1->value();
    EnvData.EffectsVolume = TrackBar2->value();
    close();
}

void TMainOptions::BtCancelClick() { close(); }

void TMainOptions::done(int r) {
    QDialog::done(r);
    life_.Closed();
}

}  // namespace zx
