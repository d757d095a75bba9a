#include "ui/plot_analyser.h"

#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <cmath>
#include <cstdlib>

#include "analysis/analysis.h"
#include "ui/distortion_window.h"
#include "ui/harmonic_markers.h"

namespace {

constexpr const char* kKeyWindow = "DistortionWindow";
constexpr const char* kKeyMarkers = "HarmonicMarkers";
constexpr const char* kKeyMaxHold = "MaxHold";
constexpr const char* kKeyMinHold = "MinHold";
constexpr const char* kKeyZoomMode = "ZoomMode";
// The view as whole numbers: fractions in millionths, levels in hundredths of a dB.
constexpr const char* kKeyZoomFrom = "ZoomFrom";
constexpr const char* kKeyZoomTo = "ZoomTo";
constexpr const char* kKeyZoomTop = "ZoomTop";
constexpr const char* kKeyZoomBottom = "ZoomBottom";
constexpr double kFractionUnit = 1e6;
constexpr double kLevelUnit = 100.0;
// A wheel notch shows this share of the span.
constexpr double kWheelFactor = 0.8;
// Many wheel steps in a row make one profile save.
constexpr int kSaveViewDelayMs = 500;

constexpr PlotColor kRubberBandColor{0, 0, 0};

bool HasTransformedBlock(const MeasurementState& state) {
    return LastPowerSpectrum() != nullptr && LastPowerSpectrumSize() == state.sampleCount / 2 + 1;
}

}  // namespace

CPlotAnalyser::CPlotAnalyser(QWidget& dialog, MeasurementState& state, PlotArea& area,
                             Profile& profile)
    : QObject(&dialog), dialog_(dialog), state_(state), area_(area), profile_(profile) {
    distortion_ = AddAction(QStringLiteral("Distortion\u2026"), "actionDistortion",
                            QKeySequence(Qt::CTRL | Qt::Key_D), false);
    markers_ = AddAction(QStringLiteral("Harmonic markers"), "actionHarmonicMarkers",
                         QKeySequence(Qt::CTRL | Qt::Key_H), true);
    maxHold_ = AddAction(QStringLiteral("Max hold"), "actionMaxHold",
                         QKeySequence(Qt::CTRL | Qt::Key_M), true);
    minHold_ = AddAction(QStringLiteral("Min hold"), "actionMinHold",
                         QKeySequence(Qt::CTRL | Qt::Key_N), true);
    freeze_ = AddAction(QStringLiteral("Freeze as reference"), "actionFreezeReference",
                        QKeySequence(Qt::CTRL | Qt::Key_R), false);
    clearMax_ = AddAction(QStringLiteral("Clear max hold"), "actionClearMaxHold",
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), false);
    clearMin_ = AddAction(QStringLiteral("Clear min hold"), "actionClearMinHold",
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), false);
    clearReference_ = AddAction(QStringLiteral("Clear reference"), "actionClearReference",
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), false);
    zoomMode_ = AddAction(QStringLiteral("Zoom mode"), "actionZoomMode",
                          QKeySequence(Qt::CTRL | Qt::Key_Z), true);
    resetZoom_ = AddAction(QStringLiteral("Reset zoom"), "actionResetZoom",
                           QKeySequence(Qt::CTRL | Qt::Key_0), false);

    connect(distortion_, &QAction::triggered, this, &CPlotAnalyser::ShowDistortionWindow);
    connect(markers_, &QAction::toggled, this, [this](bool on) {
        SaveFlag(kKeyMarkers, on);
        Repaint();
    });
    connect(maxHold_, &QAction::toggled, this, [this](bool on) { SetHold(HoldKind::kMax, on); });
    connect(minHold_, &QAction::toggled, this, [this](bool on) { SetHold(HoldKind::kMin, on); });
    connect(freeze_, &QAction::triggered, this, [this] {
        if (!HasTransformedBlock(state_)) return;
        holds_.FreezeReference(state_.spectrum, state_.sampleCount, state_.sampleRate);
        Repaint();
    });
    auto clear = [this](HoldKind kind) {
        holds_.Clear(kind);
        if (kind != HoldKind::kReference && holds_.Enabled(kind) && HasTransformedBlock(state_)) {
            holds_.Accumulate(state_.spectrum, state_.sampleCount, state_.sampleRate);
        }
        Repaint();
    };
    connect(clearMax_, &QAction::triggered, this, [clear] { clear(HoldKind::kMax); });
    connect(clearMin_, &QAction::triggered, this, [clear] { clear(HoldKind::kMin); });
    connect(clearReference_, &QAction::triggered, this, [clear] { clear(HoldKind::kReference); });
    connect(zoomMode_, &QAction::toggled, this, [this](bool on) {
        SaveFlag(kKeyZoomMode, on);
        dialog_.setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
    });
    connect(resetZoom_, &QAction::triggered, this, &CPlotAnalyser::ResetZoom);

    saveViewTimer_.setSingleShot(true);
    saveViewTimer_.setInterval(kSaveViewDelayMs);
    connect(&saveViewTimer_, &QTimer::timeout, this, &CPlotAnalyser::SaveView);

    Restore();
    dialog_.installEventFilter(this);
}

