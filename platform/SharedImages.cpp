#include "platform/SharedImages.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace zx::platform {

namespace {

// How long a frame waits for the server to finish reading an image before this way is given
// up. A server that takes longer is not showing frames anyway; the picture then goes the way
// that does not need its answers.
constexpr auto kAnswerTime = std::chrono::seconds(2);

Display* Dpy(void* d) { return static_cast<Display*>(d); }

// Xlib reports a failed request to one handler for the whole process, whose default ends it. A
// request that may fail for reasons outside the program (a server that cannot reach the shared
// memory, a window gone) runs with a handler that only notes the failure.
bool gFailed = false;
int NoteFailure(Display*, XErrorEvent*) {
    gFailed = true;
    return 0;
}
template <typename F>
bool Fails(Display* d, F&& request) {
    XSync(d, False);
    gFailed = false;
    auto before = XSetErrorHandler(NoteFailure);
    request();
    XSync(d, False);
    XSetErrorHandler(before);
    return gFailed;
}

// A shared image is only shared with a server on this machine.
bool LocalDisplay(const std::string& name) {
    return name.empty() || name[0] == ':' || name.rfind("unix:", 0) == 0;
}

}  // namespace

struct SharedImages::Image {
    XImage* image = nullptr;
    XShmSegmentInfo segment{};
    bool attached = false;
    bool pending = false;  // sent, and the server has not said it has read it
};

std::unique_ptr<SharedImages> SharedImages::Open(const std::string& displayName,
                                                 unsigned long window) {
    const char* env = std::getenv("DISPLAY");
    const std::string name = displayName.empty() && env ? env : displayName;
    if (!window || !LocalDisplay(name)) return nullptr;
    Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!d) return nullptr;
    std::unique_ptr<SharedImages> s(new SharedImages);
    s->display_ = d;
    s->window_ = window;
    if (!XShmQueryExtension(d)) return nullptr;
    XWindowAttributes wa{};
    Status got = 0;
    if (Fails(d, [&] { got = XGetWindowAttributes(d, window, &wa); }) || !got || !wa.visual)
        return nullptr;
    if (wa.depth != 24 || wa.visual->red_mask != 0xFF0000 || wa.visual->green_mask != 0xFF00 ||
        wa.visual->blue_mask != 0xFF)
        return nullptr;
    s->visual_ = wa.visual;
    s->depth_ = wa.depth;
    s->completion_ = XShmGetEventBase(d) + ShmCompletion;
    XGCValues values{};
    values.graphics_exposures = False;
    values.foreground = 0;  // black in a 0x00RRGGBB visual
    GC gc = nullptr;
    if (Fails(d, [&] { gc = XCreateGC(d, window, GCGraphicsExposures | GCForeground, &values); }) ||
        !gc)
        return nullptr;
    s->gc_ = gc;
    return s;
}

namespace {
bool X11Info(SDL_Window* window, SDL_SysWMinfo& info) {
    SDL_VERSION(&info.version);
    return window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11;
}
}  // namespace

unsigned long SharedImages::XWindowOf(SDL_Window* window) {
    SDL_SysWMinfo info;
    return X11Info(window, info) ? info.info.x11.window : 0;
}

std::unique_ptr<SharedImages> SharedImages::ForWindow(SDL_Window* window) {
    SDL_SysWMinfo info;
    if (!X11Info(window, info)) return nullptr;
    const char* name = DisplayString(info.info.x11.display);
    return Open(name ? name : "", info.info.x11.window);
}

SharedImages::~SharedImages() {
    Display* d = Dpy(display_);
    if (!d) return;
    Drain();
    Free();
    if (gc_) XFreeGC(d, static_cast<GC>(gc_));
    XCloseDisplay(d);
}

void SharedImages::Free() {
    Display* d = Dpy(display_);
    for (auto& im : images_) {
        if (!im) continue;
        if (im->attached) XShmDetach(d, &im->segment);
        if (im->image) {
            im->image->data = nullptr;  // the segment is not the image's own allocation
            XDestroyImage(im->image);
        }
        if (im->segment.shmaddr) shmdt(im->segment.shmaddr);
        im.reset();
    }
    XFlush(d);
    width_ = height_ = 0;
}

bool SharedImages::Make(int width, int height) {
    Display* d = Dpy(display_);
    Free();
    for (auto& im : images_) {
        im = std::make_unique<Image>();
        im->image = XShmCreateImage(d, static_cast<Visual*>(visual_), static_cast<unsigned>(depth_),
                                    ZPixmap, nullptr, &im->segment, static_cast<unsigned>(width),
                                    static_cast<unsigned>(height));
        if (!im->image || im->image->bits_per_pixel != 32 || im->image->byte_order != LSBFirst)
            return false;
        const size_t bytes = static_cast<size_t>(im->image->bytes_per_line) * height;
        im->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (im->segment.shmid < 0) return false;
        void* at = shmat(im->segment.shmid, nullptr, 0);
        if (at == reinterpret_cast<void*>(-1)) {
            shmctl(im->segment.shmid, IPC_RMID, nullptr);
            return false;
        }
        im->segment.shmaddr = im->image->data = static_cast<char*>(at);
        im->segment.readOnly = False;
        const bool failed = Fails(d, [&] { im->attached = XShmAttach(d, &im->segment); });
        // Marked for removal at once: it goes when both sides have let go, even if we crash.
        shmctl(im->segment.shmid, IPC_RMID, nullptr);
        if (failed || !im->attached) {
            im->attached = false;
            return false;
        }
    }
    width_ = width, height_ = height;
    current_ = 0;
    return true;
}

void SharedImages::TakeEvents() {
    Display* d = Dpy(display_);
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type != completion_) continue;
        XShmCompletionEvent done;
        std::memcpy(&done, &ev, sizeof done);
        for (auto& im : images_)
            if (im && im->segment.shmseg == done.shmseg) im->pending = false;
    }
}

bool SharedImages::WaitFor(Image& image) {
    const auto until = std::chrono::steady_clock::now() + kAnswerTime;
    for (;;) {
        TakeEvents();
        if (!image.pending) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{ConnectionNumber(Dpy(display_)), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
}

bool SharedImages::Drain() {
    for (auto& im : images_)
        if (im && !WaitFor(*im)) return false;
    return true;
}

SharedImages::Canvas SharedImages::Next(int width, int height) {
    if (width <= 0 || height <= 0) return {};
    if (width != width_ || height != height_) {
        if (!Drain() || !Make(width, height)) {
            Free();
            return {};
        }
    }
    Image& im = *images_[current_];
    if (!WaitFor(im)) return {};
    return {reinterpret_cast<uint8_t*>(im.image->data), im.image->bytes_per_line};
}

bool SharedImages::Send(int x, int y) {
    if (!images_[current_]) return false;
    Image& im = *images_[current_];
    current_ ^= 1;
    Display* d = Dpy(display_);
    if (!XShmPutImage(d, window_, static_cast<GC>(gc_), im.image, 0, 0, x, y,
                      static_cast<unsigned>(width_), static_cast<unsigned>(height_), True))
        return false;
    im.pending = true;
    XFlush(d);
    return true;
}

void SharedImages::Clear(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return;
    XFillRectangle(Dpy(display_), window_, static_cast<GC>(gc_), x, y, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
}

}  // namespace zx::platform
