#include "ui/qt_canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstdlib>

namespace {

QColor ToQColor(PlotColor c) {
    return QColor(c.r, c.g, c.b);
}

QPen CosmeticPen(PlotColor c) {
    QPen pen(ToQColor(c));
    pen.setWidth(0);
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

}  // namespace

CQtPlotCanvas::CQtPlotCanvas(QPainter& painter) : painter_(painter) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setPen(CosmeticPen(pen_));
}

CQtPlotCanvas::~CQtPlotCanvas() {
    FlushRun();
}

void CQtPlotCanvas::FlushRun() {
    if (!runOpen_) return;
    // Each pixel a logical square, so the run covers every device pixel under it.
    painter_.fillRect(QRect(QPoint(runX0_, runY0_), QPoint(runX1_, runY1_)), ToQColor(pen_));
    runOpen_ = false;
}

void CQtPlotCanvas::AddColumn(int x, int y0, int y1) {
    if (runOpen_) {
        // The same column, touching or overlapping: one longer run.
        if (runX0_ == x && runX1_ == x && y0 <= runY1_ + 1 && y1 >= runY0_ - 1) {
            runY0_ = std::min(runY0_, y0);
            runY1_ = std::max(runY1_, y1);
            return;
        }
        // One pixel next to a run along a row.
        if (y0 == y1 && runY0_ == y0 && runY1_ == y0 && x >= runX0_ - 1 && x <= runX1_ + 1) {
            runX0_ = std::min(runX0_, x);
            runX1_ = std::max(runX1_, x);
            return;
        }
        FlushRun();
    }
    runOpen_ = true;
    runX0_ = runX1_ = x;
    runY0_ = y0;
    runY1_ = y1;
}

void CQtPlotCanvas::AddRow(int y, int x0, int x1) {
    if (runOpen_ && runY0_ == y && runY1_ == y && x0 <= runX1_ + 1 && x1 >= runX0_ - 1) {
        runX0_ = std::min(runX0_, x0);
        runX1_ = std::max(runX1_, x1);
        return;
    }
    FlushRun();
    runOpen_ = true;
    runY0_ = runY1_ = y;
    runX0_ = x0;
    runX1_ = x1;
}

void CQtPlotCanvas::Rectangle(const PlotRect& rect) {
    FlushRun();
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    const QRect box(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
    painter_.fillRect(box, Qt::white);
    // The outline as four one-pixel bands inside the box: a cosmetic pen would
    // be one device pixel wide and leave white outside the right and bottom edges.
    const QColor outline = ToQColor(pen_);
    painter_.fillRect(QRect(box.left(), box.top(), box.width(), 1), outline);
    painter_.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), outline);
    painter_.fillRect(QRect(box.left(), box.top(), 1, box.height()), outline);
    painter_.fillRect(QRect(box.right(), box.top(), 1, box.height()), outline);
}

PlotColor CQtPlotCanvas::SelectPen(PlotColor color) {
    if (color != pen_) FlushRun();
    const PlotColor previous = pen_;
    pen_ = color;
    painter_.setPen(CosmeticPen(pen_));
    return previous;
}

void CQtPlotCanvas::MoveTo(int x, int y) {
    current_ = QPoint(x, y);
}

void CQtPlotCanvas::LineTo(int x, int y) {
    // From the current point, which is drawn, to (x, y), which is not. QPainter
    // leaves out the end nearer the origin whichever way a line runs, so the trace
    // and the marker would lose different pixels; the rule is kept here instead.
    int px = current_.x();
    int py = current_.y();
    current_ = QPoint(x, y);
    if (px == x && py == y) return;
    // Most segments of a dense trace stay in one column.
    if (px == x) {
        AddColumn(x, y > py ? py : y + 1, y > py ? y - 1 : py);
        return;
    }
    if (py == y) {
        AddRow(y, x > px ? px : x + 1, x > px ? x - 1 : px);
        return;
    }
    const int dx = std::abs(x - px);
    const int dy = -std::abs(y - py);
    const int sx = px < x ? 1 : -1;
    const int sy = py < y ? 1 : -1;
    int error = dx + dy;
    while (px != x || py != y) {
        AddColumn(px, py, py);
        const int e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            px += sx;
        }
        if (e2 <= dx) {
            error += dx;
            py += sy;
        }
    }
}

void CQtPlotCanvas::SetBkColor(PlotColor color) {
    background_ = color;
}

void CQtPlotCanvas::SetTextColor(PlotColor color) {
    text_ = color;
}

void CQtPlotCanvas::TextOut(int x, int y, const std::string& text) {
    FlushRun();
    const QString s = QString::fromStdString(text);
    const QFontMetrics metrics = painter_.fontMetrics();
    const QRect box(x, y, metrics.horizontalAdvance(s), metrics.height());
    painter_.fillRect(box, ToQColor(background_));
    painter_.setPen(ToQColor(text_));
    painter_.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
    painter_.setPen(CosmeticPen(pen_));
}
