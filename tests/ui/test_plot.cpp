// The plot painter's geometry through a recording canvas, and the Qt canvas's
// pixels for the platform's line rule.
#include <QCryptographicHash>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <memory>
#include <utility>

#include "tests/ui/recording_canvas.h"
#include "ui/plot.h"
#include "ui/qt_canvas.h"

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

constexpr PlotRect kClient600x500{0, 0, 600, 500};

struct PlotFixture {
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    PlotArea area;
    CRecordingCanvas canvas;
    int refreshes = 0;

    PlotFixture() {
        state->sampleRate = 1800;
        state->sampleCount = 128;
        state->thdEnabled = 1;
        for (int i = 0; i < 5; ++i) state->harmonicBins[i] = 1;  // "not found" preset
    }
    void Paint(PlotRect client = kClient600x500) {
        canvas.ops.clear();
        PaintPlot(canvas, client, *state, area, [this] { ++refreshes; });
    }
};

}  // namespace

class TestPlot : public QObject {
    Q_OBJECT
  private slots:
    void firstPaintFramesWithoutTraceThenLeftMovesByOne();
    void gridHasFourLinesEachWayInsideTheFrame();
    void frequencyLabels_data();
    void frequencyLabels();
    void levelLabelsSitAboveTheirGridLines();
    void traceCoversEntriesOneToHalfMinusOne();
    void traceClampsOnlyDownwards();
    void markerCrossStrokes();
    void harmonicMarksSkipTheFirstEntriesAndFollowThdEnable();
    void zeroSampleCountDrawsNoMarks();
    void qtCanvasLinesStopOnePixelShort();
    void qtCanvasRectangleCoversLeftToRightMinusOne();
    void paintedPlotHasSolidLinesAtEveryRatio_data();
    void paintedPlotHasSolidLinesAtEveryRatio();
    void paintedPlotAtRatioOneIsUnchanged();
};

void TestPlot::firstPaintFramesWithoutTraceThenLeftMovesByOne() {
    PlotFixture f;
    f.Paint();
    QVERIFY(f.area.plotRect == (PlotRect{40, 165, 590, 480}));
    QCOMPARE(f.canvas.ops.front().kind, CanvasOp::kRectangle);
    QCOMPARE(f.canvas.ops.front().x0, 40);
    QCOMPARE(f.canvas.ops.front().y1, 480);
    QCOMPARE(f.canvas.ops.front().pen, kBlack);
    QVERIFY(f.canvas.Lines(kTraceColor).empty());
    QVERIFY(f.area.traceReady);
    QCOMPARE(f.refreshes, 1);
    // Every pen is put back: the surface ends with the pen it started with.
    QCOMPARE(f.canvas.CurrentPen(), kBlack);

    f.Paint();
    QVERIFY(f.area.plotRect == (PlotRect{41, 165, 590, 480}));
    QVERIFY(!f.canvas.Lines(kTraceColor).empty());
}

void TestPlot::gridHasFourLinesEachWayInsideTheFrame() {
    PlotFixture f;
    f.Paint();
    const std::vector<CanvasOp> grid = f.canvas.Lines(kGridColor);
    QCOMPARE(grid.size(), std::size_t{8});
    const int xs[4] = {150, 260, 370, 480};
    const int ys[4] = {228, 291, 354, 417};  // 165 + trunc(f x 315)
    for (int i = 0; i < 4; ++i) {
        const CanvasOp& v = grid[i];
        QCOMPARE(v.x0, xs[i]);
        QCOMPARE(v.x1, xs[i]);
        QCOMPARE(v.y0, 166);
        QCOMPARE(v.y1, 479);
        const CanvasOp& h = grid[4 + i];
        QCOMPARE(h.y0, ys[i]);
        QCOMPARE(h.y1, ys[i]);
        QCOMPARE(h.x0, 41);
        QCOMPARE(h.x1, 589);
    }
}

void TestPlot::frequencyLabels_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<std::vector<std::string>>("texts");
    QTest::newRow("1800 s/s") << 1800 << std::vector<std::string>{"0Hz",     "900.0Hz", "180.0Hz",
                                                                  "360.0Hz", "540.0Hz", "720.0Hz"};
    QTest::newRow("6000 s/s") << 6000 << std::vector<std::string>{"0Hz",     "3.00KHz", "0.60KHz",
                                                                  "1.20KHz", "1.80KHz", "2.40KHz"};
    QTest::newRow("2000 s/s") << 2000 << std::vector<std::string>{"0Hz",     "1.00KHz", "0.20KHz",
                                                                  "0.40KHz", "0.60KHz", "0.80KHz"};
}

