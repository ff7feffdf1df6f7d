#include "support/LogFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <locale>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Ticks.h"
#include "support/Ansi.h"
#include "support/Paths.h"

namespace zx {
namespace {

const char* const kLog = "KVD\\LOG.TXT";

// Two threads write the log; each line must arrive whole.
std::mutex logMutex;
// The log kept in memory, when the program asked for it; guarded by logMutex.
std::optional<size_t> memoryLogLimit;
std::string memoryLog;

[[noreturn]] void RaiseIo(const std::string& what) {
    throw EInOutError(what + ": " + std::strerror(errno));
}

// Splits file bytes into lines; CR LF, a lone LF and a lone CR each end a line.
std::vector<std::string> SplitLines(const std::vector<uint8_t>& data) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < data.size(); ++i) {
        const uint8_t b = data[i];
        if (b == '\r' || b == '\n') {
            if (b == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            lines.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += static_cast<char>(b);
        }
    }
    if (!cur.empty()) lines.push_back(std::move(cur));
    return lines;
}

// A key or value is stored on one line: a line break inside it would write a line of its own,
// with a key of the writer's choosing.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// The key of an on-disk line: the text before its first colon (empty without one).
std::string_view LineKey(std::string_view line) {
    auto c = line.find(':');
    return c == std::string_view::npos ? std::string_view() : line.substr(0, c);
}

int FindKeyLine(const std::vector<std::string>& lines, std::string_view ansiKey) {
    std::string key = AnsiToUtf8(ansiKey);
    for (int i = static_cast<int>(lines.size()) - 1; i >= 0; --i)
        if (SameTextIgnoreCase(AnsiToUtf8(LineKey(lines[static_cast<size_t>(i)])), key)) return i;
    return -1;
}

bool CreateEmpty(const std::string& full, TReadError* error = nullptr) {
    int fd = OpenRegularFile(full, O_WRONLY | O_CREAT, error);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Strict decimal syntax: blanks, sign, digits with '.', optional exponent.
bool StrictParse(std::string_view s, double& out) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t ed = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++ed;
        if (ed == 0) return false;
    }
    if (i != s.size()) return false;
    std::string t(s.substr(start));
    if (t[0] == '+') t.erase(0, 1);
#if defined(__cpp_lib_to_chars)
    auto r = std::from_chars(t.data(), t.data() + t.size(), out);
    return r.ec == std::errc() && r.ptr == t.data() + t.size();
#else
    // A standard library without the floating-point from_chars (the web build's): a stream in
    // the classic locale reads the same, whatever locale the process has.
    std::istringstream in(t);
    in.imbue(std::locale::classic());
    in >> out;
    return !in.fail() && in.peek() == std::char_traits<char>::eof();
#endif
}

}  // namespace

void KeepLogInMemory(size_t maxBytes) {
    std::lock_guard lock(logMutex);
    memoryLogLimit = maxBytes;
}

std::string LogInMemory() {
    std::lock_guard lock(logMutex);
    return memoryLog;
}

void WriteLog(std::string_view line) {
    std::string bytes = Utf8ToAnsi(line) + "\r\n";
    std::lock_guard lock(logMutex);
    if (memoryLogLimit) {
        memoryLog += bytes;
        if (memoryLog.size() > *memoryLogLimit)
            memoryLog.erase(0, memoryLog.size() - *memoryLogLimit);
        return;
    }
    EnsureDataDir();
    EnterProgramDir();
    std::string full = ResolveWritePath(kLog);
    TReadError why;
    int fd = OpenRegularFile(full, O_WRONLY | O_CREAT | O_APPEND, &why);
    if (fd < 0) throw EInOutError("Cannot open " + why.Text());
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            RaiseIo("Cannot write " + full);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
}

void ClearLog() {
    std::lock_guard lock(logMutex);
    try {
        EnterProgramDir();
    } catch (const Exception&) {
    }
    DeleteFile(kLog);
}

bool LogEndedOK() {
    std::lock_guard lock(logMutex);
    TReadError why;
    auto data = ReadFileBytes(kLog, kLogFileLimit, &why);
    if (!data) return why.Errno == ENOENT;
    auto lines = SplitLines(*data);
    return !lines.empty() && lines.back() == "OK";
}

