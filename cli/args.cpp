#include "cli/args.h"

#include <charconv>

#include "measurement/state.h"

namespace {

// Whole decimal number, nothing before or after it.
bool ParseInt(const std::string& text, long long* value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, *value);
    return r.ec == std::errc() && r.ptr == end;
}

std::string Quoted(const std::string& v) {
    return "'" + v + "'";
}

struct Parser {
    const std::vector<std::string>& args;
    CliOptions* o;
    std::string* error;
    size_t i = 0;

    bool Fail(const std::string& message) {
        *error = message;
        return false;
    }

    // The value of option name: "--name=value" or the next argument.
    bool Value(const std::string& name, const std::string* inlineValue, std::string* value) {
        if (inlineValue != nullptr) {
            *value = *inlineValue;
            return true;
        }
        if (i + 1 >= args.size()) return Fail(name + ": a value is missing");
        *value = args[++i];
        return true;
    }

    bool Source(CliSource source, const std::string& name) {
        if (o->source != CliSource::kNone) {
            return Fail(name + ": only one of --port, --device, --demo and --input may be given");
        }
        o->source = source;
        return true;
    }

    bool Range(const std::string& name, const std::string& v, long long lo, long long hi,
               int* out) {
        long long n = 0;
        if (!ParseInt(v, &n) || n < lo || n > hi) {
            return Fail(name + " " + Quoted(v) + ": expected a whole number from " +
                        std::to_string(lo) + " to " + std::to_string(hi));
        }
        *out = static_cast<int>(n);
        return true;
    }

