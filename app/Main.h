#pragma once
// The launcher window: the start picture with its start area, the main menu, the embedded start
// page, the progress panel of the music conversion, and the start of the game screen.
#include <QAction>
#include <QFrame>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSet>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "music/MusicConvert.h"
#include "net/Internet.h"
#include "platform/GameInfo.h"

namespace zx {

// The embedded browser: pages and their pictures come through the launcher's own HTTP client,
// and every navigation is put to the launcher first.
class TStartPageBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit TStartPageBrowser(QWidget* parent);
    ~TStartPageBrowser() override;
    // Asks BeforeNavigate2; when it keeps the navigation here, starts loading the page (off the
    // window's thread; DocumentComplete follows when it is shown).
    void Navigate(const QString& url);
    bool LastLoadFailed() const { return lastLoadFailed_; }
    bool Loading() const { return loading_; }
    // Gives up the page and pictures on their way.
    void CancelLoads();
    // Limits of the page's and pictures' downloads.
    THttpLimits Limits;

    // Answers whether a navigation stays inside (true) or is cancelled.
    std::function<bool(const QUrl&)> BeforeNavigate2;
    // A page has been loaded and shown.
    std::function<void()> DocumentComplete;

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void Clicked(const QUrl& link);
    void PageArrived(const QUrl& target, const std::string& body, bool failed);
    void PictureArrived(const QUrl& url, const std::string& bytes);
    QImage DecodePicture(const std::string& bytes);
    QUrl current_;
    bool lastLoadFailed_ = false;
    bool loading_ = false;
    // Results of an older navigation are dropped.
    int generation_ = 0;
    std::shared_ptr<TTransfer> pageLoad_;
    std::vector<std::shared_ptr<TTransfer>> pictureLoads_;
    // The page's pictures, decoded once; a null image for one that failed or is too large.
    QHash<QUrl, QImage> pictures_;
    QSet<QUrl> pendingPictures_;
    qint64 pagePixels_ = 0;
};

// The launcher's progress panel as the music conversion sees it.
class TForm1;
class TPanelProgress : public IMusicProgress {
public:
    explicit TPanelProgress(TForm1& form) : form_(form) {}
    void Start(int count) override;
    void Step() override;
    void Finish() override;
    // The window stays responsive during a conversion; closing it stops the conversion.
    bool Poll() override;

private:
    TForm1& form_;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Components.
    QLabel* Image1 = nullptr;
    QWidget* Shape1 = nullptr;
    TStartPageBrowser* WebBrowser1 = nullptr;
    QFrame* Panel2 = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* SBMemo = nullptr;
    QTimer* Timer1 = nullptr;
    // A line over the foot of the picture: what the launcher is waiting for, and a START that
    // waits with it. Hidden while empty.
    QLabel* StatusText = nullptr;

    // Actions.
    QAction* ActionStart = nullptr;
    QAction* ActionHilfe = nullptr;
    QAction* ActionEinstellungen = nullptr;
    QAction* Actionwebsite = nullptr;
    QAction* ActionClose = nullptr;
    QAction* ActionPublishHighscore = nullptr;
    QAction* ActionGotoHighscore = nullptr;
    QAction* ActionPublishErrorreport = nullptr;
    QAction* ActionInfo = nullptr;
    QAction* ActionBugspage = nullptr;

    // Fields.
    bool SoundsReady = false;
    bool EditorKeyDown = false;
    bool HighscorePageShown = false;

    // Handlers.
    void FormCreate();
    void FormActivate();
    void Timer1Timer();
    void WebBrowser1DocumentComplete();
    bool WebBrowser1BeforeNavigate2(const QUrl& target);
    void ShowErrorSolution();
    void Shape1MouseDown();

    void ActionStartExecute();
    void ActionHilfeExecute();
    void ActionEinstellungenExecute();
    void ActionwebsiteExecute();
    void ActionCloseExecute();
    void ActionPublishHighscoreExecute();
    void ActionGotoHighscoreExecute();
    void ActionPublishErrorreportExecute();
    void ActionInfoExecute();
    void ActionBugspageExecute();

