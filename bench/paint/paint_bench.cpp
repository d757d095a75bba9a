// One paint of the spectrum plot: a 4096-point trace (8192 samples) with max
// hold, min hold and reference drawn under it and the legend, onto an image at
// device-pixel ratio 2, as a HiDPI screen gets it.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <memory>
#include <vector>

#include "ui/plot.h"
#include "ui/plot_zoom.h"
#include "ui/qt_canvas.h"
#include "ui/trace_holds.h"

namespace {

constexpr int kWidth = 513;  // the dialog's client area
constexpr int kHeight = 561;
constexpr int kCount = 8192;

// A tone with harmonics over a noise floor that wanders from spectrum to spectrum.
void FillSpectrum(double* levels, unsigned seed) {
    for (int k = 0; k <= kCount / 2; ++k) {
        seed = seed * 1103515245u + 12345u;
        levels[k] = -95.0 + 12.0 * (static_cast<double>(seed >> 8) / (1 << 24));
    }
    for (int h = 1; h <= 6; ++h) {
        const int bin = 341 * h;
        for (int d = -3; d <= 3; ++d)
            levels[bin + d] = std::max(levels[bin + d], 5.0 - 12 * h - 6 * d * d);
    }
}

void BM_PaintWithHolds(benchmark::State& bench) {
    const qreal ratio = static_cast<qreal>(bench.range(0));
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = 6000;
    state->sampleCount = kCount;
    state->thdEnabled = 1;
    for (int i = 0; i < 5; ++i) {
        state->harmonicBins[i] = 341 * (i + 2);
        state->harmonicLevels[i] = -12.0 * (i + 2);
    }
    CTraceHolds holds;
    holds.SetEnabled(HoldKind::kMax, true);
    holds.SetEnabled(HoldKind::kMin, true);
    for (unsigned s = 1; s <= 8; ++s) {
        FillSpectrum(state->spectrum, s);
        holds.Accumulate(state->spectrum, kCount, state->sampleRate);
        if (s == 3) holds.FreezeReference(state->spectrum, kCount, state->sampleRate);
    }
    PlotLayers layers;
    layers.underTrace = [&](CPlotCanvas& c, const PlotRect& r) {
        DrawHolds(c, CPlotMapping(r, PlotView{}, state->sampleRate, kCount / 2), holds, kCount);
    };
    layers.overlay = [&](CPlotCanvas& c, const PlotRect& r) {
        DrawHoldLegend(c, r, holds, kCount, state->sampleRate);
    };

    QImage image(static_cast<int>(kWidth * ratio), static_cast<int>(kHeight * ratio),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    PlotArea area;
    area.traceReady = true;
    // The window system erases the background; the plot paints over its frame.
    image.fill(Qt::lightGray);
    for (auto _ : bench) {
        QPainter painter(&image);
        painter.setFont(font);
        CQtPlotCanvas canvas(painter);
        PaintPlot(canvas, PlotRect{0, 0, kWidth, kHeight}, *state, area, {}, &layers);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintWithHolds)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