void TestPlot::frequencyLabels() {
    QFETCH(int, rate);
    QFETCH(std::vector<std::string>, texts);
    PlotFixture f;
    f.state->sampleRate = rate;
    f.Paint();
    const std::vector<CanvasOp> all = f.canvas.Texts();
    QVERIFY(all.size() >= 6);
    const int xs[6] = {35, 545, 150 - 25, 260 - 25, 370 - 25, 480 - 25};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(all[i].text, texts[i]);
        QCOMPARE(all[i].x0, xs[i]);
        QCOMPARE(all[i].y0, 482);
        QCOMPARE(all[i].background, kLabelBackground);
        QCOMPARE(all[i].textColor, kBlack);
    }
}

void TestPlot::levelLabelsSitAboveTheirGridLines() {
    PlotFixture f;
    f.Paint();
    const std::vector<CanvasOp> all = f.canvas.Texts();
    QVERIFY(all.size() >= 12);
    const struct {
        const char* text;
        int x, y;
    } expected[6] = {{"+20", 10, 158}, {"-180", 4, 470}, {"-20", 13, 220},
                     {"-60", 13, 283}, {"-100", 5, 346}, {"-140", 5, 409}};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(all[6 + i].text, std::string(expected[i].text));
        QCOMPARE(all[6 + i].x0, expected[i].x);
        QCOMPARE(all[6 + i].y0, expected[i].y);
    }
}

void TestPlot::traceCoversEntriesOneToHalfMinusOne() {
    PlotFixture f;
    for (int k = 0; k < 65; ++k) f.state->spectrum[k] = -100.0 + k;
    f.Paint();
    f.Paint();
    // One move to entry 1 at the moved left edge, then 62 segments to entries 2..63.
    std::vector<CanvasOp> moves;
    for (const CanvasOp& op : f.canvas.ops) {
        if (op.kind == CanvasOp::kMove && op.pen == kTraceColor) moves.push_back(op);
    }
    QCOMPARE(moves.size(), std::size_t{1});
    const int w = 590 - 41;
    auto y = [](double v) { return 165 - static_cast<int>(315 * (v - 20.0) * 0.005); };
    QCOMPARE(moves[0].x0, 41);
    QCOMPARE(moves[0].y0, y(-99.0));
    const std::vector<CanvasOp> trace = f.canvas.Lines(kTraceColor);
    QCOMPARE(trace.size(), std::size_t{62});
    QCOMPARE(trace.back().x1, static_cast<int>(63.0 / 64 * w + 41));
    QCOMPARE(trace.back().y1, y(-100.0 + 63));
    QCOMPARE(trace[0].x1, static_cast<int>(2.0 / 64 * w + 41));
}

void TestPlot::traceClampsOnlyDownwards() {
    PlotFixture f;
    for (int k = 0; k < 65; ++k) f.state->spectrum[k] = -50.0;
    f.state->spectrum[10] = 30.0;
    f.state->spectrum[20] = -179.9;
    f.Paint();
    f.Paint();
    const std::vector<CanvasOp> trace = f.canvas.Lines(kTraceColor);
    const CanvasOp& high = trace[10 - 2];
    const CanvasOp& low = trace[20 - 2];
    QCOMPARE(high.y1, 165 - 15);  // +30 dB: trunc(315 x 10 x 0.005) above the top edge
    QCOMPARE(low.y1, 480 - 2);
}

void TestPlot::markerCrossStrokes() {
    PlotFixture f;
    f.area.markerX = 100;
    f.area.markerY = 300;
    f.Paint();
    const std::vector<CanvasOp> cross = f.canvas.Lines(kMarkerColor);
    QCOMPARE(cross.size(), std::size_t{2});
    QCOMPARE(cross[0].x0, 85);
    QCOMPARE(cross[0].x1, 115);
    QCOMPARE(cross[0].y0, 300);
    QCOMPARE(cross[0].y1, 300);
    QCOMPARE(cross[1].x0, 100);
    QCOMPARE(cross[1].y0, 285);
    QCOMPARE(cross[1].y1, 315);

    f.area.markerX = 0;
    f.Paint();
    QVERIFY(f.canvas.Lines(kMarkerColor).empty());
}