    // The browser's own visible flag, whether or not the launcher is shown.
    bool BrowserVisible() const { return !WebBrowser1->isHidden(); }
    // Puts the browser out of sight (hidden and 1 by 1), as offline.
    void HideBrowser();
    // Loads a JPEG resource into Image1.
    void ShowPicture(const char* name);
    // Ends the program as the close button does; a game being played is wound down first.
    void RequestStop();
    // Dialogs call this when they close: the focus comes back to the launcher.
    void OwnWindowClosed();

    // Limits of the download of the list of known errors.
    THttpLimits KnownErrorLimits;
    // A START that came while the launcher was busy: it runs as soon as nothing holds it.
    bool StartPending() const { return startPending_; }

    // What starting a game asks of the machine; empty members are the real ones, a test sets
    // its own.
    struct TGameStart {
        // Measures the machine for the log's report and the memory check.
        std::function<TGameInfo()> MeasureMachine;
        // Plays the game screen from its creation to its end.
        std::function<void()> RunGame;
    } GameStart;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void CreateActions();
    void CreateMenu();
    void RunGameScreen();
    void RepaintNow();
    // Runs a handler as the application would: a failure becomes an error box.
    void Guarded(const std::function<void()>& handler);
    void FocusWindowChanged(QWindow* now);
    void SetStatus(const QString& text);
    // Starts the game held back by a busy launcher once nothing holds it any more: no
    // activation, no network wait, no modal box. Never later than that.
    void RunPendingStart();

    friend class TPanelProgress;
    bool activating_ = false;
    bool activatePending_ = false;
    bool gameRunning_ = false;
    bool firstShown_ = false;
    bool closing_ = false;
    bool stopAfterGame_ = false;
    bool startPending_ = false;
    std::string shownPicture_;
    // What the start has to tell the player once the window is up (a settings file reset).
    std::string startNote_;
    // The last of the program's own windows that had the focus, while it is open.
    QPointer<QWidget> lastOwnWindow_;
    std::optional<std::chrono::steady_clock::time_point> lastFailedLoad_;
};

// The launcher, made; a launcher that cannot be made (unreadable settings, an unusable program
// folder) gives an error box saying why and nullptr, so that the program ends cleanly.
std::unique_ptr<TForm1> CreateLauncher();

// Opens the address in the user's browser. A browser that cannot be started, or whose start
// fails (the handler's exit status is not 0), gives the error box "Unable to start Browser. Goto"
// with the address on the next line; the handler is awaited off the window's thread.
void OpenInBrowser(const std::string& url);

// A UTF-8 text of the program's as a Qt string.
QString Qs(const std::string& s);

// The launcher's message boxes for every part of the program: a plain message with OK, a
// confirmation with Yes and No, an error box.
void InstallMessageBoxes();
// Marks a window as one of the program's own forms (its closing activates the launcher).
void MarkOwnForm(QWidget* form);
// The picture of a JPEG resource, or a null pixmap.
QPixmap JpegResourcePixmap(const char* name);
// "MS Sans Serif" 8 pt, resolved to the metric-compatible free face that fontconfig finds for it.
QFont LauncherFont();
// The dialogs drawn on the BACK picture: the form sized to half the picture, which fills it
// stretched. Sets up the form (name, caption, font, the launcher's form mark) and returns the
// picture's label.
QLabel* SetUpPictureForm(QDialog* form, const char* name, const char* caption);
// A centred white caption on such a picture.
QLabel* PictureText(QWidget* parent, const QString& text);
// The launcher, for the dialogs it creates (nullptr when there is none).
TForm1* Form1();

// The name of the program's desktop entry (without ".desktop"): the application's identity on
// the desktop, the Wayland app id.
inline constexpr const char* kDesktopFileName = "org.zolvex.Zolvex";
// The program's icon in every size it is drawn in, for its windows.
QIcon ProgramIcon();

}  // namespace zx
