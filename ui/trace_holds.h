// Trace holds of the plot: max hold and min hold over the spectra since their
// start, and a reference trace frozen from one spectrum. Plain data and
// painters over CPlotCanvas, tested without a window.
#pragma once

#include <string>
#include <vector>

#include "measurement/export.h"
#include "ui/plot_zoom.h"

inline constexpr PlotColor kMaxHoldColor{230, 130, 0};
inline constexpr PlotColor kMinHoldColor{0, 150, 150};
inline constexpr PlotColor kReferenceColor{150, 0, 200};

enum class HoldKind { kMax = 0, kMin = 1, kReference = 2 };

class CTraceHolds {
  public:
    // Takes levels[0..n/2] of a new spectrum at sampleRate into the max and min
    // holds that are on. A hold that has data for another n or rate starts afresh,
    // since its entries would stand for other frequencies. An n outside
    // 2..kMaxSamples is ignored.
    void Accumulate(const double* levels, int n, int sampleRate);
    // Copies levels[0..n/2] as the reference and shows it.
    void FreezeReference(const double* levels, int n, int sampleRate);

    // Max and min hold on or off; either way the hold starts empty.
    void SetEnabled(HoldKind kind, bool on);
    bool Enabled(HoldKind kind) const;
    // Empties the hold; a max or min hold that is on goes on with the next spectrum;
    // the reference is switched off.
    void Clear(HoldKind kind);

    // The hold's levels (n/2 + 1 of them) when it is on and holds data for n and
    // sampleRate; nullptr otherwise.
    const double* Levels(HoldKind kind, int n, int sampleRate) const;
    // Any hold that Levels would give for n and sampleRate.
    bool AnyShown(int n, int sampleRate) const;

  private:
    struct Trace {
        std::vector<double> levels;
        int n = 0;
        int rate = 0;
        bool on = false;
    };
    Trace traces_[3];
};

// Display name and colour of a hold ("Max hold", "Min hold", "Reference").
const char* HoldName(HoldKind kind);
PlotColor HoldColor(HoldKind kind);

// The holds shown for the mapping's scale, reference first, then min, then max,
// each in its colour; the pen is put back.
void DrawHolds(CPlotCanvas& canvas, const CPlotMapping& m, const CTraceHolds& holds, int n);
// A small legend at the top right of frame r naming the live trace and each hold
// shown; nothing when no hold is shown.
void DrawHoldLegend(CPlotCanvas& canvas, const PlotRect& r, const CTraceHolds& holds, int n,
                    int sampleRate);
// The CSV columns of the holds shown: "max_hold_db", "min_hold_db", "reference_db".
std::vector<CsvColumn> HoldCsvColumns(const CTraceHolds& holds, int n, int sampleRate);
