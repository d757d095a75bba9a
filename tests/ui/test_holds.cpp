// Trace holds over a scripted sequence of spectra, their painting under the
// live trace with the legend, and their CSV columns.
#include <QtTest>
#include <memory>

#include "tests/ui/recording_canvas.h"
#include "ui/trace_holds.h"

namespace {

constexpr int kN = 16;  // entries 0..8

std::vector<double> Spectrum(std::initializer_list<double> levels) {
    std::vector<double> s(levels);
    s.resize(kN / 2 + 1, -100.0);
    return s;
}

std::vector<double> Held(const CTraceHolds& holds, HoldKind kind, int n = kN, int rate = 1000) {
    const double* levels = holds.Levels(kind, n, rate);
    return levels ? std::vector<double>(levels, levels + n / 2 + 1) : std::vector<double>{};
}

}  // namespace

class TestHolds : public QObject {
    Q_OBJECT
  private slots:
    void maxAndMinOverAScriptedSequence();
    void settingsChangesRestartAndClearsEmpty();
    void referenceIsAFrozenCopy();
    void holdsAreDrawnUnderTheTraceWithALegend();
    void csvGainsAColumnPerHoldShown();
};

void TestHolds::maxAndMinOverAScriptedSequence() {
    CTraceHolds holds;
    const std::vector<double> a = Spectrum({-50, -60, -70, -80});
    const std::vector<double> b = Spectrum({-40, -65, -75, -60});
    const std::vector<double> c = Spectrum({-45, -55, -90, -85});
    holds.Accumulate(a.data(), kN, 1000);  // nothing is on yet: nothing held
    QVERIFY(!holds.AnyShown(kN, 1000));
    holds.SetEnabled(HoldKind::kMax, true);
    holds.SetEnabled(HoldKind::kMin, true);
    for (const auto* s : {&a, &b, &c}) holds.Accumulate(s->data(), kN, 1000);
    QCOMPARE(Held(holds, HoldKind::kMax), Spectrum({-40, -55, -70, -60}));
    QCOMPARE(Held(holds, HoldKind::kMin), Spectrum({-50, -65, -90, -85}));
    QVERIFY(Held(holds, HoldKind::kReference).empty());
    // Another spectrum that stays within both leaves them as they are.
    const std::vector<double> inside = Spectrum({-45, -60, -80, -70});
    holds.Accumulate(inside.data(), kN, 1000);
    QCOMPARE(Held(holds, HoldKind::kMax), Spectrum({-40, -55, -70, -60}));
    QCOMPARE(Held(holds, HoldKind::kMin), Spectrum({-50, -65, -90, -85}));
    // Switched off, a hold forgets; switched on again it starts from the next spectrum.
    holds.SetEnabled(HoldKind::kMax, false);
    QVERIFY(Held(holds, HoldKind::kMax).empty());
    holds.SetEnabled(HoldKind::kMax, true);
    holds.Accumulate(inside.data(), kN, 1000);
    QCOMPARE(Held(holds, HoldKind::kMax), inside);
}

void TestHolds::settingsChangesRestartAndClearsEmpty() {
    CTraceHolds holds;
    holds.SetEnabled(HoldKind::kMax, true);
    const std::vector<double> a = Spectrum({-50, -10, -70});
    holds.Accumulate(a.data(), kN, 1000);
    // Another rate: the entries stand for other frequencies, so the hold restarts.
    const std::vector<double> b = Spectrum({-60, -60, -60});
    holds.Accumulate(b.data(), kN, 2000);
    QVERIFY(Held(holds, HoldKind::kMax, kN, 1000).empty());
    QCOMPARE(Held(holds, HoldKind::kMax, kN, 2000), b);
    // Another sample count likewise.
    std::vector<double> wide(33, -30.0);
    holds.Accumulate(wide.data(), 64, 2000);
    QVERIFY(Held(holds, HoldKind::kMax, kN, 2000).empty());
    QCOMPARE(Held(holds, HoldKind::kMax, 64, 2000), wide);
    // Counts the arrays cannot hold are ignored.
    holds.Accumulate(wide.data(), 0, 2000);
    holds.Accumulate(wide.data(), kMaxSamples * 2, 2000);
    QCOMPARE(Held(holds, HoldKind::kMax, 64, 2000), wide);
    // A clear empties the hold but leaves it on.
    holds.Clear(HoldKind::kMax);
    QVERIFY(holds.Enabled(HoldKind::kMax));
    QVERIFY(!holds.AnyShown(64, 2000));
    holds.Accumulate(b.data(), kN, 2000);
    QCOMPARE(Held(holds, HoldKind::kMax, kN, 2000), b);
}

