// Exports of a measurement: the spectrum as CSV, the readouts and figures as
// text, and a file write that never leaves a half-written file behind.
#pragma once

#include <string>
#include <vector>

#include "analysis/metrics.h"
#include "measurement/state.h"

// A further column of the spectrum CSV: its header name and N/2 + 1 values.
struct CsvColumn {
    std::string name;
    const double* values = nullptr;
};

// "entry,frequency_hz,level_db", then one row per entry 0..N/2 of state.spectrum,
// frequency k x sampleRate / N, and the values of each extra column after them
// (a column without values is left out). Numbers in the shortest form that reads
// back exactly. An N outside the count table gives the header only.
std::string FormatSpectrumCsv(const MeasurementState& state,
                              const std::vector<CsvColumn>& extra = {});

// FormatSpectrumCsv into path through WriteFileAtomically.
bool WriteSpectrumCsv(const MeasurementState& state, const std::string& path, std::string* error,
                      const std::vector<CsvColumn>& extra = {});

// Multi-line text: the settings, the three result texts as the dialog shows them,
// the fundamental and the five further peaks, then the distortion figures of
// metrics ("not available" lines when metrics.valid is false).
std::string FormatMeasurements(const MeasurementState& state, const DistortionMetrics& metrics);

// The same with the figures of the last transformed block
// (ComputeDistortionMetrics(state)).
std::string FormatMeasurements(const MeasurementState& state);

// Writes data to path by way of a temporary file in the same folder: written in
// full, flushed to disk, then renamed over path. On failure returns false, leaves
// path as it was, removes the temporary file and, when error is not null, sets
// *error to a message naming the path and the system's reason.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error);
