// pelkor-measure as a function, so tests run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

constexpr int kExitMeasured = 0;
constexpr int kExitOutputFailed = 1;   // a result file could not be written
constexpr int kExitBadArguments = 2;   // also an unreadable or malformed --input file
constexpr int kExitNoInstrument = 3;   // the port did not open or the handshake failed
constexpr int kExitAcquisition = 4;    // acquisition timeout or lost device
constexpr int kExitInterrupted = 130;  // stopped by SIGINT or SIGTERM; outputs written

// Runs the command line args (without the program name): results to out,
// messages to err, a progress bar on err when progressBar. Returns the exit status.
int RunMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool progressBar);
