// Streaming from the paced stand-in instrument (in a child process, so the CPU
// time is the program's alone) at 6000 samples/s, 10 bits, N = 8192 with 75 %
// overlap, each block drawn into the spectrogram view, which repaints at 30
// frames a second on the offscreen platform.
//
// Output: "N bits rate overlap blocks frames wall_s cpu_s" after a '#' header.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/stream.h"
#include "ui/spectrogram_dlg.h"

namespace {

constexpr int kCom = 9;

class BenchUi : public MeasurementUi {
  public:
    explicit BenchUi(MeasurementState& state) : state_(state) {}
    void RefreshSettings() override {
        state_.sampleRate = 6000;
        state_.sampleCount = 8192;
        state_.resolution = 1;
        state_.channel = 1;
        state_.thdEnabled = 1;
    }
    void ShowValues() override {}
    void PumpMessages() override {}
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void MessageBox(const std::string& text) override {
        std::fprintf(stderr, "stream_bench: %s\n", text.c_str());
    }
    int RateSelection() override { return 12; }
    void RepaintPlot() override {}

  private:
    MeasurementState& state_;
};

class ViewFeed : public StreamListener {
  public:
    ViewFeed(MeasurementState& state, CSpectrogramView& view) : state_(state), view_(view) {}
    void OnStreamBlock(long long, long long first) override {
        view_.AddLine((first + 8192) / 6000.0, state_.spectrum, 8192 / 2 + 1);
    }

  private:
    MeasurementState& state_;
    CSpectrogramView& view_;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

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
        if (!host.Start(&error)) _exit(1);
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

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    pid_t child = 0;
    int keepAlive = -1;
    std::string slave, error;
    if (!StartInstrument(&child, &keepAlive, &slave) || !SetComDevice(kCom, slave, &error)) {
        std::fprintf(stderr, "stream_bench: could not start the instrument %s\n", error.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    static MeasurementState state;
    BenchUi ui(state);
    ConnectInstrument(state, ui, kCom);
    if (state.connected != 1) {
        std::fprintf(stderr, "stream_bench: %s\n", state.portStatusText.c_str());
        return 1;
    }
    CSpectrogramView view;
    view.resize(760, 480);
    view.show();
    view.Reset(8192 / 2 + 1, 6000);
    ViewFeed feed(state, view);
    CStream stream(state, ui, &feed);
    if (!stream.Start(75)) return 1;

    using Clock = std::chrono::steady_clock;
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    auto nextFrame = wall0;
    auto nextPoll = wall0;
    int frames = 0;
    while (stream.Running() &&
           std::chrono::duration<double>(Clock::now() - wall0).count() < seconds) {
        const auto now = Clock::now();
        if (now >= nextPoll) {
            stream.Poll();
            nextPoll += std::chrono::milliseconds(20);
        }
        if (now >= nextFrame) {
            view.repaint();
            ++frames;
            nextFrame += std::chrono::microseconds(33333);
        }
        app.processEvents();
        std::this_thread::sleep_until(std::min(nextPoll, nextFrame));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    const bool ok = stream.Running();
    stream.Stop();
    std::printf("# N bits rate overlap blocks frames wall_s cpu_s\n");
    std::printf("8192 10 6000 75 %lld %d %.3f %.4f\n", stream.BlocksAnalysed(), frames, wall, cpu);
    ReleaseConnection(state);
    close(keepAlive);
    waitpid(child, nullptr, 0);
    return ok ? 0 : 1;
}
