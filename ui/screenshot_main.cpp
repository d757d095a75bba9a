// pelkor-screenshot OUT.png: the dialog after one "Single Convert" on the
// stand-in instrument, with a marker and a cursor reading, saved as the screen
// would show it. Run it with QT_SCALE_FACTOR=2 for a picture at device-pixel
// ratio 2. For the pictures in docs/; it needs no display (offscreen works).
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/measurement.h"
#include "ui/ini_profile.h"
#include "ui/plot.h"
#include "ui/spectrum_dlg.h"

namespace {

// A box would wait for a click that never comes: report it and go on.
class CUnattendedDialog final : public CSpectrumDlg {
  public:
    using CSpectrumDlg::CSpectrumDlg;
    int boxes = 0;

  protected:
    void ShowMessageBox(const QString& text) override {
        ++boxes;
        std::fprintf(stderr, "pelkor-screenshot: box: %s\n", qPrintable(text));
    }
};

void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelkor-screenshot OUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelkor"));
    std::setlocale(LC_NUMERIC, "C");

    std::string error;
    instrument::PtyHost host{instrument::Options()};
    if (!host.Start(&error) || !SetComDevice(3, host.SlavePath(), &error)) {
        std::fprintf(stderr, "pelkor-screenshot: %s\n", error.c_str());
        return 1;
    }
    QTemporaryDir dir;
    CIniProfile profile(dir.filePath(QStringLiteral("pelkor.INI")));
    // 1024 samples at 1800 s/s, as in the README's picture.
    profile.WriteInt(kProfileSection, kKeySampleCount, 3);
    auto state = std::make_unique<MeasurementState>();
    PlotArea area;
    int status = 0;
    {
        CUnattendedDialog dialog(*state, area, profile);
        dialog.show();
        dialog.OnInitDialog();
        Settle(200);
        dialog.OnSingleConvert();
        Settle(200);
        const PlotRect& r = area.plotRect;
        dialog.OnLButtonDown(QPoint(r.left + r.Width() / 5, r.top + r.Height() / 3));
        dialog.OnMouseMove(QPoint(r.left + r.Width() * 3 / 5, r.top + r.Height() / 4));
        Settle(200);
        if (!state->connected || dialog.boxes > 0) {
            std::fprintf(stderr, "pelkor-screenshot: the measurement did not complete (%s)\n",
                         state->portStatusText.c_str());
            status = 1;
        } else if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
            std::fprintf(stderr, "pelkor-screenshot: cannot write %s\n", argv[1]);
            status = 1;
        }
    }
    ReleaseConnection(*state);
    ClearComDevices();
    host.Stop();
    return status;
}
