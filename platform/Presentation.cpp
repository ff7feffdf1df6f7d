#include "platform/Presentation.h"

#include <algorithm>
#include <cmath>

namespace zx::platform {
namespace {

// A whole step is kept while it gives at least this share of the exact fit's size.
constexpr double kWholeStepShare = 0.9;
// The first window takes at most this share of the desktop in either direction.
constexpr double kDesktopShare = 0.8;

int FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<int>(q);
}

}  // namespace

Presentation FitGameArea(int outW, int outH, int gameW, int gameH) {
    Presentation p;
    if (outW <= 0 || outH <= 0 || gameW <= 0 || gameH <= 0) return p;
    const double fit =
        std::min(outW / static_cast<double>(gameW), outH / static_cast<double>(gameH));
    const int step = static_cast<int>(std::floor(fit));
    if (step >= 1 && step >= kWholeStepShare * fit) {
        p.w = gameW * step, p.h = gameH * step;
    } else if (outW * static_cast<long long>(gameH) <= outH * static_cast<long long>(gameW)) {
        // The width limits: the height follows the shape, rounded.
        p.w = outW;
        p.h = static_cast<int>(std::lround(outW * static_cast<double>(gameH) / gameW));
        p.smooth = true;
    } else {
        p.h = outH;
        p.w = static_cast<int>(std::lround(outH * static_cast<double>(gameW) / gameH));
        p.smooth = true;
    }
    p.w = std::max(1, std::min(p.w, outW));
    p.h = std::max(1, std::min(p.h, outH));
    p.x = (outW - p.w) / 2;
    p.y = (outH - p.h) / 2;
    return p;
}

void OutputToGame(const Presentation& p, int gameW, int gameH, int ox, int oy, int& gx, int& gy) {
    if (p.w <= 0 || p.h <= 0) {
        gx = ox, gy = oy;
        return;
    }
    // Through the output pixel's centre, so that a shrunk picture reaches its last column too.
    gx = FloorDiv((2LL * (ox - p.x) + 1) * gameW, 2LL * p.w);
    gy = FloorDiv((2LL * (oy - p.y) + 1) * gameH, 2LL * p.h);
}

Size FirstWindowSize(int usableW, int usableH, int gameW, int gameH) {
    if (gameW <= 0 || gameH <= 0) return {};
    if (usableW <= 0 || usableH <= 0) return {gameW, gameH};
    const int step = std::min(static_cast<int>(usableW * kDesktopShare) / gameW,
                              static_cast<int>(usableH * kDesktopShare) / gameH);
    if (step >= 1) return {gameW * step, gameH * step};
    if (gameW <= usableW && gameH <= usableH) return {gameW, gameH};
    const Presentation p = FitGameArea(usableW, usableH, gameW, gameH);
    return {p.w, p.h};
}

}  // namespace zx::platform
