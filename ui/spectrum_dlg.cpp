#include "ui/spectrum_dlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QThread>

#include "analysis/analysis.h"
#include "comlink/port.h"
#include "measurement/export.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/plot_analyser.h"
#include "ui/port_watch.h"
#include "ui/qt_canvas.h"
#include "ui/readouts.h"
#include "ui/spectrogram_dlg.h"
#include "ui/serial_ports.h"
#include "ui/serial_ports_dlg.h"
#include "ui/up_down.h"
#include "ui/wheel_focus.h"

namespace {

constexpr int kClientWidth = 513;   // 342 DLU
constexpr int kClientHeight = 561;  // 345 DLU
// Drop-down lists: the template height includes the dropped list.
constexpr int kListClosedHeight = 21;

int CheckedIndex(const QButtonGroup* group) {
    const QList<QAbstractButton*> buttons = group->buttons();
    for (int i = 0; i < buttons.size(); ++i) {
        if (buttons[i]->isChecked()) return group->id(buttons[i]);
    }
    return -1;
}

// Selects button `index` of the group; any other value leaves none selected.
void CheckIndex(QButtonGroup* group, int index) {
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(group->id(button) == index);
    group->setExclusive(true);
}

// One up-down step from value, clamped to lo..hi. In 64 bits, so that a stored
// value at an end of int steps into the range instead of wrapping around.
int StepClamped(int value, int iDelta, int lo, int hi) {
    const long long next = static_cast<long long>(value) - iDelta;
    return static_cast<int>(std::clamp<long long>(next, lo, hi));
}

}  // namespace

QFont DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    // The template's font is narrower than DejaVu Sans; this keeps its texts in their boxes.
    font.setStretch(88);
    return font;
}

QString ControlName(int id) {
    return QStringLiteral("IDC_%1").arg(id);
}

