#include "app/Main.h"

#include <SDL.h>
#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QWindow>

#include <utility>

#include "app/Await.h"
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
#include "platform/Shell.h"
#include "screen/DDrawUnit.h"
#include "support/LogFiles.h"
#include "support/Paths.h"
#include "support/Random.h"
#include "support/SystemInfo.h"
#include "surface/Resources.h"

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

// Pictures of a page are checked before they are decoded: a small file may hold a huge picture.
constexpr qint64 kMaxPicturePixels = 2048 * 2048;
constexpr qint64 kMaxPagePixels = 4 * 1024 * 1024 * 2;
constexpr qsizetype kMaxPagePictures = 64;

// A message box shows this much of a text at most; the rest is cut, not drawn off the screen.
constexpr qsizetype kMaxMessageChars = 800;
constexpr int kMaxMessageLines = 16;
constexpr qsizetype kMaxUnbrokenRun = 40;

QString BoundedMessage(QString t) {
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
    bool cut = false;
    if (t.size() > kMaxMessageChars) {
        t.truncate(kMaxMessageChars);
        cut = true;
    }
    qsizetype at = -1;
    for (int line = 0; line < kMaxMessageLines; ++line) {
        at = t.indexOf(QChar('\n'), at + 1);
        if (at < 0) break;
    }
    if (at >= 0) {
        t.truncate(at);
        cut = true;
    }
    if (cut) t += QStringLiteral("...");
    // A long run without a blank (an address with its query, a server's garbage) would make the
    // box as wide as the run, up to the toolkit's hard limit: an invisible break opportunity now
    // and then lets it wrap at the box's usual width.
    QString wrapped;
    wrapped.reserve(t.size() + t.size() / kMaxUnbrokenRun);
    qsizetype run = 0;
    for (const QChar c : t) {
        if (c.isSpace()) {
            run = 0;
        } else if (++run > kMaxUnbrokenRun && !c.isLowSurrogate()) {
            wrapped += QChar(0x200B);  // zero width space
            run = 1;
        }
        wrapped += c;
    }
    return wrapped;
}

// Two addresses that name the same place: scheme and host compare without case, the rest as is.
QString Normalized(const QUrl& u) {
    QUrl n(u);
    n.setScheme(u.scheme().toLower());
    n.setHost(u.host().toLower());
    return n.toString(QUrl::NormalizePathSegments);
}

}  // namespace

TForm1* Form1() { return theForm; }

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/zolvex/%1x%1/apps/zolvex.png").arg(size), QSize(size, size));
    return icon;
}

namespace {

// The game screen's window shows the launcher's icon.
void SetGameWindowIcon(SDL_Window* window) {
    const QImage icon = QImage(QStringLiteral(":/zolvex/64x64/apps/zolvex.png"))
                            .convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull()) return;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uchar*>(icon.constBits()), icon.width(), icon.height(), 32,
        static_cast<int>(icon.bytesPerLine()), SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

}  // namespace

void OpenInBrowser(const std::string& url) {
    const auto failed = [url] { platform::ShowError("Unable to start Browser. Goto\r" + url); };
    const int fd = platform::ShellOpenWatched(url);
    if (fd < 0) {
        failed();
        return;
    }
    // The handler's end is awaited by the event loop, not by the window.
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, fd, failed] {
        notifier->setEnabled(false);
        notifier->deleteLater();
        if (platform::ShellOpenStatus(fd) != 0) failed();
    });
}

