// The spectrogram window: a non-modal window, opened from the dialog's context
// menu, that streams from the instrument and draws every block's spectrum as a
// line of a waterfall (time down, frequency across, colour the level), with a
// colour bar, a cursor readout and a recorder of the raw stream.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "measurement/stream.h"
#include "measurement/stream_file.h"
#include "ui/spectrogram_map.h"

class QComboBox;
class QLabel;
class QPushButton;

// The waterfall, its scales and the colour bar.
class CSpectrogramView : public QWidget {
    Q_OBJECT
  public:
    explicit CSpectrogramView(QWidget* parent = nullptr);

    void Reset(int entries, int sampleRate);
    void AddLine(double time, const double* levels, int entries);
    const CSpectrogramHistory& History() const { return history_; }
    // The waterfall's rectangle in the widget.
    QRect WaterfallRect() const;
    // The readout at a point of the widget, empty outside the lines drawn.
    QString ReadoutAt(QPoint point) const;

  signals:
    void readout(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void PaintRow(int row, int age);
    void Rebuild();

    CSpectrogramHistory history_;
    int sampleRate_ = 0;
    QImage image_;  // the waterfall at its on-screen size, newest line on top
};

class CSpectrogramDlg : public QDialog, public StreamListener {
    Q_OBJECT
  public:
    // ui is the main dialog (its settings, plot and message boxes); state the
    // shared record. The window streams on state.link while it is open.
    CSpectrogramDlg(MeasurementState& state, MeasurementUi& ui, QWidget* parent = nullptr);
    // Called after each poll that analysed new blocks (the plot's followers).
    std::function<void()> onSpectrum;
    ~CSpectrogramDlg() override;

    void StartStream();
    void StopStream();
    bool Streaming() const { return stream_ && stream_->Running(); }
    // Starts recording into path (from the next samples on); false with *error.
    bool StartRecording(const QString& path, QString* error);
    void StopRecording();
    bool Recording() const { return recorder_.Recording(); }

    CSpectrogramView* View() const { return view_; }
    QString StatusText() const;
    CStream* Stream() const { return stream_.get(); }

    // StreamListener
    void OnStreamBytes(const unsigned char* bytes, int count) override;
    void OnStreamBlock(long long index, long long firstSample) override;

  protected:
    // Where to record; empty when the operator cancels. Tests answer it.
    virtual QString AskRecordPath();
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnPollTick();
    void OnRecord();
    void Ended();
    void UpdateStatus();

    MeasurementState& state_;
    MeasurementUi& ui_;
    std::unique_ptr<CStream> stream_;
    CStreamRecorder recorder_;
    QElapsedTimer recordClock_;
    CSpectrogramView* view_ = nullptr;
    QPushButton* startStop_ = nullptr;
    QPushButton* record_ = nullptr;
    QComboBox* overlap_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* readout_ = nullptr;
    QTimer pollTimer_;
    QTimer frameTimer_;
};

// Shows the spectrogram window of dialog, creating it on first use; onSpectrum
// runs after every poll that brought new blocks.
CSpectrogramDlg* OpenSpectrogram(QWidget* dialog, MeasurementState& state, MeasurementUi& ui,
                                 std::function<void()> onSpectrum = {});