CSpectrumDlg::CSpectrumDlg(MeasurementState& state, PlotArea& area, Profile& profile,
                           QWidget* parent)
    : QDialog(parent), state_(state), area_(area), profile_(profile), icon_(AppIcon()) {
    setObjectName(QStringLiteral("IDD_%1").arg(IDD_SPECTRUM_DIALOG));
    setWindowTitle(QStringLiteral("Pelkor"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setMouseTracking(true);

    dialogFont_ = DialogFont();
    setFont(dialogFont_);
    plotFont_ = QFont(QStringLiteral("DejaVu Sans"));
    plotFont_.setPixelSize(12);

    // The values the controls start with.
    state_.fundamentalText.clear();
    state_.amplitudeText.clear();
    state_.cursorText.clear();
    state_.portStatusText.clear();
    state_.thdText.clear();
    state_.markerText = kMarkerOffText;
    state_.runMode = 0;
    state_.averagingMode = 0;
    state_.channel = 4;
    state_.resolution = 0;
    state_.windowMode = 0;
    state_.thdEnabled = 1;
    state_.profile = &profile_;

    CreateControls();
    ConnectHandlers();
    analyser_ = new CPlotAnalyser(*this, state_, area_, profile_);
    new CPortWatch(this, state_, [this] { Connect(state_.comPort); });
    resize(kClientWidth, kClientHeight);
    // The controls hold these values from the start, so that a paint (which
    // reads the controls back) finds them even before initialisation.
    ShowValues();

    runTimer_.setTimerType(Qt::CoarseTimer);
    connect(&runTimer_, &QTimer::timeout, this, [this] { OnTimer(kRunTimerId); });
}

CSpectrumDlg::~CSpectrumDlg() {
    if (state_.profile == &profile_) state_.profile = nullptr;
}

void CSpectrumDlg::CreateControls() {
    auto place = [this](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setObjectName(id ? ControlName(id) : QStringLiteral("IDC_STATIC"));
        w->setGeometry(DluRect(x, y, cx, cy));
        controls_.push_back(w);
    };
    auto edit = [&](int id, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        e->setReadOnly(true);
        e->setFrame(true);
        e->setFocusPolicy(Qt::StrongFocus);
        // Read-only fields look like the dialog, as they do on Windows.
        QPalette palette = e->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        e->setPalette(palette);
        e->setTextMargins(0, 0, 0, 0);
        place(e, id, x, y, cx, cy);
        return e;
    };
    auto list = [&](int id, int x, int y, int cx, int cy) {
        auto* c = new QComboBox(this);
        c->setEditable(false);
        c->setFocusPolicy(Qt::StrongFocus);
        place(c, id, x, y, cx, cy);
        const int dropped = c->height();
        c->setMaxVisibleItems(std::max(1, (dropped - kListClosedHeight) / 16));
        c->resize(c->width(), kListClosedHeight);
        CWheelNeedsFocus::Install(c);
        return c;
    };
    auto radio = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* r = new QRadioButton(QString::fromLatin1(text), this);
        r->setFocusPolicy(Qt::ClickFocus);  // no tab stop
        r->setAutoExclusive(false);
        place(r, id, x, y, cx, cy);
        return r;
    };
    auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setFocusPolicy(Qt::StrongFocus);
        // The template has no default button: none is drawn as one, and Enter
        // on a focused button is handled in keyPressEvent.
        b->setAutoDefault(false);
        place(b, id, x, y, cx, cy);
        return b;
    };
    auto label = [&](const char* text, int x, int y, int cx, int cy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(l, 0, x, y, cx, cy);
        return l;
    };
    auto spin = [&](int id, int x, int y, int cx, int cy) {
        auto* s = new CUpDownCtrl(this);
        place(s, id, x, y, cx, cy);
        return s;
    };

    comPortSpin_ = spin(IDC_COMPORT_SPIN, 7, 13, 11, 14);
    portStatus_ = edit(IDC_PORT_STATUS, 21, 15, 51, 12);
    sampleCountList_ = list(IDC_SAMPLE_COUNT, 81, 15, 62, 109);
    channelEdit_ = edit(IDC_CHANNEL, 163, 15, 33, 12);
    sampleRateList_ = list(IDC_SAMPLE_RATE, 276, 15, 62, 109);
    bits8_ = radio(IDC_8BIT, "8-bit", 209, 16, 27, 10);
    bits10_ = radio(IDC_10BIT, "10-bit", 237, 16, 32, 10);
    fundamentalEdit_ = edit(IDC_FUNDAMENTAL, 7, 41, 45, 12);
    amplitudeEdit_ = edit(IDC_AMPLITUDE, 58, 41, 49, 12);
    thdEdit_ = edit(IDC_THD, 115, 41, 37, 12);
    thdEnable_ = new QCheckBox(QStringLiteral("Enable"), this);
    thdEnable_->setFocusPolicy(Qt::StrongFocus);
    place(thdEnable_, IDC_THD_ENABLE, 155, 43, 38, 10);
    cursorEdit_ = edit(IDC_CURSOR, 216, 41, 116, 12);
    markerEdit_ = edit(IDC_MARKER, 7, 68, 59, 12);
    markerOff_ = button(IDC_MARKER_OFF, "Off", 70, 68, 20, 13);
    avgOff_ = radio(IDC_AVG_OFF, "Off", 98, 69, 24, 10);
    avgOn_ = radio(IDC_AVG_ON, "On", 123, 69, 24, 10);
    clear_ = button(IDC_CLEAR, "Clear", 149, 66, 32, 13);
    avg10_ = radio(IDC_AVG_10, "10", 183, 69, 24, 10);
    stop_ = radio(IDC_STOP, "Stop", 216, 60, 28, 10);
    run_ = radio(IDC_RUN, "Run", 249, 60, 28, 10);
    singleConvert_ = button(IDC_SINGLE_CONVERT, "Single Convert", 215, 70, 59, 13);
    windowOn_ = radio(IDC_WINDOW_ON, "On", 284, 73, 24, 10);
    windowOff_ = radio(IDC_WINDOW_OFF, "Off", 314, 73, 24, 10);
    label("Number of Samples:", 80, 6, 65, 8);
    label("Fundamental:", 7, 32, 43, 8);
    label("Amplitude:", 59, 32, 46, 8);
    label("Cursor location data:", 220, 31, 69, 8);
    label("Marker Delta:", 7, 58, 46, 8);
    auto* averaging = new QGroupBox(QStringLiteral("Averaging"), this);
    place(averaging, 0, 95, 57, 114, 27);
    // Earlier controls lie above later ones, so the frame stays behind its buttons.
    averaging->lower();
    channelSpin_ = spin(IDC_CHANNEL_SPIN, 148, 13, 11, 14);
    label("A/D Channel", 163, 5, 45, 8);
    label("Sample Rate:", 274, 6, 45, 8);
    label("Port Status: ", 22, 6, 38, 8);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    place(progress_, IDC_PROGRESS, 7, 87, 331, 8);
    label("Harris Window", 286, 63, 52, 8);
    label("THD:", 115, 32, 46, 8);

    auto group = [this](std::initializer_list<QRadioButton*> buttons) {
        auto* g = new QButtonGroup(this);
        g->setExclusive(true);
        int index = 0;
        for (QRadioButton* b : buttons) g->addButton(b, index++);
        return g;
    };
    resolutionGroup_ = group({bits8_, bits10_});
    averagingGroup_ = group({avgOff_, avgOn_, avg10_});
    runGroup_ = group({stop_, run_});
    windowGroup_ = group({windowOn_, windowOff_});

    // The focus chain runs in template order over every control that can take
    // the focus, radio buttons included: left out, they would end up at the end
    // of the chain and Tab from one would jump to the first control.
    QWidget* previous = nullptr;
    for (QWidget* w : controls_) {
        if (w->focusPolicy() == Qt::NoFocus) continue;
        if (previous) setTabOrder(previous, w);
        previous = w;
    }
}