std::unique_ptr<TForm1> CreateLauncher() {
    try {
        return std::make_unique<TForm1>();
    } catch (const std::exception& e) {
        theForm = nullptr;  // the half-made window is gone
        platform::ShowError(e.what());
        return nullptr;
    }
}

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
        // The process's own configuration, which the toolkit loads for its fonts anyway: a
        // second one of our own would cost the start its loading time and memory.
        if (FcConfig* config = FcConfigReference(nullptr)) {
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
        // The box belongs to the window that is active, which may be closed and deleted while
        // the box waits (the program is asked to end): the box then goes with it, once, and
        // counts as declined.
        // A window already closed (its deletion pending) is no owner at all.
        QWidget* owner = QApplication::activeWindow();
        if (owner && !owner->isVisible()) owner = nullptr;
        QPointer<QMessageBox> box = new QMessageBox(owner);
        box->setWindowTitle(QStringLiteral("Zolvex"));
        // Texts may carry a server's words: shown as they are, never as markup, and bounded.
        box->setTextFormat(Qt::PlainText);
        box->setText(BoundedMessage(Qs(text)));
        switch (kind) {
            case platform::MessageKind::Info: box->setIcon(QMessageBox::Information); break;
            case platform::MessageKind::Confirm:
                box->setIcon(QMessageBox::Question);
                box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
            case platform::MessageKind::Error: box->setIcon(QMessageBox::Critical); break;
        }
        const int answer = box->exec();
        const bool yes = box && answer == QMessageBox::Yes;
        delete box.data();
        return kind != platform::MessageKind::Confirm || yes;
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

TStartPageBrowser::~TStartPageBrowser() { CancelLoads(); }

void TStartPageBrowser::CancelLoads() {
    if (pageLoad_) pageLoad_->Cancel();
    pageLoad_.reset();
    for (auto& t : pictureLoads_) t->Cancel();
    pictureLoads_.clear();
}

void TStartPageBrowser::Navigate(const QString& url) {
    const QUrl target(url);
    if (BeforeNavigate2 && !BeforeNavigate2(target)) return;
    Autodial();
    if (!IsOnline()) {
        lastLoadFailed_ = true;
        platform::ShowMessage(std::string(kOfflineMessage));
        return;
    }
    // The page comes on a thread of its own; the launcher goes on meanwhile.
    if (pageLoad_) pageLoad_->Cancel();
    const int generation = ++generation_;
    loading_ = true;
    auto body = std::make_shared<std::string>();
    const std::string address = target.toString().toStdString();
    pageLoad_ =
        StartTransfer([address, body, limits = Limits](
                          const TTransfer& t) { *body = DownloadText(address, {}, limits, &t); },
                      [this, generation, target, body](std::exception_ptr failure) {
                          QMetaObject::invokeMethod(
                              this,
                              [this, generation, target, body, failure] {
                                  if (generation == generation_)
                                      PageArrived(target, *body, failure != nullptr);
                              },
                              Qt::QueuedConnection);
                      });
}

void TStartPageBrowser::PageArrived(const QUrl& target, const std::string& body, bool failed) {
    loading_ = false;
    pageLoad_.reset();
    if (failed || body.empty()) {
        // The frame keeps what it showed and the launcher's picture stays whole. Nothing goes to
        // the log: its last line must keep telling how the last game ended.
        lastLoadFailed_ = true;
        return;
    }
    lastLoadFailed_ = false;
    current_ = target;
    for (auto& t : pictureLoads_) t->Cancel();
    pictureLoads_.clear();
    pictures_.clear();
    pendingPictures_.clear();
    pagePixels_ = 0;
    document()->setBaseUrl(target);
    setHtml(HtmlText(body));
    if (DocumentComplete) DocumentComplete();
}

QVariant TStartPageBrowser::loadResource(int type, const QUrl& name) {
    if (type != QTextDocument::ImageResource) return QTextBrowser::loadResource(type, name);
    const QUrl url = document()->baseUrl().resolved(name);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return {};
    if (auto it = pictures_.constFind(url); it != pictures_.constEnd()) return *it;
    // Asked for in the middle of the layout: fetched meanwhile, the place stays empty until the
    // picture is there.
    if (pendingPictures_.contains(url)) return {};
    // A page of a thousand pictures gets its first few, one transfer each.
    if (pendingPictures_.size() + pictures_.size() >= kMaxPagePictures) {
        pictures_.insert(url, QImage());
        return {};
    }
    pendingPictures_.insert(url);
    const int generation = generation_;
    auto bytes = std::make_shared<std::string>();
    const std::string address = url.toString().toStdString();
    pictureLoads_.push_back(StartTransfer(
        [address, bytes, limits = Limits](const TTransfer& t) {
            *bytes = HttpGet(address, {}, limits, &t);
        },
        [this, generation, url, bytes](std::exception_ptr failure) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, url, bytes, failure] {
                    if (generation == generation_)
                        PictureArrived(url, failure ? std::string() : *bytes);
                },
                Qt::QueuedConnection);
        }));
    return {};
}

QImage TStartPageBrowser::DecodePicture(const std::string& bytes) {
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid()) return {};
    const qint64 pixels = static_cast<qint64>(size.width()) * size.height();
    // Checked from the header, before a single pixel is decoded.
    if (pixels > kMaxPicturePixels || pagePixels_ + pixels > kMaxPagePixels) return {};
    QImage image = reader.read();
    if (!image.isNull()) pagePixels_ += pixels;
    return image;
}

