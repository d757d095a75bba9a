#include "ui/spectrogram_dlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

namespace {

constexpr int kPollMs = 20;   // reads the stream: well inside the port's queue
constexpr int kFrameMs = 33;  // 30 frames a second
constexpr int kLeft = 58, kRight = 70, kTop = 8, kBottom = 22;  // margins of the waterfall
constexpr int kBarWidth = 16;

QRgb ToQRgb(const CRgb& c) {
    return qRgb(c.r, c.g, c.b);
}

QString Megabytes(long long bytes) {
    return QString::number(static_cast<double>(bytes) / 1e6, 'f', 2) + QStringLiteral(" MB");
}

QString Clock(qint64 ms) {
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

CSpectrogramView::CSpectrogramView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(520, 320);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect CSpectrogramView::WaterfallRect() const {
    return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight),
                 std::max(1, height() - kTop - kBottom));
}

void CSpectrogramView::Reset(int entries, int sampleRate) {
    sampleRate_ = sampleRate;
    history_.Reset(entries, sampleRate);
    Rebuild();
    update();
}

void CSpectrogramView::PaintRow(int row, int age) {
    auto* line = reinterpret_cast<QRgb*>(image_.scanLine(row));
    const int w = image_.width();
    if (age >= history_.Size()) {
        std::fill(line, line + w, qRgb(0, 0, 0));
        return;
    }
    const float* values = history_.Line(age);
    const int columns = history_.Columns();
    for (int x = 0; x < w; ++x) {
        // The highest column under the pixel, so narrow peaks stay visible.
        const int first = x * columns / w;
        const int last = std::max(first + 1, (x + 1) * columns / w);
        float v = values[first];
        for (int c = first + 1; c < last; ++c) v = std::max(v, values[c]);
        line[x] = ToQRgb(SpectrogramColour(v));
    }
}

void CSpectrogramView::Rebuild() {
    const QRect r = WaterfallRect();
    image_ = QImage(r.size(), QImage::Format_RGB32);
    for (int y = 0; y < image_.height(); ++y) PaintRow(y, y);
}

void CSpectrogramView::AddLine(double time, const double* levels, int entries) {
    history_.Add(time, levels, entries);
    if (image_.isNull()) return;
    // Time runs down: everything moves one row down and the new line goes on top.
    const qsizetype stride = image_.bytesPerLine();
    if (image_.height() > 1) {
        std::memmove(image_.scanLine(1), image_.scanLine(0),
                     static_cast<size_t>(stride) * (image_.height() - 1));
    }
    PaintRow(0, 0);
}

void CSpectrogramView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Rebuild();
}

void CSpectrogramView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect r = WaterfallRect();
    p.drawImage(r.topLeft(), image_);
    p.setPen(palette().windowText().color());
    p.drawRect(r.adjusted(-1, -1, 0, 0));
    const QFontMetrics fm = p.fontMetrics();

    // Frequency across: 0 to half the rate in five steps.
    for (int i = 0; i <= 5; ++i) {
        const int x = r.left() + (r.width() - 1) * i / 5;
        const double f = sampleRate_ / 2.0 * i / 5;
        const QString label =
            f >= 1000 ? QString::number(f / 1000, 'f', 1) + "k" : QString::number(f, 'f', 0);
        p.drawLine(x, r.bottom() + 1, x, r.bottom() + 4);
        const int tw = fm.horizontalAdvance(label);
        p.drawText(std::clamp(x - tw / 2, 0, width() - tw), r.bottom() + 4 + fm.ascent(), label);
    }
    p.drawText(2, r.bottom() + 4 + fm.ascent(), QStringLiteral("Hz"));
    // Time down: the age of every hundredth line.
    for (int y = 0; y < r.height() && y < history_.Size(); y += 100) {
        const QString label = QString::number(history_.Time(y), 'f', 2) + " s";
        p.drawText(r.left() - 4 - fm.horizontalAdvance(label), r.top() + y + fm.ascent() / 2,
                   label);
        p.drawLine(r.left() - 3, r.top() + y, r.left() - 1, r.top() + y);
    }

    // The colour bar on the same fixed scale, +20 dB at the top.
    const QRect bar(r.right() + 10, r.top(), kBarWidth, r.height());
    for (int y = 0; y < bar.height(); ++y) {
        const double level = kSpectrogramTopDb - (kSpectrogramTopDb - kSpectrogramBottomDb) * y /
                                                     std::max(1, bar.height() - 1);
        p.setPen(QColor(ToQRgb(SpectrogramColour(level))));
        p.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
    }
    p.setPen(palette().windowText().color());
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    for (int db = 20; db >= -180; db -= 40) {
        const int y = bar.top() + static_cast<int>((kSpectrogramTopDb - db) /
                                                   (kSpectrogramTopDb - kSpectrogramBottomDb) *
                                                   (bar.height() - 1));
        p.drawLine(bar.right() + 1, y, bar.right() + 3, y);
        p.drawText(bar.right() + 5, y + fm.ascent() / 2, QString::number(db));
    }
    p.drawText(bar.right() + 5, r.bottom() + 4 + fm.ascent(), QStringLiteral("dBm"));
}