void SetCfgValue(std::string_view file, std::string_view key, std::string_view value) {
    EnterProgramDir();
    std::string full = ResolvePath(file);
    TReadError why;
    auto data = ReadFileBytes(file, kCfgFileLimit, &why);
    // A file of the wrong kind or size is replaced whole by the save below; only a missing one
    // has to be made first.
    if (!data && why.Errno == ENOENT && !CreateEmpty(full, &why))
        throw EInOutError("Cannot create " + why.Text());
    std::vector<std::string> lines = data ? SplitLines(*data) : std::vector<std::string>{};
    std::string ansiKey = OneLine(Utf8ToAnsi(key));
    std::string line = ansiKey + ": " + OneLine(Utf8ToAnsi(value));
    int at = FindKeyLine(lines, ansiKey);
    if (at >= 0)
        lines[static_cast<size_t>(at)] = line;
    else
        lines.push_back(line);
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    ReplaceFileContents(file, out);
}

namespace {

std::mutex cfgReportsMutex;
std::set<std::string> cfgFailuresReported;

// True the first time a file is named since the last ReportCfgFailuresAgain.
bool FirstCfgFailure(const std::string& path) {
    std::lock_guard lock(cfgReportsMutex);
    return cfgFailuresReported.insert(path).second;
}

}  // namespace

void ReportCfgFailuresAgain() {
    std::lock_guard lock(cfgReportsMutex);
    cfgFailuresReported.clear();
}

std::string GetCfgValue(std::string_view file, std::string_view key) {
    EnterProgramDir();
    TReadError why;
    auto data = ReadFileBytes(file, kCfgFileLimit, &why);
    if (!data) {
        const std::string path = ResolvePath(file);
        if (why.Errno == ENOENT && CreateEmpty(path, &why)) return {};
        if (FirstCfgFailure(path))
            platform::ShowMessage("Datei " + path + " konnte nicht erzeugt werden");
        return {};
    }
    auto lines = SplitLines(*data);
    std::string ansiKey = Utf8ToAnsi(key);
    int at = FindKeyLine(lines, ansiKey);
    if (at < 0) return {};
    const std::string& l = lines[static_cast<size_t>(at)];
    size_t skip = ansiKey.size() + 2;
    return skip >= l.size() ? std::string() : AnsiToUtf8(std::string_view(l).substr(skip));
}

void WriteProgCfg(std::string_view key, std::string_view value) {
    EnsureDataDir();
    SetCfgValue("kvd\\prog.cfg", key, value);
}

std::string ReadProgCfg(std::string_view key) {
    EnsureDataDir();
    std::string v = GetCfgValue("kvd\\prog.cfg", key);
    if (v.empty() && FileExists("prog.cfg")) v = GetCfgValue("prog.cfg", key);
    return v;
}

std::string ReadProgCfgDefault(std::string_view key, std::string_view def) {
    std::string v = ReadProgCfg(key);
    return v.empty() ? std::string(def) : v;
}

double ParseFloat(std::string_view text) {
    double v = 0;
    if (StrictParse(text, v)) return v;
    std::string changed(text);
    if (auto c = changed.find(','); c != std::string::npos)
        changed[c] = '.';
    else if (auto d = changed.find('.'); d != std::string::npos)
        changed[d] = ',';
    if (StrictParse(changed, v)) return v;
    throw Exception(EscapeText(changed) + " ist kein gültiger Gleitkommastring");
}

std::string ZeroPadInt(int64_t value, int digits) {
    uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string s = std::to_string(mag);
    if (static_cast<int>(s.size()) < digits)
        s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
    return value < 0 ? "-" + s : s;
}

std::string EscapeText(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

void WaitMs(uint32_t ms) {
    uint32_t start = platform::GetTickCount();
    // Signed difference, so the wait also ends across a wrap of the tick count.
    while (static_cast<int32_t>(platform::GetTickCount() - (start + ms)) <= 0) platform::SleepMs(1);
}

}  // namespace zx