void TestPlot::harmonicMarksSkipTheFirstEntriesAndFollowThdEnable() {
    PlotFixture f;
    const int bins[5] = {1, 10, 20, 30, 2};
    for (int i = 0; i < 5; ++i) {
        f.state->harmonicBins[i] = bins[i];
        f.state->harmonicLevels[i] = -60.0;
    }
    f.Paint();
    std::vector<CanvasOp> stars;
    for (const CanvasOp& op : f.canvas.Texts()) {
        if (op.text == "*") stars.push_back(op);
    }
    // Bins 1 and 2 lie within 10 px of the left edge (8.6 and 17.2 px: only bin 1 is hidden).
    QCOMPARE(stars.size(), std::size_t{4});
    const int w = 590 - 40;
    QCOMPARE(stars[0].x0, static_cast<int>(10.0 / 64 * w + 40) - 2);
    QCOMPARE(stars[0].y0, 165 - static_cast<int>(315 * (-80.0) * 0.005) - 20);
    QCOMPARE(stars[0].textColor, kHarmonicColor);
    QCOMPARE(stars[0].background, kWhite);

    // The painter takes the check box into the state before the marks.
    auto untick = [&] { f.state->thdEnabled = 0; };
    f.canvas.ops.clear();
    PaintPlot(f.canvas, kClient600x500, *f.state, f.area, untick);
    for (const CanvasOp& op : f.canvas.Texts()) QVERIFY(op.text != "*");
}

void TestPlot::zeroSampleCountDrawsNoMarks() {
    PlotFixture f;
    f.state->sampleCount = 0;
    f.state->harmonicBins[0] = 30;
    f.Paint();
    f.Paint();
    for (const CanvasOp& op : f.canvas.Texts()) QVERIFY(op.text != "*");
    QVERIFY(f.canvas.Lines(kTraceColor).empty());
}

void TestPlot::qtCanvasLinesStopOnePixelShort() {
    QImage image(60, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        CQtPlotCanvas canvas(painter);
        canvas.SelectPen(kMarkerColor);
        canvas.MoveTo(10, 5);
        canvas.LineTo(40, 5);  // rightwards
        canvas.MoveTo(50, 40);
        canvas.LineTo(50, 10);  // upwards
        canvas.MoveTo(40, 50);
        canvas.LineTo(10, 45);  // leftwards and up
    }
    const QColor blue(0, 0, 255);
    QCOMPARE(image.pixelColor(10, 5), blue);
    QCOMPARE(image.pixelColor(39, 5), blue);
    QCOMPARE(image.pixelColor(40, 5), QColor(Qt::white));
    QCOMPARE(image.pixelColor(50, 40), blue);
    QCOMPARE(image.pixelColor(50, 11), blue);
    QCOMPARE(image.pixelColor(50, 10), QColor(Qt::white));
    QCOMPARE(image.pixelColor(40, 50), blue);
    QCOMPARE(image.pixelColor(10, 45), QColor(Qt::white));
    // One pixel wide and not blended: nothing but pure blue and white.
    for (int x = 10; x < 40; ++x) QCOMPARE(image.pixelColor(x, 6), QColor(Qt::white));
}

void TestPlot::qtCanvasRectangleCoversLeftToRightMinusOne() {
    QImage image(60, 60, QImage::Format_RGB32);
    image.fill(QColor(10, 10, 10));
    {
        QPainter painter(&image);
        CQtPlotCanvas canvas(painter);
        canvas.Rectangle(PlotRect{5, 5, 50, 40});
    }
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::black));
    QCOMPARE(image.pixelColor(49, 39), QColor(Qt::black));
    QCOMPARE(image.pixelColor(50, 20), QColor(10, 10, 10));
    QCOMPARE(image.pixelColor(20, 40), QColor(10, 10, 10));
    QCOMPARE(image.pixelColor(20, 20), QColor(Qt::white));
}

namespace {

const QColor kOutside(0, 128, 0);  // no colour of the plot

// Two paints (the second one draws the trace) of a 600 x 500 client area onto
// an image of that logical size at the device-pixel ratio given.
QImage PaintAtRatio(PlotFixture& f, qreal ratio) {
    QImage image(qRound(600 * ratio), qRound(500 * ratio), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(kOutside);
    for (int paint = 0; paint < 2; ++paint) {
        QPainter painter(&image);
        CQtPlotCanvas canvas(painter);
        PaintPlot(canvas, kClient600x500, *f.state, f.area, nullptr);
    }
    return image;
}

// The device pixels under logical pixels first..last (inclusive) at a ratio,
// with the edges rounded half up as the raster engine rounds them.
std::pair<int, int> DeviceSpan(int first, int last, qreal ratio) {
    return {static_cast<int>(std::floor(first * ratio + 0.5)),
            static_cast<int>(std::floor((last + 1) * ratio + 0.5)) - 1};
}

// A trace that rises and falls steeply across 512 entries, inside the frame.
void FillSteepTrace(MeasurementState& s) {
    s.sampleCount = 1024;
    for (int k = 0; k <= 512; ++k) s.spectrum[k] = -90.0 + 80.0 * std::sin(k * 0.37);
}

}  // namespace

void TestPlot::paintedPlotHasSolidLinesAtEveryRatio_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1") << qreal(1);
    QTest::newRow("1.25") << qreal(1.25);
    QTest::newRow("1.5") << qreal(1.5);
    QTest::newRow("2") << qreal(2);
}

