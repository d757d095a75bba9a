// A plot canvas that records every call, for checks of the painter's geometry.
#pragma once

#include <string>
#include <vector>

#include "ui/plot.h"

struct CanvasOp {
    enum Kind { kRectangle, kMove, kLine, kText } kind;
    PlotColor pen;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // line: from (x0, y0) to (x1, y1)
    std::string text;
    PlotColor background;
    PlotColor textColor;
};

class CRecordingCanvas final : public CPlotCanvas {
  public:
    void Rectangle(const PlotRect& r) override {
        ops.push_back({CanvasOp::kRectangle, pen_, r.left, r.top, r.right, r.bottom, {}, bk_, fg_});
    }
    PlotColor SelectPen(PlotColor color) override {
        const PlotColor previous = pen_;
        pen_ = color;
        return previous;
    }
    void MoveTo(int x, int y) override {
        ops.push_back({CanvasOp::kMove, pen_, x, y, x, y, {}, bk_, fg_});
        x_ = x;
        y_ = y;
    }
    void LineTo(int x, int y) override {
        ops.push_back({CanvasOp::kLine, pen_, x_, y_, x, y, {}, bk_, fg_});
        x_ = x;
        y_ = y;
    }
    void SetBkColor(PlotColor color) override { bk_ = color; }
    void SetTextColor(PlotColor color) override { fg_ = color; }
    void TextOut(int x, int y, const std::string& text) override {
        ops.push_back({CanvasOp::kText, pen_, x, y, x, y, text, bk_, fg_});
    }

    std::vector<CanvasOp> Lines(PlotColor pen) const {
        std::vector<CanvasOp> out;
        for (const CanvasOp& op : ops) {
            if (op.kind == CanvasOp::kLine && op.pen == pen) out.push_back(op);
        }
        return out;
    }
    std::vector<CanvasOp> Texts() const {
        std::vector<CanvasOp> out;
        for (const CanvasOp& op : ops) {
            if (op.kind == CanvasOp::kText) out.push_back(op);
        }
        return out;
    }
    PlotColor CurrentPen() const { return pen_; }

    std::vector<CanvasOp> ops;

  private:
    PlotColor pen_ = kBlack;
    PlotColor bk_ = kWhite;
    PlotColor fg_ = kBlack;
    int x_ = 0;
    int y_ = 0;
};
