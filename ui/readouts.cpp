#include "ui/readouts.h"

#include <cmath>

#include "measurement/number_text.h"

double FrequencyAt(const PlotRect& r, int sampleRate, int x) {
    return static_cast<double>(x - r.left) / r.Width() * (sampleRate * 0.5);
}

double LevelAt(const PlotRect& r, int y) {
    return 20.0 - static_cast<double>(y - r.top) / r.Height() * 200.0;
}

std::string FormatCursorText(double frequency, double level) {
    const std::string where = frequency > 1000.0 ? FixedText(frequency * 0.001, 2) + "KHz"
                                                 : FixedText(frequency, 0) + "Hz";
    return where + "  " + FixedText(level, 1) + "dBm";
}

std::string FormatMarkerDelta(double frequency, double level, double markerFrequency,
                              double markerLevel) {
    return FixedText(std::fabs(frequency - markerFrequency), 1) + "Hz  " +
           FixedText(level - markerLevel, 1) + "dB";
}

std::optional<CursorReading> ReadCursor(const PlotArea& area, int sampleRate, int x, int y) {
    const PlotRect& r = area.plotRect;
    if (x < r.left || x > r.right) return std::nullopt;
    // Before the first paint the frame is empty and the scales would divide by zero.
    if (r.Width() == 0 || r.Height() == 0) return std::nullopt;
    const double f = FrequencyAt(r, sampleRate, x);
    const double v = LevelAt(r, y);
    CursorReading reading;
    reading.cursorText = FormatCursorText(f, v);
    if (area.markerX > 0) {
        reading.markerText = FormatMarkerDelta(f, v, FrequencyAt(r, sampleRate, area.markerX),
                                               LevelAt(r, area.markerY));
    }
    return reading;
}

bool InsidePlot(const PlotRect& r, int x, int y) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

bool IsBelowMinimumSize(int clientWidth, int clientHeight) {
    return clientWidth < kMinClientWidth || clientHeight < kMinClientHeight;
}
