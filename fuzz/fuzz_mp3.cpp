// The MP3 decoder library on any data: opening, converting to a wave file and closing end, with
// an error code at worst.
#include <unistd.h>

#include <string>

#include "fuzz/FuzzSupport.h"
#include "support/Paths.h"

extern "C" {
int init();
void Open(const char* name, int mode, void*, void*, void*, void*, void*, void*, void*);
void SetOutputDevice(int device, const char* fileName);
int Play(int startPos, int endPos, unsigned char* done);
void Close();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zx::fuzz::InitProgramDir();
    init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zx::fuzz::WriteFile("KVD\\fuzz.mp3", data, size);
    const std::string in = zx::ResolvePath("KVD\\fuzz.mp3"), out = zx::ResolvePath("KVD\\fuzz.wav");
    Open(in.c_str(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    SetOutputDevice(1, out.c_str());
    unsigned char done = 0;
    if (Play(0, 0, &done) == 0)
        for (int i = 0; i < 20000 && !__atomic_load_n(&done, __ATOMIC_ACQUIRE); ++i) usleep(100);
    Close();
    return 0;
}
