// Command line of pelkor-instrument.
#pragma once

#include <string>
#include <vector>

#include "instrument/instrument.h"

namespace instrument {

struct CommandLine {
    Options options;
    std::string linkPath;  // empty: publish only the slave path
    bool help = false;
};

// Parses the arguments after the program name. False with a message that names
// the bad value when an argument is unknown, lacks its value or is malformed.
// The first signal option for a channel replaces that channel's demo signal.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

extern const char* const kUsage;

}  // namespace instrument