void CSpectrumDlg::ConnectHandlers() {
    connect(comPortSpin_, &CUpDownCtrl::deltaPos, this, &CSpectrumDlg::OnComPortSpin);
    connect(channelSpin_, &CUpDownCtrl::deltaPos, this, &CSpectrumDlg::OnChannelSpin);
    connect(sampleCountList_, &QComboBox::activated, this, [this] { OnSampleCountChange(); });
    connect(sampleRateList_, &QComboBox::activated, this, [this] { OnSampleRateChange(); });
    connect(singleConvert_, &QPushButton::clicked, this, &CSpectrumDlg::OnSingleConvert);
    connect(stop_, &QRadioButton::clicked, this, &CSpectrumDlg::OnStop);
    connect(run_, &QRadioButton::clicked, this, &CSpectrumDlg::OnRun);
    connect(markerOff_, &QPushButton::clicked, this, &CSpectrumDlg::OnMarkerOff);
    connect(avgOn_, &QRadioButton::clicked, this, &CSpectrumDlg::OnAveragingRestart);
    connect(avg10_, &QRadioButton::clicked, this, &CSpectrumDlg::OnAveragingRestart);
    connect(clear_, &QPushButton::clicked, this, &CSpectrumDlg::OnClear);
    connect(bits8_, &QRadioButton::clicked, this, &CSpectrumDlg::OnClear);
    connect(bits10_, &QRadioButton::clicked, this, &CSpectrumDlg::OnClear);
    connect(thdEnable_, &QCheckBox::clicked, this, &CSpectrumDlg::OnThdEnable);
}

int CSpectrumDlg::DoModal() {
    OnInitDialog();
    return exec();
}

