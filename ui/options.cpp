#include "ui/options.h"

#include "comlink/device_map.h"

bool ParseAppOptions(const std::vector<std::string>& args, AppOptions* options,
                     std::string* error) {
    AppOptions result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::string::size_type eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
        }
        auto takeValue = [&](std::string* out) {
            if (hasValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto noValue = [&] {
            if (hasValue) *error = arg + " takes no value";
            return !hasValue;
        };
        if (arg == "--demo") {
            if (!noValue()) return false;
            result.demo = true;
        } else if (arg == "--help" || arg == "-h") {
            if (!noValue()) return false;
            result.help = true;
        } else if (arg == "--version") {
            if (!noValue()) return false;
            result.version = true;
        } else if (arg == "--profile") {
            if (!takeValue(&result.profilePath)) return false;
            if (result.profilePath.empty()) {
                *error = "--profile needs a file path";
                return false;
            }
        } else if (arg == "--port") {
            std::string mapping;
            if (!takeValue(&mapping)) return false;
            int port = 0;
            std::string path;
            if (!ParsePortOverride(mapping, &port, &path, error)) return false;
            result.ports[port] = path;
        } else {
            *error = "unknown argument \"" + args[i] + "\" (see --help)";
            return false;
        }
    }
    *options = result;
    return true;
}

std::string AppUsage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "Spectrum analyser for the serial data-acquisition instrument.\n"
           "\n"
           "Options:\n"
           "  --demo                 start the stand-in instrument on a pseudo-terminal and\n"
           "                         connect the profile's COM port to it\n"
           "  --port COMn=PATH       open device PATH for COMn (n = 1..16); may be repeated\n"
           "  --profile PATH         keep the settings in this INI file instead of\n"
           "                         $XDG_CONFIG_HOME/pelkor/" +
           program +
           ".INI\n"
           "  --help                 show this text\n"
           "  --version              show the version\n";
}
