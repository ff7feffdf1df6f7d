// game.dat: any file loads, and the record saves and loads back the same.
#include "fuzz/FuzzSupport.h"
#include "game/GameRecords.h"
#include "platform/Errors.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteFile(kGameDataFile, data, size);
    GameData = TGameData{};
    SetGameDataDefaults();
    LoadGameData(kGameDataFile);
    SaveGameData(kGameDataFile);
    const auto saved = GameDataToBytes(GameData);
    GameData = TGameData{};
    LoadGameData(kGameDataFile);
    if (GameDataToBytes(GameData) != saved) fuzz::Fail("game.dat save and load changed the record");
    // Another file name takes the path with the messages.
    fuzz::WriteFile("KVD\\other.dat", data, size);
    LoadGameData("KVD\\other.dat");
    return 0;
}
