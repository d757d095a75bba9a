#include "ui/distortion_window.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "measurement/metrics_text.h"

namespace {

const char* const kFigureNames[] = {"THD(2..10)", "THD+N", "SINAD", "SNR", "ENOB", "SFDR"};
constexpr int kHarmonicColumns = 4;

}  // namespace

CDistortionWindow::CDistortionWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName(QStringLiteral("DistortionWindow"));
    setWindowTitle(QStringLiteral("Distortion"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignLeft);
    layout->addLayout(form);
    auto add = [&](const QString& name) {
        auto* value = new QLabel(QStringLiteral("-"), this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(name + QLatin1Char(':'), value);
        values_.emplace_back(name, value);
    };
    add(QStringLiteral("Frequency"));
    add(QStringLiteral("Level"));
    for (const char* name : kFigureNames) add(QString::fromLatin1(name));

    harmonics_ = new QTableWidget(kHarmonicCount, kHarmonicColumns, this);
    harmonics_->setHorizontalHeaderLabels({QStringLiteral("Harmonic"), QStringLiteral("Frequency"),
                                           QStringLiteral("dBc"), QStringLiteral("%")});
    harmonics_->verticalHeader()->setVisible(false);
    harmonics_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    harmonics_->setSelectionMode(QAbstractItemView::NoSelection);
    harmonics_->setFocusPolicy(Qt::NoFocus);
    harmonics_->verticalHeader()->setDefaultSectionSize(harmonics_->fontMetrics().height() + 4);
    for (int row = 0; row < kHarmonicCount; ++row) {
        for (int column = 0; column < kHarmonicColumns; ++column) {
            auto* item =
                new QTableWidgetItem(column == 0 ? QString::number(row + 2) : QStringLiteral("-"));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            harmonics_->setItem(row, column, item);
        }
    }
    // Wide enough for the widest figures, so no cell is cut short as they change.
    const QFontMetrics metrics = harmonics_->fontMetrics();
    const char* const widest[kHarmonicColumns] = {"Harmonic", "99999.99 Hz", "-199.99", "100.0000"};
    for (int column = 0; column < kHarmonicColumns; ++column) {
        harmonics_->setColumnWidth(
            column, metrics.horizontalAdvance(QString::fromLatin1(widest[column])) + 16);
    }
    harmonics_->horizontalHeader()->setStretchLastSection(true);
    int tableHeight =
        harmonics_->horizontalHeader()->sizeHint().height() + 2 * harmonics_->frameWidth();
    for (int row = 0; row < kHarmonicCount; ++row) tableHeight += harmonics_->rowHeight(row);
    harmonics_->setFixedHeight(tableHeight);
    int tableWidth = 2 * harmonics_->frameWidth();
    for (int column = 0; column < kHarmonicColumns; ++column)
        tableWidth += harmonics_->columnWidth(column);
    harmonics_->setMinimumWidth(tableWidth);
    harmonics_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    harmonics_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(new QLabel(QStringLiteral("Harmonics 2..10 (aliased):"), this));
    layout->addWidget(harmonics_);

    copy_ = new QPushButton(QStringLiteral("Copy"), this);
    connect(copy_, &QPushButton::clicked, this, &CDistortionWindow::Copy);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copy_);
    layout->addLayout(buttons);

    ShowMetrics(DistortionMetrics{}, 0, 0);
}

void CDistortionWindow::ShowMetrics(const DistortionMetrics& m, int sampleRate, int n) {
    text_ = QString::fromStdString(FormatDistortionReport(m, sampleRate, n));
    auto set = [this](const QString& name, const std::string& text) {
        for (auto& [key, label] : values_) {
            if (key == name && label->text() != QString::fromStdString(text)) {
                label->setText(QString::fromStdString(text));
            }
        }
    };
    set(QStringLiteral("Frequency"), FormatFundamentalFrequency(m));
    set(QStringLiteral("Level"), FormatFundamentalLevel(m));
    const std::vector<MetricsFigure> figures = FormatMetricsFigures(m);
    for (const char* name : kFigureNames) set(QString::fromLatin1(name), "-");
    for (const MetricsFigure& f : figures) set(QString::fromStdString(f.name), f.value);

    const std::vector<HarmonicRowText> rows = FormatHarmonicRows(m, sampleRate, n);
    for (int row = 0; row < kHarmonicCount; ++row) {
        const bool have = row < static_cast<int>(rows.size());
        const std::string cells[3] = {have ? rows[row].frequency : "-", have ? rows[row].dbc : "-",
                                      have ? rows[row].percent : "-"};
        for (int column = 1; column < kHarmonicColumns; ++column) {
            const QString text = QString::fromStdString(cells[column - 1]);
            QTableWidgetItem* item = harmonics_->item(row, column);
            if (item->text() != text) item->setText(text);
        }
    }
}

QString CDistortionWindow::Value(const QString& name) const {
    for (const auto& [key, label] : values_) {
        if (key == name) return label->text();
    }
    return {};
}

QString CDistortionWindow::HarmonicCell(int row, int column) const {
    const QTableWidgetItem* item = harmonics_->item(row, column);
    return item ? item->text() : QString();
}

void CDistortionWindow::Copy() {
    QGuiApplication::clipboard()->setText(text_);
}
