#include "app/Main.h"

#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <utility>

#include "app/EditorUnit.h"
#include "app/InfoUnit.h"
#include "app/KnownErrors.h"
#include "app/NewHighscoreUnit.h"
#include "app/PublishErrorreportUnit.h"
#include "app/PublishHighscoreUnit.h"
#include "app/Static.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "net/Internet.h"
#include "platform/Dialogs.h"
#include "screen/DDrawUnit.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "support/Resources.h"
#include "support/SystemInfo.h"

namespace zx {
namespace {

TForm1* theForm = nullptr;

// The start area reacts to any mouse button, as the picture's button promises.
class TShape : public QWidget {
public:
    TShape(QWidget* parent, std::function<void()> pressed)
        : QWidget(parent), pressed_(std::move(pressed)) {
        setAttribute(Qt::WA_TranslucentBackground);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        e->accept();
        pressed_();
    }

private:
    std::function<void()> pressed_;
};

QString HtmlText(const std::string& bytes) {
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // Pages in a single-byte code page are read as Latin-1 rather than shown as replacement marks.
    if (text.contains(QChar::ReplacementCharacter))
        text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return text;
}

constexpr int kPictureCacheEntries = 64;

}  // namespace

TForm1* Form1() { return theForm; }

QString Qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QPixmap JpegResourcePixmap(const char* name) {
    auto pic = LoadJpegResource(name);
    if (!pic) return {};
    QImage image(pic->rgb.data(), pic->width, pic->height, pic->width * 3, QImage::Format_RGB888);
    return QPixmap::fromImage(image.copy());
}

QFont LauncherFont() {
    static const QString family = [] {
        // The dialog face of the layout is not on a free desktop; the face fontconfig gives for
        // Arial has the same metrics, so captions fit the boxes drawn for them.
        QString found = QStringLiteral("Liberation Sans");
        if (FcConfig* config = FcInitLoadConfigAndFonts()) {
            FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>("Arial"));
            FcConfigSubstitute(config, pat, FcMatchPattern);
            FcDefaultSubstitute(pat);
            FcResult result;
            if (FcPattern* match = FcFontMatch(config, pat, &result)) {
                FcChar8* fam = nullptr;
                if (FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
                    found = QString::fromUtf8(reinterpret_cast<const char*>(fam));
                FcPatternDestroy(match);
            }
            FcPatternDestroy(pat);
            FcConfigDestroy(config);
        }
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), found);
        return found;
    }();
    (void)family;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    return font;
}

QLabel* SetUpPictureForm(QDialog* form, const char* name, const char* caption) {
    form->setObjectName(QString::fromUtf8(name));
    form->setWindowTitle(QString::fromUtf8(caption));
    form->setFont(LauncherFont());
    MarkOwnForm(form);
    const QPixmap back = JpegResourcePixmap("BACK");
    const QSize size = back.isNull() ? QSize(400, 300) : back.size() / 2;
    form->setFixedSize(size);
    auto* image = new QLabel(form);
    image->setPixmap(back);
    image->setScaledContents(true);
    image->setGeometry(0, 0, size.width(), size.height());
    return image;
}

QLabel* PictureText(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(p);
    return l;
}

void MarkOwnForm(QWidget* form) {
    form->setProperty("zolvexForm", true);
    QObject::connect(form, &QObject::destroyed, [] {
        if (TForm1* f = Form1()) f->OwnWindowClosed();
    });
}

void InstallMessageBoxes() {
    platform::SetMessageHook([](platform::MessageKind kind, const std::string& text) {
        QString t = Qs(text);
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
        QWidget* parent = QApplication::activeWindow();
        switch (kind) {
            case platform::MessageKind::Info:
                QMessageBox::information(parent, QStringLiteral("Zolvex"), t);
                return true;
            case platform::MessageKind::Confirm:
                return QMessageBox::question(parent, QStringLiteral("Zolvex"), t,
                                             QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes;
            case platform::MessageKind::Error:
                QMessageBox::critical(parent, QStringLiteral("Zolvex"), t);
                return true;
        }
        return false;
    });
}

// --- the embedded browser ---------------------------------------------------------------------

TStartPageBrowser::TStartPageBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    connect(this, &QTextBrowser::anchorClicked, this, &TStartPageBrowser::Clicked);
}

void TStartPageBrowser::Clicked(const QUrl& link) {
    const QUrl base = current_.isValid() ? current_ : document()->baseUrl();
    Navigate(base.resolved(link).toString());
}

