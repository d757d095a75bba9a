// The dialog against the stand-in instrument on a pseudo-terminal: it connects
// at start, a "Single Convert" shows the tone, and the saved plot shows the
// red trace with its peak at the tone's place.
#include <QComboBox>
#include <QFontDatabase>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "ui/ini_profile.h"
#include "ui/spectrum_dlg.h"
#include "ui/up_down.h"

namespace {

// The real dialog, cycle and connection; only a box would stop an unattended run.
class CRecordingBoxDialog final : public CSpectrumDlg {
  public:
    using CSpectrumDlg::CSpectrumDlg;
    QStringList boxes;
    int cycles = 0;

  protected:
    void ShowMessageBox(const QString& text) override { boxes << text; }
    void RunCycle() override {
        ++cycles;
        CSpectrumDlg::RunCycle();
    }
};

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectsAtStart();
    void singleConvertShowsTheTone_data();
    void singleConvertShowsTheTone();
    void runModeKeepsMeasuring();
    void aFailedPortNamesDeviceAndReasonInTheToolTip();

  private:
    std::unique_ptr<instrument::PtyHost> host_;
    QTemporaryDir dir_;
    std::unique_ptr<MeasurementState> state_ = std::make_unique<MeasurementState>();
    PlotArea area_;
    std::unique_ptr<CIniProfile> profile_;
    std::unique_ptr<CRecordingBoxDialog> dialog_;
};

void TestEndToEnd::initTestCase() {
    QVERIFY2(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")),
             "fonts-dejavu-core is not installed");
    host_ = std::make_unique<instrument::PtyHost>(instrument::Options());
    std::string error;
    QVERIFY2(host_->Start(&error), error.c_str());
    QVERIFY2(SetComDevice(3, host_->SlavePath(), &error), error.c_str());

    profile_ = std::make_unique<CIniProfile>(dir_.filePath(QStringLiteral("pelkor.INI")));
    dialog_ = std::make_unique<CRecordingBoxDialog>(*state_, area_, *profile_);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    dialog_->OnInitDialog();
}

void TestEndToEnd::cleanupTestCase() {
    if (dialog_) dialog_->close();
    ReleaseConnection(*state_);
    dialog_.reset();
    ClearComDevices();
    if (host_) host_->Stop();
}

void TestEndToEnd::connectsAtStart() {
    auto* status = dialog_->findChild<QLineEdit*>(ControlName(IDC_PORT_STATUS));
    QCOMPARE(status->text(), QStringLiteral("COM3:Ready"));
    QCOMPARE(status->toolTip(),
             QStringLiteral("COM3: ") + QString::fromStdString(host_->SlavePath()));
    QCOMPARE(state_->connected, 1);
    QCOMPARE(CIniProfile(profile_->Path()).ReadInt(kProfileSection, kKeyComPort, 0), 3);
}

void TestEndToEnd::singleConvertShowsTheTone_data() {
    QTest::addColumn<int>("countIndex");
    QTest::newRow("128 samples") << 0;
    QTest::newRow("1024 samples") << 3;
}

