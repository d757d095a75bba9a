// The analyser additions in the dialog: the Distortion window against
// `pelkor-measure --metrics` for the same saved block, the state kept in the
// profile, zoom by mouse and wheel with the readouts, holds fed by the cycle,
// and the default view painted exactly as the fixed plot.
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QtTest>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "analysis/analysis.h"
#include "cli/measure.h"
#include "cli/raw_block.h"
#include "cli/replay.h"
#include "measurement/metrics_text.h"
#include "measurement/number_text.h"
#include "tests/comma_locale.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/distortion_window.h"
#include "ui/plot_analyser.h"
#include "ui/qt_canvas.h"

namespace {

constexpr int kRate = 1800;
constexpr int kCount = 1024;

// A 10-bit block as the instrument sends it: a tone between entries with a
// few harmonics and a little deterministic noise.
RawBlock SavedBlock(double secondHarmonic) {
    RawBlock block;
    block.rateIndex = 6;   // 1800 s/s
    block.countIndex = 3;  // 1024
    block.channel = 1;
    block.resolution = 1;
    const double pi = 4.0 * std::atan(1.0);
    unsigned noise = 99;
    for (int t = 0; t < kCount; ++t) {
        noise = noise * 1103515245u + 12345u;
        const double ph = 2 * pi * 150.3 * t / kRate;
        const double v = 3.0 * std::sin(ph) + secondHarmonic * std::sin(2 * ph) +
                         0.01 * std::sin(3 * ph) + 0.004 * std::sin(7 * ph) +
                         0.003 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
        const int counts = static_cast<int>(std::lround((v / 2 + 2.5) * 1023 / 5));
        block.bytes.push_back(static_cast<unsigned char>(counts >> 8));
        block.bytes.push_back(static_cast<unsigned char>(counts & 0xFF));
    }
    return block;
}

// The numbers after each "key": in json, in order, from anchor on.
std::vector<double> NumbersAfter(const std::string& json, const std::string& anchor,
                                 const std::string& key) {
    std::vector<double> out;
    size_t at = json.find(anchor);
    while (at != std::string::npos) {
        at = json.find("\"" + key + "\": ", at);
        if (at == std::string::npos) break;
        at += key.size() + 4;
        double value = 0;
        std::from_chars(json.data() + at, json.data() + json.size(), value);
        out.push_back(value);
    }
    return out;
}

std::string Text(double value, int decimals, const char* unit = "") {
    return FixedText(value, decimals) + unit;
}

QImage PaintToImage(MeasurementState& state, PlotArea& area, const PlotLayers* layers,
                    const QFont& font) {
    QImage image(513, 561, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter painter(&image);
    painter.setFont(font);
    CQtPlotCanvas canvas(painter);
    area.traceReady = true;
    PaintPlot(canvas, PlotRect{0, 0, 513, 561}, state, area, {}, layers);
    return image;
}

// The analysis of a cycle, in the dialog's state: what SingleConvert leaves.
void AnalyseTone(MeasurementState& state, double amplitude) {
    std::vector<double> volts(kCount);
    const double pi = 4.0 * std::atan(1.0);
    for (int t = 0; t < kCount; ++t) volts[t] = amplitude * std::sin(2 * pi * 200.0 * t / kRate);
    AnalyseVolts(state, volts.data());
}

}  // namespace

class TestDistortion : public QObject {
    Q_OBJECT
  private slots:
    void init() { ResetAnalysisState(); }
    void windowFiguresEqualTheCliForTheSameSavedBlock();
    void stateIsKeptInItsOwnProfileSection();
    void wheelDragAndDoubleClickZoomWithReadouts();
    void cycleFeedsHoldsWindowAndCsv();
    void defaultViewAndResetPaintTheFixedPlot();
};

void TestDistortion::windowFiguresEqualTheCliForTheSameSavedBlock() {
    // The dialog's toolkit takes the locale from the environment and the console
    // does not: under a decimal-comma locale both must still say the same.
    const CCommaLocale locale;
    QVERIFY2(locale.Error().empty(), locale.Error().c_str());
    QTemporaryDir dir;
    const std::string raw = dir.filePath(QStringLiteral("block.raw")).toStdString();
    const std::string json = dir.filePath(QStringLiteral("block.json")).toStdString();
    const RawBlock block = SavedBlock(0.03);
    {
        std::ofstream file(raw, std::ios::binary);
        file << FormatRawBlock(block);
    }
    std::ostringstream out;
    std::ostringstream err;
    QCOMPARE(RunMeasure({"--input", raw, "--metrics", "--json", json}, out, err, false), 0);
    std::string metricsLine;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  THD(2..10): ", 0) == 0) metricsLine = line;
    }
    QVERIFY2(!metricsLine.empty(), out.str().c_str());
    QVERIFY2(metricsLine.find(',') == std::string::npos, metricsLine.c_str());
    std::ifstream jsonFile(json);
    const std::string report((std::istreambuf_iterator<char>(jsonFile)), {});

