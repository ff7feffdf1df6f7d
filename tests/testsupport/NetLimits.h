#pragma once
// This test program's own limits of the network clients (net/Internet.h, net/ErrorMail.h): they
// replace the program's at link time. A test keeps a NetLimits for as long as it needs other
// limits (short time-outs against a stalled server, say); without one they are the program's.
#include "net/ErrorMail.h"
#include "net/Internet.h"

namespace zx::test {

class NetLimits {
public:
    NetLimits() = default;
    ~NetLimits();  // the program's limits again
    NetLimits(const NetLimits&) = delete;
    NetLimits& operator=(const NetLimits&) = delete;

    void Http(const THttpLimits& limits);
    void Mail(const TMailLimits& limits);
};

}  // namespace zx::test
