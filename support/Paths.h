#pragma once
// The program directory, the data directory KVD and the one resolver that turns the program's
// relative paths, written with backslashes and in any case ("KVD\LOG.TXT", "kvd\prog.cfg",
// "GFX\sb\Back"), into real paths.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// Directory of the running executable, without a trailing separator.
std::string ProgramDir();
// Makes dir the program directory of this process: the scripted players and the test programs
// play in a directory of their own. The program itself keeps the executable's directory.
void SetProgramDir(const std::string& dir);

// Makes the program directory the current directory; raises EInOutError when it cannot.
void EnterProgramDir();
// Creates KVD under the program directory; an existing directory or a failure is ignored.
void EnsureDataDir();

// Resolves a path relative to the program directory (or an absolute one): '\' and '/' both
// separate, and every component that exists is matched without regard to case. Components that
// do not exist yet keep the spelling given, so the result can be used to create them.
std::string ResolvePath(std::string_view path);
bool FileExists(std::string_view path);
bool DirectoryExists(std::string_view path);
// Creates the directory (and missing parents); an existing one is no failure. False on failure.
bool CreateDir(std::string_view path);
bool DeleteFile(std::string_view path);

std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view path);
// Writes a whole file through a temporary file beside it that is flushed and renamed over the
// old one, then syncs the folder, so a crash, a power cut or a full disk leaves either the old
// or the new file, never a torn one.
// Raises EInOutError on failure (the old file is then untouched).
void ReplaceFileContents(std::string_view path, const void* data, size_t size);
inline void ReplaceFileContents(std::string_view path, const std::string& data) {
    ReplaceFileContents(path, data.data(), data.size());
}
inline void ReplaceFileContents(std::string_view path, const std::vector<uint8_t>& data) {
    ReplaceFileContents(path, data.data(), data.size());
}

struct TFolderFile {
    std::string Name;  // the file name only
    uintmax_t Size = 0;
};
// The regular files of a folder whose names end in suffix (without regard to case), sorted by
// name without regard to case, names that differ only in case by their bytes: sounds load and
// music converts in the same order on every file system. A folder that cannot be read gives
// what was read of it.
std::vector<TFolderFile> ListFolder(std::string_view directory, std::string_view suffix);

// Flushes a file that was written in place and renamed by someone else (the music conversion),
// then its folder, so the new name survives a power cut as the new contents do.
void SyncFileAndFolder(std::string_view path);
// Gives an existing file a second name, replacing any file of that name at once; does nothing
// when the file system cannot link. Keeps the last good copy of a file about to be replaced.
void LinkFile(std::string_view existing, std::string_view second);
// Removes the temporary files (*.tmp, *.part) that a save or a conversion interrupted by a crash
// or a power cut leaves beside its target, in the program folder, KVD, snd and Screenshots. For
// the start of the program, before anything is saved.
void RemoveSaveLeftovers();

// Free bytes on the file system of the program directory.
std::optional<uint64_t> FreeDiskSpace();

// Two moments of every save, for a program that watches saves: the temporary file is whole and
// about to replace the old one (an exception from here leaves things as a crash at that moment
// would), and the folder has been synced after the rename. The program's own do nothing; they are
// weak symbols, so a test program that defines its own gets those at link time.
void SaveStepBeforeRename(const std::string& tempPath);
void SaveStepFolderSynced(const std::string& folder);

}  // namespace zx