void TStartPageBrowser::Navigate(const QString& url) {
    const QUrl target(url);
    if (BeforeNavigate2 && !BeforeNavigate2(target)) return;
    std::string body;
    try {
        body = DownloadText(target.toString().toStdString());
    } catch (const std::exception&) {
        // The frame keeps what it showed and the launcher's picture stays whole. Nothing goes to
        // the log: its last line must keep telling how the last game ended.
        lastLoadFailed_ = true;
        return;
    }
    if (body.empty()) {
        lastLoadFailed_ = true;
        return;
    }
    lastLoadFailed_ = false;
    current_ = target;
    document()->setBaseUrl(target);
    setHtml(HtmlText(body));
    if (DocumentComplete) DocumentComplete();
}

QVariant TStartPageBrowser::loadResource(int type, const QUrl& name) {
    if (type != QTextDocument::ImageResource) return QTextBrowser::loadResource(type, name);
    const QUrl url = document()->baseUrl().resolved(name);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return {};
    if (auto it = pictures_.constFind(url); it != pictures_.constEnd()) return *it;
    QByteArray bytes;
    try {
        const std::string data = HttpGet(url.toString().toStdString());
        bytes = QByteArray(data.data(), static_cast<qsizetype>(data.size()));
    } catch (const std::exception&) {
        // A missing picture leaves its place empty; the page still shows.
    }
    if (pictures_.size() >= kPictureCacheEntries) pictures_.clear();
    pictures_.insert(url, bytes);
    return bytes;
}

// --- progress of the music conversion ---------------------------------------------------------

void TPanelProgress::Start(int count) {
    form_.Gauge1->setMaximum(count);
    form_.Gauge1->setValue(0);
    form_.Panel2->show();
    form_.Panel2->raise();
    form_.RepaintNow();
}

void TPanelProgress::Step() {
    form_.Gauge1->setValue(form_.Gauge1->value() + 1);
    form_.RepaintNow();
}

void TPanelProgress::Finish() {
    form_.Panel2->hide();
    form_.RepaintNow();
}

// --- the launcher -----------------------------------------------------------------------------

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    theForm = this;
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zolvex!"));
    setFont(LauncherFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    auto* client = new QWidget(this);
    setCentralWidget(client);
    Image1 = new QLabel(client);
    Image1->move(0, 0);
    Shape1 = new TShape(client, [this] { Shape1MouseDown(); });
    Shape1->setGeometry(124, 256, 157, 53);
    WebBrowser1 = new TStartPageBrowser(client);
    WebBrowser1->BeforeNavigate2 = [this](const QUrl& u) { return WebBrowser1BeforeNavigate2(u); };
    WebBrowser1->DocumentComplete = [this] { WebBrowser1DocumentComplete(); };
    Panel2 = new QFrame(client);
    Panel2->setFrameShape(QFrame::Panel);
    Panel2->setFrameShadow(QFrame::Raised);
    Panel2->setAutoFillBackground(true);
    Panel2->setGeometry(60, 96, 185, 49);
    Label1 = new QLabel(QStringLiteral("Converting Sounds..."), Panel2);
    Label1->setGeometry(4, 4, 177, 18);
    Gauge1 = new QProgressBar(Panel2);
    Gauge1->setGeometry(4, 26, 177, 17);
    Gauge1->setTextVisible(false);
    QPalette gp = Gauge1->palette();
    gp.setColor(QPalette::Highlight, Qt::blue);
    Gauge1->setPalette(gp);
    Panel2->hide();
    SBMemo = new QPlainTextEdit(client);
    SBMemo->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(5000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });

    CreateActions();
    CreateMenu();
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &TForm1::FocusWindowChanged);

    FormCreate();
    Timer1->start();
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    SetDownloadPump(nullptr);
    if (theForm == this) theForm = nullptr;
}

