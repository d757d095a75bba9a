#include "ui/trace_holds.h"

#include <algorithm>

namespace {

constexpr int kLegendWidth = 96;
constexpr int kLegendRow = 15;

int Index(HoldKind kind) {
    return static_cast<int>(kind);
}

bool UsableCount(int n) {
    return n >= 2 && n <= kMaxSamples;
}

}  // namespace

void CTraceHolds::Accumulate(const double* levels, int n, int sampleRate) {
    if (levels == nullptr || !UsableCount(n)) return;
    const size_t size = static_cast<size_t>(n / 2 + 1);
    for (HoldKind kind : {HoldKind::kMax, HoldKind::kMin}) {
        Trace& t = traces_[Index(kind)];
        if (!t.on) continue;
        if (t.n != n || t.rate != sampleRate || t.levels.size() != size) {
            t.levels.assign(levels, levels + size);
            t.n = n;
            t.rate = sampleRate;
            continue;
        }
        for (size_t k = 0; k < size; ++k) {
            t.levels[k] = kind == HoldKind::kMax ? std::max(t.levels[k], levels[k])
                                                 : std::min(t.levels[k], levels[k]);
        }
    }
}

void CTraceHolds::FreezeReference(const double* levels, int n, int sampleRate) {
    if (levels == nullptr || !UsableCount(n)) return;
    Trace& t = traces_[Index(HoldKind::kReference)];
    t.levels.assign(levels, levels + n / 2 + 1);
    t.n = n;
    t.rate = sampleRate;
    t.on = true;
}

void CTraceHolds::SetEnabled(HoldKind kind, bool on) {
    Trace& t = traces_[Index(kind)];
    t = Trace{};
    t.on = on;
}

bool CTraceHolds::Enabled(HoldKind kind) const {
    return traces_[Index(kind)].on;
}

void CTraceHolds::Clear(HoldKind kind) {
    SetEnabled(kind, kind != HoldKind::kReference && Enabled(kind));
}

const double* CTraceHolds::Levels(HoldKind kind, int n, int sampleRate) const {
    const Trace& t = traces_[Index(kind)];
    if (!t.on || t.n != n || t.rate != sampleRate || t.levels.empty()) return nullptr;
    return t.levels.data();
}

bool CTraceHolds::AnyShown(int n, int sampleRate) const {
    for (HoldKind kind : {HoldKind::kMax, HoldKind::kMin, HoldKind::kReference}) {
        if (Levels(kind, n, sampleRate)) return true;
    }
    return false;
}

const char* HoldName(HoldKind kind) {
    switch (kind) {
        case HoldKind::kMax:
            return "Max hold";
        case HoldKind::kMin:
            return "Min hold";
        case HoldKind::kReference:
            break;
    }
    return "Reference";
}

PlotColor HoldColor(HoldKind kind) {
    switch (kind) {
        case HoldKind::kMax:
            return kMaxHoldColor;
        case HoldKind::kMin:
            return kMinHoldColor;
        case HoldKind::kReference:
            break;
    }
    return kReferenceColor;
}

void DrawHolds(CPlotCanvas& canvas, const CPlotMapping& m, const CTraceHolds& holds, int n) {
    const int rate = m.SampleRate();
    const PlotColor previous = canvas.SelectPen(kReferenceColor);
    for (HoldKind kind : {HoldKind::kReference, HoldKind::kMin, HoldKind::kMax}) {
        const double* levels = holds.Levels(kind, n, rate);
        if (!levels) continue;
        canvas.SelectPen(HoldColor(kind));
        DrawLevels(canvas, m, levels, n / 2);
    }
    canvas.SelectPen(previous);
}

void DrawHoldLegend(CPlotCanvas& canvas, const PlotRect& r, const CTraceHolds& holds, int n,
                    int sampleRate) {
    if (!holds.AnyShown(n, sampleRate)) return;
    struct Row {
        const char* name;
        PlotColor color;
    };
    std::vector<Row> rows{{"Live", kTraceColor}};
    for (HoldKind kind : {HoldKind::kMax, HoldKind::kMin, HoldKind::kReference}) {
        if (holds.Levels(kind, n, sampleRate)) rows.push_back({HoldName(kind), HoldColor(kind)});
    }
    const int left = r.right - kLegendWidth - 4;
    const int top = r.top + 4;
    const PlotColor previous = canvas.SelectPen(kBlack);
    canvas.Rectangle(PlotRect{left, top, left + kLegendWidth,
                              top + 4 + kLegendRow * static_cast<int>(rows.size())});
    canvas.SetBkColor(kWhite);
    canvas.SetTextColor(kBlack);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int y = top + 2 + kLegendRow * static_cast<int>(i);
        canvas.SelectPen(rows[i].color);
        for (int dy = 0; dy < 2; ++dy) {
            canvas.MoveTo(left + 5, y + 7 + dy);
            canvas.LineTo(left + 21, y + 7 + dy);
        }
        canvas.TextOut(left + 25, y, rows[i].name);
    }
    canvas.SelectPen(previous);
}

std::vector<CsvColumn> HoldCsvColumns(const CTraceHolds& holds, int n, int sampleRate) {
    std::vector<CsvColumn> columns;
    const struct {
        HoldKind kind;
        const char* name;
    } named[] = {{HoldKind::kMax, "max_hold_db"},
                 {HoldKind::kMin, "min_hold_db"},
                 {HoldKind::kReference, "reference_db"}};
    for (const auto& c : named) {
        if (const double* levels = holds.Levels(c.kind, n, sampleRate)) {
            columns.push_back({c.name, levels});
        }
    }
    return columns;
}
