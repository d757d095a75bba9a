// The analyser additions of the dialog: the Distortion window, harmonic
// markers, trace holds and zoom. It reaches the dialog through a few hooks (the
// paint layers, the call after each spectrum, the cursor reading, the CSV
// columns and the context menu), filters the dialog's mouse for zoom, and keeps
// its state in the profile section "Analyser".
#pragma once

#include <QAction>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <optional>
#include <vector>

#include "analysis/metrics.h"
#include "measurement/measurement.h"
#include "ui/plot.h"
#include "ui/plot_zoom.h"
#include "ui/readouts.h"
#include "ui/trace_holds.h"

class QMenu;
class QWidget;
#include "ui/distortion_window.h"

inline constexpr const char* kAnalyserSection = "Analyser";

class CPlotAnalyser final : public QObject {
    Q_OBJECT
  public:
    // dialog: the window that paints the plot and gets the mouse. Reads the
    // section "Analyser" of profile now; writes it as the state changes.
    CPlotAnalyser(QWidget& dialog, MeasurementState& state, PlotArea& area, Profile& profile);
    ~CPlotAnalyser() override;

    // Call after every new spectrum in state (a measurement cycle, a streamed
    // block): the holds take it, the harmonic markers and the Distortion window
    // follow the last transformed block.
    void OnSpectrumUpdated();

    // The layers for the next paint (the default view adds holds, markers and
    // legend only; a zoomed view draws scales, trace and marks too).
    const PlotLayers* Layers();
    // The cursor reading at (x, y) on the scales shown.
    std::optional<CursorReading> ReadCursor(int x, int y) const;
    // Extra CSV columns: the holds shown.
    std::vector<CsvColumn> CsvColumns() const;
    // The analyser's entries at the end of the context menu.
    void AddMenuEntries(QMenu& menu);

    // For tests and scripting.
    const PlotView& View() const { return view_; }
    void SetView(const PlotView& view);
    void ResetZoom();
    const CTraceHolds& Holds() const { return holds_; }
    CDistortionWindow* DistortionWindow() const { return window_; }
    void ShowDistortionWindow();
    QAction* Action(const QString& objectName) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QAction* AddAction(const QString& text, const char* name, const QKeySequence& key,
                       bool checkable);
    void Restore();
    void SaveFlag(const char* key, bool on);
    void SaveView();
    void SetHold(HoldKind kind, bool on);
    void Repaint();
    int HalfCount() const { return state_.sampleCount / 2; }
    bool InFrame(QPoint p) const;

    QWidget& dialog_;
    MeasurementState& state_;
    PlotArea& area_;
    Profile& profile_;
    CTraceHolds holds_;
    PlotView view_;
    DistortionMetrics metrics_;  // of the last spectrum, for the markers
    int metricsCount_ = 0;       // the sample count they were computed for
    QPointer<CDistortionWindow> window_;
    PlotLayers layers_;
    QTimer saveViewTimer_;

    bool dragging_ = false;
    bool forwarding_ = false;
    QPoint dragFrom_;
    QPoint dragTo_;

    QAction* distortion_ = nullptr;
    QAction* markers_ = nullptr;
    QAction* maxHold_ = nullptr;
    QAction* minHold_ = nullptr;
    QAction* freeze_ = nullptr;
    QAction* clearMax_ = nullptr;
    QAction* clearMin_ = nullptr;
    QAction* clearReference_ = nullptr;
    QAction* zoomMode_ = nullptr;
    QAction* resetZoom_ = nullptr;
};
