// Saved blocks (--save-raw) and input files (--input): the bytes the instrument
// sent for one block, each behind a one-line header naming its settings, or a
// plain text file of volts, one per line.
#pragma once

#include <string>
#include <vector>

struct RawBlock {
    int rateIndex = 0;   // SampleRateTable position
    int countIndex = 0;  // SampleCountTable position
    int channel = 0;
    int resolution = 0;  // 0 = 8-bit, 1 = 10-bit
    int windowMode = 0;  // 0 = On, 1 = Off
    int averagingMode = 0;
    std::vector<unsigned char> bytes;  // (resolution + 1) x N, as received
};

struct InputFile {
    bool volts = false;              // a text file of volts, not saved blocks
    std::vector<RawBlock> blocks;    // saved blocks, in the order measured
    std::vector<double> voltValues;  // N values in volts at the input
};

// Values of a text input beyond this are refused: no instrument input comes near
// it, and far larger ones would overflow the analysis.
constexpr double kMaxInputVolts = 1000.0;

// Largest input file taken; a saved run of many blocks fits many times over.
constexpr long long kMaxInputBytes = 64ll << 20;

// "pelkor-raw 1 rate=1800 samples=128 channel=1 bits=8 window=on average=off bytes=128\n"
// followed by the bytes. Expects bytes.size() == (resolution + 1) x N.
std::string FormatRawBlock(const RawBlock& block);

// Parses data as saved blocks (it starts with "pelkor-raw") or as text of volts.
// Returns false with *error saying what is wrong and where: truncated or extra
// bytes, a bad header, settings outside the tables, a line that is no number or
// a value beyond +-kMaxInputVolts, a value count that is not a block size,
// binary data that is neither.
bool ParseInputFile(const std::string& data, InputFile* file, std::string* error);

// Reads path (at most kMaxInputBytes) and parses it; errors name the path.
bool ReadInputFile(const std::string& path, InputFile* file, std::string* error);
