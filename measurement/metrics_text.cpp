#include "measurement/metrics_text.h"

#include <cmath>

#include "measurement/number_text.h"

namespace {

// Every number through FixedText: the same '.' in the dialog (whose toolkit
// takes the locale from the environment) as on the console.
std::string Db(double v) {
    return FixedText(v, 2) + " dB";
}

}  // namespace

std::vector<MetricsFigure> FormatMetricsFigures(const DistortionMetrics& m) {
    if (!m.valid) return {};
    return {
        {"THD(2..10)", FixedText(m.thdPercent, 4) + " % (" + Db(m.thdDb) + ")"},
        {"THD+N", FixedText(m.thdnPercent, 4) + " % (" + Db(m.thdnDb) + ")"},
        {"SINAD", Db(m.sinadDb)},
        {"SNR", Db(m.snrDb)},
        {"ENOB", FixedText(m.enob, 2)},
        {"SFDR", Db(m.sfdrDb)},
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
        row.frequency =
            FixedText(static_cast<double>(m.harmonicBins[h]) * sampleRate / n, 2) + " Hz";
        const double ratio = m.harmonicPowers[h] / m.fundamentalPower;
        // A harmonic whose entries all belong to an earlier group has no figure ("-").
        if (m.harmonicPowers[h] > 0 && std::isfinite(ratio)) {
            row.dbc = FixedText(10.0 * std::log10(ratio), 2);
            row.percent = FixedText(100.0 * std::sqrt(ratio), 4);
        }
        rows.push_back(row);
    }
    return rows;
}

std::string FormatFundamentalFrequency(const DistortionMetrics& m) {
    return m.valid ? FixedText(m.fundamentalFrequency, 3) + " Hz" : std::string("-");
}

std::string FormatFundamentalLevel(const DistortionMetrics& m) {
    return m.valid ? FixedText(m.fundamentalLevel, 1) + " dBm" : std::string("-");
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