    bool Port(const std::string& v) {
        // A device path (a /dev/serial/by-id name or a node): its COM number, if the
        // database has one, is looked up when the run starts.
        if (!v.empty() && v.front() == '/') {
            o->comPort = 0;
            o->devicePath = v;
            return true;
        }
        const auto eq = v.find('=');
        const std::string name = v.substr(0, eq);
        long long n = 0;
        const bool prefixed =
            name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0);
        if (!prefixed || !ParseInt(name.substr(3), &n) || n < kMinComPort || n > kMaxComPort) {
            return Fail("--port " + Quoted(v) +
                        ": expected COM1 to COM16, optionally COMn=PATH, or a device path such "
                        "as /dev/serial/by-id/...");
        }
        o->comPort = static_cast<int>(n);
        if (eq != std::string::npos) {
            o->devicePath = v.substr(eq + 1);
            if (o->devicePath.empty()) return Fail("--port " + Quoted(v) + ": the path is empty");
        }
        return true;
    }

    bool One(const std::string& arg) {
        std::string name = arg;
        std::string inlineStorage;
        const std::string* inlineValue = nullptr;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineStorage = arg.substr(eq + 1);
                inlineValue = &inlineStorage;
            }
        }
        auto flag = [&](bool* target) {
            if (inlineValue != nullptr) return Fail(name + " takes no value");
            *target = true;
            return true;
        };
        std::string v;
        if (name == "--help" || name == "-h") return flag(&o->help);
        if (name == "--version") return flag(&o->version);
        if (name == "--metrics") return flag(&o->metrics);
        if (name == "--list-ports") return flag(&o->listPorts);
        if (name == "--profile") {
            if (!Value(name, inlineValue, &o->profilePath)) return false;
            if (o->profilePath.empty()) return Fail("--profile: the file name is empty");
            return true;
        }
        if (name == "--demo") {
            bool unused = false;
            return flag(&unused) && Source(CliSource::kDemo, name);
        }
        if (name == "--port") {
            return Value(name, inlineValue, &v) && Source(CliSource::kPort, name) && Port(v);
        }
        if (name == "--device") {
            if (!Value(name, inlineValue, &v) || !Source(CliSource::kDevice, name)) return false;
            if (v.empty()) return Fail("--device: the path is empty");
            o->devicePath = v;
            return true;
        }
        if (name == "--input") {
            if (!Value(name, inlineValue, &v) || !Source(CliSource::kInput, name)) return false;
            if (v.empty()) return Fail("--input: the file name is empty");
            o->inputPath = v;
            return true;
        }
        if (name == "--signal") {
            if (!Value(name, inlineValue, &v)) return false;
            o->signals.push_back(v);
            return true;
        }
        if (name == "--fault") return Value(name, inlineValue, &o->fault);
        if (name == "--rate") {
            if (!Value(name, inlineValue, &v)) return false;
            long long n = 0;
            for (int k = 0; k < kSampleRateCount; ++k) {
                if (ParseInt(v, &n) && n == SampleRateTable[k].rate) {
                    o->rateIndex = k;
                    o->rateGiven = true;
                    return true;
                }
            }
            return Fail("--rate " + Quoted(v) +
                        ": not a sample rate of the instrument; allowed: " + AllowedRates());
        }
        if (name == "--samples") {
            if (!Value(name, inlineValue, &v)) return false;
            long long n = 0;
            for (int k = 0; k < kSampleCountCount; ++k) {
                if (ParseInt(v, &n) && n == SampleCountTable[k].count) {
                    o->countIndex = k;
                    o->countGiven = true;
                    return true;
                }
            }
            return Fail("--samples " + Quoted(v) +
                        ": not a block size of the instrument; allowed: " + AllowedCounts());
        }
        if (name == "--channel") {
            o->channelGiven = true;
            return Value(name, inlineValue, &v) &&
                   Range(name, v, kMinChannel, kMaxChannel, &o->channel);
        }
        if (name == "--bits") {
            if (!Value(name, inlineValue, &v)) return false;
            o->bitsGiven = true;
            if (v == "8") return (o->resolution = 0, true);
            if (v == "10") return (o->resolution = 1, true);
            return Fail("--bits " + Quoted(v) + ": allowed: 8, 10");
        }
        if (name == "--window") {
            if (!Value(name, inlineValue, &v)) return false;
            o->windowGiven = true;
            if (v == "on") return (o->windowMode = 0, true);
            if (v == "off") return (o->windowMode = 1, true);
            return Fail("--window " + Quoted(v) + ": allowed: on, off");
        }
        if (name == "--average") {
            if (!Value(name, inlineValue, &v)) return false;
            o->averageGiven = true;
            if (v == "off") return (o->averagingMode = 0, true);
            if (v == "on") return (o->averagingMode = 1, true);
            if (v == "10") return (o->averagingMode = 2, true);
            return Fail("--average " + Quoted(v) + ": allowed: off, on, 10");
        }
        if (name == "--count") {
            o->countOfCyclesGiven = true;
            return Value(name, inlineValue, &v) && Range(name, v, 1, 1000000, &o->cycles);
        }
        if (name == "--interval") {
            return Value(name, inlineValue, &v) && Range(name, v, 0, 3600000, &o->intervalMs);
        }
        if (name == "--stream") {
            return Value(name, inlineValue, &v) && Range(name, v, 1, 86400, &o->streamSeconds);
        }
        if (name == "--overlap") {
            if (!Value(name, inlineValue, &v)) return false;
            o->overlapGiven = true;
            if (v == "0" || v == "50" || v == "75") return (o->overlap = std::stoi(v), true);
            return Fail("--overlap " + Quoted(v) + ": allowed: 0, 50, 75");
        }
        // A bare --json (last, or before another option) writes to standard output.
        if (name == "--json" && inlineValue == nullptr &&
            (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)) {
            o->jsonPath = "-";
            return true;
        }
        if (name == "--json" || name == "--csv" || name == "--save-raw") {
            std::string* target = name == "--json"  ? &o->jsonPath
                                  : name == "--csv" ? &o->csvPath
                                                    : &o->rawPath;
            if (!Value(name, inlineValue, target)) return false;
            if (target->empty()) return Fail(name + ": the file name is empty");
            return true;
        }
        if (arg.rfind("-", 0) == 0) return Fail(Quoted(arg) + ": unknown option (see --help)");
        return Fail(Quoted(arg) + ": unexpected argument (see --help)");
    }

    bool Check() {
        if (o->help || o->version) return true;
        if (o->listPorts) {
            if (o->source != CliSource::kNone) {
                return Fail("--list-ports lists the ports only; give no instrument with it");
            }
            if (!o->csvPath.empty() || !o->rawPath.empty()) {
                return Fail("--list-ports takes only --json and --profile");
            }
            return true;
        }
        if (o->source == CliSource::kNone) {
            return Fail(
                "no instrument: give --port COMn, --port PATH, --device PATH, --demo or --input "
                "FILE (--list-ports shows the ports)");
        }
        if (o->source != CliSource::kDemo && (!o->signals.empty() || !o->fault.empty())) {
            return Fail(std::string(o->signals.empty() ? "--fault" : "--signal") +
                        " applies to --demo only");
        }
        if (o->source == CliSource::kInput) {
            if (o->countOfCyclesGiven) return Fail("--count applies to an instrument, not --input");
            if (o->intervalMs != 0) return Fail("--interval applies to an instrument, not --input");
            if (!o->rawPath.empty())
                return Fail("--save-raw applies to an instrument, not --input");
            if (o->channelGiven) return Fail("--channel applies to an instrument, not --input");
        }
        if (o->streamSeconds > 0) {
            if (o->source == CliSource::kInput) {
                return Fail("--stream applies to an instrument; a recorded stream replays whole");
            }
            if (o->countOfCyclesGiven || o->intervalMs != 0) {
                return Fail("--stream takes no --count or --interval: it reads continuously");
            }
        } else if (o->overlapGiven && o->source != CliSource::kInput) {
            return Fail("--overlap applies to --stream or to the replay of a recorded stream");
        }
        if (o->jsonPath == "-" && o->csvPath == "-") {
            return Fail("--json - and --csv -: only one of them can go to standard output");
        }
        if (o->rawPath == "-") return Fail("--save-raw: give a file name, not '-'");
        return true;
    }
};

