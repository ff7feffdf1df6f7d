#include "platform/Dialogs.h"

#include <cstdio>
#include <mutex>

namespace zx::platform {
namespace {
std::mutex hookMutex;
MessageHook& Hook() {
    static MessageHook hook;
    return hook;
}
bool Show(MessageKind kind, const std::string& text) {
    MessageHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = Hook();
    }
    if (hook) return hook(kind, text);
    std::fprintf(stderr, "%s\n", text.c_str());
    return false;
}
}  // namespace

void SetMessageHook(MessageHook hook) {
    std::lock_guard lock(hookMutex);
    Hook() = std::move(hook);
}
void ShowMessage(const std::string& text) { Show(MessageKind::Info, text); }
bool ConfirmMessage(const std::string& text) { return Show(MessageKind::Confirm, text); }
void ShowError(const std::string& text) { Show(MessageKind::Error, text); }

}  // namespace zx::platform
