// A main dialog with its modal box, measurement cycle and connection replaced
// by recorders, over a profile in a temporary folder.
#pragma once

#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "ui/ini_profile.h"
#include "ui/spectrum_dlg.h"

class CTestDialog final : public CSpectrumDlg {
  public:
    using CSpectrumDlg::CSpectrumDlg;

    QStringList boxes;
    std::function<void()> whileBoxOpen;
    std::vector<int> connects;
    bool instrumentAnswers = false;
    int cycles = 0;
    std::function<void()> duringCycle;

  protected:
    void ShowMessageBox(const QString& text) override {
        boxes << text;
        if (whileBoxOpen) whileBoxOpen();
    }
    void RunCycle() override {
        ++cycles;
        if (duringCycle) duringCycle();
    }
    void Connect(int comPort) override {
        connects.push_back(comPort);
        State().connected = instrumentAnswers ? 1 : 0;
        State().portStatusText =
            "COM" + std::to_string(comPort) + (instrumentAnswers ? ":Ready" : ":Error");
        ShowValues();
    }
};

struct DialogFixture {
    QTemporaryDir dir;
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    PlotArea area;
    std::unique_ptr<CIniProfile> profile;
    std::unique_ptr<CTestDialog> dialog;

    QString ProfilePath() const { return dir.filePath(QStringLiteral("pelkor.INI")); }

    // Writes the profile's text, then starts a dialog over it.
    void Start(const QByteArray& ini = {}, bool instrumentAnswers = false) {
        if (!ini.isEmpty()) {
            QFile file(ProfilePath());
            file.open(QIODevice::WriteOnly);
            file.write(ini);
        }
        profile = std::make_unique<CIniProfile>(ProfilePath());
        dialog = std::make_unique<CTestDialog>(*state, area, *profile);
        dialog->instrumentAnswers = instrumentAnswers;
        dialog->OnInitDialog();
    }

    // Another read of the file, as the next start would see it.
    int Stored(const char* key, int missing = -12345) {
        CIniProfile fresh(ProfilePath());
        return fresh.ReadInt(kProfileSection, key, missing);
    }

    template <class T>
    T* Control(int id) const {
        return dialog->findChild<T*>(ControlName(id));
    }
};
