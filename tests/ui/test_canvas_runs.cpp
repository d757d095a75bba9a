// The Qt canvas gathers line pixels into runs across segments; the pixels must
// be exactly those of each segment drawn on its own (start drawn, end not), at
// device-pixel ratio 1 and 2.
#include <QImage>
#include <QPainter>
#include <QtTest>
#include <random>
#include <set>
#include <utility>

#include "ui/qt_canvas.h"

namespace {

// The pixels of a line from a that stop one short of b, one by one.
void LinePixels(QPoint a, QPoint b, std::set<std::pair<int, int>>& out) {
    int x = a.x();
    int y = a.y();
    const int dx = std::abs(b.x() - x);
    const int dy = -std::abs(b.y() - y);
    const int sx = x < b.x() ? 1 : -1;
    const int sy = y < b.y() ? 1 : -1;
    int error = dx + dy;
    while (x != b.x() || y != b.y()) {
        out.insert({x, y});
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
}

}  // namespace

class TestCanvasRuns : public QObject {
    Q_OBJECT
  private slots:
    void polylinesCoverExactlyTheirSegmentsPixels_data();
    void polylinesCoverExactlyTheirSegmentsPixels();
};

void TestCanvasRuns::polylinesCoverExactlyTheirSegmentsPixels_data() {
    QTest::addColumn<int>("ratio");
    QTest::addColumn<bool>("traceLike");
    QTest::newRow("trace, ratio 1") << 1 << true;
    QTest::newRow("trace, ratio 2") << 2 << true;
    QTest::newRow("any direction, ratio 1") << 1 << false;
    QTest::newRow("any direction, ratio 2") << 2 << false;
}

void TestCanvasRuns::polylinesCoverExactlyTheirSegmentsPixels() {
    QFETCH(int, ratio);
    QFETCH(bool, traceLike);
    constexpr int kSize = 120;
    QImage image(kSize * ratio, kSize * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    std::mt19937 rng(traceLike ? 5 : 11);
    std::uniform_int_distribution<int> any(2, kSize - 3);
    std::uniform_int_distribution<int> step(-9, 9);
    std::set<std::pair<int, int>> expected;
    {
        QPainter painter(&image);
        CQtPlotCanvas canvas(painter);
        canvas.SelectPen(kTraceColor);
        QPoint at(2, kSize / 2);
        canvas.MoveTo(at.x(), at.y());
        for (int i = 0; i < 600; ++i) {
            QPoint next;
            if (traceLike) {
                // Several entries per column, as a long trace on a narrow frame.
                next = QPoint(std::min(kSize - 3, 2 + i / 6),
                              std::clamp(at.y() + step(rng), 2, kSize - 3));
            } else {
                next = QPoint(any(rng), i % 7 == 0 ? at.y() : any(rng));
            }
            if (i % 97 == 50) {
                canvas.MoveTo(next.x(), next.y());  // a break in the polyline
            } else {
                canvas.LineTo(next.x(), next.y());
                LinePixels(at, next, expected);
            }
            at = next;
        }
        // A pen change ends the run; the marker colour goes on elsewhere.
        canvas.SelectPen(kMarkerColor);
        canvas.MoveTo(5, 5);
        canvas.LineTo(5, 1);
    }
    int covered = 0;
    for (int y = 0; y < kSize * ratio; ++y) {
        for (int x = 0; x < kSize * ratio; ++x) {
            const bool line = expected.count({x / ratio, y / ratio}) > 0;
            const QColor c = image.pixelColor(x, y);
            if (x / ratio == 5 && y / ratio >= 2 && y / ratio <= 5 && !line) {
                QCOMPARE(c, QColor(0, 0, 255));
                continue;
            }
            if (line) ++covered;
            QCOMPARE(c, line ? QColor(255, 0, 0) : QColor(Qt::white));
        }
    }
    QVERIFY(covered > 600);
}

QTEST_MAIN(TestCanvasRuns)
#include "test_canvas_runs.moc"
