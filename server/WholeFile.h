#pragma once
// Files the server writes for itself (a waiting replay, a stored compressed form of the game's
// files): whole or not at all.
#include <string>

#include <sys/types.h>

namespace zx::server {

// Temporary file, sync, rename, sync of the folder: a crash leaves the whole file or none.
// Throws std::runtime_error naming the file and the reason.
void WriteWhole(const std::string& path, const std::string& bytes, mode_t mode);

}  // namespace zx::server
