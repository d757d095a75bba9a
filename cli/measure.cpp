#include "cli/measure.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "analysis/analysis.h"
#include "analysis/metrics.h"
#include "cli/args.h"
#include "cli/console_ui.h"
#include "cli/demo_options.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/list_ports.h"
#include "cli/raw_block.h"
#include "cli/replay.h"
#include "cli/stream_run.h"
#include "comlink/device_map.h"
#include "comlink/port.h"
#include "instrument/instrument.h"
#include "measurement/drain.h"
#include "measurement/export.h"
#include "measurement/measurement.h"
#include "measurement/metrics_text.h"

#ifndef PELKOR_VERSION
#define PELKOR_VERSION "unknown"
#endif

namespace {

constexpr const char* kTimeoutText = "Acquisition timeout. Click OK to continue.";
constexpr const char* kLostText = "Instrument connection lost.";
// Any number will do for --device and --demo: the map sends it to their path.
constexpr int kDeviceComPort = 1;
constexpr int kConnectAttempts = 3;
// Before a retry the line must be quiet this long, so that a reply that missed
// its window on the last attempt cannot land in the next attempt's.
constexpr int kStaleReplyQuietMs = 500;

struct Settings {
    int rate = 0;
    int count = 0;
    int channel = 0;
    int resolution = 0;
    int windowMode = 0;
    int averagingMode = 0;
};

struct Cycle {
    Settings settings;
    std::string started;
    std::string finished;
    int fundamentalBin = 0;
    double fundamentalLevel = 0;
    int harmonicBins[5] = {};
    double harmonicLevels[5] = {};
    double thdPercent = 0;
    std::string fundamentalText, amplitudeText, thdText;
    DistortionMetrics metrics;
};

std::string Now() {
    using namespace std::chrono;
    // The calendar of <chrono>, so no C library's gmtime_r is needed.
    const auto t = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss time{t - day};
    char text[96];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

Settings SettingsOf(const MeasurementState& s) {
    return {s.sampleRate, s.sampleCount, s.channel, s.resolution, s.windowMode, s.averagingMode};
}

// The figures of the cycle that just ended; ComputeThd has turned thdLevels into
// amplitudes, and its percentage is theirs.
Cycle Record(const MeasurementState& s, std::string started) {
    Cycle c;
    c.settings = SettingsOf(s);
    c.started = std::move(started);
    c.finished = Now();
    c.fundamentalBin = s.fundamentalBin;
    c.fundamentalLevel = s.fundamentalLevel;
    double sum = 0;
    for (int p = 0; p < 5; ++p) {
        c.harmonicBins[p] = s.harmonicBins[p];
        c.harmonicLevels[p] = s.harmonicLevels[p];
        sum += s.thdLevels[p + 1] * s.thdLevels[p + 1];
    }
    c.thdPercent = 100.0 * std::sqrt(sum) / s.thdLevels[0];
    c.fundamentalText = s.fundamentalText;
    c.amplitudeText = s.amplitudeText;
    c.thdText = s.thdText;
    c.metrics = ComputeDistortionMetrics(s);
    return c;
}

// The first figure of the cycle that is not a finite number, named; empty when
// all are. Text and JSON never show such a figure: the run refuses it instead.
std::string NonFinite(const MeasurementState& s, const Cycle& c) {
    const std::string bad = NonFiniteResult(s);
    if (!bad.empty()) return bad;
    if (!std::isfinite(c.thdPercent)) return "THD";
    const DistortionMetrics& m = c.metrics;
    if (!m.valid) return {};
    const std::pair<const char*, double> figures[] = {
        {"fundamental frequency", m.fundamentalFrequency},
        {"fundamental power", m.fundamentalPower},
        {"harmonic THD", m.thdPercent + m.thdDb},
        {"THD+N", m.thdnPercent + m.thdnDb},
        {"SINAD", m.sinadDb},
        {"SNR", m.snrDb},
        {"ENOB", m.enob},
        {"SFDR", m.sfdrDb}};
    for (const auto& [name, value] : figures) {
        if (!std::isfinite(value)) return name;
    }
    return {};
}

const char* AveragingName(int mode) {
    return mode == 0 ? "off" : mode == 1 ? "on" : "10";
}

void WriteSettings(CJsonWriter& j, const Settings& s) {
    j.Integer("sample_rate", s.rate);
    j.Integer("samples", s.count);
    j.Integer("channel", s.channel);
    j.Integer("bits", s.resolution == 1 ? 10 : 8);
    j.String("window", s.windowMode == 0 ? "on" : "off");
    j.String("averaging", AveragingName(s.averagingMode));
}

void WritePeak(CJsonWriter& j, int bin, double level, const Settings& s) {
    j.Integer("bin", bin);
    j.Number("frequency_hz", static_cast<double>(bin) * s.rate / s.count);
    j.Number("level_dbm", level);
}

void WriteMetrics(CJsonWriter& j, const DistortionMetrics& m, const Settings& s) {
    j.BeginObject("metrics");
    j.Bool("valid", m.valid);
    if (m.valid) {
        j.Number("fundamental_frequency_hz", m.fundamentalFrequency);
        j.Number("fundamental_power_v2", m.fundamentalPower);
        j.Integer("lobe_half_width", m.lobeHalfWidth);
        j.Number("thd_percent", m.thdPercent);
        j.Number("thd_db", m.thdDb);
        j.Number("thd_n_percent", m.thdnPercent);
        j.Number("thd_n_db", m.thdnDb);
        j.Number("sinad_db", m.sinadDb);
        j.Number("snr_db", m.snrDb);
        j.Number("enob_bits", m.enob);
        j.Number("sfdr_db", m.sfdrDb);
        j.Number("spur_frequency_hz", static_cast<double>(m.spurBin) * s.rate / s.count);
        j.BeginArray("harmonics");
        for (int h = 0; h < kHarmonicCount; ++h) {
            j.BeginObject();
            j.Integer("order", h + 2);
            j.Integer("bin", m.harmonicBins[h]);
            j.Number("frequency_hz", static_cast<double>(m.harmonicBins[h]) * s.rate / s.count);
            // A harmonic whose entries all belong to an earlier group has no figure.
            j.Number("relative_db", m.harmonicPowers[h] > 0
                                        ? 10 * std::log10(m.harmonicPowers[h] / m.fundamentalPower)
                                        : std::nan(""));
            j.EndObject();
        }
        j.EndArray();
    }
    j.EndObject();
}

class CRun {
  public:
    CRun(const CliOptions& o, std::ostream& out, std::ostream& err, bool progressBar)
        : o(o), out(out), err(err), progressBar(progressBar) {}

  private:
    const CliOptions& o;
    std::ostream& out;
    std::ostream& err;
    bool progressBar;
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    std::vector<Cycle> cycles;
    std::vector<RawBlock> blocks;
    std::string sourceKind;
    std::string sourceName;  // port, device or file
    std::string failure;     // why the run stopped early
    bool stdoutTaken = false;
    bool interrupted = false;  // stopped by a signal; the outputs still go out
    long long completed = 0;   // cycles measured

    int Fail(int code, const std::string& message) {
        if (failure.empty()) failure = message;
        err << "pelkor-measure: " << message << "\n";
        return code;
    }

    // Prints the cycle's line; the report keeps it only when it is wanted, so a
    // long run without --json holds no more than the last cycle.
    void Keep(Cycle c) {
        ++completed;
        Report(c);
        if (o.jsonPath.empty()) {
            if (cycles.empty())
                cycles.push_back(std::move(c));
            else
                cycles.front() = std::move(c);
        } else {
            cycles.push_back(std::move(c));
        }
    }

    void Report(const Cycle& c) {
        if (stdoutTaken) return;
        out << "Fundamental: " << c.fundamentalText << "  Amplitude: " << c.amplitudeText
            << "  THD: " << c.thdText << "\n";
        if (o.metrics) out << FormatMetricsLine(c.metrics);
        out << std::flush;
    }

    int FromInput() {
        sourceKind = "input";
        sourceName = o.inputPath;
        InputFile file;
        std::string error;
        if (!ReadInputFile(o.inputPath, &file, &error)) return Fail(kExitBadArguments, error);
        MeasurementState& s = *state;
        ResetAnalysisState();
        s.thdEnabled = 1;
        if (file.volts) {
            s.sampleRate = SampleRateTable[o.rateIndex].rate;
            s.sampleCount = static_cast<int>(file.voltValues.size());
            if (o.countGiven && SampleCountTable[o.countIndex].count != s.sampleCount) {
                return Fail(kExitBadArguments,
                            o.inputPath + ": " + std::to_string(s.sampleCount) +
                                " values, but --samples " +
                                std::to_string(SampleCountTable[o.countIndex].count));
            }
            s.resolution = o.resolution;
            s.channel = o.channel;
            s.windowMode = o.windowMode;
            s.averagingMode = o.averagingMode;
            const std::string started = Now();
            AnalyseVolts(s, file.voltValues.data());
            Cycle c = Record(s, started);
            if (const std::string bad = NonFinite(s, c); !bad.empty()) {
                return Fail(kExitBadArguments,
                            o.inputPath + ": the analysis gave a " + bad + " that is no number");
            }
            Keep(std::move(c));
            return kExitMeasured;
        }
        int index = 0;
        for (const RawBlock& b : file.blocks) {
            ++index;
            const std::string where = o.inputPath + ": block " + std::to_string(index) + ": ";
            if (o.rateGiven && o.rateIndex != b.rateIndex) {
                return Fail(kExitBadArguments,
                            where + "recorded at " +
                                std::to_string(SampleRateTable[b.rateIndex].rate) +
                                " s/s, not the --rate given");
            }
            if (o.countGiven && o.countIndex != b.countIndex) {
                return Fail(kExitBadArguments,
                            where + "holds " +
                                std::to_string(SampleCountTable[b.countIndex].count) +
                                " samples, not the --samples given");
            }
            if (o.bitsGiven && o.resolution != b.resolution) {
                return Fail(kExitBadArguments, where + "recorded at " +
                                                   (b.resolution == 1 ? "10" : "8") +
                                                   " bits, not the --bits given");
            }
        }
        index = 0;
        for (const RawBlock& b : file.blocks) {
            ++index;
            if (InterruptRequested()) return Interrupted();
            s.sampleRate = SampleRateTable[b.rateIndex].rate;
            s.sampleCount = SampleCountTable[b.countIndex].count;
            s.channel = b.channel;
            s.resolution = b.resolution;
            s.windowMode = o.windowGiven ? o.windowMode : b.windowMode;
            s.averagingMode = o.averageGiven ? o.averagingMode : b.averagingMode;
            const std::string started = Now();
            AnalyseBlock(s, b.bytes.data(), static_cast<int>(b.bytes.size()));
            Cycle c = Record(s, started);
            if (const std::string bad = NonFinite(s, c); !bad.empty()) {
                return Fail(kExitBadArguments, o.inputPath + ": block " + std::to_string(index) +
                                                   ": the analysis gave a " + bad +
                                                   " that is no number");
            }
            Keep(std::move(c));
        }
        return kExitMeasured;
    }

    int FromInstrument() {
        std::unique_ptr<instrument::PtyHost> host;
        int comPort = o.comPort;
        std::string device = o.devicePath;
        std::string error;
        if (o.source == CliSource::kDemo) {
            instrument::Options io;
            if (!DemoOptions(o, &io, &error)) return Fail(kExitBadArguments, error);
            host = std::make_unique<instrument::PtyHost>(io);
            if (!host->Start(&error)) {
                return Fail(kExitNoInstrument, "the demo instrument did not start: " + error);
            }
            comPort = kDeviceComPort;
            device = host->SlavePath();
            sourceKind = "demo";
            sourceName = device;
        } else if (o.source == CliSource::kDevice) {
            comPort = kDeviceComPort;
            std::error_code ec;
            const auto absolute = std::filesystem::absolute(device, ec);
            if (!ec) device = absolute.string();
            sourceKind = "device";
            sourceName = device;
        } else {
            // COMn as the dialog numbers it; a device path by its number, if it has one.
            comPort = SetUpCliPorts(CliProfilePath(o.profilePath), comPort, device, err);
            if (comPort == 0) comPort = kDeviceComPort;
            sourceKind = "port";
            sourceName = "COM" + std::to_string(comPort);
        }
        if (!device.empty() && !SetComDevice(comPort, device, &error)) {
            return Fail(kExitBadArguments, error);
        }
        const std::string path = ComDevicePath(comPort);
        const int code = Measure(comPort, path);
        ClearComDevices();
        if (host) host->Stop();
        return code;
    }

    // Discards what the failed attempt left, until the line is quiet (bounded).
    // False when it keeps sending, with the reason in portProblemText.
    bool DrainBeforeRetry() {
        MeasurementState& s = *state;
        DrainSettings settings;
        settings.readTimeoutMs = kStaleReplyQuietMs;
        if (DrainLink(s, settings).end != DrainEnd::KeepsSending) return true;
        s.portProblemText = kKeepsSendingText;
        return false;
    }

    int Measure(int comPort, const std::string& path) {
        MeasurementState& s = *state;
        s.profile = nullptr;  // a headless run changes no operator settings
        CConsoleUi ui(s, o, err, progressBar);
        ui.RefreshSettings();
        s.comPort = comPort;  // as the dialog holds it: a lost device reads "COMn:Error"
        ResetAnalysisState();
        // The reply must be waiting 50 ms after 'P': on a loaded machine an answering
        // instrument can miss that, so a port that opened gets two more tries. A
        // wrong, double or late reply fails every time.
        for (int attempt = 0; attempt < kConnectAttempts && s.connected != 1; ++attempt) {
            if (attempt > 0 && !DrainBeforeRetry()) break;
            ConnectInstrument(s, ui, comPort);
            if (s.port == nullptr || s.port->GetError() != 0 || s.port->osError != 0) break;
            if (!s.portProblemText.empty()) break;  // a line that keeps sending stays so
        }
        if (s.connected != 1) {
            // Something is sending: not a missing instrument, and no retry helps.
            const bool sending = !s.portProblemText.empty();
            std::string reason = sending             ? s.portProblemText
                                 : s.port != nullptr ? s.port->osErrorText
                                                     : std::string();
            if (reason.empty()) reason = "the instrument did not answer the handshake";
            ReleaseConnection(s);
            return Fail(sending ? kExitAcquisition : kExitNoInstrument,
                        s.portStatusText + " (" + path + "): " + reason);
        }
        // As the dialog does when averaging is switched on: start from nothing.
        ComputeSpectrum(s.samples, s.spectrum, s.sampleCount, 1, true);
        int code = kExitMeasured;
        for (int k = 0; k < o.cycles; ++k) {
            if (k > 0 && o.intervalMs > 0) Pause(o.intervalMs);
            if (InterruptRequested()) {
                code = Interrupted();
                break;
            }
            const std::string started = Now();
            ui.BeginCycle();
            ui.messages.clear();
            ui.lastBlock.clear();
            const int repaints = ui.repaints;
            s.busy = 1;
            SingleConvert(s, ui);
            s.busy = 0;
            ui.EndProgress();
            std::string bad;
            if (ui.repaints > repaints) {
                Cycle c = Record(s, started);
                bad = NonFinite(s, c);
                if (bad.empty()) Keep(std::move(c));
                if (!o.rawPath.empty() && !ui.lastBlock.empty()) {
                    RawBlock b;
                    b.rateIndex = o.rateIndex;
                    b.countIndex = o.countIndex;
                    b.channel = s.channel;
                    b.resolution = s.resolution;
                    b.windowMode = s.windowMode;
                    b.averagingMode = s.averagingMode;
                    b.bytes = ui.lastBlock;
                    blocks.push_back(std::move(b));
                }
            }
            if (ui.Stopped() || InterruptRequested()) {
                code = Interrupted();
                break;
            }
            if (!bad.empty()) {
                failure = "the analysis of cycle " + std::to_string(k + 1) + " gave a " + bad +
                          " that is no number";
                err << "pelkor-measure: " << failure << "\n";
                code = kExitAcquisition;
                break;
            }
            bool lost = false, timeout = false, sending = false;
            for (const std::string& m : ui.messages) {
                lost = lost || m == kLostText;
                timeout = timeout || m == kTimeoutText;
                sending = sending || m == kKeepsSendingText;
            }
            if (lost || timeout || sending || ui.repaints == repaints) {
                std::string reason = s.port != nullptr ? s.port->osErrorText : std::string();
                failure = lost      ? "lost device " + path
                          : timeout ? "acquisition timeout on " + path
                          : sending ? "the instrument keeps sending on " + path + "; check the line"
                                    : "the measurement did not complete on " + path;
                if (!reason.empty()) failure += ": " + reason;
                err << "pelkor-measure: " << failure << " (cycle " << k + 1 << " of " << o.cycles
                    << ")\n";
                code = kExitAcquisition;
                break;
            }
        }
        ReleaseConnection(s);
        return code;
    }

    // A pause between cycles that a stop request cuts short.
    static void Pause(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!InterruptRequested()) {
            const auto left = until - std::chrono::steady_clock::now();
            if (left <= std::chrono::milliseconds(0)) return;
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
        }
    }

    int Interrupted() {
        interrupted = true;
        err << "pelkor-measure: interrupted after " << completed << " cycle"
            << (completed == 1 ? "" : "s") << "\n";
        return kExitInterrupted;
    }

    std::string Json() const {
        CJsonWriter j;
        j.BeginObject();
        j.String("program", "pelkor-measure");
        j.String("version", PELKOR_VERSION);
        j.String("status", interrupted ? "interrupted" : failure.empty() ? "measured" : "failed");
        if (!failure.empty()) j.String("error", failure);
        j.Integer("completed", completed);
        j.BeginObject("source");
        j.String("kind", sourceKind);
        j.String(sourceKind == "input"  ? "file"
                 : sourceKind == "port" ? "port"
                                        : "device",
                 sourceName);
        j.EndObject();
        j.BeginObject("settings");
        Settings s = SettingsOf(*state);
        if (!cycles.empty()) s = cycles.front().settings;
        WriteSettings(j, s);
        j.Integer("count", o.source == CliSource::kInput ? completed : o.cycles);
        j.Integer("interval_ms", o.intervalMs);
        j.EndObject();
        j.BeginArray("cycles");
        int index = 0;
        for (const Cycle& c : cycles) {
            j.BeginObject();
            j.Integer("cycle", ++index);
            j.String("started", c.started);
            j.String("finished", c.finished);
            j.BeginObject("settings");
            WriteSettings(j, c.settings);
            j.EndObject();
            j.BeginObject("fundamental");
            WritePeak(j, c.fundamentalBin, c.fundamentalLevel, c.settings);
            j.EndObject();
            j.BeginArray("peaks");
            for (int p = 0; p < 5; ++p) {
                j.BeginObject();
                WritePeak(j, c.harmonicBins[p], c.harmonicLevels[p], c.settings);
                j.EndObject();
            }
            j.EndArray();
            j.Number("thd_percent", c.thdPercent);
            j.BeginObject("texts");
            j.String("fundamental", c.fundamentalText);
            j.String("amplitude", c.amplitudeText);
            j.String("thd", c.thdText);
            j.EndObject();
            WriteMetrics(j, c.metrics, c.settings);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        return j.Text();
    }

    // Standard output for "-", else a file written whole or not at all.
    bool Emit(const std::string& path, const std::string& data, const char* what) {
        if (path == "-") {
            out << data << std::flush;
            return true;
        }
        std::string error;
        if (WriteFileAtomically(path, data, &error)) return true;
        err << "pelkor-measure: " << what << ": " << error << "\n";
        return false;
    }

  public:
    int Go() {
        stdoutTaken = o.jsonPath == "-" || o.csvPath == "-";
        const int code = o.source == CliSource::kInput ? FromInput() : FromInstrument();
        // A run that reached the instrument reports, also when it failed there.
        if (code == kExitBadArguments) return code;
        bool written = true;
        if (!o.jsonPath.empty()) written = Emit(o.jsonPath, Json(), "--json") && written;
        if (completed > 0) {
            if (!o.csvPath.empty()) {
                written = Emit(o.csvPath, FormatSpectrumCsv(*state), "--csv") && written;
            }
            if (!o.rawPath.empty()) {
                std::string data;
                for (const RawBlock& b : blocks) data += FormatRawBlock(b);
                written = Emit(o.rawPath, data, "--save-raw") && written;
            }
        }
        if (code != kExitMeasured) return code;
        return written ? kExitMeasured : kExitOutputFailed;
    }
};

}  // namespace

namespace {

// Every output can be written, checked before the instrument is touched, so a
// long run does not end in a folder that is missing.
bool OutputsWritable(const CliOptions& o, std::ostream& err) {
    const std::pair<const std::string*, const char*> outputs[] = {
        {&o.jsonPath, "--json"}, {&o.csvPath, "--csv"}, {&o.rawPath, "--save-raw"}};
    bool ok = true;
    for (const auto& [path, what] : outputs) {
        std::string error;
        if (path->empty() || *path == "-" || CheckOutputPath(*path, &error)) continue;
        err << "pelkor-measure: " << what << ": " << error << "\n";
        ok = false;
    }
    return ok;
}

}  // namespace

int RunMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool progressBar) {
    CliOptions options;
    std::string error;
    if (!ParseArguments(args, &options, &error)) {
        err << "pelkor-measure: " << error << "\n";
        return kExitBadArguments;
    }
    if (options.help) {
        out << UsageText();
        return kExitMeasured;
    }
    if (options.version) {
        out << "pelkor-measure " << PELKOR_VERSION << "\n";
        return kExitMeasured;
    }
    if (options.listPorts)
        return ListPorts(CliProfilePath(options.profilePath), options.jsonPath, out, err);
    const bool stream = options.streamSeconds > 0 || (options.source == CliSource::kInput &&
                                                      IsRecordedStream(options.inputPath));
    if (!stream && options.overlapGiven) {
        err << "pelkor-measure: --overlap applies to --stream or to a recorded stream\n";
        return kExitBadArguments;
    }
    if (!OutputsWritable(options, err)) return kExitOutputFailed;
    if (stream) return RunStream(options, out, err, progressBar);
    CRun run(options, out, err, progressBar);
    return run.Go();
}