void TStartPageBrowser::PictureArrived(const QUrl& url, const std::string& bytes) {
    pendingPictures_.remove(url);
    // A missing or oversized picture leaves its place empty; the page still shows.
    pictures_.insert(url, DecodePicture(bytes));
    document()->markContentsDirty(0, document()->characterCount());
    viewport()->update();
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

bool TPanelProgress::Poll() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return !form_.closing_;
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
    StatusText = new QLabel(client);
    StatusText->setAlignment(Qt::AlignCenter);
    StatusText->setAutoFillBackground(true);
    StatusText->setFrameShape(QFrame::Panel);
    StatusText->setFrameShadow(QFrame::Raised);
    StatusText->hide();
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
    } catch (const ETransferCancelled&) {
        // The player (or the program's end) called the wait off: nothing to report.
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
    const bool dense = devicePixelRatioF() > 1.0;
    const std::string shown = std::string(name) + (dense ? "2X" : "");
    if (shownPicture_ == shown) return;
    shownPicture_ = shown;
    QPixmap pm;
    if (dense) {
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
    StatusText->setGeometry(8, pic.height() - 26, pic.width() - 16, 20);
    StatusText->raise();
    adjustSize();
    setFixedSize(sizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
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
    // A modal box that held a START back has closed, perhaps.
    if (startPending_) QTimer::singleShot(0, this, [this] { RunPendingStart(); });
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
    // A dialog the activation itself opened (the error report after the abnormal-end question)
    // is part of it: its closing must not ask the question again, in a loop.
    if (activating_) return;
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
    // However the activation ends, a START that came meanwhile runs as soon as nothing holds it
    // (an error box of this activation, say), and never at a later activation.
    struct Done {
        TForm1& form;
        ~Done() {
            form.activating_ = false;
            if (form.startPending_)
                QTimer::singleShot(0, &form, [f = &form] { f->RunPendingStart(); });
        }
    } done{*this};
    ReportCfgFailuresAgain();
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
    // Closed while the music converted: the program is ending, nothing more to ask.
    if (closing_) return;
    if (LogEndedOK())
        ClearLog();
    else
        ShowErrorSolution();
}

void TForm1::SetStatus(const QString& text) {
    StatusText->setText(text);
    StatusText->setVisible(!text.isEmpty());
}

void TForm1::RunPendingStart() {
    if (!startPending_) return;
    if (closing_) {
        startPending_ = false;
        SetStatus({});
        return;
    }
    // The activation's end and the end of the last wait call again; a closing modal box moves
    // the focus, which calls again too.
    if (activating_ || gameRunning_) return;
    if (Waiting()) {
        WhenNotWaiting(this, [this] { RunPendingStart(); });
        return;
    }
    if (QApplication::activeModalWidget()) return;
    startPending_ = false;
    SetStatus({});
    ActionStart->trigger();
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
    } else if (BrowserVisible() && online && WebBrowser1->LastLoadFailed() &&
               !WebBrowser1->Loading() && !HighscorePageShown) {
        // A start page that could not be fetched is tried again now and then, not at every tick:
        // each try may wait for a slow server.
        const auto now = std::chrono::steady_clock::now();
        if (!lastFailedLoad_) lastFailedLoad_ = now;
        if (now - *lastFailedLoad_ >= std::chrono::seconds(60)) {
            lastFailedLoad_ = now;
            WebBrowser1->Navigate(Qs(StartPageAddress()));
        }
    }
    if (BrowserVisible() && !online) HideBrowser();
    // Offline the picture without the news frame, also when an activation hid the browser first.
    if (!online) ShowPicture("MENUE");
}

void TForm1::WebBrowser1DocumentComplete() {
    lastFailedLoad_.reset();
    ShowPicture("MENUE_NET");
    WebBrowser1->setGeometry(52, 53, 292, 171);
    // Laid out while out of sight (1 by 1), a page would open scrolled past its banner.
    WebBrowser1->verticalScrollBar()->setValue(0);
    WebBrowser1->horizontalScrollBar()->setValue(0);
    WebBrowser1->raise();
}

bool TForm1::WebBrowser1BeforeNavigate2(const QUrl& target) {
    // Only addresses that begin with the start page stay inside; one that merely mentions it
    // (in a query, say) is somebody else's page and goes to the user's browser.
    // Host names know no case: "LocalHost" in the settings is the page at "localhost".
    if (Normalized(target).startsWith(Normalized(QUrl(Qs(StartPageAddress()))))) return true;
    OpenInBrowser(target.toString().toStdString());
    return false;
}

void TForm1::ShowErrorSolution() {
    if (!platform::ConfirmMessage("An error occurred during the execution of the program. Would "
                                  "you like the program to look at our "
                                  "errors&&solutions internet page if the error already is known "
                                  "and if there is a way to fix it?"))
        return;
    Autodial();
    const bool online = IsOnline();
    // Offline the list is empty: the error counts as unknown.
    if (!online) platform::ShowMessage(std::string(kOfflineMessage));
    // The list and its comparison with the log run off the window's thread; the game does not
    // start before the answer is there.
    // The results live as long as the transfer's thread, which may outlast a cancelled wait.
    struct TCheck {
        TKnownError known;
        std::string fetchFailure;
    };
    const auto check = std::make_shared<TCheck>();
    const std::string address = GameServerAddress(true, "/zvxinternal/errors.txt");
    AwaitTransfer([check, address, online, limits = KnownErrorLimits](const TTransfer& t) {
        std::string list;
        if (online) {
            try {
                list = DownloadText(address, {}, limits, &t);
            } catch (const ETransferCancelled&) {
                throw;
            } catch (const std::exception& e) {
                check->fetchFailure = e.what();
            }
        }
        check->known = FindKnownError(list);
    });
    // Without the list the error counts as unknown, as offline; the player learns which download
    // failed, not only how.
    if (!check->fetchFailure.empty())
        platform::ShowError("The list of known errors could not be fetched from " + address + ": " +
                            check->fetchFailure);
    const TKnownError& known = check->known;
    if (!known.Page.empty()) {
        const std::string page = GameServerAddress(true, "/zvxinternal/errors/") + known.Page;
        if (BrowserVisible())
            WebBrowser1->Navigate(Qs(page));
        else
            OpenInBrowser(page);
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
    SetGameWindowIcon(screen->Window().Handle());
    screen->Show();
    // The game screen's window runs its own loop; between its events the launcher may repaint,
    // but takes no input until the game has ended.
    while (!screen->IsClosed()) {
        screen->ProcessEvent(10);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void TForm1::ActionStartExecute() {
    // A click on START while the program waits (the known-error check, a publication) is kept,
    // said so, and run once the wait is over: not lost, and not started at some later moment.
    if (activating_ || Waiting()) {
        startPending_ = true;
        SetStatus(activating_ ? QStringLiteral("The game starts once the error has been looked up.")
                              : QStringLiteral("The game starts once the transfer is over."));
        if (!activating_) WhenNotWaiting(this, [this] { RunPendingStart(); });
        return;
    }
    Timer1->stop();
    if (!SoundsReady) {
        const std::string dir = DataDir();
        platform::ShowMessage(
            "Cannot start game because of low drive space. Please close program and make some more "
            "space "
            "available on drive " +
            dir.substr(0, 1) + ":\\. Then try again.");
        // The start page goes on being fetched and retried as before the refusal.
        Timer1->start();
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
    OpenInBrowser(GameServerAddress(false, "/zvxinternal/zvxrulesengl.htm"));
}

void TForm1::ActionEinstellungenExecute() {
    auto* options = new TMainOptions();
    options->show();
}

void TForm1::ActionwebsiteExecute() { OpenInBrowser(WebSiteAddress()); }

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
    OpenInBrowser(GameServerAddress(false, "/zvxinternal/errors.htm"));
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
    // The launcher's end is the program's end: no wait holds it up, and no dialog stays behind
    // with what the player did in it. A dialog closed here drops what was not confirmed (as its
    // Cancel would); what it already did is in EnvData and saved below.
    CancelAllWaits();
    WebBrowser1->CancelLoads();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible() && w->property("zolvexForm").toBool()) w->close();
    try {
        SaveEnv();
        SaveGameData(kGameDataFile);
    } catch (const std::exception& err) {
        // The files on disk are the last good ones (every save replaces a file only once the new
        // one is whole); the player learns why this run's changes could not be kept.
        platform::ShowError(err.what());
    }
    e->accept();
    // Whatever is still open (a message box of a dialog) does not keep the program running.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

}  // namespace zx
