#pragma once
// The program's exception classes. Everything the program raises on purpose derives from
// Exception; the frame and the dialogs catch Exception and let anything else pass on.
#include <stdexcept>
#include <string>

namespace zx {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// An input/output failure: a file that cannot be created, read or written.
class EInOutError : public Exception {
public:
    explicit EInOutError(const std::string& message) : Exception(message) {}
};

}  // namespace zx
