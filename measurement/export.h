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

// Writes data to path. A regular file (or a new one) is written whole or not at
// all: by way of a temporary file in the same folder, written in full, flushed
// to disk, then renamed over path; a read-only file is not replaced. A FIFO or a
// character device is written directly (a FIFO waits a few seconds at most for
// a reader). A folder, socket or other node is refused. On failure returns
// false, leaves path as it was, removes the temporary file and, when error is
// not null, sets *error to a message naming the path and the reason.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error);

// Whether WriteFileAtomically could write path now, without writing anything:
// the node is a kind it writes, writable, and for a regular or new file its
// folder exists and takes new files. Sets *error as WriteFileAtomically would.
bool CheckOutputPath(const std::string& path, std::string* error);
