#pragma once
// The program's exception classes. Everything the program raises on purpose derives from
// Exception; the frame and the dialogs catch Exception and let anything else pass on.
#include <stdexcept>
#include <string>

namespace zx {

class Exception : public std::runtime_error {
public:
    // what() ends at a NUL: one inside the message (from a file's bytes) is shown, not obeyed.
    explicit Exception(const std::string& message) : std::runtime_error(ShowNul(message)) {}
    std::string Message() const { return what(); }

private:
    static std::string ShowNul(std::string s) {
        for (size_t at = s.find('\0'); at != std::string::npos; at = s.find('\0', at + 4))
            s.replace(at, 1, "\\x00");
        return s;
    }
};

// An input/output failure: a file that cannot be created, read or written.
class EInOutError : public Exception {
public:
    explicit EInOutError(const std::string& message) : Exception(message) {}
};

}  // namespace zx
