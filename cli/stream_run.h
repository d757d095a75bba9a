// pelkor-measure --stream, and the replay of a recorded stream with --input.
#pragma once

#include <ostream>
#include <string>

#include "cli/args.h"

// True when path names a readable file that starts as a recorded stream.
bool IsRecordedStream(const std::string& path);

// Runs the stream (or its replay) that the options describe; results to out,
// messages to err. Returns pelkor-measure's exit status.
int RunStream(const CliOptions& options, std::ostream& out, std::ostream& err, bool progressBar);
