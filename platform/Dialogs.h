#pragma once
// Message boxes. The launcher installs a hook that shows real boxes; without one (the game screen
// alone, the tests) a message goes to standard error and a confirmation answers No.
#include <functional>
#include <string>

namespace zx::platform {

enum class MessageKind { Info, Confirm, Error };

// Returns true for OK / Yes.
using MessageHook = std::function<bool(MessageKind, const std::string& text)>;

void SetMessageHook(MessageHook hook);
void ShowMessage(const std::string& text);
bool ConfirmMessage(const std::string& text);
void ShowError(const std::string& text);

}  // namespace zx::platform
