// The parts of ComputeSpectrum that the streaming path's faster chain shares
// with it. One state for both, so a clear through either restarts the averages
// of both.
#pragma once

// The power spectrum of samples[0..n-1] into LastPowerSpectrum, as
// ComputeSpectrum makes it; n must satisfy IsTransformLength.
void ComputePowerSpectrum(const double* samples, int n);

// Where a chain puts the levels in dB of the current call's entries 0..n/2,
// before averaging and the offset.
double* LevelBuffer();

// Counts the call and averages LevelBuffer()[0..n/2] into spectrum[0..n/2] by
// averagingMode (or copies the power for an unknown mode), then adds the offset
// and floors, as ComputeSpectrum describes.
void AverageLevels(double* spectrum, int n, int averagingMode);
