#include "instrument/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace instrument {

const char* const kUsage =
    "usage: pelkor-instrument [options]\n"
    "Runs the stand-in instrument on a pseudo-terminal until SIGINT or SIGTERM,\n"
    "and prints the path the program opens as its serial device.\n"
    "\n"
    "  --link PATH             also publish the device as the symlink PATH\n"
    "  --signal CH:sine:FREQ:AMP[:PHASE]\n"
    "                          add a sine (Hz, volts peak, radians) to channel CH (0..6);\n"
    "                          repeat it for harmonics\n"
    "  --signal CH:sweep:FROM:TO:SECONDS:AMP\n"
    "                          a tone swept linearly from FROM to TO Hz, again every SECONDS\n"
    "  --signal CH:count       channel CH counts: sample j is j (mod 256 or 1024) counts\n"
    "  --dc CH:VOLTS           DC level of channel CH\n"
    "  --noise CH:RMS          Gaussian noise of channel CH, volts RMS\n"
    "                          (a channel without these options gets the demo signal:\n"
    "                          150 Hz at 3 V with a few harmonics and a little noise)\n"
    "  --fault NAME            none, silent-after-start, short-block, extra-bytes, garbage,\n"
    "                          no-reply, late-reply, double-reply, wrong-reply,\n"
    "                          hang-up-mid-block, stall, chatter (a noise byte every\n"
    "                          10 ms), never-stops (the stop byte is ignored)\n"
    "  --fault-samples K       samples before short-block, hang-up-mid-block and stall act,\n"
    "                          extra samples after the stop byte for extra-bytes (default 64)\n"
    "  --reply-delay MS        answer 'P' with 'Q' MS milliseconds late (default 0)\n"
    "  --fast                  stream samples as fast as the line allows, not at the rate\n"
    "  --any-speed             take bytes at any line speed after '9' (for Wine, which\n"
    "                          cannot set 128000 baud on a pseudo-terminal)\n"
    "  --seed N                seed of the noise (default 1)\n"
    "  --log FILE              log every byte with its time and line speed\n"
    "  --help                  show this text\n";

namespace {

bool ParseCount(const std::string& text, long max, long* value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v > max) return false;
    *value = v;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
    bool touched[kChannelCount] = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto noValue = [&]() {
            if (!hasValue) return true;
            *error = "option " + name + " takes no value (got \"" + value + "\")";
            return false;
        };
        if (name == "--help" || name == "-h") {
            if (!noValue()) return false;
            out->help = true;
        } else if (name == "--fast") {
            if (!noValue()) return false;
            out->options.paced = false;
        } else if (name == "--any-speed") {
            if (!noValue()) return false;
            out->options.anySpeed = true;
        } else if (name == "--link") {
            if (!takeValue()) return false;
            if (value.empty()) {
                *error = "option --link needs a path";
                return false;
            }
            out->linkPath = value;
        } else if (name == "--log") {
            if (!takeValue()) return false;
            if (value.empty()) {
                *error = "option --log needs a file name";
                return false;
            }
            out->options.logPath = value;
        } else if (name == "--signal" || name == "--dc" || name == "--noise") {
            if (!takeValue()) return false;
            std::string spec = value;
            if (name != "--signal") {
                // "CH:V" becomes "CH:dc:V"; anything without a colon fails below.
                const std::size_t colon = value.find(':');
                const std::string kind = name == "--dc" ? "dc" : "noise";
                spec = colon == std::string::npos
                           ? value
                           : value.substr(0, colon) + ":" + kind + value.substr(colon);
            }
            int channel = 0;
            ChannelSignal parsed;
            std::string why;
            if (!ParseSignal(spec, &channel, &parsed, &why)) {
                *error = "option " + name + " \"" + value + "\": " + why;
                return false;
            }
            ChannelSignal& target = out->options.channels[channel];
            if (!touched[channel]) target = ChannelSignal{};
            touched[channel] = true;
            ParseSignal(spec, &channel, &target, &why);
        } else if (name == "--fault") {
            if (!takeValue()) return false;
            bool ok = false;
            out->options.fault = ParseFault(value, &ok);
            if (!ok) {
                *error = "unknown fault \"" + value + "\" (see --help for the names)";
                return false;
            }
        } else if (name == "--fault-samples" || name == "--seed" || name == "--reply-delay") {
            if (!takeValue()) return false;
            long v = 0;
            const long max = name == "--seed"          ? 4294967295L
                             : name == "--reply-delay" ? 60000L
                                                       : 100000000L;
            if (!ParseCount(value, max, &v)) {
                *error = "option " + name + " \"" + value + "\" is not a whole number in range";
                if (name == "--reply-delay") *error += " (0 to 60000 ms)";
                return false;
            }
            if (name == "--seed") {
                out->options.seed = static_cast<unsigned>(v);
            } else if (name == "--reply-delay") {
                out->options.replyDelayMs = static_cast<int>(v);
            } else {
                out->options.faultSamples = static_cast<int>(v);
            }
        } else {
            *error = "unknown argument \"" + args[i] + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace instrument
