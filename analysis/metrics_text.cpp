#include "analysis/metrics_text.h"

#include <cmath>
#include <cstdio>

namespace {

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

std::vector<MetricsFigure> FormatMetricsFigures(const DistortionMetrics& m) {
    if (!m.valid) return {};
    return {
        {"THD(2..10)", Format("%.4f %% (%.2f dB)", m.thdPercent, m.thdDb)},
        {"THD+N", Format("%.4f %% (%.2f dB)", m.thdnPercent, m.thdnDb)},
        {"SINAD", Format("%.2f dB", m.sinadDb)},
        {"SNR", Format("%.2f dB", m.snrDb)},
        {"ENOB", Format("%.2f", m.enob)},
        {"SFDR", Format("%.2f dB", m.sfdrDb)},
    };
}

std::string FormatMetricsLine(const DistortionMetrics& m) {
    if (!m.valid) return "  distortion figures not available\n";
    std::string line;
    for (const MetricsFigure& f : FormatMetricsFigures(m)) line += "  " + f.name + ": " + f.value;
    return line + "\n";
}

std::vector<HarmonicRowText> FormatHarmonicRows(const DistortionMetrics& m, int sampleRate, int n) {
    std::vector<HarmonicRowText> rows;
    if (!m.valid || n <= 0) return rows;
    for (int h = 0; h < kHarmonicCount; ++h) {
        HarmonicRowText row;
        row.order = h + 2;
        row.frequency = Format("%.2f Hz", static_cast<double>(m.harmonicBins[h]) * sampleRate / n);
        const double ratio = m.harmonicPowers[h] / m.fundamentalPower;
        // A harmonic whose entries all belong to an earlier group has no figure.
        if (m.harmonicPowers[h] > 0 && std::isfinite(ratio)) {
            row.dbc = Format("%.2f", 10.0 * std::log10(ratio));
            row.percent = Format("%.4f", 100.0 * std::sqrt(ratio));
        } else {
            row.dbc = "-";
            row.percent = "-";
        }
        rows.push_back(row);
    }
    return rows;
}

std::string FormatFundamentalFrequency(const DistortionMetrics& m) {
    return m.valid ? Format("%.3f Hz", m.fundamentalFrequency) : std::string("-");
}

std::string FormatFundamentalLevel(const DistortionMetrics& m) {
    return m.valid ? Format("%.1f dBm", m.fundamentalLevel) : std::string("-");
}

std::string FormatDistortionReport(const DistortionMetrics& m, int sampleRate, int n) {
    if (!m.valid) return "Distortion figures: not available\n";
    std::string out =
        "Fundamental: " + FormatFundamentalFrequency(m) + ", " + FormatFundamentalLevel(m) + "\n";
    for (const MetricsFigure& f : FormatMetricsFigures(m)) out += f.name + ": " + f.value + "\n";
    out += "Harmonic\tFrequency\tdBc\t%\n";
    for (const HarmonicRowText& r : FormatHarmonicRows(m, sampleRate, n)) {
        out +=
            std::to_string(r.order) + "\t" + r.frequency + "\t" + r.dbc + "\t" + r.percent + "\n";
    }
    return out;
}
