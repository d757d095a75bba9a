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
    void Rectangle(const PlotRect& rect) override;
    PlotColor SelectPen(PlotColor color) override;
    void MoveTo(int x, int y) override;
    void LineTo(int x, int y) override;
    void SetBkColor(PlotColor color) override;
    void SetTextColor(PlotColor color) override;
    void TextOut(int x, int y, const std::string& text) override;

  private:
    QPainter& painter_;
    PlotColor pen_ = kBlack;
    PlotColor background_ = kWhite;
    PlotColor text_ = kBlack;
    QPoint current_;
};
