// The formation script of a level: any lines drive the swarm for a few hundred ticks, painting
// now and then, and end in the script's own errors at worst.
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "game/BubbleUnit.h"
#include "game/GameGlobals.h"
#include "game/GameRecords.h"
#include "game/LevelFile.h"
#include "game/SpermUnit.h"
#include "platform/Errors.h"
#include "sprites/BobUnit.h"
#include "support/Random.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    fuzz::InitSprites();
    EnvData.BubblePercent = 50;
    static TBubbles bubbles;
    for (int i = 0; i < 300; ++i) bubbles.AddBubble();
    Bubbles = &bubbles;
    GameData.Level = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    RandSeed(1);
    SaveLevel(SplitLines(std::string_view(reinterpret_cast<const char*>(data), size)));
    try {
        auto swarm = std::make_unique<TSpermien>();
        Spermien = swarm.get();
        for (int i = 0; i < 50; ++i) swarm->AddSperm();
        swarm->StartPlay();
        for (int tick = 1; tick <= 300; ++tick) {
            swarm->Step();
            Bubbles->Step();
            if (tick % 60 == 0) Bobs->paint();
        }
    } catch (const Exception&) {
    }
    Spermien = nullptr;
    return 0;
}
