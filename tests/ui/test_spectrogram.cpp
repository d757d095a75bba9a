// The spectrogram: its colour scale and bounded history, and the window
// streaming a swept tone from the stand-in instrument over a pseudo-terminal.
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/stream_file.h"
#include "ui/ini_profile.h"
#include "ui/spectrogram_dlg.h"
#include "ui/spectrum_dlg.h"

namespace {

class CRecordingBoxDialog final : public CSpectrumDlg {
  public:
    using CSpectrumDlg::CSpectrumDlg;
    QStringList boxes;

  protected:
    void ShowMessageBox(const QString& text) override { boxes << text; }
};

double Luminance(const CRgb& c) {
    return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
}

// Column of the highest level of a line.
int PeakColumn(const CSpectrogramHistory& h, int age) {
    const float* line = h.Line(age);
    int best = 0;
    for (int c = 1; c < h.Columns(); ++c) {
        if (line[c] > line[best]) best = c;
    }
    return best;
}

}  // namespace

class TestSpectrogram : public QObject {
    Q_OBJECT
  private slots:
    void colourScaleIsFixedAndGetsLighter();
    void historyKeepsTheNewestLinesAndTheirPeaks();
    void streamsASweepIntoTheWaterfall();
};

void TestSpectrogram::colourScaleIsFixedAndGetsLighter() {
    const CRgb top = SpectrogramColour(20.0), bottom = SpectrogramColour(-180.0);
    QCOMPARE(int(top.r), 253);
    QCOMPARE(int(top.g), 231);
    QCOMPARE(int(bottom.b), 84);
    // Beyond the scale the end colours stay; so does a level that is no number.
    QCOMPARE(int(SpectrogramColour(60.0).g), int(top.g));
    QCOMPARE(int(SpectrogramColour(-400.0).r), int(bottom.r));
    QCOMPARE(int(SpectrogramColour(std::nan("")).r), int(bottom.r));
    double last = -1;
    for (double level = -180.0; level <= 20.0; level += 2.5) {
        const double y = Luminance(SpectrogramColour(level));
        QVERIFY2(y > last, qPrintable(QString::number(level)));
        last = y;
    }
}

void TestSpectrogram::historyKeepsTheNewestLinesAndTheirPeaks() {
    CSpectrogramHistory history(5);
    // N = 8192: 4097 entries pool into groups of 5, each its highest level.
    history.Reset(4097, 6000);
    QCOMPARE(history.Columns(), 820);
    std::vector<double> levels(4097, -150.0);
    for (int i = 0; i < 12; ++i) {
        levels[7] = -10.0 - i;  // column 1
        history.Add(0.5 * i, levels.data(), 4097);
    }
    QCOMPARE(history.Size(), 5);
    QCOMPARE(history.Time(0), 5.5);
    QCOMPARE(history.Time(4), 3.5);
    QCOMPARE(history.Line(0)[1], -21.0f);
    QCOMPARE(history.Line(4)[1], -17.0f);
    QCOMPARE(history.Line(0)[0], -150.0f);
    QCOMPARE(history.ColumnFrequency(1), 5 * 6000.0 / 8192);
    QCOMPARE(QString::fromStdString(FormatSpectrogramReadout(5.5, 1500.0, -42.25)),
             QStringLiteral("5.500 s  1.50KHz  -42.2dBm"));
}

