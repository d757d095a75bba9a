#include "cli/list_ports.h"

#include <cstdlib>

std::string CliProfilePath(const std::string& given) {
    if (!given.empty()) return given;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config = xdg != nullptr ? xdg : "";
    // Relative values are to be ignored, as for every XDG variable.
    if (config.empty() || config.front() != '/') {
        const char* home = std::getenv("HOME");
        config = std::string(home != nullptr ? home : "") + "/.config";
    }
    return config + "/pelkor/pelkor.INI";
}
