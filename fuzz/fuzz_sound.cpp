// The sound manager's loading: a directory with any wave file loads, plays and stops.
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "platform/Errors.h"
#include "sprites/qvDSound.h"
#include "support/Paths.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    fuzz::InitDisplay();
    CreateDir("snd");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetLog();
    fuzz::WriteFile("snd\\fuzz.wav", data, size);
    try {
        TqvDSound sound(nullptr, true, true, 44100, 16, 2);
        sound.LoadDir(ProgramDir() + "\\snd");
        TqvDSoundFile* f = sound.FindWave("fuzz");
        f->SetVolume(-500);
        f->SetPosition(0);
        f->Play();
        f->Stop();
    } catch (const Exception&) {
    }
    return 0;
}
