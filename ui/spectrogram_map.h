// What the spectrogram shows, without any widget: the colour of a level, the
// bounded history of streamed spectra, and the cursor readout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The fixed level scale of the plot, top and bottom, in dB.
inline constexpr double kSpectrogramTopDb = 20.0;
inline constexpr double kSpectrogramBottomDb = -180.0;
// Lines kept, newest first; older ones are dropped.
inline constexpr int kSpectrogramLines = 3000;
// Columns of a line: one per entry up to this, else the highest entry of each group.
inline constexpr int kSpectrogramMaxColumns = 1024;

struct CRgb {
    std::uint8_t r, g, b;
};

// The colour of a level on the fixed scale: matplotlib's "viridis" (perceptually
// uniform, readable in grey and by most colour-blind eyes), dark blue at -180 dB
// to yellow at +20 dB; levels outside the scale take its end colours.
CRgb SpectrogramColour(double level);

// The last kSpectrogramLines spectra of a stream, each pooled to Columns() values.
class CSpectrogramHistory {
  public:
    explicit CSpectrogramHistory(int capacity = kSpectrogramLines) : capacity_(capacity) {}

    // Starts afresh for spectra of entries = N/2 + 1 levels at sampleRate.
    void Reset(int entries, int sampleRate);
    // Adds the spectrum of a block that ends at `time` seconds into the stream.
    void Add(double time, const double* levels, int entries);

    int Size() const { return size_; }
    int Capacity() const { return capacity_; }
    int Columns() const { return columns_; }
    // Line `age` (0 = newest, up to Size() - 1).
    const float* Line(int age) const;
    double Time(int age) const;
    // The frequency of a column's first entry, and the entries it covers.
    double ColumnFrequency(int column) const;
    int EntriesPerColumn() const { return perColumn_; }

  private:
    int Slot(int age) const { return (head_ - age + capacity_) % capacity_; }

    int capacity_;
    int columns_ = 0;
    int entries_ = 0;
    int perColumn_ = 1;
    int sampleRate_ = 0;
    int head_ = -1;  // slot of the newest line
    int size_ = 0;
    std::vector<float> values_;  // capacity_ x columns_
    std::vector<double> times_;
};

// "12.345 s  1.50KHz  -42.3dBm": the time of the line under the cursor, then
// the frequency and level as the plot's cursor readout writes them.
std::string FormatSpectrogramReadout(double time, double frequency, double level);