void TForm1::CreateActions() {
    auto make = [this](const char* caption, void (TForm1::*handler)()) {
        auto* a = new QAction(QString::fromUtf8(caption), this);
        connect(a, &QAction::triggered, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        addAction(a);
        return a;
    };
    ActionStart = make("Play 'Zolvex'", &TForm1::ActionStartExecute);
    ActionStart->setShortcut(QKeySequence(Qt::Key_F9));
    ActionHilfe = make("Goto &Help Page", &TForm1::ActionHilfeExecute);
    ActionHilfe->setShortcut(QKeySequence(Qt::Key_F1));
    ActionEinstellungen = make("&Options", &TForm1::ActionEinstellungenExecute);
    Actionwebsite = make("&Goto 'Vantor' Website", &TForm1::ActionwebsiteExecute);
    ActionClose = make("&Close", &TForm1::ActionCloseExecute);
    ActionPublishHighscore = make("&Publish Highscore", &TForm1::ActionPublishHighscoreExecute);
    ActionGotoHighscore = make("Goto &Highscore", &TForm1::ActionGotoHighscoreExecute);
    ActionPublishErrorreport = make("Send &Errorreport", &TForm1::ActionPublishErrorreportExecute);
    ActionInfo = make("&Info", &TForm1::ActionInfoExecute);
    ActionBugspage = make("Goto Help On &Error Page", &TForm1::ActionBugspageExecute);
    for (QAction* a : actions()) a->setShortcutContext(Qt::WindowShortcut);
}

void TForm1::CreateMenu() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(ActionEinstellungen);
    file->addSeparator();
    file->addAction(ActionClose);
    QMenu* game = bar->addMenu(QStringLiteral("&Game"));
    game->addAction(ActionStart);
    QMenu* internet = bar->addMenu(QStringLiteral("&Internet"));
    internet->addAction(ActionPublishHighscore);
    internet->addAction(ActionGotoHighscore);
    // The campaign's site keeps its item, out of sight, so the menu can offer it again.
    QAction* site = internet->addAction(Actionwebsite->text());
    connect(site, &QAction::triggered, Actionwebsite, &QAction::trigger);
    site->setVisible(false);
    internet->addSeparator();
    internet->addAction(ActionPublishErrorreport);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(ActionHilfe);
    help->addSeparator();
    help->addAction(ActionInfo);
}

void TForm1::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        platform::ShowError(e.what());
    }
}

void TForm1::RepaintNow() {
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::ShowPicture(const char* name) {
    // On a desktop of twice the density (or more) the picture drawn at 2x shows, not a stretch;
    // the layout stays in the picture's own units.
    QPixmap pm;
    if (devicePixelRatioF() > 1.0) {
        pm = JpegResourcePixmap((std::string(name) + "2X").c_str());
        if (!pm.isNull()) pm.setDevicePixelRatio(2.0);
    }
    if (pm.isNull()) pm = JpegResourcePixmap(name);
    Image1->setPixmap(pm);
    Image1->resize(pm.deviceIndependentSize().toSize());
}

void TForm1::FormCreate() {
    HighscorePageShown = false;
    Randomize();
    EnterProgramDir();
    EnsureDataDir();
    // Before anything is saved: what an interrupted save left behind goes.
    RemoveSaveLeftovers();
    SetEnvDefaults();
    startNote_ = LoadEnv();
    SetGameDataDefaults();
    LoadGameData(kGameDataFile);
    ShowPicture("MENUE");
    if (auto script = FindResource("TEXT", "SBMEMO"))
        SBMemo->setPlainText(QString::fromUtf8(script->Text().data(),
                                               static_cast<qsizetype>(script->Text().size())));
    const QSize pic = Image1->size();
    centralWidget()->setFixedSize(pic);
    Panel2->move((pic.width() - Panel2->width()) / 2, (pic.height() - Panel2->height()) / 2);
    HideBrowser();
    Shape1->raise();
    WebBrowser1->raise();
    Panel2->raise();
    adjustSize();
    setFixedSize(sizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Downloads run on this thread; the window keeps painting while one waits.
    SetDownloadPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

void TForm1::HideBrowser() {
    WebBrowser1->setGeometry(0, 0, 1, 1);
    WebBrowser1->setVisible(false);
}

void TForm1::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!firstShown_) {
        firstShown_ = true;
        QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
    }
}

void TForm1::FocusWindowChanged(QWindow* now) {
    if (!now) return;
    if (now == windowHandle()) {
        // Only a return from one of the program's own windows is an activation; a switch from
        // another application is not.
        if (lastOwnWindow_) OwnWindowClosed();
        return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == now && w->property("zolvexForm").toBool()) {
            lastOwnWindow_ = w;
            return;
        }
    }
}

void TForm1::OwnWindowClosed() {
    lastOwnWindow_ = nullptr;
    // A closing dialog and the focus returning with it are one activation.
    if (activatePending_) return;
    activatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        activatePending_ = false;
        Guarded([this] { FormActivate(); });
    });
}

