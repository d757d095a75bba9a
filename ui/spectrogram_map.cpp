#include "ui/spectrogram_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ui/readouts.h"

namespace {

// matplotlib's viridis (S. van der Walt and N. Smith, 2015) at nine equally
// spaced points; the map between them is interpolated linearly.
constexpr CRgb kViridis[] = {{68, 1, 84},    {71, 45, 123},  {59, 82, 139},
                             {44, 114, 142}, {33, 145, 140}, {40, 174, 128},
                             {94, 201, 98},  {173, 220, 48}, {253, 231, 37}};
constexpr int kStops = sizeof kViridis / sizeof kViridis[0];

}  // namespace

CRgb SpectrogramColour(double level) {
    if (!(level > kSpectrogramBottomDb)) level = kSpectrogramBottomDb;  // NaN too
    if (level > kSpectrogramTopDb) level = kSpectrogramTopDb;
    const double x =
        (level - kSpectrogramBottomDb) / (kSpectrogramTopDb - kSpectrogramBottomDb) * (kStops - 1);
    const int i = std::min(static_cast<int>(x), kStops - 2);
    const double f = x - i;
    auto mix = [f](std::uint8_t a, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(a + (b - a) * f));
    };
    const CRgb& a = kViridis[i];
    const CRgb& b = kViridis[i + 1];
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void CSpectrogramHistory::Reset(int entries, int sampleRate) {
    entries_ = std::max(entries, 1);
    sampleRate_ = sampleRate;
    perColumn_ = (entries_ + kSpectrogramMaxColumns - 1) / kSpectrogramMaxColumns;
    columns_ = (entries_ + perColumn_ - 1) / perColumn_;
    values_.assign(static_cast<size_t>(capacity_) * columns_, 0.0f);
    times_.assign(static_cast<size_t>(capacity_), 0.0);
    head_ = -1;
    size_ = 0;
}

void CSpectrogramHistory::Add(double time, const double* levels, int entries) {
    if (columns_ == 0 || entries <= 0) return;
    head_ = (head_ + 1) % capacity_;
    size_ = std::min(size_ + 1, capacity_);
    float* line = values_.data() + static_cast<size_t>(head_) * columns_;
    const int n = std::min(entries, entries_);
    for (int c = 0; c < columns_; ++c) {
        // The highest entry of the group, so a narrow peak keeps its level.
        const int first = c * perColumn_;
        const int last = std::min(first + perColumn_, n);
        double v = kSpectrogramBottomDb;
        for (int k = first; k < last; ++k) v = std::max(v, levels[k]);
        line[c] = static_cast<float>(v);
    }
    times_[static_cast<size_t>(head_)] = time;
}

const float* CSpectrogramHistory::Line(int age) const {
    return values_.data() + static_cast<size_t>(Slot(age)) * columns_;
}

double CSpectrogramHistory::Time(int age) const {
    return times_[static_cast<size_t>(Slot(age))];
}

double CSpectrogramHistory::ColumnFrequency(int column) const {
    // Entry k is k x rate / N, and N = 2 (entries - 1).
    const int n = 2 * (entries_ - 1);
    return n > 0 ? static_cast<double>(column) * perColumn_ * sampleRate_ / n : 0.0;
}

std::string FormatSpectrogramReadout(double time, double frequency, double level) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3f s  ", time);
    return text + FormatCursorText(frequency, level);
}
