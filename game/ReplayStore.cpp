#include "game/ReplayStore.h"

#include <set>

#include "game/GameRecords.h"
#include "support/Paths.h"

namespace zx {
namespace {

constexpr std::string_view kFolder = "KVD\\Replays";
constexpr std::string_view kLast = "last.replay";

std::string FileNameOf(std::string_view code) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name;
    name.reserve(code.size() * 2 + 7);
    for (const char c : code) {
        const auto b = static_cast<unsigned char>(c);
        name += kHex[b >> 4];
        name += kHex[b & 15];
    }
    return name + ".replay";
}

std::string PathOf(std::string_view name) {
    return std::string(kFolder) + "\\" + std::string(name);
}

void Write(std::string_view name, std::string_view text) {
    if (text.size() > kMaxReplayFileBytes) return;
    CreateDir(ResolveWritePath(kFolder));
    ReplaceFileContents(PathOf(name), text.data(), text.size());
}

std::optional<std::string> Read(std::string_view name) {
    auto bytes = ReadFileBytes(PathOf(name), kMaxReplayFileBytes);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

}  // namespace

void KeepReplay(std::string_view code, std::string_view text) {
    if (code.empty()) return;
    Write(FileNameOf(code), text);
    PruneReplays();
}

void KeepLastReplay(std::string_view text) { Write(kLast, text); }

std::optional<std::string> LoadReplayForCode(std::string_view code) {
    if (code.empty()) return std::nullopt;
    return Read(FileNameOf(code));
}

std::optional<std::string> LoadLastReplay() { return Read(kLast); }

void PruneReplays() {
    std::set<std::string> keep{std::string(kLast)};
    for (const std::string& code : EnvData.ScoreCodes)
        if (!code.empty()) keep.insert(FileNameOf(code));
    for (const TFolderFile& f : ListFolder(kFolder, ""))
        if (!keep.count(f.Name)) DeleteFile(PathOf(f.Name));
}

}  // namespace zx
