// The parts of ComputeSpectrum that the streaming path's faster chain shares
// with it. One state for both, so a clear through either restarts the averages
// of both.
#pragma once

// The power spectrum of samples[0..n-1] into LastPowerSpectrum, as
// ComputeSpectrum makes it; n must satisfy IsTransformLength.
void ComputePowerSpectrum(const double* samples, int n);

// The scale of the power spectrum: |X[k]|^2 times this, for n samples.
double PowerScale(int n);

// Where a chain puts its own power spectrum of n samples, entries 0..n/2, as
// LastPowerSpectrum then gives it.
double* PowerBuffer(int n);

// Where a chain puts the levels in dB of the current call's entries 0..n/2,
// before averaging and the offset.
double* LevelBuffer();

// Counts the call and averages LevelBuffer()[0..n/2] into spectrum[0..n/2] by
// averagingMode (or copies the power for an unknown mode), then adds the offset
// and floors, as ComputeSpectrum describes.
void AverageLevels(double* spectrum, int n, int averagingMode);

// As AverageLevels, except that mode "10" keeps the sum of the ring's slots
// between calls and changes only the slot of this call: the same mean to some
// 1e-12 dB, reading two rows instead of twenty.
void AverageLevelsRunning(double* spectrum, int n, int averagingMode);