CPlotAnalyser::~CPlotAnalyser() {
    if (saveViewTimer_.isActive()) SaveView();
}

QAction* CPlotAnalyser::AddAction(const QString& text, const char* name, const QKeySequence& key,
                                  bool checkable) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setCheckable(checkable);
    dialog_.addAction(action);
    return action;
}

QAction* CPlotAnalyser::Action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void CPlotAnalyser::Restore() {
    auto flag = [this](const char* key) { return profile_.ReadInt(kAnalyserSection, key, 0) != 0; };
    // The toggles' handlers compare with the profile before writing: nothing is re-saved.
    markers_->setChecked(flag(kKeyMarkers));
    maxHold_->setChecked(flag(kKeyMaxHold));
    minHold_->setChecked(flag(kKeyMinHold));
    zoomMode_->setChecked(flag(kKeyZoomMode));
    PlotView v;
    v.fromFraction = profile_.ReadInt(kAnalyserSection, kKeyZoomFrom, 0) / kFractionUnit;
    v.toFraction = profile_.ReadInt(kAnalyserSection, kKeyZoomTo, static_cast<int>(kFractionUnit)) /
                   kFractionUnit;
    v.topDb =
        profile_.ReadInt(kAnalyserSection, kKeyZoomTop, static_cast<int>(kFullTopDb * kLevelUnit)) /
        kLevelUnit;
    v.bottomDb = profile_.ReadInt(kAnalyserSection, kKeyZoomBottom,
                                  static_cast<int>(kFullBottomDb * kLevelUnit)) /
                 kLevelUnit;
    // Whatever the file says, the view ends up inside the fixed scale.
    view_ = ClampView(v, HalfCount());
    resetZoom_->setEnabled(!view_.IsDefault());
}

void CPlotAnalyser::SaveFlag(const char* key, bool on) {
    if (profile_.ReadInt(kAnalyserSection, key, 0) != (on ? 1 : 0)) {
        profile_.WriteInt(kAnalyserSection, key, on ? 1 : 0);
    }
}

void CPlotAnalyser::SaveView() {
    saveViewTimer_.stop();
    auto save = [this](const char* key, double value, double defaultValue) {
        const int stored = static_cast<int>(std::lround(value));
        if (profile_.ReadInt(kAnalyserSection, key, static_cast<int>(defaultValue)) != stored) {
            profile_.WriteInt(kAnalyserSection, key, stored);
        }
    };
    save(kKeyZoomFrom, view_.fromFraction * kFractionUnit, 0);
    save(kKeyZoomTo, view_.toFraction * kFractionUnit, kFractionUnit);
    save(kKeyZoomTop, view_.topDb * kLevelUnit, kFullTopDb * kLevelUnit);
    save(kKeyZoomBottom, view_.bottomDb * kLevelUnit, kFullBottomDb * kLevelUnit);
}

