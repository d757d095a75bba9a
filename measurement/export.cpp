#include "measurement/export.h"

#include <charconv>
#include <cstdio>

#include "measurement/number_text.h"

namespace {

bool IsTableCount(int n) {
    for (const SampleCountEntry& e : SampleCountTable) {
        if (e.count == n) return true;
    }
    return false;
}

// Shortest text that reads back as the same double.
void AppendNumber(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string F(double value, int decimals) {
    return FixedText(value, decimals);
}

const char* AveragingName(int mode) {
    switch (mode) {
        case 0:
            return "Off";
        case 1:
            return "On";
        case 2:
            return "10";
        default:
            return "?";
    }
}

}  // namespace

std::string FormatSpectrumCsv(const MeasurementState& state, const std::vector<CsvColumn>& extra) {
    std::vector<const CsvColumn*> columns;
    std::string out = "entry,frequency_hz,level_db";
    for (const CsvColumn& c : extra) {
        if (c.values == nullptr) continue;
        columns.push_back(&c);
        out += ',' + c.name;
    }
    out += '\n';
    const int n = state.sampleCount;
    if (!IsTableCount(n)) return out;
    out.reserve(out.size() + static_cast<size_t>(n / 2 + 1) * 32 * (1 + columns.size()));
    for (int k = 0; k <= n / 2; ++k) {
        out += std::to_string(k);
        out += ',';
        AppendNumber(out, static_cast<double>(k) * state.sampleRate / n);
        out += ',';
        AppendNumber(out, state.spectrum[k]);
        for (const CsvColumn* c : columns) {
            out += ',';
            AppendNumber(out, c->values[k]);
        }
        out += '\n';
    }
    return out;
}

bool WriteSpectrumCsv(const MeasurementState& state, const std::string& path, std::string* error,
                      const std::vector<CsvColumn>& extra) {
    return WriteFileAtomically(path, FormatSpectrumCsv(state, extra), error);
}

std::string FormatMeasurements(const MeasurementState& state, const DistortionMetrics& metrics) {
    const int n = state.sampleCount;
    std::string out;
    out += "Sample rate: " + std::to_string(state.sampleRate) + " s/s\n";
    out += "Samples: " + std::to_string(n) + "\n";
    out += "Channel: " + std::to_string(state.channel) + "\n";
    out += std::string("Resolution: ") + (state.resolution == 1 ? "10-bit" : "8-bit") + "\n";
    out += std::string("Harris window: ") + (state.windowMode == 0 ? "On" : "Off") + "\n";
    out += std::string("Averaging: ") + AveragingName(state.averagingMode) + "\n";
    out += "Fundamental: " + state.fundamentalText + "\n";
    out += "Amplitude: " + state.amplitudeText + "\n";
    out += "THD: " + state.thdText + "\n";
    const double hzPerEntry = n > 0 ? static_cast<double>(state.sampleRate) / n : 0.0;
    out += "Fundamental entry " + std::to_string(state.fundamentalBin) + ": " +
           F(state.fundamentalBin * hzPerEntry, 2) + " Hz, " + F(state.fundamentalLevel, 1) +
           " dBm\n";
    for (int p = 0; p < 5; ++p) {
        out += "Peak " + std::to_string(p + 1) + " entry " + std::to_string(state.harmonicBins[p]) +
               ": " + F(state.harmonicBins[p] * hzPerEntry, 2) + " Hz, " +
               F(state.harmonicLevels[p], 1) + " dBm\n";
    }
    if (!metrics.valid) {
        out += "Distortion figures: not available\n";
        return out;
    }
    out += "Harmonic THD (2..10): " + F(metrics.thdPercent, 4) + " % (" + F(metrics.thdDb, 2) +
           " dB)\n";
    out += "THD+N: " + F(metrics.thdnPercent, 4) + " % (" + F(metrics.thdnDb, 2) + " dB)\n";
    out += "SINAD: " + F(metrics.sinadDb, 2) + " dB\n";
    out += "SNR: " + F(metrics.snrDb, 2) + " dB\n";
    out += "ENOB: " + F(metrics.enob, 2) + " bits\n";
    out += "SFDR: " + F(metrics.sfdrDb, 2) + " dB (spur at " + F(metrics.spurBin * hzPerEntry, 2) +
           " Hz)\n";
    return out;
}

std::string FormatMeasurements(const MeasurementState& state) {
    return FormatMeasurements(state, ComputeDistortionMetrics(state));
}
