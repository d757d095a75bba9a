// Zoom geometry without a window: the mapping's round trip at several views,
// the readouts under zoom, zoom steps and limits, label steps, and the zoomed
// painters on a recording canvas. The default view must map as the fixed scale.
#include <QtTest>
#include <algorithm>
#include <memory>

#include "tests/comma_locale.h"
#include "tests/ui/recording_canvas.h"
#include "ui/plot_zoom.h"

Q_DECLARE_METATYPE(PlotView)

namespace {

constexpr PlotRect kFrame{40, 165, 590, 480};

PlotView View(double from, double to, double top, double bottom) {
    PlotView v;
    v.fromFraction = from;
    v.toFraction = to;
    v.topDb = top;
    v.bottomDb = bottom;
    return v;
}

PlotArea AreaWithFrame() {
    PlotArea area;
    area.plotRect = kFrame;
    return area;
}

}  // namespace

class TestZoom : public QObject {
    Q_OBJECT
  private slots:
    void defaultViewMapsAsTheFixedScale();
    void defaultViewDrawsTheFixedTrace();
    void roundTripPixelToValueToPixel_data();
    void roundTripPixelToValueToPixel();
    void readoutsUnderZoom_data();
    void readoutsUnderZoom();
    void rectangleAndWheelZoom();
    void viewsStayInsideTheFixedScale_data();
    void viewsStayInsideTheFixedScale();
    void markerKeepsItsValueAcrossZooms();
    void roundLabelSteps_data();
    void roundLabelSteps();
    void zoomedScalesTraceAndMarks();
};

void TestZoom::defaultViewMapsAsTheFixedScale() {
    const PlotView v;
    QVERIFY(v.IsDefault());
    for (const PlotRect& r : {kFrame, PlotRect{41, 165, 590, 480}, PlotRect{40, 165, 473, 541}}) {
        for (int h : {64, 512, 4096}) {
            const CPlotMapping m(r, v, 1800, h);
            for (int k = 0; k <= h; k += std::max(1, h / 97))
                QCOMPARE(m.XOfEntry(k), EntryToX(r, k, h));
        }
        const CPlotMapping m(r, v, 1800, 64);
        for (double level = 35.0; level >= -185.0; level -= 0.73)
            QCOMPARE(m.Y(level), LevelToY(r, level));
        for (int x = r.left; x <= r.right; x += 7)
            QCOMPARE(m.FrequencyAt(x), FrequencyAt(r, 1800, x));
        for (int y = r.top - 12; y <= r.bottom; y += 5) QCOMPARE(m.LevelAt(y), LevelAt(r, y));
    }
    // Readings in the default view are the fixed readouts' texts, marker included.
    PlotArea area = AreaWithFrame();
    area.markerX = 200;
    area.markerY = 250;
    for (const QPoint p : {QPoint(40, 165), QPoint(315, 300), QPoint(100, 350), QPoint(590, 155)}) {
        const auto fixed = ReadCursor(area, 6000, p.x(), p.y());
        const auto view = ReadCursorInView(area, PlotView{}, 6000, p.x(), p.y());
        QVERIFY(fixed && view);
        QCOMPARE(view->cursorText, fixed->cursorText);
        QCOMPARE(view->markerText, fixed->markerText);
    }
    QVERIFY(!ReadCursorInView(area, View(0.1, 0.2, 0, -50), 1000, 39, 300));
}

void TestZoom::defaultViewDrawsTheFixedTrace() {
    // The trace rule of the fixed plot: from the left edge, clamped only downwards.
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = 1800;
    state->sampleCount = 128;
    for (int k = 0; k < 65; ++k) state->spectrum[k] = -100.0 + 3 * (k % 7);
    state->spectrum[10] = 30.0;
    state->spectrum[20] = -179.9;
    PlotArea area;
    CRecordingCanvas fixed;
    PaintPlot(fixed, PlotRect{0, 0, 600, 500}, *state, area, {});
    fixed.ops.clear();
    PaintPlot(fixed, PlotRect{0, 0, 600, 500}, *state, area, {});

    CRecordingCanvas viaView;
    fixed.ops.erase(std::remove_if(fixed.ops.begin(), fixed.ops.end(),
                                   [](const CanvasOp& op) { return op.pen != kTraceColor; }),
                    fixed.ops.end());
    viaView.SelectPen(kTraceColor);
    DrawLevels(viaView, CPlotMapping(area.plotRect, PlotView{}, 1800, 64), state->spectrum, 64);
    QCOMPARE(viaView.ops.size(), fixed.ops.size());
    for (size_t i = 0; i < fixed.ops.size(); ++i) {
        QCOMPARE(viaView.ops[i].kind, fixed.ops[i].kind);
        QCOMPARE(viaView.ops[i].x1, fixed.ops[i].x1);
        QCOMPARE(viaView.ops[i].y1, fixed.ops[i].y1);
    }
}

