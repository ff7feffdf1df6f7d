#include "testsupport/NetLimits.h"

#include <mutex>

namespace zx {
namespace {

std::mutex limitsMutex;
THttpLimits httpLimits;
TMailLimits mailLimits;

}  // namespace

THttpLimits HttpLimits() {
    std::lock_guard lock(limitsMutex);
    return httpLimits;
}

TMailLimits MailLimits() {
    std::lock_guard lock(limitsMutex);
    return mailLimits;
}

namespace test {

NetLimits::~NetLimits() {
    std::lock_guard lock(limitsMutex);
    httpLimits = THttpLimits{};
    mailLimits = TMailLimits{};
}

void NetLimits::Http(const THttpLimits& limits) {
    std::lock_guard lock(limitsMutex);
    httpLimits = limits;
}

void NetLimits::Mail(const TMailLimits& limits) {
    std::lock_guard lock(limitsMutex);
    mailLimits = limits;
}

}  // namespace test
}  // namespace zx
