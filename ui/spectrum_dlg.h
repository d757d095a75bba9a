// The main dialog (template 102): 36 controls bound to MeasurementState, the
// handlers that drive connection, measurement, averaging and the run timer,
// and the plot with its readouts below the controls.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <string>
#include <vector>

#include "measurement/measurement.h"
#include "ui/plot.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class CUpDownCtrl;
class CPlotAnalyser;

// Control ids of template 102, kept as the controls' object names ("IDC_1072").
enum ControlId : int {
    IDC_COMPORT_SPIN = 1010,
    IDC_PORT_STATUS = 1037,
    IDC_SAMPLE_COUNT = 1011,
    IDC_CHANNEL = 1035,
    IDC_SAMPLE_RATE = 1012,
    IDC_8BIT = 1006,
    IDC_10BIT = 1007,
    IDC_FUNDAMENTAL = 1030,
    IDC_AMPLITUDE = 1031,
    IDC_THD = 1032,
    IDC_THD_ENABLE = 1054,
    IDC_CURSOR = 1036,
    IDC_MARKER = 1034,
    IDC_MARKER_OFF = 1074,
    IDC_AVG_OFF = 1004,
    IDC_AVG_ON = 1005,
    IDC_CLEAR = 1075,
    IDC_AVG_10 = 1015,
    IDC_STOP = 1002,
    IDC_RUN = 1003,
    IDC_SINGLE_CONVERT = 1072,
    IDC_WINDOW_ON = 1008,
    IDC_WINDOW_OFF = 1014,
    IDC_CHANNEL_SPIN = 1009,
    IDC_PROGRESS = 1013,
};

inline constexpr int IDD_SPECTRUM_DIALOG = 102;
inline constexpr int IDM_ABOUTBOX = 16;  // system-menu command of the About box
inline constexpr int kRunTimerId = 100;
inline constexpr int kRunTimerPeriodMs = 100;
inline constexpr const char* kAboutMenuText = "&About Pelkor...";  // string 101
inline constexpr const char* kDialogTitle = "Kyv FFT Ap V1.0 ";
inline constexpr const char* kNoPortText = "Please select a valid COM port";

// Object name of a control id: "IDC_1072".
QString ControlName(int id);

// The templates' 8-point font as this system draws it; the dialog and every
// box it opens use it.
QFont DialogFont();

class CSpectrumDlg : public QDialog, public MeasurementUi {
    Q_OBJECT
  public:
    CSpectrumDlg(MeasurementState& state, PlotArea& area, Profile& profile,
                 QWidget* parent = nullptr);
    ~CSpectrumDlg() override;

    // OnInitDialog, then the modal loop; the dialog's result.
    int DoModal();
    bool OnInitDialog();

    // MeasurementUi
    void RefreshSettings() override;
    void ShowValues() override;
    void PumpMessages() override;
    void ResetProgress() override;
    void SetProgress(int percent) override;
    void MessageBox(const std::string& text) override;
    int RateSelection() override;
    void RepaintPlot() override;

    // Message handlers, connected to their controls' signals and events.
    void OnSysCommand(int id);
    void OnPaint(QPainter& painter);
    void OnSingleConvert();
    void OnSampleCountChange();
    void OnMouseMove(QPoint point);
    void OnTimer(int id);
    void OnStop();
    void OnRun();
    void OnSize(int cx, int cy);
    void OnLButtonDown(QPoint point);
    void OnMarkerOff();
    void OnAveragingRestart();
    void OnClear();
    void OnChannelSpin(int iDelta);
    void OnSampleRateChange();
    void OnComPortSpin(int iDelta);
    void OnThdEnable();
    void OnOK();
    void OnCancel();

    // The 36 controls in template (tab) order.
    const std::vector<QWidget*>& TemplateControls() const { return controls_; }
    bool RunTimerActive() const { return runTimer_.isActive(); }
    int RunTimerInterval() const { return runTimer_.interval(); }
    // The plot as drawn (frame, scales and everything painted around them).
    QImage GrabPlot();
    QFont PlotFont() const { return plotFont_; }
    // Distortion window, holds, harmonic markers and zoom.
    CPlotAnalyser& Analyser() { return *analyser_; }

    // The exports of the context menu. A failed save says why in *error and
    // leaves no file (and no half-written one) at path.
    bool SaveSpectrumCsv(const QString& path, QString* error);
    bool SavePlotPng(const QString& path, QString* error);
    void CopyMeasurements();

  protected:
    MeasurementState& State() { return state_; }
    // The modal box itself; tests replace it.
    virtual void ShowMessageBox(const QString& text);
    // One measurement cycle and one connection attempt; tests replace them.
    virtual void RunCycle();
    virtual void Connect(int comPort);
    // Where to save; empty when the operator cancels. Tests answer it.
    virtual QString AskSavePath(const QString& title, const QString& filter);

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  public slots:
    void accept() override;  // command 1
    void reject() override;  // command 2

  private:
    void CreateControls();
    void ConnectHandlers();
    void RunGuardedCycle();
    void UpdatePortToolTip();
    void EndDialog(int result);

    MeasurementState& state_;
    PlotArea& area_;
    Profile& profile_;
    QIcon icon_;
    QFont dialogFont_;
    QFont plotFont_;
    QTimer runTimer_;
    int openBoxes_ = 0;
    int boxesShown_ = 0;  // every box so far, to tell whether a tick showed one
    bool ending_ = false;
    bool correctingSize_ = false;
    std::vector<QWidget*> controls_;
    CPlotAnalyser* analyser_ = nullptr;

    CUpDownCtrl* comPortSpin_ = nullptr;
    QLineEdit* portStatus_ = nullptr;
    QComboBox* sampleCountList_ = nullptr;
    QLineEdit* channelEdit_ = nullptr;
    QComboBox* sampleRateList_ = nullptr;
    QRadioButton* bits8_ = nullptr;
    QRadioButton* bits10_ = nullptr;
    QLineEdit* fundamentalEdit_ = nullptr;
    QLineEdit* amplitudeEdit_ = nullptr;
    QLineEdit* thdEdit_ = nullptr;
    QCheckBox* thdEnable_ = nullptr;
    QLineEdit* cursorEdit_ = nullptr;
    QLineEdit* markerEdit_ = nullptr;
    QPushButton* markerOff_ = nullptr;
    QRadioButton* avgOff_ = nullptr;
    QRadioButton* avgOn_ = nullptr;
    QPushButton* clear_ = nullptr;
    QRadioButton* avg10_ = nullptr;
    QRadioButton* stop_ = nullptr;
    QRadioButton* run_ = nullptr;
    QPushButton* singleConvert_ = nullptr;
    QRadioButton* windowOn_ = nullptr;
    QRadioButton* windowOff_ = nullptr;
    CUpDownCtrl* channelSpin_ = nullptr;
    QProgressBar* progress_ = nullptr;

    QButtonGroup* runGroup_ = nullptr;
    QButtonGroup* averagingGroup_ = nullptr;
    QButtonGroup* resolutionGroup_ = nullptr;
    QButtonGroup* windowGroup_ = nullptr;
};