void TestEndToEnd::singleConvertShowsTheTone() {
    QFETCH(int, countIndex);
    auto* counts = dialog_->findChild<QComboBox*>(ControlName(IDC_SAMPLE_COUNT));
    counts->setCurrentIndex(countIndex);
    emit counts->activated(countIndex);
    dialog_->findChild<QPushButton*>(ControlName(IDC_SINGLE_CONVERT))->click();
    QVERIFY2(dialog_->boxes.isEmpty(), qPrintable(dialog_->boxes.join(QLatin1Char('|'))));

    // The tone (150 Hz at 1800 s/s) falls between bins; the nearest one is the
    // peak, shown as trunc(k x rate / N) Hz: bin 11 (154 Hz) at N = 128.
    const instrument::Tone tone = instrument::DefaultDemoSignal().tones.front();
    const int n = state_->sampleCount;
    QCOMPARE(n, SampleCountTable[countIndex].count);
    const int bin = static_cast<int>(std::lround(tone.frequency * n / state_->sampleRate));
    QCOMPARE(state_->fundamentalBin, bin);
    QCOMPARE(dialog_->findChild<QLineEdit*>(ControlName(IDC_FUNDAMENTAL))->text(),
             QStringLiteral("%1 Hz").arg(bin * state_->sampleRate / n));
    // A sine of A volts peak reads 20 log10(A) + 10 log10(0.5 x 0.35875^2) + 11 dB
    // through the Blackman-Harris window; up to half a bin off centre costs < 1 dB.
    const double expected =
        20 * std::log10(tone.amplitude) + 10 * std::log10(0.5 * 0.35875 * 0.35875) + 11;
    QVERIFY2(
        state_->fundamentalLevel <= expected + 0.2 && state_->fundamentalLevel >= expected - 1.2,
        qPrintable(QString::number(state_->fundamentalLevel)));
    QCOMPARE(dialog_->findChild<QLineEdit*>(ControlName(IDC_AMPLITUDE))->text(),
             QString::asprintf("%.1f dBm", state_->fundamentalLevel));
    QVERIFY(
        dialog_->findChild<QLineEdit*>(ControlName(IDC_THD))->text().endsWith(QLatin1Char('%')));

    // The saved plot as drawn: the topmost red pixel is the trace's peak at the tone.
    const QString png = dir_.filePath(QStringLiteral("plot.png"));
    QString error;
    QVERIFY2(dialog_->SavePlotPng(png, &error), qPrintable(error));
    const QImage image(png);
    QVERIFY(!image.isNull());
    const int offset = dialog_->height() - image.height();  // the grab starts below the controls
    const PlotRect& r = area_.plotRect;
    int peakX = -1, peakY = image.height();
    int redPixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (image.pixel(x, y) != qRgb(255, 0, 0)) continue;
            ++redPixels;
            if (y < peakY) {
                peakY = y;
                peakX = x;
            }
        }
    }
    QVERIFY(redPixels > r.Width());  // a whole trace, not a few marks
    const int toneX = static_cast<int>(static_cast<double>(bin) / (n / 2) * r.Width() + r.left);
    QVERIFY2(std::abs(peakX - toneX) <= 2, qPrintable(QStringLiteral("peak at x %1").arg(peakX)));
    const int levelY =
        r.top - static_cast<int>(r.Height() * (state_->fundamentalLevel - 20) * 0.005);
    QVERIFY2(std::abs(peakY + offset - levelY) <= 2, qPrintable(QString::number(peakY + offset)));
    // The frame's corners are where the painter put them.
    QCOMPARE(image.pixel(r.left - 1, r.bottom - 1 - offset), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(r.right - 1, r.bottom - 1 - offset), qRgb(0, 0, 0));

    const QByteArray shot = qgetenv("PELKOR_SCREENSHOT");
    if (!shot.isEmpty()) QVERIFY(dialog_->grab().save(QString::fromLocal8Bit(shot)));
}

void TestEndToEnd::runModeKeepsMeasuring() {
    const int before = dialog_->cycles;
    dialog_->findChild<QRadioButton*>(ControlName(IDC_RUN))->click();
    QVERIFY(dialog_->RunTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->cycles >= before + 3, 20000);
    dialog_->findChild<QRadioButton*>(ControlName(IDC_STOP))->click();
    QVERIFY(!dialog_->RunTimerActive());
    QVERIFY(dialog_->boxes.isEmpty());
}

void TestEndToEnd::aFailedPortNamesDeviceAndReasonInTheToolTip() {
    const std::string missing = dir_.filePath(QStringLiteral("no-such-tty")).toStdString();
    std::string error;
    QVERIFY2(SetComDevice(4, missing, &error), error.c_str());
    auto* status = dialog_->findChild<QLineEdit*>(ControlName(IDC_PORT_STATUS));
    auto* spin = dialog_->findChild<CUpDownCtrl*>(ControlName(IDC_COMPORT_SPIN));
    spin->ClickUp();
    QCOMPARE(status->text(), QStringLiteral("COM4:Error"));
    QCOMPARE(state_->connected, 0);
    const QString tip = status->toolTip();
    // The device and why it failed (the reason from the port, for example "no such device").
    QVERIFY2(tip.contains(QString::fromStdString(missing)), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("no such"), Qt::CaseInsensitive), qPrintable(tip));
    // Back to the instrument: ready again, the tip names the number and the device alone.
    spin->ClickDown();
    QCOMPARE(status->text(), QStringLiteral("COM3:Ready"));
    QCOMPARE(status->toolTip(),
             QStringLiteral("COM3: ") + QString::fromStdString(host_->SlavePath()));
    // The profile keeps the last good port.
    QCOMPARE(CIniProfile(profile_->Path()).ReadInt(kProfileSection, kKeyComPort, 0), 3);
}

QTEST_MAIN(TestEndToEnd)
#include "test_e2e.moc"
