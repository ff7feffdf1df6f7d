// Stand-ins for a damaged decoder library: one lacks an entry point, one refuses to start.
// This file defines the entry points.
#define MPEGDLL_LIBRARY
#include "mpegdll/MpegDll.h"

#define EXPORT MPEGDLL_EXPORT

EXPORT int init() {
#ifdef INIT_FAILS
    return 0;
#else
    return 1;
#endif
}
EXPORT void deinit() {}
EXPORT void Open(const char*, int, void*, void*, void*, void*, void*, void*, void*) {}
EXPORT void Pause() {}
EXPORT void Restart() {}
EXPORT void Stop() {}
EXPORT void SetPriority(int) {}
EXPORT void SetOutputDevice(int, const char*) {}
EXPORT int Play(int, int, unsigned char*) { return 1; }
EXPORT void Close() {}
EXPORT int GetFrequency() { return 0; }
EXPORT int GetBitrate() { return 0; }
EXPORT int GetLayer() { return 0; }
EXPORT int GetPlayerMode() { return 0; }
EXPORT int GetCurrentPos() { return 0; }
EXPORT int GetLength(int) { return 0; }
EXPORT int ResetPlayerMode(int) { return 1; }
#ifndef MISSING_SEEK
EXPORT void Seek(int) {}
#endif
EXPORT int LastError() {
#ifdef INIT_FAILS
    return 1;
#else
    return 0;
#endif
}