void TestZoom::roundTripPixelToValueToPixel_data() {
    QTest::addColumn<PlotView>("view");
    QTest::newRow("full") << PlotView{};
    QTest::newRow("left half, top 100 dB") << View(0.0, 0.5, 20, -80);
    QTest::newRow("narrow, deep") << View(0.3125, 0.3190, -120.5, -140.25);
    QTest::newRow("thirds") << View(1.0 / 3, 2.0 / 3, 7.0 / 3, -37.0 / 3);
}

void TestZoom::roundTripPixelToValueToPixel() {
    QFETCH(PlotView, view);
    const CPlotMapping m(kFrame, view, 1800, 4096);
    for (int x = kFrame.left; x <= kFrame.right; ++x) {
        QCOMPARE(m.XOfFraction(m.FractionAt(x)), x);
        // The frequency read at x lies on the scale between the view's edges.
        QVERIFY(m.FrequencyAt(x) >= view.fromFraction * 900 - 1e-9);
        QVERIFY(m.FrequencyAt(x) <= view.toFraction * 900 + 1e-9);
    }
    for (int y = kFrame.top; y <= kFrame.bottom; ++y) {
        const double level = m.LevelAt(y);
        QCOMPARE(static_cast<int>(std::floor(m.YExact(level) + 1e-7)), y);
        if (!view.IsDefault()) QCOMPARE(m.Y(level), y);
    }
    // The edges read the view's edges.
    QVERIFY(std::fabs(m.LevelAt(kFrame.top) - view.topDb) < 1e-9);
    QVERIFY(std::fabs(m.LevelAt(kFrame.bottom) - view.bottomDb) < 1e-9);
}

void TestZoom::readoutsUnderZoom_data() {
    QTest::addColumn<PlotView>("view");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QString>("text");
    // 550 px across and 315 px down.
    const PlotView quarter = View(0.25, 0.5, -20, -100);
    QTest::newRow("left edge") << quarter << 1000 << QPoint(40, 165) << "125Hz  -20.0dBm";
    QTest::newRow("right edge") << quarter << 1000 << QPoint(590, 480) << "250Hz  -100.0dBm";
    QTest::newRow("middle") << quarter << 1000 << QPoint(326, 322) << "190Hz  -59.9dBm";
    QTest::newRow("kHz") << View(0.5, 1.0, 0, -50) << 6000 << QPoint(315, 291)
                         << "2.25KHz  -20.0dBm";
    QTest::newRow("above the frame") << quarter << 1000 << QPoint(40, 155) << "125Hz  -17.5dBm";
}

void TestZoom::readoutsUnderZoom() {
    QFETCH(PlotView, view);
    QFETCH(int, rate);
    QFETCH(QPoint, cursor);
    QFETCH(QString, text);
    PlotArea area = AreaWithFrame();
    const auto reading = ReadCursorInView(area, view, rate, cursor.x(), cursor.y());
    QVERIFY(reading);
    QCOMPARE(QString::fromStdString(reading->cursorText), text);
    QVERIFY(!reading->markerText);

    // The marker delta uses the same zoomed scales for both points.
    area.markerX = 590;
    area.markerY = 480;
    const auto delta = ReadCursorInView(area, View(0.25, 0.5, -20, -100), 1000, 40, 165);
    QCOMPARE(QString::fromStdString(*delta->markerText), QStringLiteral("125.0Hz  80.0dB"));
}

