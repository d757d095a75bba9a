// Distortion and noise figures of one block, computed from its linear power
// spectrum (before dB and averaging). These stand beside the peak-based THD of
// ComputeThd, which stays as it is.
//
// Definitions (P[k] the power of entry k, k = 0..n/2; L the main-lobe half
// width: 3 entries with the Blackman-Harris window, 1 without):
//   fundamental    Pf = sum of P over k0-L..k0+L (k0 the fundamental's entry)
//   DC             entries 0..L; never noise, never a harmonic
//   harmonic h     h = 2..10 at the aliased position of h x kf in 0..n/2 (kf the
//                  power-weighted centre of the fundamental's lobe), its power the
//                  sum over that position +-L; H = sum over the nine harmonics
//   noise + dist.  ND = sum of P over every entry outside DC and the fundamental
//   noise          Nn = ND minus the harmonics' entries
//   THD            sqrt(H / Pf) in %, 10 log10(H / Pf) in dB
//   THD+N          sqrt(ND / Pf) in %, 10 log10(ND / Pf) in dB
//   SINAD          10 log10(Pf / ND) dB
//   SNR            10 log10(Pf / Nn) dB
//   ENOB           (SINAD - 1.76) / 6.02 bits
//   SFDR           10 log10(Pf / Ps) dB, Ps the power over +-L around the highest
//                  entry outside DC and the fundamental
// Every entry is counted once, in the first of: fundamental, DC, harmonic 2, 3,
// ... 10 whose lobe holds it. Entries 0 and n/2 count half: the transform's
// one-sided scale doubles them, and halving keeps the sums equal to the mean
// square of the block. Sums are floored at kMetricsPowerFloor so no figure is
// infinite.
#pragma once

#include "measurement/state.h"

constexpr int kHarmonicCount = 9;  // harmonics 2..10
constexpr double kMetricsPowerFloor = 1e-28;

struct DistortionMetrics {
    bool valid = false;  // false: arguments out of range or no power in the fundamental
    int lobeHalfWidth = 0;
    int fundamentalBin = 0;
    double fundamentalFrequency = 0.0;      // Hz, from the lobe's power-weighted centre
    double fundamentalPower = 0.0;          // V^2 (mean square of the windowed block)
    double fundamentalLevel = 0.0;          // dB ("dBm") of the fundamental's entry
    int harmonicBins[kHarmonicCount] = {};  // centre entry of harmonic h at [h - 2]
    // 0 when every entry of its lobe belongs to an earlier group (it folds onto DC,
    // the fundamental or a lower harmonic).
    double harmonicPowers[kHarmonicCount] = {};
    double harmonicPower = 0.0;  // H
    double noisePower = 0.0;     // Nn
    int spurBin = 0;
    double spurPower = 0.0;  // Ps
    double thdPercent = 0.0;
    double thdDb = 0.0;
    double thdnPercent = 0.0;
    double thdnDb = 0.0;
    double sinadDb = 0.0;
    double snrDb = 0.0;
    double enob = 0.0;
    double sfdrDb = 0.0;
};

// Figures of power[0..n/2] (n a power of two, 8..kMaxSamples) at sampleRate, with
// the lobe width of the window (windowed) around fundamentalBin (1..n/2). Returns
// valid = false, every figure 0, for arguments out of range or a silent lobe.
DistortionMetrics ComputeDistortionMetrics(const double* power, int n, double sampleRate,
                                           bool windowed, int fundamentalBin);

// The same for the last block the analysis transformed, with the settings and
// fundamental of state (sampleCount, sampleRate, windowMode, fundamentalBin).
// Returns valid = false when no block of state.sampleCount has been transformed.
DistortionMetrics ComputeDistortionMetrics(const MeasurementState& state);
