// Command line of pelkor-measure: parsed into options, checked against the
// instrument's tables before anything is opened or sent.
#pragma once

#include <string>
#include <vector>

enum class CliSource { kNone, kPort, kDevice, kDemo, kInput };

struct CliOptions {
    CliSource source = CliSource::kNone;
    int comPort = 0;                   // --port COMn; 0 for --port PATH
    std::string devicePath;            // --device PATH, or the PATH of --port COMn=PATH
    std::string inputPath;             // --input FILE
    std::vector<std::string> signals;  // --signal CH:KIND:... (demo only), in order given
    std::string fault;                 // --fault NAME (demo only)

    // Settings; the defaults are those of a fresh profile and a new dialog.
    int rateIndex = 6;   // SampleRateTable position (1800 s/s)
    int countIndex = 0;  // SampleCountTable position (128)
    int channel = 1;
    int resolution = 0;  // 0 = 8-bit, 1 = 10-bit
    int windowMode = 0;  // 0 = On, 1 = Off
    int averagingMode = 0;
    int cycles = 1;  // --count
    int intervalMs = 0;
    int streamSeconds = 0;  // --stream: stream this long instead of taking cycles
    int overlap = 0;        // --overlap, percent of N
    bool overlapGiven = false;
    // Which settings the command line gave (a replayed block brings its own).
    bool rateGiven = false, countGiven = false, channelGiven = false, bitsGiven = false;
    bool windowGiven = false, averageGiven = false, countOfCyclesGiven = false;

    std::string jsonPath;  // "-" is standard output
    std::string csvPath;
    std::string rawPath;  // --save-raw
    bool metrics = false;
    bool listPorts = false;   // --list-ports: the ports, then exit
    std::string profilePath;  // --profile: where the COM database is kept
    bool help = false;
    bool version = false;
};

// Parses args (without the program name). Returns false with *error naming the
// option, the value and what is allowed.
bool ParseArguments(const std::vector<std::string>& args, CliOptions* options, std::string* error);

// The --help text.
std::string UsageText();

// "100, 200, ... 6000" and "128, 256, ... 8192", for messages.
std::string AllowedRates();
std::string AllowedCounts();