void TestZoom::rectangleAndWheelZoom() {
    // A drag over the left half, top to bottom, zooms the frequency to 0..0.5.
    PlotView v = ZoomToPixels(PlotView{}, kFrame, 315, 480, 40, 165, 512);
    QCOMPARE(v.fromFraction, 0.0);
    QCOMPARE(v.toFraction, 0.5);
    QCOMPARE(v.topDb, 20.0);
    QCOMPARE(v.bottomDb, -180.0);
    // A flat drag (under 4 px high) keeps the levels; then a tall one zooms them.
    v = ZoomToPixels(v, kFrame, 100, 300, 300, 302, 512);
    QCOMPARE(v.topDb, 20.0);
    const double fromBefore = v.fromFraction;
    QVERIFY(fromBefore > 0.0);
    v = ZoomToPixels(v, kFrame, 200, 228, 202, 354, 512);
    QCOMPARE(v.fromFraction, fromBefore);
    QVERIFY(std::fabs(v.topDb - LevelAt(kFrame, 228)) < 1e-9);
    QVERIFY(std::fabs(v.bottomDb - LevelAt(kFrame, 354)) < 1e-9);

    // The wheel keeps the value under the cursor where it is.
    const PlotView w0 = View(0.2, 0.6, 0, -100);
    const PlotView w1 = ZoomAround(w0, kFrame, 150, 200, 0.8, 512);
    const CPlotMapping m0(kFrame, w0, 1800, 512);
    const CPlotMapping m1(kFrame, w1, 1800, 512);
    QVERIFY(std::fabs(m0.FrequencyAt(150) - m1.FrequencyAt(150)) < 1e-9);
    QVERIFY(std::fabs(m0.LevelAt(200) - m1.LevelAt(200)) < 1e-9);
    QVERIFY(std::fabs((w1.toFraction - w1.fromFraction) - 0.4 * 0.8) < 1e-12);
    // Turning it back far enough gives the fixed scale exactly.
    PlotView out = w1;
    for (int i = 0; i < 20; ++i) out = ZoomAround(out, kFrame, 500, 450, 1.25, 512);
    QVERIFY(out.IsDefault());
}

void TestZoom::viewsStayInsideTheFixedScale_data() {
    QTest::addColumn<PlotView>("asked");
    QTest::addColumn<PlotView>("expected");
    QTest::newRow("reversed") << View(0.6, 0.2, -100, 0) << View(0.2, 0.6, 0, -100);
    QTest::newRow("past the left and top") << View(-0.1, 0.3, 40, -20) << View(0.0, 0.4, 20, -40);
    QTest::newRow("too narrow") << View(0.5, 0.5, -50, -50.2)
                                << View(0.5 - 2.0 / 512, 0.5 + 2.0 / 512, -49.6, -50.6);
    QTest::newRow("wider than all") << View(-1, 3, 100, -400) << PlotView{};
    QTest::newRow("not a number") << View(std::nan(""), 0.5, 0, -10) << View(0, 1, 0, -10);
}

void TestZoom::viewsStayInsideTheFixedScale() {
    QFETCH(PlotView, asked);
    QFETCH(PlotView, expected);
    const PlotView v = ClampView(asked, 512);
    QVERIFY2(std::fabs(v.fromFraction - expected.fromFraction) < 1e-12,
             qPrintable(QString::number(v.fromFraction)));
    QVERIFY(std::fabs(v.toFraction - expected.toFraction) < 1e-12);
    QVERIFY(std::fabs(v.topDb - expected.topDb) < 1e-12);
    QVERIFY(std::fabs(v.bottomDb - expected.bottomDb) < 1e-12);
    QCOMPARE(v.IsDefault(), expected.IsDefault());
}

void TestZoom::markerKeepsItsValueAcrossZooms() {
    PlotArea area = AreaWithFrame();
    area.markerX = 315;  // 450 Hz at 1800 s/s
    area.markerY = 291;  // -60 dB
    const PlotView zoomed = View(0.25, 0.75, 0, -100);
    RemapMarker(area, PlotView{}, zoomed);
    const CPlotMapping m(kFrame, zoomed, 1800, 64);
    QVERIFY(std::fabs(m.FrequencyAt(area.markerX) - 450.0) < 1.0);
    QVERIFY(std::fabs(m.LevelAt(area.markerY) - (-60.0)) < 0.5);
    RemapMarker(area, zoomed, PlotView{});
    QCOMPARE(area.markerX, 315);
    QCOMPARE(area.markerY, 291);
    // A marker that the new view does not show is removed.
    RemapMarker(area, PlotView{}, View(0.6, 0.9, 0, -100));
    QCOMPARE(area.markerX, 0);
}

void TestZoom::roundLabelSteps_data() {
    QTest::addColumn<double>("span");
    QTest::addColumn<double>("step");
    QTest::newRow("450 Hz") << 450.0 << 100.0;
    QTest::newRow("120 dB") << 120.0 << 20.0;
    QTest::newRow("7") << 7.0 << 2.0;
    QTest::newRow("0.9") << 0.9 << 0.2;
    QTest::newRow("exactly 6") << 6.0 << 1.0;
    QTest::newRow("3000") << 3000.0 << 500.0;
}