void TForm1::FormActivate() {
    // A message box shown from here returns the focus to the launcher: that is no new activation.
    if (activating_ || gameRunning_ || closing_) return;
    activating_ = true;
    ReportCfgFailuresAgain();
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{activating_};
    HideBrowser();
    RepaintNow();
    if (!startNote_.empty()) platform::ShowMessage(std::exchange(startNote_, {}));
    Timer1Timer();
    TPanelProgress progress(*this);
    try {
        SoundsReady = ConvertMusic(&progress);
    } catch (const std::exception& e) {
        // A decoder that cannot be loaded is no lack of space: the game may still start.
        Panel2->hide();
        SoundsReady = true;
        platform::ShowError(e.what());
    }
    if (LogEndedOK())
        ClearLog();
    else
        ShowErrorSolution();
}

void TForm1::Timer1Timer() {
    // One look at the routing table serves the three checks of a tick.
    const bool online = IsOnline();
    if (BrowserVisible() && online && HighscorePageShown) {
        WebBrowser1->Navigate(Qs(StartPageAddress()));
        HighscorePageShown = false;
    }
    if (!BrowserVisible() && online) {
        WebBrowser1->setVisible(true);
        WebBrowser1->Navigate(Qs(StartPageAddress()));
    } else if (BrowserVisible() && online && WebBrowser1->LastLoadFailed() && !HighscorePageShown) {
        // A start page that could not be fetched is tried again now and then, not at every tick:
        // each try may wait for a slow server.
        const auto now = std::chrono::steady_clock::now();
        if (!lastFailedLoad_) lastFailedLoad_ = now;
        if (now - *lastFailedLoad_ >= std::chrono::seconds(60)) {
            lastFailedLoad_ = now;
            WebBrowser1->Navigate(Qs(StartPageAddress()));
        }
    }
    if (BrowserVisible() && !online) {
        HideBrowser();
        ShowPicture("MENUE");
    }
}

void TForm1::WebBrowser1DocumentComplete() {
    lastFailedLoad_.reset();
    ShowPicture("MENUE_NET");
    WebBrowser1->setGeometry(52, 53, 292, 171);
    WebBrowser1->raise();
}

bool TForm1::WebBrowser1BeforeNavigate2(const QUrl& target) {
    // Only addresses that begin with the start page stay inside; one that merely mentions it
    // (in a query, say) is somebody else's page and goes to the user's browser.
    const std::string t = target.toString().toStdString();
    const std::string start = StartPageAddress();
    if (t.compare(0, start.size(), start) == 0) return true;
    OpenUrlInBrowser(t);
    return false;
}

void TForm1::ShowErrorSolution() {
    if (!platform::ConfirmMessage("An error occurred during the execution of the program. Would "
                                  "you like the program to look at our "
                                  "errors&&solutions internet page if the error already is known "
                                  "and if there is a way to fix it?"))
        return;
    const std::string list = DownloadText(GameServerAddress(true, "/zvxinternal/errors.txt"));
    const TKnownError known = FindKnownError(list);
    if (!known.Page.empty()) {
        const std::string page = GameServerAddress(true, "/zvxinternal/errors/") + known.Page;
        if (BrowserVisible())
            WebBrowser1->Navigate(Qs(page));
        else
            OpenUrlInBrowser(page);
        if (!known.KeepLog) ClearLog();
        return;
    }
    if (platform::ConfirmMessage(
            "Sorry, this error is unknown. Would you like to send us an error report?"))
        ActionPublishErrorreportExecute();
}

void TForm1::Shape1MouseDown() { ActionStart->trigger(); }