    // The same block through the dialog's analysis, shown in the window.
    ResetAnalysisState();
    auto state = std::make_unique<MeasurementState>();
    state->sampleRate = kRate;
    state->sampleCount = kCount;
    state->resolution = 1;
    state->windowMode = 0;
    state->thdEnabled = 1;
    QVERIFY(AnalyseBlock(*state, block.bytes.data(), static_cast<int>(block.bytes.size())));
    CDistortionWindow window;
    window.ShowMetrics(ComputeDistortionMetrics(*state), kRate, kCount);

    std::string shown;
    for (const char* name : {"THD(2..10)", "THD+N", "SINAD", "SNR", "ENOB", "SFDR"}) {
        shown +=
            std::string("  ") + name + ": " + window.Value(QString::fromLatin1(name)).toStdString();
    }
    QCOMPARE(shown, metricsLine);
    QCOMPARE(window.Value(QStringLiteral("Frequency")).toStdString(),
             Text(NumbersAfter(report, "\"metrics\"", "fundamental_frequency_hz")[0], 3, " Hz"));
    QVERIFY(window.Value(QStringLiteral("Frequency")).startsWith(QStringLiteral("150.")));
    const std::vector<double> dbc = NumbersAfter(report, "\"harmonics\"", "relative_db");
    const std::vector<double> hz = NumbersAfter(report, "\"harmonics\"", "frequency_hz");
    QCOMPARE(dbc.size(), std::size_t{9});
    for (int row = 0; row < 9; ++row) {
        QCOMPARE(window.HarmonicCell(row, 0), QString::number(row + 2));
        QCOMPARE(window.HarmonicCell(row, 1).toStdString(), Text(hz[row], 2, " Hz"));
        QCOMPARE(window.HarmonicCell(row, 2).toStdString(), Text(dbc[row], 2));
        const double percent = window.HarmonicCell(row, 3).toDouble();
        QVERIFY(std::fabs(percent - 100.0 * std::pow(10.0, dbc[row] / 20)) < 0.00006);
    }
    // 3 V with 30 mV of second harmonic: -40 dBc, 1 %.
    QVERIFY(std::fabs(dbc[0] + 40.0) < 0.5);

    window.Copy();
    const QString copied = QGuiApplication::clipboard()->text();
    QVERIFY(copied.contains(QStringLiteral("SINAD: ") + window.Value(QStringLiteral("SINAD"))));
    QVERIFY(copied.contains(QStringLiteral("2\t") + window.HarmonicCell(0, 1) + QLatin1Char('\t') +
                            window.HarmonicCell(0, 2)));

    // Without a block there are no figures, only dashes.
    window.ShowMetrics(DistortionMetrics{}, kRate, kCount);
    QCOMPARE(window.Value(QStringLiteral("SNR")), QStringLiteral("-"));
    QCOMPARE(window.HarmonicCell(4, 2), QStringLiteral("-"));
}

void TestDistortion::stateIsKeptInItsOwnProfileSection() {
    DialogFixture f;
    f.Start("[MyOrvanelAp]\nChannelSelection=2\n");
    CPlotAnalyser& a = f.dialog->Analyser();
    a.Action("actionHarmonicMarkers")->setChecked(true);
    a.Action("actionMaxHold")->setChecked(true);
    a.Action("actionZoomMode")->setChecked(true);
    PlotView view;
    view.fromFraction = 0.25;
    view.toFraction = 0.5;
    view.topDb = -10;
    view.bottomDb = -90.5;
    a.SetView(view);
    f.dialog.reset();  // the view is saved at the latest on the way out

    QFile file(f.ProfilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("[Analyser]"), text.constData());
    QCOMPARE(f.Stored(kKeyChannel), 2);
    CIniProfile fresh(f.ProfilePath());
    QCOMPARE(fresh.ReadInt(kAnalyserSection, "HarmonicMarkers", -1), 1);
    QCOMPARE(fresh.ReadInt(kAnalyserSection, "MaxHold", -1), 1);
    QCOMPARE(fresh.ReadInt(kAnalyserSection, "MinHold", -1), -1);  // never changed, never written
    QCOMPARE(fresh.ReadInt(kAnalyserSection, "ZoomFrom", -1), 250000);
    QCOMPARE(fresh.ReadInt(kAnalyserSection, "ZoomBottom", -1), -9050);

    f.dialog = std::make_unique<CTestDialog>(*f.state, f.area, *f.profile);
    CPlotAnalyser& b = f.dialog->Analyser();
    QVERIFY(b.Action("actionHarmonicMarkers")->isChecked());
    QVERIFY(b.Action("actionMaxHold")->isChecked());
    QVERIFY(!b.Action("actionMinHold")->isChecked());
    QVERIFY(b.View() == view);
    QVERIFY(b.Action("actionResetZoom")->isEnabled());
    f.dialog.reset();

    // Values from a damaged file still give a view inside the fixed scale.
    DialogFixture g;
    g.Start("[Analyser]\nZoomFrom=-2000000000\nZoomTo=abc\nZoomTop=99999\nZoomBottom=5\n");
    const PlotView v = g.dialog->Analyser().View();
    QVERIFY(v.fromFraction >= 0.0 && v.toFraction <= 1.0 && v.fromFraction < v.toFraction);
    QVERIFY(v.topDb <= kFullTopDb && v.bottomDb >= kFullBottomDb && v.bottomDb < v.topDb);
}