void CPlotAnalyser::SetHold(HoldKind kind, bool on) {
    holds_.SetEnabled(kind, on);
    if (on && HasTransformedBlock(state_)) {
        holds_.Accumulate(state_.spectrum, state_.sampleCount, state_.sampleRate);
    }
    SaveFlag(kind == HoldKind::kMax ? kKeyMaxHold : kKeyMinHold, on);
    Repaint();
}

void CPlotAnalyser::Repaint() {
    dialog_.update();
}

void CPlotAnalyser::OnSpectrumUpdated() {
    const int n = state_.sampleCount;
    holds_.Accumulate(state_.spectrum, n, state_.sampleRate);
    metrics_ = ComputeDistortionMetrics(state_);
    metricsCount_ = n;
    if (window_ && window_->isVisible()) window_->ShowMetrics(metrics_, state_.sampleRate, n);
}

void CPlotAnalyser::ShowDistortionWindow() {
    const bool created = !window_;
    if (created) {
        window_ = new CDistortionWindow(&dialog_);
        window_->installEventFilter(this);
    }
    window_->ShowMetrics(ComputeDistortionMetrics(state_), state_.sampleRate, state_.sampleCount);
    if (created) {
        window_->adjustSize();
        // Beside the dialog, to its right, top edges level.
        window_->move(dialog_.frameGeometry().topRight() + QPoint(8, 0));
    }
    window_->show();
    window_->raise();
    SaveFlag(kKeyWindow, true);
}

void CPlotAnalyser::SetView(const PlotView& view) {
    const PlotView next = ClampView(view, HalfCount());
    if (next == view_) return;
    RemapMarker(area_, view_, next);
    view_ = next;
    resetZoom_->setEnabled(!view_.IsDefault());
    saveViewTimer_.start();
    // Labels lie outside the frame: the whole client area.
    Repaint();
}

void CPlotAnalyser::ResetZoom() {
    SetView(PlotView{});
}

const PlotLayers* CPlotAnalyser::Layers() {
    layers_ = PlotLayers{};
    const int h = HalfCount();
    auto mapping = [this, h](const PlotRect& r) {
        return CPlotMapping(r, view_, state_.sampleRate, h);
    };
    if (!view_.IsDefault()) {
        layers_.scales = [mapping](CPlotCanvas& c, const PlotRect& r) {
            DrawZoomScales(c, mapping(r));
        };
        layers_.trace = [this, mapping, h](CPlotCanvas& c, const PlotRect& r) {
            DrawLevels(c, mapping(r), state_.spectrum, h);
        };
        layers_.marks = [this, mapping](CPlotCanvas& c, const PlotRect& r) {
            DrawZoomMarks(c, mapping(r), state_);
        };
    }
    if (holds_.AnyShown(state_.sampleCount, state_.sampleRate)) {
        layers_.underTrace = [this, mapping](CPlotCanvas& c, const PlotRect& r) {
            DrawHolds(c, mapping(r), holds_, state_.sampleCount);
        };
    }
    layers_.overlay = [this, mapping](CPlotCanvas& c, const PlotRect& r) {
        if (markers_->isChecked() && metricsCount_ == state_.sampleCount) {
            DrawHarmonicNumbers(c, mapping(r), metrics_, state_.spectrum);
        }
        DrawHoldLegend(c, r, holds_, state_.sampleCount, state_.sampleRate);
        if (dragging_) {
            const PlotColor previous = c.SelectPen(kRubberBandColor);
            const QRect band = QRect(dragFrom_, dragTo_).normalized();
            c.MoveTo(band.left(), band.top());
            c.LineTo(band.right(), band.top());
            c.LineTo(band.right(), band.bottom());
            c.LineTo(band.left(), band.bottom());
            c.LineTo(band.left(), band.top());
            c.SelectPen(previous);
        }
    };
    return &layers_;
}