void TForm1::RunGameScreen() {
    if (GameStart.RunGame) {
        GameStart.RunGame();
        return;
    }
    auto screen = std::make_unique<TDDFullScreenForm1>();
    GameScreen = screen.get();
    struct Withdraw {
        ~Withdraw() { GameScreen = nullptr; }
    } withdraw;
    if (EnvData.DisplayMode >= 0 && EnvData.DisplayMode <= 2)
        screen->SetDisplayKind(static_cast<uint8_t>(EnvData.DisplayMode));
    screen->Show();
    // The game screen's window runs its own loop; between its events the launcher may repaint,
    // but takes no input until the game has ended.
    while (!screen->IsClosed()) {
        screen->ProcessEvent(10);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void TForm1::ActionStartExecute() {
    Timer1->stop();
    if (!SoundsReady) {
        const std::string dir = DataDir();
        platform::ShowMessage(
            "Cannot start game because of low drive space. Please close program and make some more "
            "space "
            "available on drive " +
            dir.substr(0, 1) + ":\\. Then try again.");
        return;
    }
    WriteLog("Program Version " + std::string(kProgramVersion));
    if (const std::string folders = FoldersLogLine(); !folders.empty()) WriteLog(folders);
    if (GameStart.MeasureMachine)
        LogSystemInfo(GameStart.MeasureMachine);
    else
        LogSystemInfo();
    if (AvailableMemory < MinimumMemoryKb &&
        !platform::ConfirmMessage(
            "There seems to be not enough available memory on your system. Would you like "
            "to try to start the game anyway?")) {
        Timer1->start();
        return;
    }
    const int32_t topBefore = EnvData.Highscores[0].Score;
    gameRunning_ = true;
    try {
        RunGameScreen();
    } catch (...) {
        gameRunning_ = false;
        Timer1->start();
        throw;
    }
    gameRunning_ = false;
    if (stopAfterGame_) {
        close();
        return;
    }
    if (!LogEndedOK()) ShowErrorSolution();
    if (EnvData.Highscores[0].Score != topBefore) {
        TNewHighscoreForm dialog;
        if (dialog.exec() == QDialog::Accepted) ActionPublishHighscoreExecute();
    }
    Timer1->start();
    // The focus comes back from the game screen.
    OwnWindowClosed();
}

void TForm1::RequestStop() {
    if (gameRunning_) {
        stopAfterGame_ = true;
        if (GameScreen) GameScreen->PostEnd();
        return;
    }
    close();
}

void TForm1::ActionHilfeExecute() {
    if (EditorKeyDown) {
        auto* editor = new TEditorForm();
        editor->show();
        return;
    }
    OpenUrlInBrowser(GameServerAddress(false, "/zvxinternal/zvxrulesengl.htm"));
}

void TForm1::ActionEinstellungenExecute() {
    auto* options = new TMainOptions();
    options->show();
}

void TForm1::ActionwebsiteExecute() { OpenUrlInBrowser(WebSiteAddress()); }

void TForm1::ActionCloseExecute() { close(); }

void TForm1::ActionPublishHighscoreExecute() {
    if (EnvData.Highscores[0].Score == kEmptyScore) {
        platform::ShowMessage("Sorry, you don't have a entry in your highscore list right now");
        return;
    }
    auto* publish = new TPublishHighscoreForm();
    publish->show();
}

void TForm1::ActionGotoHighscoreExecute() {
    if (!IsOnline()) {
        Autodial();
        if (!BrowserVisible() && IsOnline()) WebBrowser1->setVisible(true);
        if (!IsOnline()) {
            platform::ShowMessage("Operation Failed: Can't connect to the Internet");
            return;
        }
    }
    if (BrowserVisible())
        WebBrowser1->Navigate(Qs(GameServerAddress(true, "/zvxinternal/highscore.html")));
    HighscorePageShown = true;
}

void TForm1::ActionPublishErrorreportExecute() {
    TPublishErrorreportForm report;
    report.exec();
}

void TForm1::ActionInfoExecute() {
    TInfoForm info;
    info.exec();
}

void TForm1::ActionBugspageExecute() {
    OpenUrlInBrowser(GameServerAddress(false, "/zvxinternal/errors.htm"));
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(e);
        // E is held while the launcher has the keys; its release counts wherever it lands, since
        // F1 with E held opens the editor, which then takes the keys.
        if (w && k->key() == Qt::Key_E && !k->isAutoRepeat()) {
            if (e->type() == QEvent::KeyRelease)
                EditorKeyDown = false;
            else if (w->window() == this)
                EditorKeyDown = true;
        }
    } else if (e->type() == QEvent::WindowDeactivate && watched == this) {
        // A release while another program has the keys never reaches this one.
        EditorKeyDown = false;
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::closeEvent(QCloseEvent* e) {
    closing_ = true;
    Timer1->stop();
    try {
        SaveEnv();
        SaveGameData(kGameDataFile);
    } catch (const std::exception& err) {
        // The files on disk are the last good ones (every save replaces a file only once the new
        // one is whole); the player learns why this run's changes could not be kept.
        platform::ShowError(err.what());
    }
    e->accept();
}

}  // namespace zx