void TestZoom::roundLabelSteps() {
    QFETCH(double, span);
    QFETCH(double, step);
    QVERIFY(std::fabs(RoundStep(span, 6) - step) < step * 1e-12);
    // Every grid value is a whole multiple of the step, inside the span.
    const std::vector<double> values = GridValues(0.37 * span, 1.37 * span, RoundStep(span, 6));
    QVERIFY(values.size() >= 3 && values.size() <= 6);
    for (double v : values) {
        QVERIFY(std::fabs(v / step - std::round(v / step)) < 1e-9);
        QVERIFY(v > 0.37 * span && v < 1.37 * span);
    }
    QCOMPARE(FormatZoomFrequency(250, 50, 1800), std::string("250Hz"));
    QCOMPARE(FormatZoomFrequency(2500, 500, 6000), std::string("2.5KHz"));
    QCOMPARE(FormatZoomFrequency(2250, 50, 6000), std::string("2.25KHz"));
    QCOMPARE(FormatZoomFrequency(12.5, 0.5, 100), std::string("12.5Hz"));
    QCOMPARE(FormatZoomLevel(20, 20), std::string("+20"));
    QCOMPARE(FormatZoomLevel(-1e-15, 20), std::string("0"));
    QCOMPARE(FormatZoomLevel(-45.5, 0.5), std::string("-45.5"));
    {
        // The labels keep their '.' whatever the locale (the toolkit sets it from the environment).
        const CCommaLocale locale;
        QVERIFY2(locale.Error().empty(), locale.Error().c_str());
        QCOMPARE(FormatZoomFrequency(12.5, 0.5, 100), std::string("12.5Hz"));
        QCOMPARE(FormatZoomLevel(-45.5, 0.5), std::string("-45.5"));
    }
}

void TestZoom::zoomedScalesTraceAndMarks() {
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = 1800;
    state->sampleCount = 1024;
    state->thdEnabled = 1;
    for (int k = 0; k <= 512; ++k) state->spectrum[k] = -70.0 + 10 * std::sin(k * 0.7);
    state->spectrum[200] = 5.0;  // above the zoomed top
    const int bins[5] = {100, 150, 300, 400, 120};
    for (int i = 0; i < 5; ++i) {
        state->harmonicBins[i] = bins[i];
        state->harmonicLevels[i] = -60.0;
    }
    state->harmonicLevels[4] = -150.0;           // below the zoomed bottom
    const PlotView v = View(0.1, 0.6, 0, -100);  // entries 51.2 .. 307.2, 90 .. 540 Hz
    const CPlotMapping m(kFrame, v, 1800, 512);

    CRecordingCanvas canvas;
    DrawZoomScales(canvas, m);
    std::vector<std::string> labels;
    for (const CanvasOp& op : canvas.Texts()) labels.push_back(op.text);
    QCOMPARE(labels, (std::vector<std::string>{"100Hz", "200Hz", "300Hz", "400Hz", "500Hz", "-80",
                                               "-60", "-40", "-20"}));
    const std::vector<CanvasOp> grid = canvas.Lines(kGridColor);
    QCOMPARE(grid.size(), std::size_t{9});
    QCOMPARE(grid[0].x0, m.XOfFraction(100.0 / 900));
    QCOMPARE(grid[5].y0, m.Y(-80));
    QCOMPARE(canvas.CurrentPen(), kBlack);

    canvas.ops.clear();
    canvas.SelectPen(kTraceColor);
    DrawLevels(canvas, m, state->spectrum, 512);
    const std::vector<CanvasOp> trace = canvas.Lines(kTraceColor);
    QVERIFY(trace.size() > 200);
    for (const CanvasOp& op : trace) {
        QVERIFY(op.x0 >= kFrame.left && op.x1 <= kFrame.right - 1);
        QVERIFY(op.y0 >= kFrame.top && op.y1 <= kFrame.bottom - 1);
    }
    // The peak above the top is cut at the top edge, at entry 200's place.
    bool reachesTop = false;
    for (const CanvasOp& op : trace) {
        if (op.y1 == kFrame.top && std::abs(op.x1 - m.XOfEntry(200)) <= 2) reachesTop = true;
    }
    QVERIFY(reachesTop);

    canvas.ops.clear();
    DrawZoomMarks(canvas, m, *state);
    std::vector<CanvasOp> stars = canvas.Texts();
    // Entry 400 lies right of the view and 120 below it: three marks.
    QCOMPARE(stars.size(), std::size_t{3});
    QCOMPARE(stars[0].x0, m.XOfEntry(100) - 2);
    QCOMPARE(stars[0].y0, m.Y(-60) - 20);
    QCOMPARE(stars[0].textColor, kHarmonicColor);
}

QTEST_MAIN(TestZoom)
#include "test_zoom.moc"