bool CSpectrumDlg::OnInitDialog() {
    // The base initialisation moves the construction values into the controls.
    ShowValues();
    // The About entry lives in the context menu (and F1): see contextMenuEvent.
    setWindowIcon(icon_);

    area_.markerX = 0;
    area_.markerY = 0;
    area_.traceReady = false;
    state_.connected = 0;
    // Restart the averages over the whole capacity (the averaging count included).
    ComputeSpectrum(state_.samples, state_.spectrum, kMaxSamples, 1, true);

    setWindowTitle(QString::fromLatin1(kDialogTitle));

    sampleRateList_->clear();
    for (const SampleRateEntry& entry : SampleRateTable) {
        sampleRateList_->addItem(QString::fromLatin1(entry.label));
    }
    const int rateIndex =
        profile_.ReadInt(kProfileSection, kKeySampleRate, kDefaultSampleRateIndex);
    const bool rateValid = rateIndex >= 0 && rateIndex < kSampleRateCount;
    sampleRateList_->setCurrentIndex(rateValid ? rateIndex : -1);
    if (rateValid) state_.sampleRate = SampleRateTable[rateIndex].rate;

    sampleCountList_->clear();
    for (const SampleCountEntry& entry : SampleCountTable) {
        sampleCountList_->addItem(QString::fromLatin1(entry.label));
    }
    const int countIndex =
        profile_.ReadInt(kProfileSection, kKeySampleCount, kDefaultSampleCountIndex);
    const bool countValid = countIndex >= 0 && countIndex < kSampleCountCount;
    sampleCountList_->setCurrentIndex(countValid ? countIndex : -1);
    if (countValid) state_.sampleCount = SampleCountTable[countIndex].count;

    RefreshSettings();
    state_.channel = profile_.ReadInt(kProfileSection, kKeyChannel, kDefaultChannel);
    ShowValues();

    state_.comPort = profile_.ReadInt(kProfileSection, kKeyComPort, kDefaultComPort);
    Connect(state_.comPort);
    return true;
}

// ---- data exchange -------------------------------------------------------

void CSpectrumDlg::RefreshSettings() {
    state_.fundamentalText = fundamentalEdit_->text().toStdString();
    state_.amplitudeText = amplitudeEdit_->text().toStdString();
    state_.cursorText = cursorEdit_->text().toStdString();
    state_.runMode = CheckedIndex(runGroup_);
    state_.markerText = markerEdit_->text().toStdString();
    state_.averagingMode = CheckedIndex(averagingGroup_);
    bool ok = false;
    const int channel = channelEdit_->text().trimmed().toInt(&ok);
    if (ok) state_.channel = channel;
    state_.resolution = CheckedIndex(resolutionGroup_);
    state_.portStatusText = portStatus_->text().toStdString();
    state_.windowMode = CheckedIndex(windowGroup_);
    state_.thdText = thdEdit_->text().toStdString();
    state_.thdEnabled = thdEnable_->isChecked() ? 1 : 0;
}

void CSpectrumDlg::ShowValues() {
    auto setText = [](QLineEdit* e, const std::string& text) {
        const QString s = QString::fromStdString(text);
        if (e->text() == s) return;
        e->setText(s);
        // setText leaves the cursor at the end, and a text longer than the
        // field would then show only its tail ("961.0Hz" for "2961.0Hz").
        e->setCursorPosition(0);
    };
    setText(fundamentalEdit_, state_.fundamentalText);
    setText(amplitudeEdit_, state_.amplitudeText);
    setText(cursorEdit_, state_.cursorText);
    CheckIndex(runGroup_, state_.runMode);
    setText(markerEdit_, state_.markerText);
    CheckIndex(averagingGroup_, state_.averagingMode);
    setText(channelEdit_, std::to_string(state_.channel));
    CheckIndex(resolutionGroup_, state_.resolution);
    setText(portStatus_, state_.portStatusText);
    CheckIndex(windowGroup_, state_.windowMode);
    setText(thdEdit_, state_.thdText);
    thdEnable_->setChecked(state_.thdEnabled != 0);
    UpdatePortToolTip();
    // Paint what changed now, not when the loop next runs.
    if (isVisible()) QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
}

