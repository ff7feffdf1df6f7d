// The wave reader: any file gives its format and data or raises the reader's error.
#include "fuzz/FuzzSupport.h"
#include "platform/Errors.h"
#include "sprites/WaveFile.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteFile("KVD\\fuzz.wav", data, size);
    try {
        const TWaveInfo info = ReadWaveInfo("KVD\\fuzz.wav");
        const auto samples = ReadWaveData("KVD\\fuzz.wav");
        if (static_cast<int64_t>(samples.size()) != info.DataSize)
            fuzz::Fail("data size differs from the info");
        if (static_cast<int64_t>(samples.size()) > static_cast<int64_t>(size))
            fuzz::Fail("more data than file");
    } catch (const Exception&) {
    }
    return 0;
}
