// One measurement cycle against the paced stand-in instrument, for a grid of
// block sizes, resolutions and rates: wall time and process CPU time per cycle.
// The instrument runs in a child process, so the CPU time is the cycle's alone.
//
// Output: one line per row, "N bits rate wall_s cpu_s" (the median cycle of the
// row's repeats), after a header line starting with '#'.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/measurement.h"

namespace {

constexpr int kCom = 9;

// The settings a cycle reads, as the dialog's controls would hold them.
class BenchUi : public MeasurementUi {
  public:
    explicit BenchUi(MeasurementState& state) : state_(state) {}
    void RefreshSettings() override {
        state_.sampleRate = SampleRateTable[rateSelection].rate;
        state_.sampleCount = sampleCount;
        state_.resolution = resolution;
        state_.channel = 1;
        state_.thdEnabled = 1;
    }
    void ShowValues() override {}
    void PumpMessages() override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void MessageBox(const std::string& text) override {
        std::fprintf(stderr, "cycle_bench: %s\n", text.c_str());
        failed = true;
    }
    int RateSelection() override { return rateSelection; }
    void RepaintPlot() override {}

    int rateSelection = 6;
    int sampleCount = 128;
    int resolution = 0;
    bool failed = false;

  private:
    MeasurementState& state_;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Starts the paced instrument in a child process; its slave path comes back
// through a pipe, and closing `keepAlive` tells the child to stop.
bool StartInstrument(pid_t* child, int* keepAlive, std::string* slavePath) {
    int path[2];
    int alive[2];
    if (pipe(path) != 0 || pipe(alive) != 0) return false;
    *child = fork();
    if (*child < 0) return false;
    if (*child == 0) {
        close(path[0]);
        close(alive[1]);
        instrument::Options options;  // the demo signal, paced
        instrument::PtyHost host(options);
        std::string error;
        if (!host.Start(&error)) {
            std::fprintf(stderr, "cycle_bench: instrument: %s\n", error.c_str());
            _exit(1);
        }
        const std::string slave = host.SlavePath() + "\n";
        if (write(path[1], slave.data(), slave.size()) < 0) _exit(1);
        close(path[1]);
        char c;
        while (read(alive[0], &c, 1) > 0) {
        }
        host.Stop();
        _exit(0);
    }
    close(path[1]);
    close(alive[0]);
    *keepAlive = alive[1];
    char buffer[256];
    std::string text;
    ssize_t r;
    while ((r = read(path[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(r));
    close(path[0]);
    if (text.empty() || text.back() != '\n') return false;
    text.pop_back();
    *slavePath = text;
    return true;
}

}  // namespace

int main() {
    pid_t child = 0;
    int keepAlive = -1;
    std::string slave;
    if (!StartInstrument(&child, &keepAlive, &slave)) {
        std::fprintf(stderr, "cycle_bench: could not start the instrument\n");
        return 1;
    }
    std::string error;
    if (!SetComDevice(kCom, slave, &error)) {
        std::fprintf(stderr, "cycle_bench: %s\n", error.c_str());
        return 1;
    }

    static MeasurementState state;
    BenchUi ui(state);
    ConnectInstrument(state, ui, kCom);
    if (state.connected != 1) {
        std::fprintf(stderr, "cycle_bench: %s\n", state.portStatusText.c_str());
        return 1;
    }

    std::printf("# N bits rate wall_s cpu_s\n");
    int status = 0;
    for (int n : {128, 1024, 8192}) {
        for (int resolution : {0, 1}) {
            for (int rateSelection : {6, 12}) {  // 1800 and 6000 samples/s
                ui.sampleCount = n;
                ui.resolution = resolution;
                ui.rateSelection = rateSelection;
                const int repeats = n >= 8192 ? 1 : (n >= 1024 ? 3 : 5);
                std::vector<std::pair<double, double>> runs;
                for (int i = 0; i < repeats; ++i) {
                    const double cpu0 = CpuSeconds();
                    const auto wall0 = std::chrono::steady_clock::now();
                    SingleConvert(state, ui);
                    const double wall =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0)
                            .count();
                    runs.emplace_back(wall, CpuSeconds() - cpu0);
                }
                std::sort(runs.begin(), runs.end());
                const auto& median = runs[runs.size() / 2];
                std::printf("%d %d %d %.6f %.6f\n", n, resolution != 0 ? 10 : 8,
                            SampleRateTable[rateSelection].rate, median.first, median.second);
                std::fflush(stdout);
                if (ui.failed) status = 1;
            }
        }
    }

    ReleaseConnection(state);
    close(keepAlive);
    waitpid(child, nullptr, 0);
    return status;
}