void CSpectrumDlg::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CSpectrumDlg::ResetProgress() {
    progress_->setRange(0, 100);
    progress_->setValue(0);
}

void CSpectrumDlg::SetProgress(int percent) {
    progress_->setValue(percent);
}

void CSpectrumDlg::MessageBox(const std::string& text) {
    ++boxesShown_;
    ++openBoxes_;
    ShowMessageBox(QString::fromStdString(text));
    --openBoxes_;
}

void CSpectrumDlg::ShowMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, this);
    // A window does not take its parent's font; the box speaks in the dialog's.
    box.setFont(font());
    box.exec();
}

int CSpectrumDlg::RateSelection() {
    return sampleRateList_->currentIndex();
}

void CSpectrumDlg::RepaintPlot() {
    const PlotRect& r = area_.plotRect;
    update(QRect(r.left, r.top, r.Width(), r.Height()));
}

void CSpectrumDlg::RunCycle() {
    SingleConvert(state_, *this);
}

void CSpectrumDlg::Connect(int comPort) {
    ConnectInstrument(state_, *this, comPort);
}

void CSpectrumDlg::UpdatePortToolTip() {
    // The status keeps its fixed text; which device and why it failed go here.
    QString tip;
    if (const CComPort* port = state_.port) {
        tip = QString::fromStdString(SerialPorts().Describe(state_.comPort, port->devicePath));
        if (port->osError != 0 && !port->osErrorText.empty()) {
            const QString reason = QString::fromStdString(port->osErrorText);
            // The reason usually names the device already.
            if (reason.contains(tip)) {
                tip = reason;
            } else {
                tip = tip.isEmpty() ? reason : tip + QLatin1Char('\n') + reason;
            }
        }
        if (!state_.portProblemText.empty()) {
            tip += QLatin1Char('\n') + QString::fromStdString(state_.portProblemText);
        }
    }
    if (portStatus_->toolTip() != tip) portStatus_->setToolTip(tip);
}

// ---- handlers ------------------------------------------------------------

void CSpectrumDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.setFont(font());
        about.exec();
    }
}

void CSpectrumDlg::OnPaint(QPainter& painter) {
    if (isMinimized()) {
        const QPixmap pixmap = icon_.pixmap(32, 32);
        painter.drawPixmap((width() - 32 + 1) / 2, (height() - 32 + 1) / 2, pixmap);
        return;
    }
    painter.setFont(plotFont_);
    CQtPlotCanvas canvas(painter);
    PaintPlot(
        canvas, PlotRect{0, 0, width(), height()}, state_, area_, [this] { RefreshSettings(); },
        analyser_->Layers());
}

void CSpectrumDlg::RunGuardedCycle() {
    if (!state_.connected) {
        MessageBox(kNoPortText);
        return;
    }
    if (state_.busy) return;
    state_.busy = 1;
    RunCycle();
    analyser_->OnSpectrumUpdated();
    state_.busy = 0;
}

void CSpectrumDlg::OnSingleConvert() {
    RunGuardedCycle();
}

void CSpectrumDlg::OnTimer(int /*id*/) {
    // A tick that finds an earlier tick's box still open waits for it to close.
    if (openBoxes_ > 0) return;
    const int boxesBefore = boxesShown_;
    RunGuardedCycle();
    // A box means this tick's cycle failed. The next tick would fail again and
    // reopen it within a few milliseconds of OK, so "Stop" could never be
    // reached: run mode ends here.
    if (boxesShown_ != boxesBefore) {
        runTimer_.stop();
        CheckIndex(runGroup_, 0);
        state_.runMode = 0;
    }
}

void CSpectrumDlg::OnStop() {
    runTimer_.stop();
}

