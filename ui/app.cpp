#include "ui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <clocale>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "comlink/device_map.h"
#include "comlink/port.h"
#include "instrument/instrument.h"
#include "measurement/measurement.h"
#include "ui/ini_profile.h"
#include "ui/options.h"
#include "ui/plot.h"
#include "ui/serial_ports.h"
#include "ui/spectrum_dlg.h"

CSpectrumApp theApp;

namespace {

std::string BaseName(const char* argv0) {
    std::string name = argv0 ? argv0 : "pelkor";
    const std::string::size_type slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    return name.empty() ? "pelkor" : name;
}

// A box in the dialog's font, also when no dialog is open yet.
void ShowBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setFont(DialogFont());
    box.exec();
}

// The serial library's "Library Error" report, as a modal box before the process ends.
void ShowLibraryError(const char* title, const char* text) {
    ShowBox(QMessageBox::Critical, QString::fromUtf8(title), QString::fromUtf8(text));
}

}  // namespace

int CSpectrumApp::Run(int argc, char** argv) {
    const std::string program = BaseName(argc > 0 ? argv[0] : nullptr);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    AppOptions options;
    std::string error;
    // Before any window system is touched, so --help works without a display.
    if (!ParseAppOptions(args, &options, &error)) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(AppUsage(program).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s 1.0\n", program.c_str());
        return 0;
    }

    const QString profilePath = options.profilePath.empty()
                                    ? DefaultProfilePath(QString::fromStdString(program))
                                    : QString::fromStdString(options.profilePath);
    CIniProfile profile(profilePath);
    if (!profile.LastError().isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), qPrintable(profile.LastError()));
    }

    std::map<int, std::string> overrides = options.ports;
    std::unique_ptr<instrument::PtyHost> demo;
    if (options.demo) {
        const int port = profile.ReadInt(kProfileSection, kKeyComPort, kDefaultComPort);
        if (port < kMinComPort || port > kMaxComPort) {
            std::fprintf(stderr, "%s: --demo: the profile's COM port %d is not COM1..COM16\n",
                         program.c_str(), port);
            return 2;
        }
        demo = std::make_unique<instrument::PtyHost>(instrument::Options());
        if (!demo->Start(&error)) {
            std::fprintf(stderr, "%s: --demo: %s\n", program.c_str(), error.c_str());
            return 1;
        }
        overrides[port] = demo->SlavePath();
        std::fprintf(stderr, "%s: demo instrument on %s as COM%d\n", program.c_str(),
                     demo->SlavePath().c_str(), port);
    }
    // The COM database in the profile's "Ports" (new adapters numbered from COM3 up),
    // the command line over it.
    const std::string portProblems = SerialPorts().SetUp(&profile, overrides);
    if (!portProblems.empty()) {
        std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), qPrintable(profilePath),
                     portProblems.c_str());
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    // Qt has just taken the C library's locale from the environment; numbers
    // read or written through it keep their '.' whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromStdString(program));
    SetReportHandler(&ShowLibraryError);
    // Without a word here the operator would lose every change of this session.
    if (!profile.LastError().isEmpty()) {
        ShowBox(QMessageBox::Warning, QApplication::applicationName(), profile.LastError());
    }
    profile.SetSaveFailedHandler([](const QString& reason) {
        ShowBox(QMessageBox::Warning, QApplication::applicationName(), reason);
    });

    {
        CSpectrumDlg dialog(measurementState, plotArea, profile);
        dialog.DoModal();
    }
    // Leaves the port at the line settings it had before the first connection.
    ReleaseConnection(measurementState);
    SerialPorts().Reset();
    SetReportHandler(nullptr);
    if (demo) demo->Stop();
    return 0;
}
