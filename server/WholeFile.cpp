#include "server/WholeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace zx::server {
namespace {

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

void WriteWhole(const std::string& path, const std::string& bytes, mode_t mode) {
    const std::string tmp = path + ".tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(errno));
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = errno;
            close(fd);
            unlink(tmp.c_str());
            throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(e));
        }
        at += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        unlink(tmp.c_str());
        throw std::runtime_error("cannot write " + tmp);
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
    SyncFolder(std::filesystem::path(path).parent_path().string());
}

}  // namespace zx::server
