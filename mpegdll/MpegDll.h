#pragma once
// The decoder library's 19 entry points, exported by name with C linkage, and their function
// types: the one declaration that the library, the player loading it at run time and the tests
// share. The list below gives each entry point's name, result and parameters once; the library's
// definitions must match it (MPEGDLL_LIBRARY), and a loader fills TMpegDllEntries by name through
// LookupMpegDllEntries, so a name or a type that differs does not compile.
//
// "LastError" reports the code every entry point sets; "Open" takes a file name in mode 0 (the
// seven callback arguments of the read-through-callbacks mode are not used).
#define MPEGDLL_ENTRY_POINTS(X)                                                                  \
    X(init, int, ())                                                                             \
    X(deinit, void, ())                                                                          \
    X(Open, void, (const char* name, int mode, void*, void*, void*, void*, void*, void*, void*)) \
    X(Pause, void, ())                                                                           \
    X(Restart, void, ())                                                                         \
    X(Stop, void, ())                                                                            \
    X(SetPriority, void, (int priority))                                                         \
    X(SetOutputDevice, void, (int device, const char* fileName))                                 \
    X(Play, int, (int startPos, int endPos, unsigned char* done))                                \
    X(Close, void, ())                                                                           \
    X(GetFrequency, int, ())                                                                     \
    X(GetBitrate, int, ())                                                                       \
    X(GetLayer, int, ())                                                                         \
    X(GetPlayerMode, int, ())                                                                    \
    X(GetCurrentPos, int, ())                                                                    \
    X(GetLength, int, (int))                                                                     \
    X(ResetPlayerMode, int, (int))                                                               \
    X(Seek, void, (int pos))                                                                     \
    X(LastError, int, ())

#ifdef MPEGDLL_LIBRARY  // defined by the library's own sources before including this header
// Only a library that defines the entry points sees them as functions: in the program the names
// (Open, Close, Play ...) stay free.
#define MPEGDLL_EXPORT extern "C" __attribute__((visibility("default")))
#define MPEGDLL_DECLARE(name, result, params) MPEGDLL_EXPORT result name params;
MPEGDLL_ENTRY_POINTS(MPEGDLL_DECLARE)
#undef MPEGDLL_DECLARE
#endif

namespace mpegdll {

// The function type of each entry point: mpegdll::init_t, mpegdll::Open_t, ...
#define MPEGDLL_TYPE(name, result, params) using name##_t = result params;
MPEGDLL_ENTRY_POINTS(MPEGDLL_TYPE)
#undef MPEGDLL_TYPE

// One pointer per entry point, named as the entry point; null until looked up.
struct TMpegDllEntries {
#define MPEGDLL_MEMBER(name, result, params) name##_t* name = nullptr;
    MPEGDLL_ENTRY_POINTS(MPEGDLL_MEMBER)
#undef MPEGDLL_MEMBER
};

// Fills every entry point through lookup(name) (dlsym on the loaded library, say), which gives
// the address exported under that name or null. False when any one is missing.
template <typename Lookup>
bool LookupMpegDllEntries(Lookup&& lookup, TMpegDllEntries& entries) {
    bool all = true;
#define MPEGDLL_LOOKUP(name, result, params)                   \
    entries.name = reinterpret_cast<name##_t*>(lookup(#name)); \
    all = all && entries.name != nullptr;
    MPEGDLL_ENTRY_POINTS(MPEGDLL_LOOKUP)
#undef MPEGDLL_LOOKUP
    return all;
}

}  // namespace mpegdll
