// front.dat: any file gives a table that writes back as read, and the scenery is built from it.
#include "fuzz/FuzzSupport.h"
#include "game/FrontUnit.h"
#include "game/GameRecords.h"
#include "platform/Errors.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    fuzz::InitSprites();
    EnvData.FrontOn = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    TFrontTable table;
    const int whole = FrontTableFromBytes(table, std::span(data, size));
    const auto bytes = FrontTableToBytes(table);
    TFrontTable again;
    FrontTableFromBytes(again, bytes);
    for (int i = 1; i <= kFrontSlots; ++i) {
        const auto& a = table[static_cast<size_t>(i)];
        const auto& b = again[static_cast<size_t>(i)];
        if (a.TrackX != b.TrackX || a.Y != b.Y || a.Z != b.Z || a.Type != b.Type)
            fuzz::Fail("the cave table does not write back as read");
    }
    if (whole > kFrontSlots) fuzz::Fail("more records than slots");
    fuzz::WriteFile(kFrontFile, data, size);
    try {
        TFront front;
        front.ShowAll();
        for (int step = 0; step < 4; ++step) {
            front.ScrollPos -= 5000;
            front.Step();
        }
        Bobs->paint();
    } catch (const Exception&) {
    }
    return 0;
}
