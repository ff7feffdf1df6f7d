#pragma once
// Pictures onto an X window through two images in memory shared with the display server. The
// picture of one frame is drawn into one image while the server still copies the other onto the
// screen, so on a machine without a graphics card the server's copy of a large window overlaps the
// scaling of the next frame instead of following it. Each image goes to the server whole, in one
// request, so every picture shown is one frame's.
#include <cstdint>
#include <memory>
#include <string>

struct SDL_Window;

namespace zx::platform {

class SharedImages {
public:
    // The images for a window on a display. Null where the display is not on this machine, has
    // no shared images, or the window's pixels are not 32-bit 0x00RRGGBB: a picture must then go
    // another way.
    static std::unique_ptr<SharedImages> Open(const std::string& displayName, unsigned long window);
    // The same for the X window behind an SDL window; null where SDL shows it some other way.
    static std::unique_ptr<SharedImages> ForWindow(SDL_Window* window);
    // The X window behind an SDL window, 0 where there is none.
    static unsigned long XWindowOf(SDL_Window* window);
    ~SharedImages();
    SharedImages(const SharedImages&) = delete;
    SharedImages& operator=(const SharedImages&) = delete;

    struct Canvas {
        uint8_t* pixels = nullptr;  // null: the display stopped answering, or gave no image
        int pitch = 0;
    };
    // The image to draw the next picture into, width x height, once the server has finished
    // reading it; images of another size are made anew. The picture's own size, not the
    // window's: the server copies an image sent whole row by row straight from the shared
    // memory, but a part of one through a scratch copy, at a quarter of the speed.
    Canvas Next(int width, int height);
    // Sends the image Next gave to (x, y) of the window, and takes the other image next time.
    // False when the request could not be made.
    bool Send(int x, int y);
    // Paints a rectangle of the window black (the bars beside the picture).
    void Clear(int x, int y, int width, int height);
    // Waits until the server has read every image sent; false if it stopped answering.
    bool Drain();

private:
    struct Image;
    SharedImages() = default;
    bool Make(int width, int height);
    void Free();
    bool WaitFor(Image& image);
    void TakeEvents();

    void* display_ = nullptr;  // our own connection: the server's answers come back on it only
    unsigned long window_ = 0;
    void* gc_ = nullptr;
    void* visual_ = nullptr;
    int depth_ = 0;
    int completion_ = 0;  // the event type that says the server has read an image
    std::unique_ptr<Image> images_[2];
    int current_ = 0;
    int width_ = 0, height_ = 0;
};

}  // namespace zx::platform
