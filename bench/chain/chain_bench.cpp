// The analysis chain of one measurement cycle against FFTW's real-input transform
// of the same length.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/fast_spectrum.h"
#include "measurement/state.h"

namespace {

MeasurementState state;

// A tone with a few harmonics and a little deterministic noise, in volts, the
// way a decoded block looks.
std::vector<double> TestBlock(int n) {
    std::vector<double> block(n);
    const double pi = 4.0 * std::atan(1.0);
    const double f = 0.0973;  // cycles per sample, between bins
    unsigned noise = 12345;
    for (int t = 0; t < n; ++t) {
        noise = noise * 1103515245u + 12345u;
        const double phase = 2 * pi * f * t;
        block[t] = 2.0 * std::sin(phase) + 0.01 * std::sin(2 * phase) +
                   0.003 * std::sin(3 * phase) +
                   1e-4 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
    }
    return block;
}

// Decoding writes a fresh block every cycle, so each iteration copies it in.
template <void (*Spectrum)(const double*, double*, int, int, bool)>
void RunChain(benchmark::State& bench) {
    const int n = static_cast<int>(bench.range(0));
    const int mode = static_cast<int>(bench.range(1));
    const std::vector<double> block = TestBlock(n);
    ResetAnalysisState();
    state.sampleCount = n;
    Spectrum(state.samples, state.spectrum, n, 1, true);
    for (auto _ : bench) {
        std::memcpy(state.samples, block.data(), sizeof(double) * n);
        ApplyHarrisWindow(state.samples, n);
        Spectrum(state.samples, state.spectrum, n, mode, false);
        FindPeaks(state);
        benchmark::DoNotOptimize(ComputeThd(state));
    }
}

// The exact chain of the measurement cycle.
void BM_Chain(benchmark::State& bench) {
    RunChain<ComputeSpectrum>(bench);
}
BENCHMARK(BM_Chain)->ArgsProduct({benchmark::CreateRange(128, 8192, 2), {0, 1, 2}});

// The streaming path's chain.
void BM_FastChain(benchmark::State& bench) {
    RunChain<ComputeSpectrumFast>(bench);
}
BENCHMARK(BM_FastChain)->ArgsProduct({benchmark::CreateRange(128, 8192, 2), {0, 1, 2}});

void BM_FftwR2c(benchmark::State& bench) {
    const int n = static_cast<int>(bench.range(0));
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<double> block = TestBlock(n);
    std::memcpy(in, block.data(), sizeof(double) * n);
    for (auto _ : bench) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwR2c)->RangeMultiplier(2)->Range(128, 8192);

}  // namespace

BENCHMARK_MAIN();