void TestDistortion::wheelDragAndDoubleClickZoomWithReadouts() {
    DialogFixture f;
    f.Start();
    f.state->sampleRate = 1000;
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    f.dialog->repaint();
    f.dialog->repaint();
    CPlotAnalyser& a = f.dialog->Analyser();
    const PlotRect r = f.area.plotRect;
    QVERIFY(r.Width() > 100);
    const QPoint p(r.left + r.Width() / 3, r.top + r.Height() / 4);
    auto cursorAt = [&](QPoint q) {
        QTest::mouseMove(f.dialog.get(), q + QPoint(0, 1));
        QTest::mouseMove(f.dialog.get(), q);
        return f.Control<QLineEdit>(IDC_CURSOR)->text();
    };
    const QString before = cursorAt(p);

    // One wheel notch zooms in about the cursor: the reading there stays.
    QWheelEvent wheel(QPointF(p), f.dialog->mapToGlobal(QPointF(p)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.dialog.get(), &wheel);
    QVERIFY(!a.View().IsDefault());
    QVERIFY(std::fabs(a.View().toFraction - a.View().fromFraction - 0.8) < 1e-9);
    f.dialog->repaint();
    QCOMPARE(cursorAt(p), before);
    // Elsewhere the reading follows the zoomed scale.
    const QPoint right(r.right, r.bottom);
    const CPlotMapping m(f.area.plotRect, a.View(), 1000, 64);
    QCOMPARE(cursorAt(right).toStdString(),
             FormatCursorText(m.FrequencyAt(r.right), m.LevelAt(r.bottom)));

    // Shift and a drag zoom to the rectangle and set no marker.
    const PlotView wheeled = a.View();
    const QPoint from(r.left + 50, r.top + 40);
    const QPoint to(r.left + 150, r.top + 200);
    QTest::mousePress(f.dialog.get(), Qt::LeftButton, Qt::ShiftModifier, from);
    QTest::mouseMove(f.dialog.get(), to);
    QTest::mouseRelease(f.dialog.get(), Qt::LeftButton, Qt::ShiftModifier, to);
    QCOMPARE(f.area.markerX, 0);
    const CPlotMapping w(f.area.plotRect, wheeled, 1000, 64);
    QVERIFY(std::fabs(a.View().fromFraction - w.FractionAt(from.x())) < 1e-9);
    QVERIFY(std::fabs(a.View().bottomDb - w.LevelAt(to.y())) < 1e-9);

    // In zoom mode a click without a drag is still a click: it sets the marker.
    a.Action("actionZoomMode")->setChecked(true);
    QTest::mouseClick(f.dialog.get(), Qt::LeftButton, Qt::NoModifier, p);
    QCOMPARE(f.area.markerX, p.x());
    QCOMPARE(f.area.markerY, p.y());
    // The marker delta at the marker itself is zero on the zoomed scales.
    cursorAt(p);
    QCOMPARE(f.Control<QLineEdit>(IDC_MARKER)->text(), QStringLiteral("0.0Hz  0.0dB"));

    // A double click brings back the fixed scale, and the fixed readings.
    QTest::mouseDClick(f.dialog.get(), Qt::LeftButton, Qt::NoModifier, p);
    QVERIFY(a.View().IsDefault());
    f.dialog->repaint();
    const auto fixed = ReadCursor(f.area, 1000, p.x() + 3, p.y());
    QCOMPARE(cursorAt(p + QPoint(3, 0)).toStdString(), fixed->cursorText);

    // The keys reach the same actions as the menu.
    QVERIFY(QTest::qWaitForWindowActive(f.dialog.get()));
    QTest::keyClick(f.dialog.get(), Qt::Key_H, Qt::ControlModifier);
    QVERIFY(a.Action(QStringLiteral("actionHarmonicMarkers"))->isChecked());
    a.SetView(ZoomAround(a.View(), f.area.plotRect, p.x(), p.y(), 0.5, 64));
    QTest::keyClick(f.dialog.get(), Qt::Key_0, Qt::ControlModifier);
    QVERIFY(a.View().IsDefault());

    // The wheel outside the plot does nothing.
    const QPoint above(r.left + 10, r.top - 30);
    QWheelEvent outside(QPointF(above), f.dialog->mapToGlobal(QPointF(above)), QPoint(),
                        QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.dialog.get(), &outside);
    QVERIFY(a.View().IsDefault());
}

void TestDistortion::cycleFeedsHoldsWindowAndCsv() {
    DialogFixture f;
    f.Start("[MyOrvanelAp]\nNumSampleSelection=3\n", true);
    QCOMPARE(f.state->sampleCount, kCount);
    double amplitude = 2.0;
    f.dialog->duringCycle = [&] { AnalyseTone(*f.state, amplitude); };
    CPlotAnalyser& a = f.dialog->Analyser();
    a.Action("actionMaxHold")->setChecked(true);
    a.Action("actionMinHold")->setChecked(true);
    a.Action("actionDistortion")->trigger();
    CDistortionWindow* window = a.DistortionWindow();
    QVERIFY(window && window->isVisible());

    f.dialog->OnSingleConvert();
    const double first = f.state->fundamentalLevel;
    QVERIFY(std::fabs(window->Value(QStringLiteral("Frequency")).section(' ', 0, 0).toDouble() -
                      200.0) < 0.3);
    amplitude = 1.0;
    f.dialog->OnSingleConvert();
    const int k0 = f.state->fundamentalBin;
    QVERIFY(f.state->fundamentalLevel < first - 5);
    QCOMPARE(a.Holds().Levels(HoldKind::kMax, kCount, kRate)[k0], first);
    QCOMPARE(a.Holds().Levels(HoldKind::kMin, kCount, kRate)[k0], f.state->fundamentalLevel);
    QCOMPARE(window->Value(QStringLiteral("Level")).toStdString(),
             Text(f.state->fundamentalLevel, 1, " dBm"));

    a.Action("actionFreezeReference")->trigger();
    QString error;
    const QString csv = f.dir.filePath(QStringLiteral("holds.csv"));
    QVERIFY2(f.dialog->SaveSpectrumCsv(csv, &error), qPrintable(error));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QCOMPARE(rows.front(),
             QByteArray("entry,frequency_hz,level_db,max_hold_db,min_hold_db,reference_db"));
    const QList<QByteArray> peak = rows[k0 + 1].split(',');
    QCOMPARE(peak.size(), 6);
    QCOMPARE(peak[3].toDouble(), first);
    QCOMPARE(peak[5].toDouble(), f.state->fundamentalLevel);

    // "Clear max hold" starts it again from the spectrum now shown.
    a.Action("actionClearMaxHold")->trigger();
    QCOMPARE(a.Holds().Levels(HoldKind::kMax, kCount, kRate)[k0], f.state->fundamentalLevel);
    a.Action("actionClearReference")->trigger();
    QVERIFY(!a.Holds().Levels(HoldKind::kReference, kCount, kRate));
}

void TestDistortion::defaultViewAndResetPaintTheFixedPlot() {
    DialogFixture f;
    f.Start("[MyOrvanelAp]\nNumSampleSelection=3\n", true);
    AnalyseTone(*f.state, 2.0);
    f.state->thdEnabled = 1;
    CPlotAnalyser& a = f.dialog->Analyser();
    a.OnSpectrumUpdated();
    const QFont font = f.dialog->PlotFont();
    const QImage fixed = PaintToImage(*f.state, f.area, nullptr, font);
    QCOMPARE(PaintToImage(*f.state, f.area, a.Layers(), font), fixed);

    PlotView view;
    view.fromFraction = 0.1;
    view.toFraction = 0.3;
    a.SetView(view);
    QVERIFY(PaintToImage(*f.state, f.area, a.Layers(), font) != fixed);
    a.Action("actionResetZoom")->trigger();
    QCOMPARE(PaintToImage(*f.state, f.area, a.Layers(), font), fixed);

    // Harmonic markers add the orders, and only them: the "*" marks stay.
    a.Action("actionHarmonicMarkers")->setChecked(true);
    const QImage marked = PaintToImage(*f.state, f.area, a.Layers(), font);
    QVERIFY(marked != fixed);
    int differing = 0;
    for (int y = 0; y < fixed.height(); ++y) {
        for (int x = 0; x < fixed.width(); ++x) {
            if (marked.pixel(x, y) != fixed.pixel(x, y)) {
                ++differing;
                // Only blue-ish text pixels or the white behind them change.
                const QColor c = marked.pixelColor(x, y);
                QVERIFY(c.blue() >= c.red());
            }
        }
    }
    QVERIFY(differing > 20);
}

QTEST_MAIN(TestDistortion)
#include "test_distortion.moc"
