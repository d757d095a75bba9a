#include "measurement/export.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

template <class... Args>
std::string Format(const char* format, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// A figure as printf would show it, or "n/a" when it is not a finite number.
std::string Figure(const char* format, double value) {
    if (!std::isfinite(value)) return "n/a";
    return Format(format, value);
}

// A result text as the dialog shows it, unless it is "inf ..." or "nan ...".
std::string Shown(const std::string& text) {
    const bool bad = text.find("inf") != std::string::npos || text.find("nan") != std::string::npos;
    return bad ? "n/a" : text;
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
    out += "Fundamental: " + Shown(state.fundamentalText) + "\n";
    out += "Amplitude: " + Shown(state.amplitudeText) + "\n";
    out += "THD: " + Shown(state.thdText) + "\n";
    const double hzPerEntry = n > 0 ? static_cast<double>(state.sampleRate) / n : 0.0;
    out += Format("Fundamental entry %d: ", state.fundamentalBin) +
           Figure("%.2f", state.fundamentalBin * hzPerEntry) + " Hz, " +
           Figure("%.1f", state.fundamentalLevel) + " dBm\n";
    for (int p = 0; p < 5; ++p) {
        out += "Peak " + std::to_string(p + 1) + Format(" entry %d: ", state.harmonicBins[p]) +
               Figure("%.2f", state.harmonicBins[p] * hzPerEntry) + " Hz, " +
               Figure("%.1f", state.harmonicLevels[p]) + " dBm\n";
    }
    if (!metrics.valid) {
        out += "Distortion figures: not available\n";
        return out;
    }
    out += "Harmonic THD (2..10): " + Figure("%.4f", metrics.thdPercent) + " % (" +
           Figure("%.2f", metrics.thdDb) + " dB)\n";
    out += "THD+N: " + Figure("%.4f", metrics.thdnPercent) + " % (" +
           Figure("%.2f", metrics.thdnDb) + " dB)\n";
    out += "SINAD: " + Figure("%.2f", metrics.sinadDb) + " dB\n";
    out += "SNR: " + Figure("%.2f", metrics.snrDb) + " dB\n";
    out += "ENOB: " + Figure("%.2f", metrics.enob) + " bits\n";
    out += "SFDR: " + Figure("%.2f", metrics.sfdrDb) + " dB (spur at " +
           Figure("%.2f", metrics.spurBin * hzPerEntry) + " Hz)\n";
    return out;
}

std::string FormatMeasurements(const MeasurementState& state) {
    return FormatMeasurements(state, ComputeDistortionMetrics(state));
}