void CSpectrumDlg::OnRun() {
    if (state_.connected) {
        runTimer_.start(kRunTimerPeriodMs);
    } else {
        MessageBox(kNoPortText);
    }
}

void CSpectrumDlg::OnClear() {
    if (!state_.connected) {
        MessageBox(kNoPortText);
        return;
    }
    ComputeSpectrum(state_.samples, state_.spectrum, state_.sampleCount, 1, true);
}

void CSpectrumDlg::OnAveragingRestart() {
    ComputeSpectrum(state_.samples, state_.spectrum, state_.sampleCount, 1, true);
}

void CSpectrumDlg::OnThdEnable() {
    RefreshSettings();
    state_.thdText = " ";
    ShowValues();
}

void CSpectrumDlg::OnChannelSpin(int iDelta) {
    RefreshSettings();
    state_.channel = StepClamped(state_.channel, iDelta, kMinChannel, kMaxChannel);
    ShowValues();
    profile_.WriteInt(kProfileSection, kKeyChannel, state_.channel);
}

void CSpectrumDlg::OnComPortSpin(int iDelta) {
    RefreshSettings();
    state_.comPort = StepClamped(state_.comPort, iDelta, kMinComPort, kMaxComPort);
    state_.portStatusText = "Testing...";
    ShowValues();
    Connect(state_.comPort);
}

void CSpectrumDlg::OnSampleCountChange() {
    const int index = sampleCountList_->currentIndex();
    if (index >= 0 && index < kSampleCountCount) state_.sampleCount = SampleCountTable[index].count;
    OnClear();
    profile_.WriteInt(kProfileSection, kKeySampleCount, index);
}

void CSpectrumDlg::OnSampleRateChange() {
    const int index = sampleRateList_->currentIndex();
    if (index >= 0 && index < kSampleRateCount) state_.sampleRate = SampleRateTable[index].rate;
    OnClear();
    profile_.WriteInt(kProfileSection, kKeySampleRate, index);
    update();
}

void CSpectrumDlg::OnMouseMove(QPoint point) {
    const std::optional<CursorReading> reading = analyser_->ReadCursor(point.x(), point.y());
    if (!reading) return;
    RefreshSettings();
    state_.cursorText = reading->cursorText;
    if (reading->markerText) state_.markerText = *reading->markerText;
    ShowValues();
}

void CSpectrumDlg::OnLButtonDown(QPoint point) {
    if (!InsidePlot(area_.plotRect, point.x(), point.y())) return;
    area_.markerX = point.x();
    area_.markerY = point.y();
    RepaintPlot();
}

void CSpectrumDlg::OnMarkerOff() {
    area_.markerX = 0;
    RepaintPlot();
    RefreshSettings();
    state_.markerText = kMarkerOffText;
    ShowValues();
}

void CSpectrumDlg::OnSize(int cx, int cy) {
    if (IsBelowMinimumSize(cx, cy) && !correctingSize_) {
        // The snap sets the outer size, frame and caption included.
        const int frameWidth = frameGeometry().width() - width();
        const int frameHeight = frameGeometry().height() - height();
        correctingSize_ = true;
        resize(kSnapOuterWidth - frameWidth, kSnapOuterHeight - frameHeight);
        correctingSize_ = false;
    }
    area_.markerX = 0;
    update();
}

void CSpectrumDlg::OnOK() {
    RefreshSettings();
    EndDialog(QDialog::Accepted);
}

void CSpectrumDlg::OnCancel() {
    runTimer_.stop();
    QThread::msleep(100);
    // The dialog ends here whether or not anything arrived during the pause;
    // nothing waiting is thrown away.
    OnOK();
}

void CSpectrumDlg::EndDialog(int result) {
    runTimer_.stop();
    ending_ = true;
    QDialog::done(result);
}

// ---- Qt events -----------------------------------------------------------