std::optional<CursorReading> CPlotAnalyser::ReadCursor(int x, int y) const {
    return ReadCursorInView(area_, view_, state_.sampleRate, x, y);
}

std::vector<CsvColumn> CPlotAnalyser::CsvColumns() const {
    return HoldCsvColumns(holds_, state_.sampleCount, state_.sampleRate);
}

void CPlotAnalyser::AddMenuEntries(QMenu& menu) {
    menu.addSeparator();
    menu.addAction(distortion_);
    menu.addAction(markers_);
    QMenu* holds = menu.addMenu(QStringLiteral("Trace holds"));
    holds->addAction(maxHold_);
    holds->addAction(minHold_);
    holds->addAction(freeze_);
    holds->addSeparator();
    holds->addAction(clearMax_);
    holds->addAction(clearMin_);
    holds->addAction(clearReference_);
    menu.addAction(zoomMode_);
    menu.addAction(resetZoom_);
}

bool CPlotAnalyser::InFrame(QPoint p) const {
    return InsidePlot(area_.plotRect, p.x(), p.y());
}

bool CPlotAnalyser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) {
        SaveFlag(kKeyWindow, false);
        return false;
    }
    if (watched != &dialog_ || forwarding_) return false;
    switch (event->type()) {
        case QEvent::Show:
            if (!window_ && profile_.ReadInt(kAnalyserSection, kKeyWindow, 0) != 0) {
                // Once the dialog has its place, so the window can go beside it.
                QTimer::singleShot(0, this, &CPlotAnalyser::ShowDistortionWindow);
            }
            return false;
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            const QPoint p = e->position().toPoint();
            const bool zoomDrag =
                zoomMode_->isChecked() || (e->modifiers() & Qt::ShiftModifier) != 0;
            if (e->button() != Qt::LeftButton || !zoomDrag || !InFrame(p)) return false;
            dragging_ = true;
            dragFrom_ = dragTo_ = p;
            return true;
        }
        case QEvent::MouseMove: {
            if (!dragging_) return false;
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            const PlotRect& r = area_.plotRect;
            dragTo_ =
                QPoint(std::clamp(p.x(), r.left, r.right), std::clamp(p.y(), r.top, r.bottom));
            Repaint();
            return false;  // the cursor readout goes on
        }
        case QEvent::MouseButtonRelease: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (!dragging_ || e->button() != Qt::LeftButton) return false;
            dragging_ = false;
            if (std::abs(dragTo_.x() - dragFrom_.x()) >= 4 ||
                std::abs(dragTo_.y() - dragFrom_.y()) >= 4) {
                SetView(ZoomToPixels(view_, area_.plotRect, dragFrom_.x(), dragFrom_.y(),
                                     dragTo_.x(), dragTo_.y(), HalfCount()));
            } else {
                // No rectangle: the click it was, which sets the marker.
                forwarding_ = true;
                QMouseEvent click(QEvent::MouseButtonPress, QPointF(dragFrom_),
                                  dialog_.mapToGlobal(QPointF(dragFrom_)), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(&dialog_, &click);
                forwarding_ = false;
            }
            Repaint();
            return true;
        }
        case QEvent::MouseButtonDblClick: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() != Qt::LeftButton || !InFrame(e->position().toPoint())) return false;
            ResetZoom();
            return true;
        }
        case QEvent::Wheel: {
            auto* e = static_cast<QWheelEvent*>(event);
            const QPoint p = e->position().toPoint();
            const int delta = e->angleDelta().y();
            if (!InFrame(p) || delta == 0) return false;
            SetView(ZoomAround(view_, area_.plotRect, p.x(), p.y(),
                               std::pow(kWheelFactor, delta / 120.0), HalfCount()));
            return true;
        }
        default:
            return false;
    }
}
