#include <cmath>
#include <cstring>

#include "analysis/analysis.h"
#include "analysis/fft.h"
#include "analysis/spectrum_levels.h"

namespace {

constexpr int kRingSlots = 20;
constexpr double kAmplitudeFloor = 1e-14;
constexpr double kLevelOffset = 11.0;  // the fixed offset of the "dBm" scale
constexpr double kLevelFloor = -179.9;

double fftReal[kBufferSize];
double fftImag[kBufferSize];

double powerSpectrum[kBufferSize];
int powerSize = 0;

// Level in dB of each entry of the current call, before averaging and offset.
double levels[kBufferSize];

// Calls since the last clear; in mode "10" also the ring position, 1..20.
int averageCount = 0;
double levelSums[kBufferSize];
// Slot-major, so the per-entry sum over slots runs over contiguous entries;
// each entry still adds its slots in slot order.
double levelHistory[kRingSlots][kBufferSize];
// Which ring slots a mode "10" call has written since the last clear.
bool slotFilled[kRingSlots];
// The streaming chain's sum of the filled slots, entries 0..runningSize-1, kept
// between its mode "10" calls; 0 when a clear or an exact call made it stale.
double runningSum[kBufferSize];
int runningSize = 0;

void ClearAverages(int n) {
    const int rows = (n >= 0 && n < kBufferSize) ? n + 1 : kBufferSize;
    std::memset(levelSums, 0, sizeof(double) * rows);
    for (auto& slot : levelHistory) std::memset(slot, 0, sizeof(double) * rows);
    for (bool& filled : slotFilled) filled = false;
    averageCount = 0;
    runningSize = 0;
}

// Ring slot of this mode "10" call, counted as ComputeSpectrum counts it.
int NextRingSlot() {
    if (averageCount > kRingSlots) averageCount = 1;
    return averageCount - 1;
}

int FilledSlots() {
    int count = 0;
    for (const bool filled : slotFilled) count += filled ? 1 : 0;
    return count;
}

void Finish(double* spectrum, int size) {
    for (int i = 0; i < size; ++i) {
        double v = spectrum[i] + kLevelOffset;
        if (v < kLevelFloor) v = kLevelFloor;
        spectrum[i] = v;
    }
}

void ComputeLevels(int n) {
    const int size = n / 2 + 1;
    // The amplitudes first, in a loop of their own that vectorises; the log10
    // calls keep the next loop scalar.
    for (int i = 0; i < size; ++i) {
        const double a = std::sqrt(powerSpectrum[i]);
        levels[i] = a < kAmplitudeFloor ? kAmplitudeFloor : a;
    }
    for (int i = 0; i < size; ++i) levels[i] = 20.0 * std::log10(levels[i]);
}

}  // namespace

double PowerScale(int n) {
    return (1.0 / n) * 2.0 / n;
}

double* PowerBuffer(int n) {
    powerSize = n / 2 + 1;
    return powerSpectrum;
}

void ComputePowerSpectrum(const double* samples, int n) {
    const double h = PowerScale(n);
    ForwardFftOfReal(samples, fftReal, fftImag, n);
    const int size = n / 2 + 1;
    for (int k = 0; k < size; ++k)
        powerSpectrum[k] = (fftReal[k] * fftReal[k] + fftImag[k] * fftImag[k]) * h;
    powerSize = size;
}

double* LevelBuffer() {
    return levels;
}

void AverageLevels(double* spectrum, int n, int averagingMode) {
    const int size = n / 2 + 1;
    ++averageCount;
    switch (averagingMode) {
        case 0:
            std::memcpy(spectrum, levels, sizeof(double) * size);
            break;
        case 1: {
            const double count = averageCount;
            for (int i = 0; i < size; ++i) {
                levelSums[i] = levelSums[i] + levels[i];
                spectrum[i] = levelSums[i] / count;
            }
            break;
        }
        case 2: {
            const int slot = NextRingSlot();
            runningSize = 0;
            std::memcpy(levelHistory[slot], levels, sizeof(double) * size);
            slotFilled[slot] = true;
            // Slots not written since the last clear hold no measurement; the mean
            // covers the filled ones only. With all 20 filled, 1.0 / 20 is 0.05.
            int filled[kRingSlots];
            int filledCount = 0;
            for (int s = 0; s < kRingSlots; ++s)
                if (slotFilled[s]) filled[filledCount++] = s;
            const double scale = 1.0 / filledCount;
            std::memcpy(spectrum, levelHistory[filled[0]], sizeof(double) * size);
            for (int f = 1; f < filledCount; ++f) {
                const double* row = levelHistory[filled[f]];
                for (int i = 0; i < size; ++i) spectrum[i] = spectrum[i] + row[i];
            }
            for (int i = 0; i < size; ++i) spectrum[i] = scale * spectrum[i];
            break;
        }
        default:
            std::memcpy(spectrum, powerSpectrum, sizeof(double) * size);
            break;
    }
    Finish(spectrum, size);
}

void AverageLevelsRunning(double* spectrum, int n, int averagingMode) {
    if (averagingMode != 2) return AverageLevels(spectrum, n, averagingMode);
    const int size = n / 2 + 1;
    ++averageCount;
    const int slot = NextRingSlot();
    double* row = levelHistory[slot];
    // Summed afresh once a turn of the ring, so rounding cannot build up.
    if (runningSize != size || slot == 0) {
        std::memcpy(row, levels, sizeof(double) * size);
        slotFilled[slot] = true;
        std::memset(runningSum, 0, sizeof(double) * size);
        for (int s = 0; s < kRingSlots; ++s) {
            if (!slotFilled[s]) continue;
            for (int i = 0; i < size; ++i) runningSum[i] += levelHistory[s][i];
        }
        runningSize = size;
    } else if (slotFilled[slot]) {
        for (int i = 0; i < size; ++i) {
            runningSum[i] += levels[i] - row[i];
            row[i] = levels[i];
        }
    } else {
        for (int i = 0; i < size; ++i) runningSum[i] += levels[i];
        std::memcpy(row, levels, sizeof(double) * size);
        slotFilled[slot] = true;
    }
    const double scale = 1.0 / FilledSlots();
    for (int i = 0; i < size; ++i) spectrum[i] = scale * runningSum[i];
    Finish(spectrum, size);
}

void ComputeSpectrum(const double* samples, double* spectrum, int n, int averagingMode,
                     bool clear) {
    if (clear) {
        ClearAverages(n);
        return;
    }
    if (!IsTransformLength(n)) return;
    ComputePowerSpectrum(samples, n);
    ComputeLevels(n);
    AverageLevels(spectrum, n, averagingMode);
}

const double* LastPowerSpectrum() {
    return powerSpectrum;
}

int LastPowerSpectrumSize() {
    return powerSize;
}

void ResetAnalysisState() {
    ClearAverages(-1);
    std::memset(fftReal, 0, sizeof fftReal);
    std::memset(fftImag, 0, sizeof fftImag);
    std::memset(powerSpectrum, 0, sizeof powerSpectrum);
    std::memset(levels, 0, sizeof levels);
    powerSize = 0;
}