void TestHolds::referenceIsAFrozenCopy() {
    CTraceHolds holds;
    std::vector<double> live = Spectrum({-20, -30, -40});
    holds.FreezeReference(live.data(), kN, 1000);
    const std::vector<double> frozen = live;
    live[1] = 0.0;
    holds.Accumulate(live.data(), kN, 1000);
    QCOMPARE(Held(holds, HoldKind::kReference), frozen);
    // Shown only on the scale it was taken on.
    QVERIFY(Held(holds, HoldKind::kReference, kN, 1800).empty());
    holds.Clear(HoldKind::kReference);
    QVERIFY(!holds.Enabled(HoldKind::kReference));
    QVERIFY(!holds.AnyShown(kN, 1000));
}

void TestHolds::holdsAreDrawnUnderTheTraceWithALegend() {
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = 1000;
    state->sampleCount = 128;
    for (int k = 0; k <= 64; ++k) state->spectrum[k] = -90.0 + (k % 5);
    CTraceHolds holds;
    holds.SetEnabled(HoldKind::kMax, true);
    holds.SetEnabled(HoldKind::kMin, true);
    holds.Accumulate(state->spectrum, 128, 1000);
    std::vector<double> reference(65, -120.0);
    holds.FreezeReference(reference.data(), 128, 1000);

    PlotArea area;
    CRecordingCanvas canvas;
    PlotLayers layers;
    layers.underTrace = [&](CPlotCanvas& c, const PlotRect& r) {
        DrawHolds(c, CPlotMapping(r, PlotView{}, 1000, 64), holds, 128);
    };
    layers.overlay = [&](CPlotCanvas& c, const PlotRect& r) {
        DrawHoldLegend(c, r, holds, 128, 1000);
    };
    PaintPlot(canvas, PlotRect{0, 0, 600, 500}, *state, area, {}, &layers);
    // The first paint draws no trace, and so no holds either: only the legend's sample.
    QCOMPARE(canvas.Lines(kMaxHoldColor).size(), std::size_t{2});
    canvas.ops.clear();
    PaintPlot(canvas, PlotRect{0, 0, 600, 500}, *state, area, {}, &layers);

    // All three holds come before the first segment of the live trace.
    size_t holdLinesBefore = 0;
    for (const CanvasOp& op : canvas.ops) {
        if (op.kind != CanvasOp::kLine) continue;
        if (op.pen == kTraceColor) break;
        if (op.pen == kMaxHoldColor || op.pen == kMinHoldColor || op.pen == kReferenceColor) {
            ++holdLinesBefore;
        }
    }
    QCOMPARE(holdLinesBefore, std::size_t{3 * 62});
    // Each hold follows the trace rule of the fixed scale: 62 segments.
    const std::vector<CanvasOp> trace = canvas.Lines(kTraceColor);
    const std::vector<CanvasOp> reference_lines = canvas.Lines(kReferenceColor);
    QVERIFY(reference_lines.size() >= 62);
    QCOMPARE(reference_lines[61].x1, trace[61].x1);
    QCOMPARE(reference_lines[61].y1, LevelToY(area.plotRect, -120.0));
    const std::vector<CanvasOp> maxLines = canvas.Lines(kMaxHoldColor);
    for (int i = 0; i < 62; ++i) QCOMPARE(maxLines[i].y1, trace[i].y1);  // one spectrum held
    // The pen after the holds is the trace's, and every pen is put back at the end.
    QCOMPARE(canvas.CurrentPen(), kBlack);

    std::vector<std::string> legend;
    for (const CanvasOp& op : canvas.Texts()) {
        if (op.x0 > area.plotRect.right - 100 && op.y0 < area.plotRect.top + 70)
            legend.push_back(op.text);
    }
    QCOMPARE(legend, (std::vector<std::string>{"Live", "Max hold", "Min hold", "Reference"}));

    // Nothing shown: no legend at all.
    CTraceHolds none;
    canvas.ops.clear();
    DrawHoldLegend(canvas, area.plotRect, none, 128, 1000);
    QVERIFY(canvas.ops.empty());
}

void TestHolds::csvGainsAColumnPerHoldShown() {
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = 1000;
    state->sampleCount = 128;
    for (int k = 0; k <= 64; ++k) state->spectrum[k] = -50.0 - k;
    CTraceHolds holds;
    holds.SetEnabled(HoldKind::kMax, true);
    holds.Accumulate(state->spectrum, 128, 1000);
    std::vector<double> reference(65, -120.25);
    holds.FreezeReference(reference.data(), 128, 1000);

    const std::string csv = FormatSpectrumCsv(*state, HoldCsvColumns(holds, 128, 1000));
    QVERIFY(csv.rfind("entry,frequency_hz,level_db,max_hold_db,reference_db\n", 0) == 0);
    QVERIFY(csv.find("\n3,23.4375,-53,-53,-120.25\n") != std::string::npos);
    QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 66);
    // Without holds the file is as before.
    QVERIFY(FormatSpectrumCsv(*state, HoldCsvColumns(CTraceHolds{}, 128, 1000)) ==
            FormatSpectrumCsv(*state));
}

QTEST_MAIN(TestHolds)
#include "test_holds.moc"
