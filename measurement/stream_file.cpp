// The header of a recorded stream.
#include "measurement/stream_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "measurement/header_fields.h"

namespace {

constexpr const char* kMagic = "pelkor-raw";

const char* AveragingName(int mode) {
    return mode == 0 ? "off" : mode == 1 ? "on" : "10";
}

// The end names a header may hold, "open" for a recording still running.
constexpr const char* kEndNames[] = {"open", "stopped", "refused", "timeout",
                                     "lost", "sending", "changed", "gap"};

}  // namespace

const char* StreamEndName(StreamEnd end) {
    switch (end) {
        case StreamEnd::None:
            return "open";
        case StreamEnd::Stopped:
            return "stopped";
        case StreamEnd::Refused:
            return "refused";
        case StreamEnd::Timeout:
            return "timeout";
        case StreamEnd::Lost:
            return "lost";
        case StreamEnd::KeepsSending:
            return "sending";
        case StreamEnd::SettingsChanged:
            return "changed";
        case StreamEnd::SamplesLost:
            return "gap";
    }
    return "open";
}

std::string FormatStreamHeader(const StreamFileHeader& h) {
    char line[kStreamHeaderLength + 1];
    const StreamFormat& f = h.format;
    int n =
        std::snprintf(line, sizeof line,
                      "%s 1 stream=1 rate=%d samples=%d channel=%d bits=%d window=%s "
                      "average=%s overlap=%d start=%s complete=%d end=%s bytes=%lld",
                      kMagic, f.sampleRate, f.sampleCount, f.channel, f.resolution == 1 ? 10 : 8,
                      h.windowMode == 0 ? "on" : "off", AveragingName(h.averagingMode), f.overlap,
                      h.start.c_str(), h.complete ? 1 : 0, h.end.c_str(), h.bytes);
    if (n < 0 || n > kStreamHeaderLength - 1) n = kStreamHeaderLength - 1;
    std::string out(line, static_cast<size_t>(n));
    out.resize(kStreamHeaderLength - 1, ' ');
    out += '\n';
    return out;
}

bool IsStreamHeader(const std::string& data) {
    const std::string prefix = std::string(kMagic) + " 1 stream=1 ";
    return data.compare(0, prefix.size(), prefix) == 0;
}

bool ParseStreamHeader(const std::string& line, StreamFileHeader* h, std::string* why) {
    HeaderFields fields;
    if (!fields.Read(line, "not a recorded stream",
                     {"stream", "rate", "samples", "channel", "bits", "window", "average",
                      "overlap", "start", "complete", "end", "bytes"},
                     why)) {
        return false;
    }
    if (fields["stream"] != "1") return (*why = "not a recorded stream", false);
    StreamFileHeader out;
    StreamFormat& f = out.format;
    long long v = 0;
    f.rateSelection = -1;
    for (int k = 0; k < kSampleRateCount; ++k) {
        if (ParseHeaderInt(fields["rate"], &v) && v == SampleRateTable[k].rate) f.rateSelection = k;
    }
    if (f.rateSelection < 0) {
        return (*why = "rate '" + fields["rate"] + "' is not a sample rate of the instrument",
                false);
    }
    f.sampleRate = SampleRateTable[f.rateSelection].rate;
    if (!ParseHeaderInt(fields["samples"], &v) || StreamHop(static_cast<int>(v), 0) == 0 ||
        v > kMaxSamples) {
        return (*why = "samples '" + fields["samples"] + "' is not a block size (128..8192)",
                false);
    }
    f.sampleCount = static_cast<int>(v);
    if (!ParseHeaderInt(fields["channel"], &v) || v < kMinChannel || v > kMaxChannel) {
        return (*why = "channel '" + fields["channel"] + "' is not 0..6", false);
    }
    f.channel = static_cast<int>(v);
    const std::string& bits = fields["bits"];
    if (bits != "8" && bits != "10") return (*why = "bits '" + bits + "' is not 8 or 10", false);
    f.resolution = bits == "10" ? 1 : 0;
    const std::string& window = fields["window"];
    if (window != "on" && window != "off") {
        return (*why = "window '" + window + "' is not on or off", false);
    }
    out.windowMode = window == "on" ? 0 : 1;
    const std::string& average = fields["average"];
    if (average != "off" && average != "on" && average != "10") {
        return (*why = "average '" + average + "' is not off, on or 10", false);
    }
    out.averagingMode = average == "off" ? 0 : average == "on" ? 1 : 2;
    if (!ParseHeaderInt(fields["overlap"], &v) || !StreamOverlapValid(static_cast<int>(v))) {
        return (*why = "overlap '" + fields["overlap"] + "' is not 0, 50 or 75", false);
    }
    f.overlap = static_cast<int>(v);
    f.hop = StreamHop(f.sampleCount, f.overlap);
    out.start = fields["start"];
    const std::string& complete = fields["complete"];
    if (complete != "0" && complete != "1") {
        return (*why = "complete '" + complete + "' is not 0 or 1", false);
    }
    out.complete = complete == "1";
    out.end = fields["end"];
    bool known = false;
    for (const char* name : kEndNames) known = known || out.end == name;
    if (!known) return (*why = "end '" + out.end + "' is not a way a stream ends", false);
    if (!ParseHeaderInt(fields["bytes"], &out.bytes) || out.bytes < 0 ||
        out.bytes % (f.resolution + 1) != 0) {
        return (*why = "bytes '" + fields["bytes"] + "' is not a count of whole " + bits +
                       "-bit samples",
                false);
    }
    *h = out;
    return true;
}

std::string StreamStartTime() {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(t);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return text;
}

bool CStreamRecorder::Open(const std::string& path, const StreamFileHeader& header,
                           std::string* error) {
    bytes_ = 0;
    header_ = header;
    header_.complete = false;
    header_.end = "open";
    header_.bytes = 0;
    if (!file_.Open(path, error)) return false;
    const std::string line = FormatStreamHeader(header_);
    if (!file_.Append(line.data(), line.size())) {
        if (error != nullptr) *error = file_.Error();
        file_.Abandon();
        return false;
    }
    return true;
}

void CStreamRecorder::OnStreamBytes(const unsigned char* bytes, int count) {
    if (!file_.IsOpen() || count <= 0) return;
    // After a failed write nothing more is counted: the header's count stays at
    // whole writes, and the file is flagged incomplete.
    if (file_.Append(bytes, static_cast<size_t>(count))) bytes_ += count;
}

bool CStreamRecorder::Finish(StreamEnd end, std::string* error) {
    if (!file_.IsOpen()) {
        if (error != nullptr) *error = "no recording is open";
        return false;
    }
    header_.end = StreamEndName(end);
    header_.bytes = bytes_;
    header_.complete = !file_.Failed();
    if (header_.complete) file_.WriteAtStart(FormatStreamHeader(header_));
    // An unfinished file still goes in place: its header says it is incomplete,
    // and the samples before the failure are the operator's.
    std::string why;
    if (file_.Finish(&why, true)) return true;
    if (error != nullptr) *error = why + " (the file is flagged incomplete)";
    return false;
}
