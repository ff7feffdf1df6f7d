#pragma once
// The ground the launcher's tests stand on: the one QApplication, a program directory of the
// test's own with its data folder, the test's desktop online or not, and, where a test asks for
// it, the boxes the program would show taken down (text and kind) instead of shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "support/Paths.h"
#include "testsupport/Desktop.h"
#include "testsupport/QtTestSupport.h"
#include "testsupport/TestSupport.h"

namespace zx::test {

class LauncherFixture : public testing::Test {
protected:
    // Declared first, gone last: the desktop stays the test's until the end.
    Desktop desktop;
    // The boxes' texts and kinds, in order, once CollectBoxes() has been called.
    std::vector<std::string> messages;
    std::vector<platform::MessageKind> kinds;

    // First in a SetUp.
    void SetUpLauncher(bool online) {
        TestApplication();
        ResetProgramDir();
        EnsureDataDir();
        desktop.Online(online);
    }
    // Every box the program shows from now on is taken down and answered by Answer().
    void CollectBoxes() {
        platform::SetMessageHook([this](platform::MessageKind kind, const std::string& text) {
            messages.push_back(text);
            kinds.push_back(kind);
            return Answer(kind);
        });
    }
    // A box's answer: OK, or yes to a question.
    virtual bool Answer(platform::MessageKind) { return true; }

    void TearDown() override { platform::SetMessageHook(nullptr); }
};

}  // namespace zx::test
