#pragma once
// ZOLVEX_BENCH_SMOKE=1 (bench/smoke.sh, in CI) asks a benchmark for tiny sizes and few
// repetitions: it must run every part once, quickly; its figures mean nothing.
#include <cstdlib>
#include <cstring>

namespace zx::bench {

inline bool Smoke() {
    const char* v = std::getenv("ZOLVEX_BENCH_SMOKE");
    return v && *v && std::strcmp(v, "0") != 0;
}

// `full` in a real run, `smoke` in a smoke run.
template <class T>
T Sized(T full, T smoke) {
    return Smoke() ? smoke : full;
}

}  // namespace zx::bench
