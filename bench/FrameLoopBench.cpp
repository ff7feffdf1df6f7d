// The running game screen with an empty frame: CPU used per second, and how late each hand-over
// reaches the main thread after its tick fell due.
//   bench_FrameLoopBench [seconds] [kind]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/Smoke.h"
#include "display/frmDDFullScreen.h"
#include "platform/Ticks.h"
#include "support/Paths.h"

namespace {

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class TBenchForm : public zx::TDDFullScreenForm {
public:
    explicit TBenchForm(uint32_t ms) : ms_(ms) {}
    ~TBenchForm() override { Destroy(); }
    void InitDDraw() override {
        TDDFullScreenForm::InitDDraw();
        start_ = zx::platform::GetTickCount();
        cpu0_ = CpuSeconds();
        SetFlipping(true);
    }
    void Threadnotify(int32_t ticks) override {
        const auto& a = LoopThread->Account();
        Late.push_back(
            static_cast<int32_t>(zx::platform::GetTickCount() - (a.LastTick - a.Elapsed)));
        Ticks += ticks;
        RunFrame(ticks, [this] {
            if (!Closing && zx::platform::GetTickCount() - start_ >= ms_) {
                Cpu = CpuSeconds() - cpu0_;
                Closing = true;
                Back();
            }
        });
    }
    std::vector<int32_t> Late;
    long Ticks = 0;
    double Cpu = 0;

private:
    uint32_t ms_;
    uint32_t start_ = 0;
    double cpu0_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : zx::bench::Sized(10.0, 0.5);
    int kind = argc > 2 ? std::atoi(argv[2]) : 2;
    char tmpl[] = "/tmp/zolvex-bench-XXXXXX";
    zx::SetFolders(zx::TFolders::Single(mkdtemp(tmpl)));
    TBenchForm f(static_cast<uint32_t>(seconds * 1000));
    f.SetDisplayKind(static_cast<uint8_t>(kind));
    f.ShowModal();
    auto late = f.Late;
    std::sort(late.begin(), late.end());
    auto pct = [&](double p) {
        return late.empty() ? 0 : late[static_cast<size_t>(p * (late.size() - 1))];
    };
    std::printf("kind %d, %.1f s: %zu frames, %ld ticks (%.1f per second)\n", kind, seconds,
                f.Late.size(), f.Ticks, f.Ticks / seconds);
    std::printf("CPU: %.2f s = %.2f %% of one core\n", f.Cpu, 100.0 * f.Cpu / seconds);
    std::printf("hand-over lateness ms: p50 %d, p99 %d, max %d\n", pct(0.5), pct(0.99),
                late.empty() ? 0 : late.back());
    return 0;
}
