#include "ui/harmonic_markers.h"

#include <algorithm>
#include <string>

void DrawHarmonicNumbers(CPlotCanvas& canvas, const CPlotMapping& mapping,
                         const DistortionMetrics& m, const double* levels) {
    if (!m.valid || levels == nullptr) return;
    const PlotRect& r = mapping.Frame();
    canvas.SetBkColor(kWhite);
    canvas.SetTextColor(kHarmonicNumberColor);
    for (int h = 0; h < kHarmonicCount; ++h) {
        if (!(m.harmonicPowers[h] > 0)) continue;
        const int bin = m.harmonicBins[h];
        const int x = mapping.XOfEntry(bin);
        // The number goes right of x; keep it inside the frame.
        if (x <= r.left + 10 || x > r.right - 15) continue;
        const int y = std::clamp(mapping.Y(levels[bin]), r.top + 20, r.bottom);
        canvas.TextOut(x + 5, y - 20, std::to_string(h + 2));
    }
}
