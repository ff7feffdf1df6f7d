#include "support/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/Errors.h"
#include "support/Ansi.h"

namespace zx {
namespace {

std::mutex dirMutex;
// Set by SetProgramDir; empty: the executable's directory.
std::string& ChosenDir() {
    static std::string dir;
    return dir;
}

std::string ExeDir() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return ".";
        if (static_cast<size_t>(n) < buf.size()) {
            std::string p(buf.data(), static_cast<size_t>(n));
            auto slash = p.rfind('/');
            return slash == 0 ? std::string("/") : p.substr(0, slash);
        }
        buf.resize(buf.size() * 2);
    }
}

bool IsDir(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool Exists(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0;
}

// Finds the entry of dir whose name equals name without regard to case; an exact match wins.
std::optional<std::string> MatchEntry(const std::string& dir, const std::string& name) {
    if (Exists(dir + "/" + name)) return name;
    DIR* d = opendir(dir.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* e = readdir(d)) {
        if (SameTextIgnoreCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

// A rename is only as durable as the folder entry it changed: sync the folder too. A file system
// that cannot sync folders (some report EINVAL) has nothing more to offer; that is no failure.
void SyncFolderOf(const std::string& file) {
    auto slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : file.substr(0, slash);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
    SaveStepFolderSynced(dir);
}

}  // namespace

std::string ProgramDir() {
    std::lock_guard lock(dirMutex);
    if (!ChosenDir().empty()) return ChosenDir();
    static const std::string dir = ExeDir();
    return dir;
}

void SetProgramDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    ChosenDir() = dir;
    while (ChosenDir().size() > 1 && ChosenDir().back() == '/') ChosenDir().pop_back();
}

void EnterProgramDir() {
    if (chdir(ProgramDir().c_str()) != 0)
        throw EInOutError("I/O error " + std::to_string(errno) + ": " + std::strerror(errno));
}

void EnsureDataDir() {
    std::string kvd = ResolvePath("KVD");
    if (!IsDir(kvd)) mkdir(kvd.c_str(), 0755);
}

std::string ResolvePath(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    std::string cur = (!p.empty() && p[0] == '/') ? "" : ProgramDir();
    bool matching = true;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string comp = p.substr(i, j - i);
        i = j + 1;
        if (comp.empty() || comp == ".") continue;
        if (comp == "..") {
            auto s = cur.rfind('/');
            cur = s == std::string::npos || s == 0 ? "/" : cur.substr(0, s);
            continue;
        }
        if (matching) {
            auto m = MatchEntry(cur.empty() ? "/" : cur, comp);
            if (m) {
                comp = *m;
            } else {
                matching = false;
            }
        }
        cur += "/" + comp;
    }
    return cur.empty() ? "/" : cur;
}

bool FileExists(std::string_view path) {
    struct stat st {};
    return stat(ResolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool DirectoryExists(std::string_view path) { return IsDir(ResolvePath(path)); }

bool CreateDir(std::string_view path) {
    std::string full = ResolvePath(path);
    for (size_t k = 1; k <= full.size(); ++k) {
        if (k == full.size() || full[k] == '/') {
            std::string part = full.substr(0, k);
            if (!IsDir(part) && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool DeleteFile(std::string_view path) { return unlink(ResolvePath(path).c_str()) == 0; }

std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view path) {
    std::string full = ResolvePath(path);
    int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.insert(data.end(), buf, buf + n);
    }
    close(fd);
    return data;
}

void ReplaceFileContents(std::string_view path, const void* data, size_t size) {
    std::string full = ResolvePath(path);
    std::string tmp = full + ".tmp";
    auto fail = [&](const char* what) {
        int e = errno;
        unlink(tmp.c_str());
        throw EInOutError(std::string(what) + " " + full + ": " + std::strerror(e));
    };
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("Cannot create");
    auto p = static_cast<const uint8_t*>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            fail("Cannot write");
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) fail("Cannot write");
    SaveStepBeforeRename(tmp);
    if (rename(tmp.c_str(), full.c_str()) != 0) fail("Cannot replace");
    SyncFolderOf(full);
}

std::vector<TFolderFile> ListFolder(std::string_view directory, std::string_view suffix) {
    namespace fs = std::filesystem;
    struct Keyed {
        std::string key;
        TFolderFile file;
    };
    std::vector<Keyed> found;
    std::error_code ec;
    for (fs::directory_iterator it(ResolvePath(directory), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code e2;
        if (!it->is_regular_file(e2)) continue;
        std::string name = it->path().filename().string();
        if (name.size() < suffix.size() ||
            !SameTextIgnoreCase(std::string_view(name).substr(name.size() - suffix.size()), suffix))
            continue;
        const uintmax_t size = it->file_size(e2);
        if (e2) continue;
        std::string key = UpperCase(name);
        found.push_back({std::move(key), {std::move(name), size}});
    }
    std::sort(found.begin(), found.end(), [](const Keyed& a, const Keyed& b) {
        return a.key != b.key ? a.key < b.key : a.file.Name < b.file.Name;
    });
    std::vector<TFolderFile> files;
    files.reserve(found.size());
    for (Keyed& k : found) files.push_back(std::move(k.file));
    return files;
}

void SyncFileAndFolder(std::string_view path) {
    const std::string full = ResolvePath(path);
    int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    SyncFolderOf(full);
}

void LinkFile(std::string_view existing, std::string_view second) {
    const std::string from = ResolvePath(existing), to = ResolvePath(second), tmp = to + ".tmp";
    unlink(tmp.c_str());
    if (link(from.c_str(), tmp.c_str()) != 0) return;
    if (rename(tmp.c_str(), to.c_str()) != 0) {
        unlink(tmp.c_str());
        return;
    }
    SyncFolderOf(to);
}

void RemoveSaveLeftovers() {
    for (const char* folder : {"", "KVD", "snd", "Screenshots"}) {
        const std::string dir = *folder ? ResolvePath(folder) : ProgramDir();
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            std::string_view n = e->d_name;
            auto endsWith = [&](std::string_view suffix) {
                return n.size() > suffix.size() && n.substr(n.size() - suffix.size()) == suffix;
            };
            if (endsWith(".tmp") || endsWith(".part")) names.emplace_back(n);
        }
        closedir(d);
        for (const auto& n : names) {
            const std::string full = dir + "/" + n;
            struct stat st {};
            if (lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(full.c_str());
        }
    }
}

std::optional<uint64_t> FreeDiskSpace() {
    struct statvfs st {};
    if (statvfs(ProgramDir().c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

__attribute__((weak)) void SaveStepBeforeRename(const std::string&) {}
__attribute__((weak)) void SaveStepFolderSynced(const std::string&) {}

}  // namespace zx
