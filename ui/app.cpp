#include "ui/app.h"

#include <QApplication>
#include <QFileInfo>
#include <QString>
#include <cstdio>
#include <string>
#include <vector>

#include "measurement/measurement.h"
#include "ui/ini_profile.h"
#include "ui/options.h"
#include "ui/plot.h"
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

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromStdString(program));

    const QString profilePath = options.profilePath.empty()
                                    ? DefaultProfilePath(QString::fromStdString(program))
                                    : QString::fromStdString(options.profilePath);
    CIniProfile profile(profilePath);
    if (!profile.LastError().isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), qPrintable(profile.LastError()));
    }

    int result = 0;
    {
        CSpectrumDlg dialog(measurementState, plotArea, profile);
        dialog.DoModal();
    }
    ReleaseConnection(measurementState);
    return result;
}
