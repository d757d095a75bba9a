#include "cli/stream_run.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "analysis/analysis.h"
#include "cli/console_ui.h"
#include "cli/demo_options.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/measure.h"
#include "comlink/device_map.h"
#include "comlink/port.h"
#include "instrument/instrument.h"
#include "measurement/export.h"
#include "measurement/growing_file.h"
#include "measurement/stream.h"
#include "measurement/stream_file.h"

namespace {

constexpr int kDeviceComPort = 1;
constexpr int kConnectAttempts = 3;
constexpr int kPollMs = 20;
constexpr size_t kReplayChunk = 65536;

std::string Number(double v) {
    if (!std::isfinite(v)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string Peak(int bin, double level, const StreamFormat& f) {
    return "{\"bin\":" + std::to_string(bin) +
           ",\"frequency_hz\":" + Number(static_cast<double>(bin) * f.sampleRate / f.sampleCount) +
           ",\"level_dbm\":" + Number(level) + "}";
}

// Where the per-block lines go: standard output, or a file that grows behind a
// temporary name and is put in place at the end, so memory stays fixed however
// long the stream.
class CLines {
  public:
    bool Open(const std::string& path, std::ostream& out, std::string* error) {
        if (path.empty()) return true;
        if (path == "-") {
            out_ = &out;
            return true;
        }
        if (file_.Open(path, error)) return true;
        *error = "--json: " + *error;
        return false;
    }
    void Line(const std::string& text) {
        if (out_ != nullptr) *out_ << text << "\n";
        if (file_.IsOpen()) {
            const std::string line = text + "\n";
            file_.Append(line.data(), line.size());
        }
    }
    bool Close(std::string* error) {
        if (out_ != nullptr) *out_ << std::flush;
        if (!file_.IsOpen()) return true;
        if (file_.Finish(error)) return true;
        *error = "--json: " + *error;
        return false;
    }

  private:
    std::ostream* out_ = nullptr;
    CGrowingFile file_;
};

// Prints or records each analysed block; forwards the samples to the recorder.
class CBlockReport : public StreamListener {
  public:
    CBlockReport(const MeasurementState& state, std::ostream& out, bool textLines, CLines& json,
                 CStreamRecorder* recorder)
        : state_(state), out_(out), textLines_(textLines), json_(json), recorder_(recorder) {}

    void SetFormat(const StreamFormat& f) { format_ = f; }
    void OnStreamBytes(const unsigned char* bytes, int count) override {
        if (recorder_ != nullptr) recorder_->OnStreamBytes(bytes, count);
    }
    void OnStreamBlock(long long index, long long firstSample) override {
        const MeasurementState& s = state_;
        if (textLines_) {
            out_ << "Block " << index + 1 << "  Fundamental: " << s.fundamentalText
                 << "  Amplitude: " << s.amplitudeText << "  THD: " << s.thdText << "\n";
        }
        // ComputeThd has turned thdLevels into amplitudes; the percentage is theirs.
        double sum = 0;
        for (int p = 1; p <= 5; ++p) sum += s.thdLevels[p] * s.thdLevels[p];
        std::string line =
            "{\"block\":" + std::to_string(index + 1) +
            ",\"first_sample\":" + std::to_string(firstSample) +
            ",\"time_s\":" + Number(static_cast<double>(firstSample) / format_.sampleRate) +
            ",\"fundamental\":" + Peak(s.fundamentalBin, s.fundamentalLevel, format_) +
            ",\"peaks\":[";
        for (int p = 0; p < 5; ++p) {
            if (p > 0) line += ",";
            line += Peak(s.harmonicBins[p], s.harmonicLevels[p], format_);
        }
        line += "],\"thd_percent\":" + Number(100.0 * std::sqrt(sum) / s.thdLevels[0]) +
                ",\"texts\":{\"fundamental\":" + CJsonWriter::Quote(s.fundamentalText) +
                ",\"amplitude\":" + CJsonWriter::Quote(s.amplitudeText) +
                ",\"thd\":" + CJsonWriter::Quote(s.thdText) + "}}";
        json_.Line(line);
    }

  private:
    const MeasurementState& state_;
    std::ostream& out_;
    bool textLines_;
    CLines& json_;
    CStreamRecorder* recorder_;
    StreamFormat format_;
};

std::string SettingsLine(const StreamFormat& f, int windowMode, int averagingMode,
                         const std::string& sourceKind, const std::string& source) {
    return std::string("{\"program\":\"pelkor-measure\",\"source\":{\"kind\":") +
           CJsonWriter::Quote(sourceKind) + ",\"name\":" + CJsonWriter::Quote(source) +
           "},\"settings\":{\"sample_rate\":" + std::to_string(f.sampleRate) +
           ",\"samples\":" + std::to_string(f.sampleCount) +
           ",\"channel\":" + std::to_string(f.channel) +
           ",\"bits\":" + (f.resolution == 1 ? "10" : "8") + ",\"window\":\"" +
           (windowMode == 0 ? "on" : "off") + "\",\"averaging\":\"" +
           (averagingMode == 0   ? "off"
            : averagingMode == 1 ? "on"
                                 : "10") +
           "\",\"overlap\":" + std::to_string(f.overlap) + ",\"hop\":" + std::to_string(f.hop) +
           "}}";
}

std::string SummaryLine(const std::string& failure, const char* end, long long samples,
                        long long blocks, double seconds, bool incomplete,
                        bool interrupted = false) {
    const char* status = !failure.empty() ? "failed" : interrupted ? "interrupted" : "measured";
    std::string line = std::string("{\"status\":\"") + status + "\"";
    if (!failure.empty()) line += ",\"error\":" + CJsonWriter::Quote(failure);
    line += std::string(",\"end\":\"") + end + "\",\"samples\":" + std::to_string(samples) +
            ",\"blocks\":" + std::to_string(blocks) + ",\"seconds\":" + Number(seconds);
    if (incomplete) line += ",\"incomplete\":true";
    return line + "}";
}

struct Outputs {
    CLines json;
    CStreamRecorder recorder;
};

int FinishOutputs(const CliOptions& o, const MeasurementState& s, long long blocks, Outputs& io,
                  StreamEnd end, std::ostream& err, int code) {
    bool written = true;
    std::string error;
    if (io.recorder.Recording() && !io.recorder.Finish(end, &error)) {
        err << "pelkor-measure: --save-raw: " << error << "\n";
        written = false;
    }
    if (!io.json.Close(&error)) {
        err << "pelkor-measure: " << error << "\n";
        written = false;
    }
    if (blocks > 0 && !o.csvPath.empty()) {
        if (o.csvPath == "-") {
            // Only one of --json and --csv may take standard output (checked by the parser).
            std::fputs(FormatSpectrumCsv(s).c_str(), stdout);
        } else if (!WriteFileAtomically(o.csvPath, FormatSpectrumCsv(s), &error)) {
            err << "pelkor-measure: --csv: " << error << "\n";
            written = false;
        }
    }
    if (code != kExitMeasured) return code;
    return written ? kExitMeasured : kExitOutputFailed;
}

int Replay(const CliOptions& o, std::ostream& out, std::ostream& err) {
    auto fail = [&](const std::string& m) {
        err << "pelkor-measure: " << o.inputPath << ": " << m << "\n";
        return kExitBadArguments;
    };
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(o.inputPath.c_str(), "rb"), &std::fclose);
    if (!f) return fail(std::strerror(errno));
    char line[kStreamHeaderLength];
    if (std::fread(line, 1, sizeof line, f.get()) != sizeof line ||
        line[kStreamHeaderLength - 1] != '\n') {
        return fail("the stream header is cut short");
    }
    StreamFileHeader header;
    std::string why;
    if (!ParseStreamHeader(std::string(line, kStreamHeaderLength - 1), &header, &why)) {
        return fail(why);
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(o.inputPath, ec);
    if (ec) return fail(ec.message());
    const long long present = static_cast<long long>(size) - kStreamHeaderLength;
    const int bps = header.format.resolution + 1;
    long long take = header.bytes;
    bool incomplete = !header.complete;
    if (header.complete && present != header.bytes) {
        return fail((present < header.bytes ? "truncated: " : "extra bytes: ") +
                    std::to_string(present) + " sample bytes where the header says " +
                    std::to_string(header.bytes));
    }
    if (incomplete) {
        take = present / bps * bps;
        err << "pelkor-measure: " << o.inputPath
            << ": the recording is flagged incomplete (it did not finish); replaying the "
            << take / bps << " whole samples in it\n";
    }
    StreamFormat format = header.format;
    if (o.rateGiven && o.rateIndex != format.rateSelection)
        return fail("recorded at another --rate");
    if (o.countGiven && SampleCountTable[o.countIndex].count != format.sampleCount) {
        return fail("recorded with another --samples");
    }
    if (o.bitsGiven && o.resolution != format.resolution) return fail("recorded at other --bits");
    if (o.overlapGiven) {
        format.overlap = o.overlap;
        format.hop = StreamHop(format.sampleCount, o.overlap);
    }

    auto state = std::make_unique<MeasurementState>();
    MeasurementState& s = *state;
    ResetAnalysisState();
    s.thdEnabled = 1;
    s.channel = format.channel;
    s.windowMode = o.windowGiven ? o.windowMode : header.windowMode;
    s.averagingMode = o.averageGiven ? o.averagingMode : header.averagingMode;
    Outputs io;
    std::string error;
    if (!io.json.Open(o.jsonPath, out, &error)) {
        err << "pelkor-measure: " << error << "\n";
        return kExitOutputFailed;
    }
    const bool stdoutTaken = o.jsonPath == "-" || o.csvPath == "-";
    CBlockReport report(s, out, !stdoutTaken, io.json, nullptr);
    report.SetFormat(format);
    io.json.Line(SettingsLine(format, s.windowMode, s.averagingMode, "input", o.inputPath));
    CStreamAnalyser analyser(s, &report);
    analyser.Begin(format);
    std::vector<unsigned char> chunk(kReplayChunk);
    long long left = take;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<long long>(left, kReplayChunk));
        const size_t got = std::fread(chunk.data(), 1, want, f.get());
        if (got == 0) return fail(std::ferror(f.get()) ? std::strerror(errno) : "cut short");
        analyser.Consume(chunk.data(), static_cast<int>(got));
        left -= static_cast<long long>(got);
    }
    out << std::flush;
    io.json.Line(SummaryLine("", header.end.c_str(), analyser.Samples(), analyser.Blocks(),
                             static_cast<double>(analyser.Samples()) / format.sampleRate,
                             incomplete));
    return FinishOutputs(o, s, analyser.Blocks(), io, StreamEnd::Stopped, err, kExitMeasured);
}

int Live(const CliOptions& o, std::ostream& out, std::ostream& err, bool progressBar) {
    std::unique_ptr<instrument::PtyHost> host;
    int comPort = o.comPort;
    std::string device = o.devicePath;
    std::string error;
    std::string sourceKind = "port", sourceName = "COM" + std::to_string(comPort);
    if (o.source == CliSource::kDemo) {
        instrument::Options io;
        if (!DemoOptions(o, &io, &error)) {
            err << "pelkor-measure: " << error << "\n";
            return kExitBadArguments;
        }
        host = std::make_unique<instrument::PtyHost>(io);
        if (!host->Start(&error)) {
            err << "pelkor-measure: the demo instrument did not start: " << error << "\n";
            return kExitNoInstrument;
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
    }
    if (!device.empty() && !SetComDevice(comPort, device, &error)) {
        err << "pelkor-measure: " << error << "\n";
        return kExitBadArguments;
    }
    const std::string path = ComDevicePath(comPort);

    auto state = std::make_unique<MeasurementState>();
    MeasurementState& s = *state;
    CConsoleUi ui(s, o, err, progressBar);
    ui.LeaveStopsToCaller();
    ui.RefreshSettings();
    ResetAnalysisState();
    for (int attempt = 0; attempt < kConnectAttempts && s.connected != 1; ++attempt) {
        ConnectInstrument(s, ui, comPort);
        if (s.port == nullptr || s.port->GetError() != 0 || s.port->osError != 0) break;
    }
    if (s.connected != 1) {
        std::string reason = s.port != nullptr ? s.port->osErrorText : std::string();
        if (reason.empty()) reason = "the instrument did not answer the handshake";
        ReleaseConnection(s);
        ClearComDevices();
        err << "pelkor-measure: " << s.portStatusText << " (" << path << "): " << reason << "\n";
        return kExitNoInstrument;
    }
    ComputeSpectrum(s.samples, s.spectrum, s.sampleCount, 1, true);

    Outputs io;
    const bool stdoutTaken = o.jsonPath == "-" || o.csvPath == "-";
    CBlockReport report(s, out, !stdoutTaken, io.json, o.rawPath.empty() ? nullptr : &io.recorder);
    CStream stream(s, ui, &report);
    StreamFormat planned;
    planned.rateSelection = o.rateIndex;
    planned.sampleRate = SampleRateTable[o.rateIndex].rate;
    planned.sampleCount = SampleCountTable[o.countIndex].count;
    planned.resolution = o.resolution;
    planned.channel = o.channel;
    planned.overlap = o.overlap;
    planned.hop = StreamHop(planned.sampleCount, o.overlap);
    report.SetFormat(planned);
    int code = kExitMeasured;
    if (!io.json.Open(o.jsonPath, out, &error)) {
        err << "pelkor-measure: " << error << "\n";
        code = kExitOutputFailed;
    }
    if (code == kExitMeasured && !o.rawPath.empty()) {
        StreamFileHeader header;
        header.format = planned;
        header.windowMode = o.windowMode;
        header.averagingMode = o.averagingMode;
        header.start = StreamStartTime();
        if (!io.recorder.Open(o.rawPath, header, &error)) {
            err << "pelkor-measure: --save-raw: " << error << "\n";
            code = kExitOutputFailed;
        }
    }
    if (code != kExitMeasured) {
        ReleaseConnection(s);
        ClearComDevices();
        return code;
    }
    io.json.Line(SettingsLine(planned, o.windowMode, o.averagingMode, sourceKind, sourceName));

    const auto started = std::chrono::steady_clock::now();
    const auto until = started + std::chrono::seconds(o.streamSeconds);
    std::string failure;
    if (stream.Start(o.overlap)) {
        // Ctrl-C ends the stream as its time would: stop byte, drain, every output.
        while (stream.Poll() && std::chrono::steady_clock::now() < until && !InterruptRequested()) {
            if (io.recorder.Failed()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        stream.Stop();
    }
    ui.EndProgress();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (io.recorder.Failed()) {
        failure = "--save-raw: " + io.recorder.Failure();
        err << "pelkor-measure: " << failure << "\n";
        code = kExitOutputFailed;
    } else if (stream.End() != StreamEnd::Stopped) {
        const std::string reason = s.port != nullptr ? s.port->osErrorText : std::string();
        failure = (ui.messages.empty() ? std::string("the stream ended") : ui.messages.back()) +
                  " on " + path;
        if (!reason.empty()) failure += ": " + reason;
        code = stream.End() == StreamEnd::Refused ? kExitBadArguments : kExitAcquisition;
    }
    const bool interrupted = failure.empty() && InterruptRequested();
    if (interrupted) code = kExitInterrupted;
    io.json.Line(SummaryLine(failure, StreamEndName(stream.End()), stream.SamplesReceived(),
                             stream.BlocksAnalysed(), seconds, false, interrupted));
    const long long blocks = stream.BlocksAnalysed();
    const StreamEnd end = stream.End();
    ReleaseConnection(s);
    ClearComDevices();
    if (host) host->Stop();
    return FinishOutputs(o, s, blocks, io, end, err, code);
}

}  // namespace

bool IsRecordedStream(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    char start[32];
    const size_t got = std::fread(start, 1, sizeof start, f.get());
    return IsStreamHeader(std::string(start, got));
}

int RunStream(const CliOptions& options, std::ostream& out, std::ostream& err, bool progressBar) {
    if (options.source == CliSource::kInput) return Replay(options, out, err);
    return Live(options, out, err, progressBar);
}
