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

// The folders the program works in, without trailing separators. A program folder that can be
// written (the build folder, a portable copy) is all three; an installed one, read-only, gets the
// user's data and cache folders laid over it: what the program writes goes there, what it reads
// is looked up there first, then in the program folder.
struct TFolders {
    std::string Program;  // the shipped files: level, cave, sounds, pictures
    std::string Data;     // settings, state, prog.cfg, the log, screenshots, saved levels
    std::string Cache;    // converted music (snd/)
    std::string Library;  // where the decoder library was installed

    // One folder for everything, the decoder library beside the executable.
    static TFolders Single(const std::string& dir);
    bool Overlaid() const { return Data != Program || Cache != Program; }
};

// The folders for an executable in exeDir: a folder holding KVD is the program folder itself,
// else the installed tree's <exeDir>/../share/zolvex with the library in <exeDir>/../lib/zolvex.
// When the program folder cannot be written, or is an installed tree, Data is $XDG_DATA_HOME/zolvex (default
// ~/.local/share/zolvex) and Cache $XDG_CACHE_HOME/zolvex (default ~/.cache/zolvex); the
// environment's values are passed in (empty when unset).
TFolders FoldersFor(const std::string& exeDir, const std::string& xdgDataHome,
                    const std::string& xdgCacheHome, const std::string& home);
// The folders in use: set once at the start (tools and tests that play in a folder of their own
// set theirs), else found from the running executable and the environment.
void SetFolders(TFolders folders);
TFolders Folders();
// The program folder (the shipped files).
std::string ProgramDir();
// The folder the program writes its settings, log and screenshots to.
std::string DataDir();
// One line for the log's start naming the folders; empty when the program folder is all of them.
std::string FoldersLogLine();

// Makes the data folder the current directory, creating the user's folders when missing;
// raises EInOutError when it cannot.
void EnterProgramDir();
// Creates the folders written to (KVD, and snd in the cache folder); an existing directory or a
// failure is ignored.
void EnsureDataDir();

// Resolves a path relative to the program directory (or an absolute one): '\' and '/' both
// separate, and every component that exists is matched without regard to case. Components that
// do not exist yet keep the spelling given, so the result can be used to create them. Over a
// read-only program folder an existing file is found in the user's folders first, then in the
// program folder; one that exists nowhere resolves into the folder written to (snd/ into the
// cache, everything else into the data folder). An absolute path inside the program folder
// counts as relative to it.
std::string ResolvePath(std::string_view path);
// Where a write of the path goes: always in a folder the program may write, even when the file
// is shipped in the program folder (a level the editor saves).
std::string ResolveWritePath(std::string_view path);
bool FileExists(std::string_view path);
bool DirectoryExists(std::string_view path);
// Creates the directory (and missing parents); an existing one is no failure. False on failure.
bool CreateDir(std::string_view path);
bool DeleteFile(std::string_view path);

// The largest file of each kind the program reads. Every one has a known, small size; a file far
// beyond it is not what its name says (a sparse file, a device behind a link) and is refused
// before a byte is read.
inline constexpr uint64_t kLogFileLimit = uint64_t{16} << 20;      // KVD\LOG.TXT
inline constexpr uint64_t kCfgFileLimit = uint64_t{1} << 20;       // prog.cfg, music.failed
inline constexpr uint64_t kRecordFileLimit = uint64_t{1} << 20;    // env.dat, game.dat, front.dat
inline constexpr uint64_t kLevelFileLimit = uint64_t{4} << 20;     // Level1.txt and saved levels
inline constexpr uint64_t kPictureFileLimit = uint64_t{64} << 20;  // BMP, JPEG and mask files

// Why a file could not be read, for a message that names it.
struct TReadError {
    std::string Path;    // the real path tried
    int Errno = 0;       // the system's code; ENOENT: there is no such file
    std::string Reason;  // "Is a directory", "a FIFO, not a regular file", "larger than ..."
    std::string Text() const { return Path + ": " + Reason; }
};

// Opens the file for reading or writing (flags as for open(2)) without waiting on it, and only
// when it is a regular file: a FIFO would hold the thread until a peer came, a device would give
// or take bytes without end. Returns the descriptor in blocking mode, or -1 with the reason.
int OpenRegularFile(const std::string& fullPath, int flags, TReadError* error = nullptr);

// Reads a whole regular file of at most maxBytes; nullopt, with the reason when asked, for
// anything else.
std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view path, uint64_t maxBytes,
                                                  TReadError* error = nullptr);
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
// or a power cut leaves beside its target, in the folder written to, KVD, snd and Screenshots.
// For the start of the program, before anything is saved.
void RemoveSaveLeftovers();

// Free bytes on the file system of the data folder (the one the settings are written to).
std::optional<uint64_t> FreeDiskSpace();

// Two moments of every save, for a program that watches saves: the temporary file is whole and
// about to replace the old one (an exception from here leaves things as a crash at that moment
// would), and the folder has been synced after the rename. The program's own do nothing; they are
// weak symbols, so a test program that defines its own gets those at link time.
void SaveStepBeforeRename(const std::string& tempPath);
void SaveStepFolderSynced(const std::string& folder);

}  // namespace zx
