#include "ui/qt_canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QString>
#include <algorithm>
#include <cstdlib>

namespace {

QColor ToQColor(PlotColor c) {
    return QColor(c.r, c.g, c.b);
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

// Each pixel is a 1 x 1 square in logical pixels, so that on a high-DPI screen
// it covers all the device pixels under it: a zero-width pen would set one
// device pixel per point and leave the line dotted. Neighbours in a row or a
// column are merged into one rectangle.
void FillPixels(QPainter& painter, const QPolygon& pixels, const QColor& color) {
    // Consecutive points of one line in the same row (or column) are neighbours.
    qsizetype i = 0;
    while (i < pixels.size()) {
        qsizetype j = i + 1;
        while (j < pixels.size() && pixels[j].y() == pixels[i].y()) ++j;
        if (j == i + 1) {
            while (j < pixels.size() && pixels[j].x() == pixels[i].x()) ++j;
        }
        const QPoint a = pixels[i];
        const QPoint b = pixels[j - 1];
        painter.fillRect(QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                               QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y()))),
                         color);
        i = j;
    }
}

}  // namespace

CQtPlotCanvas::CQtPlotCanvas(QPainter& painter) : painter_(painter) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
}

void CQtPlotCanvas::Rectangle(const PlotRect& rect) {
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
    const PlotColor previous = pen_;
    pen_ = color;
    return previous;
}

void CQtPlotCanvas::MoveTo(int x, int y) {
    current_ = QPoint(x, y);
}

void CQtPlotCanvas::LineTo(int x, int y) {
    const QPoint end(x, y);
    FillPixels(painter_, LinePixels(current_, end), ToQColor(pen_));
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
}
