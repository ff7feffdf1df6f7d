#include "support/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/Errors.h"
#include "support/Ansi.h"

namespace zx {
namespace {

std::mutex dirMutex;
std::optional<TFolders>& CurrentFolders() {
    static std::optional<TFolders> folders;
    return folders;
}

std::string WithoutTrailingSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
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

struct TResolved {
    std::string path;
    bool exists = false;
};

// Follows p (separated by '/') from root, matching each existing component without regard to
// case; root "" means p is absolute.
TResolved ResolveFrom(const std::string& root, const std::string& p) {
    std::string cur = root;
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
    return {cur.empty() ? "/" : cur, matching};
}

// A relative path (separated by '/') against the program folder, or nullopt for an absolute
// one outside it.
std::optional<std::string> RelativeToProgram(std::string p, const std::string& program) {
    if (p.empty() || p[0] != '/') return p;
    if (p == program) return std::string();
    if (program != "/" && p.size() > program.size() && p.compare(0, program.size(), program) == 0 &&
        p[program.size()] == '/')
        return p.substr(program.size() + 1);
    return std::nullopt;
}

std::string Normalized(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

// Converted music is the cache's; everything else the program writes is the user's data.
const std::string& WriteRoot(const TFolders& f, const std::string& rel) {
    size_t i = rel.find_first_not_of("/.");
    std::string_view first = std::string_view(rel).substr(i == std::string::npos ? rel.size() : i);
    first = first.substr(0, first.find('/'));
    return SameTextIgnoreCase(first, "snd") ? f.Cache : f.Data;
}

// The roots a relative path is looked up in, the one written to first.
std::vector<std::string> ReadRoots(const TFolders& f, const std::string& rel) {
    const std::string& write = WriteRoot(f, rel);
    std::vector<std::string> roots{write};
    for (const std::string* r : {&f.Data, &f.Cache, &f.Program})
        if (std::find(roots.begin(), roots.end(), *r) == roots.end()) roots.push_back(*r);
    return roots;
}

}  // namespace

TFolders TFolders::Single(const std::string& dir) {
    const std::string d = WithoutTrailingSlash(dir);
    return {d, d, d, d};
}

TFolders FoldersFor(const std::string& exeDir, const std::string& xdgDataHome,
                    const std::string& xdgCacheHome, const std::string& home) {
    const std::string exe = WithoutTrailingSlash(exeDir);
    TFolders f = TFolders::Single(exe);
    bool installed = false;
    if (!ResolveFrom(exe, "KVD").exists) {
        const std::string prefix = exe.substr(0, exe.rfind('/'));
        const std::string shared = prefix + "/share/zolvex";
        if (IsDir(shared)) {
            f.Program = f.Data = f.Cache = shared;
            f.Library = prefix + "/lib/zolvex";
            installed = true;
        }
    }
    // An installed tree belongs to the package manager even when the user (root) could write
    // it; a folder of the program's own is used as it is whenever it can be written.
    if (!installed && access(f.Program.c_str(), W_OK) == 0) return f;
    // The XDG rules: a relative value is invalid and ignored.
    auto base = [&](const std::string& value, const char* fallback) {
        return !value.empty() && value[0] == '/' ? WithoutTrailingSlash(value)
                                                 : WithoutTrailingSlash(home) + fallback;
    };
    f.Data = base(xdgDataHome, "/.local/share") + "/zolvex";
    f.Cache = base(xdgCacheHome, "/.cache") + "/zolvex";
    return f;
}

void SetFolders(TFolders folders) {
    for (std::string* d : {&folders.Program, &folders.Data, &folders.Cache, &folders.Library})
        *d = WithoutTrailingSlash(*d);
    std::lock_guard lock(dirMutex);
    CurrentFolders() = std::move(folders);
}

TFolders Folders() {
    std::lock_guard lock(dirMutex);
    if (!CurrentFolders())
        CurrentFolders() =
            FoldersFor(ExeDir(), Env("XDG_DATA_HOME"), Env("XDG_CACHE_HOME"), Env("HOME"));
    return *CurrentFolders();
}

std::string ProgramDir() { return Folders().Program; }
std::string DataDir() { return Folders().Data; }

std::string FoldersLogLine() {
    const TFolders f = Folders();
    if (!f.Overlaid()) return "";
    return "Folders: program " + f.Program + ", data " + f.Data + ", cache " + f.Cache +
           ", library " + f.Library;
}

void EnterProgramDir() {
    // The user's folders are made on the first start, before anything looks at their drive (the
    // music's space check) or writes to them.
    const std::string data = DataDir();
    // Each failure names the folder: the user's folders are made here, and a home that cannot
    // be written or a file in the folder's place is for the player to mend.
    auto fail = [&](const std::string& what) {
        const int e = errno;
        throw EInOutError("I/O error " + std::to_string(e) + ": " + what + " " + data + ": " +
                          std::strerror(e));
    };
    if (Folders().Overlaid()) {
        if (!CreateDir(data)) fail("Cannot create the folder");
        EnsureDataDir();
    }
    if (chdir(data.c_str()) != 0) fail("Cannot enter the folder");
}

void EnsureDataDir() {
    const TFolders f = Folders();
    if (!f.Overlaid()) {
        std::string kvd = ResolvePath("KVD");
        if (!IsDir(kvd)) mkdir(kvd.c_str(), 0755);
        return;
    }
    CreateDir("KVD");
    CreateDir("snd");
}

std::string ResolvePath(std::string_view path) {
    const TFolders f = Folders();
    const std::string p = Normalized(path);
    const auto rel = RelativeToProgram(p, f.Program);
    if (!rel) return ResolveFrom("", p).path;
    if (!f.Overlaid()) return ResolveFrom(f.Program, *rel).path;
    std::optional<std::string> firstGuess;
    for (const std::string& root : ReadRoots(f, *rel)) {
        TResolved r = ResolveFrom(root, *rel);
        if (r.exists) return r.path;
        if (!firstGuess) firstGuess = r.path;
    }
    return *firstGuess;
}

std::string ResolveWritePath(std::string_view path) {
    const TFolders f = Folders();
    const std::string p = Normalized(path);
    const auto rel = RelativeToProgram(p, f.Program);
    if (!rel) return ResolveFrom("", p).path;
    return ResolveFrom(WriteRoot(f, *rel), *rel).path;
}

bool FileExists(std::string_view path) {
    struct stat st {};
    return stat(ResolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool DirectoryExists(std::string_view path) { return IsDir(ResolvePath(path)); }

bool CreateDir(std::string_view path) {
    std::string full = ResolveWritePath(path);
    for (size_t k = 1; k <= full.size(); ++k) {
        if (k == full.size() || full[k] == '/') {
            std::string part = full.substr(0, k);
            if (!IsDir(part) && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool DeleteFile(std::string_view path) { return unlink(ResolveWritePath(path).c_str()) == 0; }

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a file";
}

void Fail(TReadError* error, const std::string& path, int code, std::string reason) {
    if (error) *error = TReadError{path, code, std::move(reason)};
    errno = code;
}

}  // namespace

int OpenRegularFile(const std::string& fullPath, int flags, TReadError* error) {
    const int fd = open(fullPath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int e = errno;
        // A FIFO that nobody reads refuses a writer at once: that is its kind, not a failure of
        // the disk.
        struct stat st {};
        if (e == ENXIO && stat(fullPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            Fail(error, fullPath, EINVAL, std::string(KindOf(st.st_mode)) + ", not a regular file");
        else
            Fail(error, fullPath, e, std::strerror(e));
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int e = errno;
        close(fd);
        Fail(error, fullPath, e, std::strerror(e));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        if (S_ISDIR(st.st_mode))
            Fail(error, fullPath, EISDIR, std::strerror(EISDIR));
        else
            Fail(error, fullPath, EINVAL, std::string(KindOf(st.st_mode)) + ", not a regular file");
        return -1;
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        const int e = errno;
        close(fd);
        Fail(error, fullPath, e, std::strerror(e));
        return -1;
    }
    return fd;
}

std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view path, uint64_t maxBytes,
                                                  TReadError* error) {
    const std::string full = ResolvePath(path);
    const int fd = OpenRegularFile(full, O_RDONLY, error);
    if (fd < 0) return std::nullopt;
    auto tooLarge = [&] {
        close(fd);
        Fail(error, full, EFBIG, "larger than " + std::to_string(maxBytes) + " bytes");
        return std::nullopt;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) st.st_size = 0;
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return tooLarge();
    std::vector<uint8_t> data;
    data.reserve(static_cast<size_t>(st.st_size));
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            close(fd);
            Fail(error, full, e, std::strerror(e));
            return std::nullopt;
        }
        if (n == 0) break;
        // A file that grows while it is read is held to the same bound.
        if (data.size() + static_cast<size_t>(n) > maxBytes) return tooLarge();
        data.insert(data.end(), buf, buf + n);
    }
    close(fd);
    return data;
}

void ReplaceFileContents(std::string_view path, const void* data, size_t size) {
    std::string full = ResolveWritePath(path);
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
    // Over a read-only program folder the folder is the union of its copies, the user's first.
    std::vector<std::string> dirs;
    const TFolders f = Folders();
    const std::string p = Normalized(directory);
    const auto rel = RelativeToProgram(p, f.Program);
    if (rel && f.Overlaid()) {
        for (const std::string& root : ReadRoots(f, *rel))
            if (TResolved r = ResolveFrom(root, *rel); r.exists) dirs.push_back(r.path);
    } else {
        dirs.push_back(ResolvePath(directory));
    }
    for (const std::string& dir : dirs) {
        const size_t before = found.size();
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code e2;
            if (!it->is_regular_file(e2)) continue;
            std::string name = it->path().filename().string();
            if (name.size() < suffix.size() ||
                !SameTextIgnoreCase(std::string_view(name).substr(name.size() - suffix.size()),
                                    suffix))
                continue;
            const uintmax_t size = it->file_size(e2);
            if (e2) continue;
            std::string key = UpperCase(name);
            if (std::any_of(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(before),
                            [&](const Keyed& k) { return k.key == key; }))
                continue;
            found.push_back({std::move(key), {std::move(name), size}});
        }
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
    const std::string from = ResolvePath(existing), to = ResolveWritePath(second),
                      tmp = to + ".tmp";
    unlink(tmp.c_str());
    if (link(from.c_str(), tmp.c_str()) != 0) return;
    const bool renamed = rename(tmp.c_str(), to.c_str()) == 0;
    // When the second name is already a link of the same file, rename succeeds and does nothing:
    // the temporary name stays unless it is removed here.
    unlink(tmp.c_str());
    if (renamed) SyncFolderOf(to);
}

void RemoveSaveLeftovers() {
    for (const char* folder : {"", "KVD", "snd", "Screenshots"}) {
        const std::string dir = *folder ? ResolveWritePath(folder) : DataDir();
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
    if (statvfs(DataDir().c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

__attribute__((weak)) void SaveStepBeforeRename(const std::string&) {}
__attribute__((weak)) void SaveStepFolderSynced(const std::string&) {}

}  // namespace zx