QString CSpectrogramView::ReadoutAt(QPoint point) const {
    const QRect r = WaterfallRect();
    if (!r.contains(point)) return {};
    const int age = point.y() - r.top();
    if (age >= history_.Size() || history_.Columns() == 0) return {};
    const int column = (point.x() - r.left()) * history_.Columns() / r.width();
    const float level = history_.Line(age)[column];
    return QString::fromStdString(
        FormatSpectrogramReadout(history_.Time(age), history_.ColumnFrequency(column), level));
}

void CSpectrogramView::mouseMoveEvent(QMouseEvent* event) {
    emit readout(ReadoutAt(event->position().toPoint()));
}

CSpectrogramDlg::CSpectrogramDlg(MeasurementState& state, MeasurementUi& ui, QWidget* parent)
    : QDialog(parent), state_(state), ui_(ui) {
    setWindowTitle(QStringLiteral("Spectrogram"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);

    startStop_ = new QPushButton(QStringLiteral("Start"), this);
    overlap_ = new QComboBox(this);
    for (int percent : kStreamOverlaps) {
        overlap_->addItem(QStringLiteral("%1 % overlap").arg(percent), percent);
    }
    overlap_->setCurrentIndex(2);
    record_ = new QPushButton(QStringLiteral("Record…"), this);
    status_ = new QLabel(this);
    view_ = new CSpectrogramView(this);
    readout_ = new QLabel(QStringLiteral(" "), this);

    auto* top = new QHBoxLayout;
    top->addWidget(startStop_);
    top->addWidget(overlap_);
    top->addWidget(record_);
    top->addWidget(status_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addWidget(readout_);

    connect(startStop_, &QPushButton::clicked, this, [this] {
        if (Streaming()) {
            StopStream();
        } else {
            StartStream();
        }
    });
    connect(record_, &QPushButton::clicked, this, &CSpectrogramDlg::OnRecord);
    connect(view_, &CSpectrogramView::readout, readout_, &QLabel::setText);
    pollTimer_.setInterval(kPollMs);
    connect(&pollTimer_, &QTimer::timeout, this, &CSpectrogramDlg::OnPollTick);
    frameTimer_.setInterval(kFrameMs);
    connect(&frameTimer_, &QTimer::timeout, view_, qOverload<>(&QWidget::update));
    resize(760, 560);
    UpdateStatus();
}

CSpectrogramDlg::~CSpectrogramDlg() {
    StopStream();
}

void CSpectrogramDlg::StartStream() {
    if (Streaming()) return;
    if (state_.connected != 1) {
        ui_.MessageBox("Please select a valid COM port");
        return;
    }
    // Single Convert and Run wait while the stream has the instrument.
    if (state_.busy) return;
    state_.busy = 1;
    stream_ = std::make_unique<CStream>(state_, ui_, this);
    if (!stream_->Start(overlap_->currentData().toInt())) {
        state_.busy = 0;
        UpdateStatus();
        return;
    }
    const StreamFormat& f = stream_->Format();
    view_->Reset(f.sampleCount / 2 + 1, f.sampleRate);
    startStop_->setText(QStringLiteral("Stop"));
    overlap_->setEnabled(false);
    pollTimer_.start();
    frameTimer_.start();
    UpdateStatus();
}

void CSpectrogramDlg::StopStream() {
    if (!stream_) return;
    stream_->Stop();
    if (!stream_->Running()) Ended();
}

void CSpectrogramDlg::Ended() {
    pollTimer_.stop();
    frameTimer_.stop();
    if (recorder_.Recording()) StopRecording();
    state_.busy = 0;
    startStop_->setText(QStringLiteral("Start"));
    overlap_->setEnabled(true);
    view_->update();
    UpdateStatus();
}

void CSpectrogramDlg::OnPollTick() {
    if (!stream_) return;
    const long long before = stream_->BlocksAnalysed();
    const bool running = stream_->Poll();
    if (stream_->BlocksAnalysed() > before && onSpectrum) onSpectrum();
    if (recorder_.Failed()) {
        const QString why = QString::fromStdString(recorder_.Failure());
        StopRecording();
        ui_.MessageBox(why.toStdString());
    }
    if (!running) {
        Ended();
        return;
    }
    UpdateStatus();
}

void CSpectrogramDlg::OnStreamBytes(const unsigned char* bytes, int count) {
    if (recorder_.Recording()) recorder_.OnStreamBytes(bytes, count);
}

void CSpectrogramDlg::OnStreamBlock(long long /*index*/, long long firstSample) {
    const StreamFormat& f = stream_->Format();
    const double end = static_cast<double>(firstSample + f.sampleCount) / f.sampleRate;
    view_->AddLine(end, state_.spectrum, f.sampleCount / 2 + 1);
}

QString CSpectrogramDlg::AskRecordPath() {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Record stream"), QString(),
                                        QStringLiteral("Raw streams (*.raw)"));
}

void CSpectrogramDlg::OnRecord() {
    if (recorder_.Recording()) {
        StopRecording();
        return;
    }
    const QString path = AskRecordPath();
    if (path.isEmpty()) return;
    QString error;
    if (!StartRecording(path, &error)) ui_.MessageBox(error.toStdString());
}

bool CSpectrogramDlg::StartRecording(const QString& path, QString* error) {
    if (!Streaming()) StartStream();
    if (!Streaming()) {
        if (error) *error = QStringLiteral("The stream did not start: nothing to record.");
        return false;
    }
    StreamFileHeader header;
    header.format = stream_->Format();
    header.windowMode = state_.windowMode;
    header.averagingMode = state_.averagingMode;
    header.start = StreamStartTime();
    std::string why;
    if (!recorder_.Open(path.toStdString(), header, &why)) {
        if (error) *error = QString::fromStdString(why);
        return false;
    }
    recordClock_.start();
    record_->setText(QStringLiteral("Stop recording"));
    UpdateStatus();
    return true;
}

void CSpectrogramDlg::StopRecording() {
    if (!recorder_.Recording()) return;
    std::string why;
    const StreamEnd end = stream_ && !stream_->Running() ? stream_->End() : StreamEnd::Stopped;
    const bool whole = recorder_.Finish(end, &why);
    record_->setText(QStringLiteral("Record…"));
    if (!whole) ui_.MessageBox(why);
    UpdateStatus();
}

QString CSpectrogramDlg::StatusText() const {
    QString text;
    if (Streaming()) {
        const StreamFormat& f = stream_->Format();
        text = QStringLiteral("Streaming %1 s/s, N %2: %3 blocks")
                   .arg(f.sampleRate)
                   .arg(f.sampleCount)
                   .arg(stream_->BlocksAnalysed());
    } else {
        text = QStringLiteral("Stopped");
    }
    if (recorder_.Recording()) {
        text += QStringLiteral("  —  Recording %1, %2")
                    .arg(Megabytes(recorder_.Bytes()), Clock(recordClock_.elapsed()));
    }
    return text;
}

void CSpectrogramDlg::UpdateStatus() {
    status_->setText(StatusText());
}

void CSpectrogramDlg::closeEvent(QCloseEvent* event) {
    StopStream();
    QDialog::closeEvent(event);
}

CSpectrogramDlg* OpenSpectrogram(QWidget* dialog, MeasurementState& state, MeasurementUi& ui,
                                 std::function<void()> onSpectrum) {
    auto* window = dialog->findChild<CSpectrogramDlg*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) window = new CSpectrogramDlg(state, ui, dialog);
    window->onSpectrum = std::move(onSpectrum);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
