#include "ui/qt_canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QString>
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

// The pixels of a line from a that stop one short of b. QPainter leaves out
// the end nearer the origin whichever way a line runs, so the trace and the
// marker would lose different pixels; the rule is kept here instead.
QPolygon LinePixels(QPoint a, QPoint b) {
    QPolygon points;
    int x = a.x();
    int y = a.y();
    const int dx = std::abs(b.x() - x);
    const int dy = -std::abs(b.y() - y);
    const int sx = x < b.x() ? 1 : -1;
    const int sy = y < b.y() ? 1 : -1;
    int error = dx + dy;
    while (x != b.x() || y != b.y()) {
        points << QPoint(x, y);
        const int e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y += sy;
        }
    }
    return points;
}

}  // namespace

CQtPlotCanvas::CQtPlotCanvas(QPainter& painter) : painter_(painter) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setPen(CosmeticPen(pen_));
}

void CQtPlotCanvas::Rectangle(const PlotRect& rect) {
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    painter_.fillRect(QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)),
                      Qt::white);
    painter_.setPen(CosmeticPen(pen_));
    painter_.setBrush(Qt::NoBrush);
    // With an aliased cosmetic pen drawRect(x, y, w, h) covers x..x+w, y..y+h.
    painter_.drawRect(rect.left, rect.top, rect.Width() - 1, rect.Height() - 1);
}

PlotColor CQtPlotCanvas::SelectPen(PlotColor color) {
    const PlotColor previous = pen_;
    pen_ = color;
    painter_.setPen(CosmeticPen(pen_));
    return previous;
}

void CQtPlotCanvas::MoveTo(int x, int y) {
    current_ = QPoint(x, y);
}

void CQtPlotCanvas::LineTo(int x, int y) {
    const QPoint end(x, y);
    const QPolygon pixels = LinePixels(current_, end);
    if (!pixels.isEmpty()) {
        painter_.setPen(CosmeticPen(pen_));
        painter_.drawPoints(pixels);
    }
    current_ = end;
}

void CQtPlotCanvas::SetBkColor(PlotColor color) {
    background_ = color;
}

void CQtPlotCanvas::SetTextColor(PlotColor color) {
    text_ = color;
}

void CQtPlotCanvas::TextOut(int x, int y, const std::string& text) {
    const QString s = QString::fromStdString(text);
    const QFontMetrics metrics = painter_.fontMetrics();
    const QRect box(x, y, metrics.horizontalAdvance(s), metrics.height());
    painter_.fillRect(box, ToQColor(background_));
    painter_.setPen(ToQColor(text_));
    painter_.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
    painter_.setPen(CosmeticPen(pen_));
}