std::string Join(auto values) {
    std::string out;
    for (const auto& v : values) {
        if (!out.empty()) out += ", ";
        out += std::to_string(v);
    }
    return out;
}

}  // namespace

std::string AllowedRates() {
    std::vector<int> v;
    for (const SampleRateEntry& e : SampleRateTable) v.push_back(e.rate);
    return Join(v);
}

std::string AllowedCounts() {
    std::vector<int> v;
    for (const SampleCountEntry& e : SampleCountTable) v.push_back(e.count);
    return Join(v);
}

bool ParseArguments(const std::vector<std::string>& args, CliOptions* options, std::string* error) {
    *options = CliOptions{};
    Parser p{args, options, error};
    for (p.i = 0; p.i < args.size(); ++p.i) {
        if (!p.One(args[p.i])) return false;
    }
    return p.Check();
}

std::string UsageText() {
    return "Usage: pelkor-measure (--port COMn[=PATH] | --port PATH | --device PATH | --demo |\n"
           "                       --input FILE) [settings] [outputs]\n"
           "       pelkor-measure --list-ports [--json] [--profile FILE]\n"
           "\n"
           "Takes blocks from the instrument (or a saved file) and analyses them as the\n"
           "dialog does: fundamental, level, THD, and optionally distortion figures.\n"
           "\n"
           "Where:\n"
           "  --port COMn          COM1..COM16 as the dialog numbers them (its profile's "
           "\"Ports\")\n"
           "  --port COMn=PATH     COMn, opened at PATH\n"
           "  --port PATH          a device by its path (/dev/serial/by-id/... or /dev/ttyUSB0)\n"
           "  --list-ports         list the COM numbers and serial devices, then exit\n"
           "                       (as JSON with --json)\n"
           "  --profile FILE       the profile that keeps the COM numbers (default: the\n"
           "                       dialog's, $XDG_CONFIG_HOME/pelkor/pelkor.INI)\n"
           "  --device PATH        any serial device or pseudo-terminal\n"
           "  --demo               the stand-in instrument, in this process\n"
           "  --signal CH:KIND:..  demo signal: CH:sine:FREQ:AMP[:PHASE], CH:dc:VOLTS,\n"
           "                       CH:noise:RMS (repeatable)\n"
           "  --fault NAME         demo fault to inject (no-reply, stall, ...)\n"
           "  --input FILE         a block saved with --save-raw, or text: volts, one per line\n"
           "\n"
           "Settings:\n"
           "  --rate R             samples/s (default 1800), one of\n"
           "                       " +
           AllowedRates() +
           "\n"
           "  --samples N          block size (default 128): " +
           AllowedCounts() +
           "\n"
           "  --channel C          0..6 (default 1)\n"
           "  --bits 8|10          resolution (default 8)\n"
           "  --window on|off      Blackman-Harris window (default on)\n"
           "  --average off|on|10  averaging across cycles (default off)\n"
           "  --count K            K cycles (default 1)\n"
           "  --interval MS        pause between cycles (default 0)\n"
           "  --stream SECONDS     read the instrument continuously for SECONDS (1..86400)\n"
           "                       and analyse every block of N, none lost between them\n"
           "  --overlap 0|50|75    overlap of successive stream blocks in % (default 0, or\n"
           "                       the recorded one when replaying a stream)\n"
           "\n"
           "Outputs (FILE '-' is standard output):\n"
           "  (default)            the three result texts, one line per cycle\n"
           "  --metrics            also THD (harmonics 2..10), THD+N, SINAD, SNR, ENOB, SFDR\n"
           "  --json [FILE]        settings, timestamps, peaks, THD and figures of every cycle\n"
           "                       (no FILE: standard output); with --stream one line\n"
           "                       (JSON record) per block\n"
           "  --csv FILE           entry,frequency_hz,level_db of the last spectrum\n"
           "  --save-raw FILE      the received blocks, byte for byte, with their settings;\n"
           "                       with --stream the whole stream behind one header\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 measured, 1 an output could not be written, 2 bad arguments or\n"
           "input file, 3 no instrument or handshake failed, 4 acquisition timeout or lost\n"
           "device.\n";
}