void TestSpectrogram::streamsASweepIntoTheWaterfall() {
    instrument::Options options;
    for (auto& c : options.channels) c = instrument::ChannelSignal{};
    // 200 Hz up to 2800 Hz over 12 s: no restart while the test watches.
    options.channels[1].sweeps = {{200.0, 2800.0, 12.0, 3.0}};
    options.channels[1].noiseRms = 0.002;
    instrument::PtyHost host(options);
    std::string error;
    QVERIFY2(host.Start(&error), error.c_str());
    QVERIFY2(SetComDevice(3, host.SlavePath(), &error), error.c_str());
    QTemporaryDir dir;
    CIniProfile profile(dir.filePath(QStringLiteral("pelkor.INI")));
    auto state = std::make_unique<MeasurementState>();
    PlotArea area;
    CRecordingBoxDialog dialog(*state, area, profile);
    dialog.show();
    dialog.OnInitDialog();
    QCOMPARE(state->connected, 1);
    auto* rates = dialog.findChild<QComboBox*>(ControlName(IDC_SAMPLE_RATE));
    rates->setCurrentIndex(12);
    emit rates->activated(12);
    auto* counts = dialog.findChild<QComboBox*>(ControlName(IDC_SAMPLE_COUNT));
    counts->setCurrentIndex(3);
    emit counts->activated(3);

    CSpectrogramDlg* window = OpenSpectrogram(&dialog, *state, dialog);
    QVERIFY(window->isVisible());
    QCOMPARE(OpenSpectrogram(&dialog, *state, dialog), window);  // one window
    window->StartStream();
    QVERIFY2(window->Streaming(), qPrintable(dialog.boxes.join('|')));
    QCOMPARE(state->busy, 1);  // Single Convert and Run wait meanwhile

    const QString raw = dir.filePath(QStringLiteral("sweep.raw"));
    QVERIFY(window->StartRecording(raw, nullptr));
    const int seconds = qEnvironmentVariableIntValue("PELKOR_SPECTROGRAM_SECONDS");
    const CSpectrogramHistory& history = window->View()->History();
    QTRY_VERIFY_WITH_TIMEOUT(history.Size() >= 60, 30000);
    if (seconds > 0) QTest::qWait(seconds * 1000);
    QVERIFY(window->StatusText().contains(QStringLiteral("Recording")));
    window->StopRecording();
    const QString before = QString::fromStdString(state->fundamentalText);
    window->StopStream();
    QVERIFY2(dialog.boxes.isEmpty(), qPrintable(dialog.boxes.join('|')));
    QVERIFY(!window->Streaming());
    QCOMPARE(state->busy, 0);
    QVERIFY(host.ReceivedBytes().back() == '8');
    // PELKOR_SPECTROGRAM_SECONDS=20 PELKOR_SPECTROGRAM_PNG=docs/... makes the README's picture.
    const QString png = qEnvironmentVariable("PELKOR_SPECTROGRAM_PNG");
    if (!png.isEmpty()) QVERIFY(window->grab().save(png));
    if (seconds > 0) return;  // the sweep has started again: the checks below assume it did not

    // The tone rises: the newest line's peak lies above that of 50 lines before,
    // by about the sweep's 217 Hz a second over those 50 x 256 samples.
    const double rise = history.ColumnFrequency(PeakColumn(history, 0)) -
                        history.ColumnFrequency(PeakColumn(history, 50));
    QVERIFY2(rise > 300 && rise < 700, qPrintable(QString::number(rise)));
    // The main plot followed: its texts are those of the newest block.
    QVERIFY(!before.isEmpty());
    const double shown = before.section(' ', 0, 0).toDouble();
    QVERIFY2(std::abs(shown - history.ColumnFrequency(PeakColumn(history, 0))) < 12,
             qPrintable(before));

    // The waterfall shows the newest line on top; the readout names it.
    const QRect r = window->View()->WaterfallRect();
    const int x = r.left() + PeakColumn(history, 0) * r.width() / history.Columns();
    const QString reading = window->View()->ReadoutAt(QPoint(x, r.top()));
    QVERIFY2(reading.startsWith(QString::number(history.Time(0), 'f', 3) + " s"),
             qPrintable(reading));
    QVERIFY(window->View()->ReadoutAt(QPoint(r.left() - 5, r.top())).isEmpty());

    // The recording: whole, one header, every sample behind it.
    QFile file(raw);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    StreamFileHeader header;
    std::string why;
    QVERIFY2(ParseStreamHeader(data.left(kStreamHeaderLength - 1).toStdString(), &header, &why),
             why.c_str());
    QVERIFY(header.complete);
    QCOMPARE(header.bytes, static_cast<long long>(data.size() - kStreamHeaderLength));
    QVERIFY(header.bytes > 6000);
    QCOMPARE(header.format.sampleCount, 1024);
    QCOMPARE(header.format.overlap, 75);

    window->close();
    dialog.close();
    ReleaseConnection(*state);
    ClearComDevices();
}

QTEST_MAIN(TestSpectrogram)
#include "test_spectrogram.moc"
