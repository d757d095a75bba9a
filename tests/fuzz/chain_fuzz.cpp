// Block decoding and the analysis chain (window, spectrum with averaging, peaks,
// texts, THD, distortion figures) on any block the instrument could send or any
// volts --input takes. Every figure is finite, every bin lies within 0..N/2, and
// a block of the wrong size is refused without a trace.
//
// Input: byte 0 the settings (bit 0 10-bit, bit 1 window off, bit 2 THD off,
// bits 3..4 averaging, bit 5 volts instead of counts, bits 6..7 blocks to run
// minus one); byte 1 the count (low 3 bits) and rate (high 5 bits) positions;
// the rest the block, repeated to fill it.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/metrics.h"
#include "cli/raw_block.h"
#include "cli/replay.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"

namespace {

// What --input takes at most, in volts (a wider value is refused there).
constexpr double kMaxVolts = kMaxInputVolts;
// The largest 10-bit count is not masked: 65535 counts at 5/1023 V each.
constexpr double kMaxDecodedInput = ScaleToInput(65535 * kVoltsPerCount10);
constexpr double kLevelFloor = -179.9;

void CheckBins(const MeasurementState& s) {
    const int half = s.sampleCount / 2;
    FUZZ_CHECK(s.fundamentalBin >= 0 && s.fundamentalBin <= half, "fundamental bin");
    for (int p = 0; p < 5; ++p) {
        FUZZ_CHECK(s.harmonicBins[p] >= 0 && s.harmonicBins[p] <= half, "peak bin");
    }
}

void CheckAnalysis(const MeasurementState& s, double sampleLimit) {
    const int n = s.sampleCount;
    const int half = n / 2;
    if (s.windowMode == 1) {
        for (int j = 0; j < n; ++j) {
            FUZZ_CHECK(std::fabs(s.samples[j]) <= sampleLimit, "sample beyond its range");
        }
    }
    FUZZ_CHECK(fuzz::AllFinite(s.samples, n), "sample not finite");
    FUZZ_CHECK(fuzz::AllFinite(s.spectrum, half + 1), "level not finite");
    for (int k = 0; k <= half; ++k) {
        FUZZ_CHECK(s.spectrum[k] >= kLevelFloor, "level below the floor");
    }
    CheckBins(s);
    FUZZ_CHECK(std::isfinite(s.fundamentalLevel), "fundamental level");
    FUZZ_CHECK(fuzz::AllFinite(s.harmonicLevels, 5), "peak level");
    FUZZ_CHECK(fuzz::AllFinite(s.thdLevels, 6), "THD amplitude");
    FUZZ_CHECK(NonFiniteResult(s).empty(), "reported as not finite: " + NonFiniteResult(s));
    for (const std::string* t : {&s.fundamentalText, &s.amplitudeText, &s.thdText}) {
        FUZZ_CHECK(fuzz::IsFiniteText(*t), "result text '" + *t + "'");
    }

    FUZZ_CHECK(LastPowerSpectrumSize() == half + 1, "power spectrum size");
    const double* power = LastPowerSpectrum();
    for (int k = 0; k <= half; ++k) {
        FUZZ_CHECK(std::isfinite(power[k]) && power[k] >= 0.0, "power entry");
    }

    const DistortionMetrics m = ComputeDistortionMetrics(s);
    if (!m.valid) return;
    FUZZ_CHECK(m.fundamentalBin >= 1 && m.fundamentalBin <= half, "metrics fundamental bin");
    FUZZ_CHECK(m.spurBin >= 0 && m.spurBin <= half, "spur bin");
    for (int h = 0; h < kHarmonicCount; ++h) {
        FUZZ_CHECK(m.harmonicBins[h] >= 0 && m.harmonicBins[h] <= half, "harmonic bin");
        FUZZ_CHECK(std::isfinite(m.harmonicPowers[h]) && m.harmonicPowers[h] >= 0, "harmonic");
    }
    FUZZ_CHECK(m.fundamentalFrequency >= 0 && m.fundamentalFrequency <= s.sampleRate / 2.0,
               "fundamental frequency outside 0..rate/2");
    for (double v : {m.fundamentalPower, m.harmonicPower, m.noisePower, m.spurPower, m.thdPercent,
                     m.thdDb, m.thdnPercent, m.thdnDb, m.sinadDb, m.snrDb, m.enob, m.sfdrDb}) {
        FUZZ_CHECK(std::isfinite(v), "distortion figure not finite");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const int countIndex = (data[1] & 7) % kSampleCountCount;
    const int rateIndex = (data[1] >> 3) % kSampleRateCount;
    const std::uint8_t* body = data + 2;
    const std::size_t bodySize = size - 2;

    static auto state = std::make_unique<MeasurementState>();
    MeasurementState& s = *state;
    s = MeasurementState{};
    ResetAnalysisState();
    s.sampleRate = SampleRateTable[rateIndex].rate;
    s.sampleCount = SampleCountTable[countIndex].count;
    s.resolution = flags & 1;
    s.windowMode = (flags >> 1) & 1;
    s.thdEnabled = (flags & 4) ? 0 : 1;
    s.averagingMode = ((flags >> 3) & 3) % 3;
    const bool volts = (flags & 0x20) != 0;
    const int runs = ((flags >> 6) & 3) + 1;
    const int n = s.sampleCount;

    if (volts) {
        // Two bytes a value, scaled to the whole range --input takes.
        // Reused: a fresh buffer per input would cost more than the analysis.
        static std::vector<double> values;
        values.assign(static_cast<std::size_t>(n), 0.0);
        for (int j = 0; bodySize >= 2 && j < n; ++j) {
            const std::size_t at = (2 * static_cast<std::size_t>(j)) % (bodySize & ~std::size_t{1});
            const auto raw = static_cast<std::int16_t>(body[at] << 8 | body[at + 1]);
            values[static_cast<std::size_t>(j)] = raw / 32768.0 * kMaxVolts;
        }
        for (int r = 0; r < runs; ++r) {
            AnalyseVolts(s, values.data());
            CheckAnalysis(s, kMaxVolts);
        }
        return 0;
    }

    const int expected = (s.resolution + 1) * n;
    static std::vector<unsigned char> block;
    block.assign(static_cast<std::size_t>(expected), 0);
    for (int i = 0; bodySize > 0 && i < expected; ++i) block[i] = body[i % bodySize];
    const double limit = s.resolution ? kMaxDecodedInput : 5.0;
    for (int r = 0; r < runs; ++r) {
        FUZZ_CHECK(AnalyseBlock(s, block.data(), expected), "a block of its size refused");
        CheckAnalysis(s, limit);
    }

    // A block one byte short or long, or of the fuzzer's own length, changes nothing.
    static std::vector<double> before;
    before.assign(s.spectrum, s.spectrum + n / 2 + 1);
    const std::string text = s.fundamentalText;
    block.resize(static_cast<std::size_t>(expected) + 1, 0);
    for (int wrong : {expected - 1, expected + 1, static_cast<int>(bodySize)}) {
        if (wrong == expected) continue;
        FUZZ_CHECK(!AnalyseBlock(s, block.data(), wrong), "a block of the wrong size taken");
    }
    FUZZ_CHECK(std::equal(before.begin(), before.end(), s.spectrum), "refusal changed levels");
    FUZZ_CHECK(s.fundamentalText == text, "refusal changed the texts");
    return 0;
}
