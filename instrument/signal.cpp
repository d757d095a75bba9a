// Signal model, quantisation and the parsing of signal and fault names.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "instrument/instrument.h"

namespace instrument {

Options::Options() {
    for (ChannelSignal& channel : channels) channel = DefaultDemoSignal();
}

ChannelSignal DefaultDemoSignal() {
    ChannelSignal signal;
    // 150 Hz at 3 V peak with harmonics at about -30, -40 and -50 dB: every
    // harmonic stays below the 900 Hz Nyquist limit of 1800 samples/s.
    signal.tones = {
        {150.0, 3.0, 0.0}, {300.0, 0.095, 0.7}, {450.0, 0.03, 1.9}, {600.0, 0.0095, 2.6}};
    signal.noiseRms = 0.002;
    return signal;
}

namespace {

struct FaultEntry {
    Fault fault;
    const char* name;
};

constexpr FaultEntry kFaults[] = {
    {Fault::None, "none"},
    {Fault::SilentAfterStart, "silent-after-start"},
    {Fault::ShortBlock, "short-block"},
    {Fault::ExtraBytes, "extra-bytes"},
    {Fault::Garbage, "garbage"},
    {Fault::NoReply, "no-reply"},
    {Fault::LateReply, "late-reply"},
    {Fault::DoubleReply, "double-reply"},
    {Fault::WrongReply, "wrong-reply"},
    {Fault::HangUpMidBlock, "hang-up-mid-block"},
    {Fault::Stall, "stall"},
    {Fault::Chatter, "chatter"},
    {Fault::NeverStops, "never-stops"},
};

std::string Canonical(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Whole-string number parse; rejects empty text, trailing characters, inf and nan.
bool ParseNumber(const std::string& text, double* value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t at = text.find(sep, begin);
        parts.push_back(text.substr(begin, at - begin));
        if (at == std::string::npos) break;
        begin = at + 1;
    }
    return parts;
}

}  // namespace

Fault ParseFault(const std::string& name, bool* ok) {
    const std::string wanted = Canonical(name);
    for (const FaultEntry& entry : kFaults) {
        if (Canonical(entry.name) == wanted) {
            *ok = true;
            return entry.fault;
        }
    }
    *ok = false;
    return Fault::None;
}

const char* FaultName(Fault fault) {
    for (const FaultEntry& entry : kFaults) {
        if (entry.fault == fault) return entry.name;
    }
    return "unknown";
}

bool ParseSignal(const std::string& spec, int* channel, ChannelSignal* into, std::string* error) {
    const std::vector<std::string> parts = Split(spec, ':');
    auto fail = [&](const std::string& message) {
        *error = "bad signal \"" + spec + "\": " + message;
        return false;
    };
    if (parts.size() < 2) {
        return fail(
            "expected CH:sine:FREQ:AMP[:PHASE], CH:sweep:FROM:TO:SECONDS:AMP, CH:dc:V, "
            "CH:noise:RMS or CH:count");
    }
    const std::string& ch = parts[0];
    if (ch.size() != 1 || ch[0] < '0' || ch[0] > '6') {
        return fail("channel \"" + ch + "\" is not 0..6");
    }
    const std::string kind = Canonical(parts[1]);
    std::vector<double> values;
    for (std::size_t i = 2; i < parts.size(); ++i) {
        double v = 0.0;
        if (!ParseNumber(parts[i], &v)) return fail("\"" + parts[i] + "\" is not a number");
        values.push_back(v);
    }
    if (kind == "sine") {
        if (values.size() < 2 || values.size() > 3) {
            return fail("a sine takes FREQ:AMP[:PHASE]");
        }
        if (values[0] <= 0.0) return fail("frequency \"" + parts[2] + "\" must be above 0 Hz");
        if (values[1] < 0.0) return fail("amplitude \"" + parts[3] + "\" must not be negative");
        into->tones.push_back({values[0], values[1], values.size() == 3 ? values[2] : 0.0});
    } else if (kind == "sweep") {
        if (values.size() != 4) return fail("a sweep takes FROM:TO:SECONDS:AMP");
        if (values[0] <= 0.0 || values[1] <= 0.0)
            return fail("sweep frequencies must be above 0 Hz");
        if (values[2] <= 0.0) return fail("sweep length \"" + parts[4] + "\" must be above 0 s");
        if (values[3] < 0.0) return fail("amplitude \"" + parts[5] + "\" must not be negative");
        into->sweeps.push_back({values[0], values[1], values[2], values[3]});
    } else if (kind == "count") {
        if (!values.empty()) return fail("count takes no value");
        into->counting = true;
    } else if (kind == "dc") {
        if (values.size() != 1) return fail("dc takes one value in volts");
        into->dc = values[0];
    } else if (kind == "noise") {
        if (values.size() != 1) return fail("noise takes one RMS value in volts");
        if (values[0] < 0.0) return fail("noise RMS \"" + parts[2] + "\" must not be negative");
        into->noiseRms = values[0];
    } else {
        return fail("kind \"" + parts[1] + "\" is not sine, sweep, dc, noise or count");
    }
    *channel = ch[0] - '0';
    return true;
}

double SignalValue(const ChannelSignal& signal, double t) {
    double v = signal.dc;
    for (const Tone& tone : signal.tones) {
        v += tone.amplitude * std::sin(2.0 * std::numbers::pi * tone.frequency * t + tone.phase);
    }
    for (const Sweep& sweep : signal.sweeps) {
        // Phase of a linear chirp, restarting at every sweep.
        const double tau = std::fmod(t, sweep.seconds);
        const double cycles =
            sweep.from * tau + (sweep.to - sweep.from) * tau * tau / (2.0 * sweep.seconds);
        v += sweep.amplitude * std::sin(2.0 * std::numbers::pi * cycles);
    }
    return v;
}

int Quantise(double volts, int resolution) {
    const double full = resolution == 0 ? 255.0 : 1023.0;
    const double clipped = std::clamp(std::isnan(volts) ? 0.0 : volts, -5.0, 5.0);
    return static_cast<int>(std::lround((clipped / 2.0 + 2.5) * full / 5.0));
}

}  // namespace instrument
