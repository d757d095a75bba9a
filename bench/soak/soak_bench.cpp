// A soak: CYCLES measurement cycles (default 10000) of 128 10-bit samples
// against the stand-in instrument, unpaced (at the line's speed), run in this
// process on a pseudo-terminal as pelkor-measure --demo runs it. Every EVERY
// cycles (default 250) it samples the resident set size and the open file
// descriptors of this process from /proc/self.
//
// Output: "# cycle rss_kib fds failures" and one line per sample (cycle 0 is
// before the first), then "# seconds S" with the wall time of the cycles.
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/measurement.h"

namespace {

constexpr int kCom = 9;

class SoakUi : public MeasurementUi {
  public:
    explicit SoakUi(MeasurementState& state) : state_(state) {}
    void RefreshSettings() override {
        state_.sampleRate = SampleRateTable[kDefaultSampleRateIndex].rate;
        state_.sampleCount = 128;
        state_.resolution = 1;
        state_.channel = kDefaultChannel;
        state_.averagingMode = 1;
        state_.thdEnabled = 1;
    }
    void ShowValues() override {}
    void PumpMessages() override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void MessageBox(const std::string& text) override {
        if (failures++ < 5) std::fprintf(stderr, "soak_bench: %s\n", text.c_str());
    }
    int RateSelection() override { return kDefaultSampleRateIndex; }
    void RepaintPlot() override {}

    int failures = 0;

  private:
    MeasurementState& state_;
};

long ResidentKib() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kib;
}

// Entries of /proc/self/fd, less the one that reading the folder opens.
int OpenFds() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;
}

int Argument(int argc, char** argv, int index, int fallback) {
    if (argc <= index) return fallback;
    const int value = std::atoi(argv[index]);
    return value > 0 ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = Argument(argc, argv, 1, 10000);
    const int every = Argument(argc, argv, 2, 250);

    instrument::Options options;  // the demo signal
    options.paced = false;
    instrument::PtyHost host(options);
    std::string error;
    if (!host.Start(&error) || !SetComDevice(kCom, host.SlavePath(), &error)) {
        std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
        return 1;
    }
    static MeasurementState state;
    SoakUi ui(state);
    ConnectInstrument(state, ui, kCom);
    if (state.connected != 1) {
        std::fprintf(stderr, "soak_bench: %s\n", state.portStatusText.c_str());
        return 1;
    }

    std::printf("# cycle rss_kib fds failures\n");
    std::printf("%d %ld %d %d\n", 0, ResidentKib(), OpenFds(), ui.failures);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    for (int c = 1; c <= cycles; ++c) {
        SingleConvert(state, ui);
        if (c % every == 0 || c == cycles) {
            std::printf("%d %ld %d %d\n", c, ResidentKib(), OpenFds(), ui.failures);
            std::fflush(stdout);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("# seconds %.1f\n", seconds);
    ReleaseConnection(state);
    host.Stop();
    return ui.failures == 0 ? 0 : 1;
}
