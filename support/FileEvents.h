#pragma once
// Two moments of a save, announced by the file layer. The program defines neither: the file layer
// carries weak definitions that do nothing, and a binary that defines them itself (a test that
// stops a save where a crash would, or counts folder syncs) gets its own at link time.
#include <string>

namespace zx::fileevents {

// After the temporary file is written and flushed, before it is renamed over the target.
void BeforeRename(const std::string& tempPath);
// After a folder was synced following a rename.
void FolderSynced();

}  // namespace zx::fileevents