void CSpectrumDlg::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    OnPaint(painter);
}

void CSpectrumDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const PlotRect& r = area_.plotRect;
    if (p.x() < r.left || p.x() > r.right) return;
    OnMouseMove(p);
    QDialog::mouseMoveEvent(event);
}

void CSpectrumDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        if (!InsidePlot(area_.plotRect, p.x(), p.y())) return;
        OnLButtonDown(p);
    }
    QDialog::mousePressEvent(event);
}

void CSpectrumDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // A minimised window keeps its size and its marker.
    if (isMinimized()) return;
    OnSize(event->size().width(), event->size().height());
}

void CSpectrumDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromLatin1(kAboutMenuText));
    menu.addSeparator();
    QAction* csv = menu.addAction(QStringLiteral("Save spectrum as CSV…"));
    QAction* png = menu.addAction(QStringLiteral("Save plot as PNG…"));
    QAction* copy = menu.addAction(QStringLiteral("Copy measurements"));
    analyser_->AddMenuEntries(menu);
    QAction* spectrogram = menu.addAction(QStringLiteral("Spectrogram…"));
    menu.addSeparator();
    QAction* ports = menu.addAction(QStringLiteral("Serial ports…"));
    QAction* chosen = menu.exec(event->globalPos());
    QString error;
    if (chosen == about) {
        OnSysCommand(IDM_ABOUTBOX);
    } else if (chosen == csv) {
        const QString path = AskSavePath(csv->text(), QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty() && !SaveSpectrumCsv(path, &error)) MessageBox(error.toStdString());
    } else if (chosen == png) {
        const QString path = AskSavePath(png->text(), QStringLiteral("PNG images (*.png)"));
        if (!path.isEmpty() && !SavePlotPng(path, &error)) MessageBox(error.toStdString());
    } else if (chosen == copy) {
        CopyMeasurements();
    } else if (chosen == spectrogram) {
        OpenSpectrogram(this, state_, *this, [this] { analyser_->OnSpectrumUpdated(); });
    } else if (chosen == ports) {
        CSerialPortsDlg(SerialPorts(), this).exec();
    }
}

QString CSpectrumDlg::AskSavePath(const QString& title, const QString& filter) {
    QString caption = title;
    caption.remove(QChar(0x2026));
    return QFileDialog::getSaveFileName(this, caption, QString(), filter);
}

bool CSpectrumDlg::SaveSpectrumCsv(const QString& path, QString* error) {
    std::string why;
    if (WriteSpectrumCsv(state_, path.toStdString(), &why, analyser_->CsvColumns())) return true;
    if (error) *error = QString::fromStdString(why);
    return false;
}

bool CSpectrumDlg::SavePlotPng(const QString& path, QString* error) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!GrabPlot().save(&buffer, "PNG")) {
        if (error) *error = QStringLiteral("cannot encode the plot as PNG for %1").arg(path);
        return false;
    }
    std::string why;
    if (WriteFileAtomically(path.toStdString(), png.toStdString(), &why)) return true;
    if (error) *error = QString::fromStdString(why);
    return false;
}

void CSpectrumDlg::CopyMeasurements() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(FormatMeasurements(state_)));
}

void CSpectrumDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_F1:
            OnSysCommand(IDM_ABOUTBOX);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter is the focused push button's command, otherwise command 1.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                button->click();
                return;
            }
            OnOK();
            return;
        case Qt::Key_Escape:
            OnCancel();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CSpectrumDlg::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    event->ignore();
    OnCancel();
}

void CSpectrumDlg::accept() {
    OnOK();
}

void CSpectrumDlg::reject() {
    OnCancel();
}

QImage CSpectrumDlg::GrabPlot() {
    // From just below the progress bar to the bottom: labels and marks included.
    const int top = DluToPixelsY(87 + 8) + 2;
    return grab(QRect(0, top, width(), height() - top)).toImage();
}
