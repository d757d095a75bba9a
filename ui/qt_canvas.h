// The plot's drawing surface on a QPainter: pixels as logical 1 x 1 squares, no
// antialiasing, and lines that stop one pixel short of their end.
#pragma once

#include <QColor>
#include <QPoint>

#include "ui/plot.h"

class QPainter;

class CQtPlotCanvas final : public CPlotCanvas {
  public:
    explicit CQtPlotCanvas(QPainter& painter);
    // Draws what is still pending of the last line.
    ~CQtPlotCanvas() override;
    CQtPlotCanvas(const CQtPlotCanvas&) = delete;
    CQtPlotCanvas& operator=(const CQtPlotCanvas&) = delete;
    void Rectangle(const PlotRect& rect) override;
    PlotColor SelectPen(PlotColor color) override;
    void MoveTo(int x, int y) override;
    void LineTo(int x, int y) override;
    void SetBkColor(PlotColor color) override;
    void SetTextColor(PlotColor color) override;
    void TextOut(int x, int y, const std::string& text) override;

  private:
    // Line pixels are gathered into runs along a row or a column, across the
    // segments of a polyline, and each run is filled at once: a trace of
    // thousands of short segments costs a fill per column, not per segment.
    void AddColumn(int x, int y0, int y1);  // pixels (x, y0..y1)
    void AddRow(int y, int x0, int x1);     // pixels (x0..x1, y)
    void FlushRun();

    QPainter& painter_;
    // The pending run in the pen's colour, corners inclusive.
    bool runOpen_ = false;
    int runX0_ = 0, runY0_ = 0, runX1_ = 0, runY1_ = 0;
    PlotColor pen_ = kBlack;
    PlotColor background_ = kWhite;
    PlotColor text_ = kBlack;
    QPoint current_;
};