void TestPlot::paintedPlotHasSolidLinesAtEveryRatio() {
    QFETCH(qreal, ratio);
    PlotFixture f;
    FillSteepTrace(*f.state);
    f.area.markerX = 300;
    f.area.markerY = 300;
    const QImage image = PaintAtRatio(f, ratio);
    const PlotRect frame{40, 165, 590, 480};
    const QColor red(255, 0, 0);

    // Every device column under the trace holds a trace pixel.
    const int lastX = static_cast<int>(511.0 / 512 * (590 - 41) + 41);
    const auto [x0, x1] = DeviceSpan(41, lastX - 1, ratio);
    const auto [yTop, yBottom] = DeviceSpan(frame.top, frame.bottom - 1, ratio);
    int gaps = 0;
    for (int x = x0; x <= x1; ++x) {
        bool hit = false;
        for (int y = yTop; y <= yBottom && !hit; ++y) hit = image.pixelColor(x, y) == red;
        if (!hit) ++gaps;
    }
    QVERIFY2(gaps == 0, qPrintable(QStringLiteral("%1 of %2 device columns of the trace are empty")
                                       .arg(gaps)
                                       .arg(x1 - x0 + 1)));

    // The frame's outline covers every device pixel of its logical pixels, and
    // nothing of the frame lies beyond it.
    const auto [left0, left1] = DeviceSpan(frame.left, frame.left, ratio);
    const auto [right0, right1] = DeviceSpan(frame.right - 1, frame.right - 1, ratio);
    const auto [top0, top1] = DeviceSpan(frame.top, frame.top, ratio);
    const auto [bottom0, bottom1] = DeviceSpan(frame.bottom - 1, frame.bottom - 1, ratio);
    int broken = 0;
    for (int x = left0; x <= right1; ++x) {
        for (int y : {top0, top1, bottom0, bottom1}) broken += image.pixelColor(x, y) != Qt::black;
    }
    for (int y = top0; y <= bottom1; ++y) {
        for (int x : {left0, left1, right0, right1}) broken += image.pixelColor(x, y) != Qt::black;
    }
    QCOMPARE(broken, 0);
    for (int y = top0; y <= bottom1; ++y) QCOMPARE(image.pixelColor(right1 + 1, y), kOutside);
    for (int x = left0; x <= right1; ++x) QCOMPARE(image.pixelColor(x, bottom1 + 1), kOutside);

    // The marker's strokes have no holes either: 30 logical pixels each way.
    const auto [mx0, mx1] = DeviceSpan(285, 314, ratio);
    const auto [my0, my1] = DeviceSpan(300, 300, ratio);
    const QColor blue(0, 0, 255);
    for (int x = mx0; x <= mx1; ++x) {
        for (int y = my0; y <= my1; ++y) QCOMPARE(image.pixelColor(x, y), blue);
    }
}

void TestPlot::paintedPlotAtRatioOneIsUnchanged() {
    PlotFixture f;
    FillSteepTrace(*f.state);
    f.area.markerX = 300;
    f.area.markerY = 300;
    const QImage image = PaintAtRatio(f, 1);
    // Frame, grid, trace and marker, without the labels (their glyphs follow
    // the font renderer): the pixels as the plot has always drawn them.
    const QImage inside = image.copy(40, 165, 550, 315);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < inside.height(); ++y) {
        for (int x = 0; x < inside.width(); ++x) {
            const QRgb p = inside.pixel(x, y) & 0xffffff;
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(&p), 3));
        }
    }
    QCOMPARE(hash.result().toHex(),
             QByteArray("a599a2d6b2eaa0a1598f0c1840821f1b626b7ba9bfe7dde65637166a3ff03315"));
}

QTEST_MAIN(TestPlot)
#include "test_plot.moc"
