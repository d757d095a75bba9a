// Command line of `pelkor`.
#pragma once

#include <map>
#include <string>
#include <vector>

struct AppOptions {
    bool demo = false;
    bool help = false;
    bool version = false;
    std::string profilePath;           // empty: the default location
    std::map<int, std::string> ports;  // COMn -> device path
};

// Parses argv[1..]. On a bad argument returns false and says why in *error.
bool ParseAppOptions(const std::vector<std::string>& args, AppOptions* options, std::string* error);

// The --help text for the executable `program`.
std::string AppUsage(const std::string& program);
