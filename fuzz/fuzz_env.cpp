// env.dat: any file loads without harm, and what was loaded saves and loads back the same.
#include "fuzz/FuzzSupport.h"
#include "game/GameRecords.h"
#include "platform/Errors.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    fuzz::WriteFile(kEnvDataFile, data, size);
    try {
        LoadEnv();
    } catch (const Exception&) {
        return 0;
    }
    const auto loaded = EnvDataToBytes(EnvData);
    SaveEnv();
    LoadEnv();
    if (EnvDataToBytes(EnvData) != loaded) fuzz::Fail("env.dat save and load changed the record");
    // The record straight from the bytes, as the records test reads it.
    EnvDataFromBytes(EnvData, std::span(data, size));
    (void)EnvDataToBytes(EnvData);
    return 0;
}
