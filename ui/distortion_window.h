// The "Distortion" window: the figures of `pelkor-measure --metrics` for the
// newest block, beside the dialog, with a "Copy" button. Non-modal.
#pragma once

#include <QWidget>
#include <utility>
#include <vector>

#include "analysis/metrics.h"

class QLabel;
class QPushButton;
class QTableWidget;

class CDistortionWindow final : public QWidget {
    Q_OBJECT
  public:
    explicit CDistortionWindow(QWidget* parent = nullptr);

    // Shows the figures of m, a block of n samples at sampleRate. The one entry
    // point for every source of spectra (the dialog's cycle, streaming).
    void ShowMetrics(const DistortionMetrics& m, int sampleRate, int n);

    // What "Copy" puts on the clipboard.
    QString Text() const { return text_; }
    // The shown value of a figure ("THD(2..10)", ..., "SFDR"), of the fundamental
    // ("Frequency", "Level"), or empty when there is no such row.
    QString Value(const QString& name) const;
    // Harmonic table cell: row 0 is harmonic 2; columns order, frequency, dBc, %.
    QString HarmonicCell(int row, int column) const;

    void Copy();

  private:
    QTableWidget* harmonics_ = nullptr;
    QPushButton* copy_ = nullptr;
    QString text_;
    std::vector<std::pair<QString, QLabel*>> values_;
};
