// Streaming acquisition: configure and start as the cycle does, then read the
// instrument's stream continuously and analyse overlapping blocks of it.
#include "measurement/stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "analysis/analysis.h"
#include "analysis/fast_spectrum.h"
#include "comlink/clock.h"
#include "comlink/link.h"
#include "measurement/drain.h"

namespace {

constexpr int kLargestRead = 9000;
constexpr int kReceiveTimeoutMs = 10;
constexpr int kDiscardTimeoutMs = 20;
constexpr int kDrainPauseMs = 10;
constexpr int kCommandPauseMs = 1;
constexpr std::int64_t kSilenceSeconds = 2;
// One poll reads at most this much, so a fast line cannot hold it for long.
constexpr int kPollBytes = 4 * kLargestRead;
// Lost samples are seen as a shortfall against the rate, once it passes both
// bounds: a few seconds of samples, and a share that no clock error explains.
constexpr double kLagSeconds = 3.0;
constexpr double kLagShare = 0.10;

constexpr const char* kTimeoutText = "Acquisition timeout. Click OK to continue.";
constexpr const char* kConnectionLostText = "Instrument connection lost.";
constexpr const char* kBitsErrorText = "Bits error";
constexpr const char* kSettingsChangedText =
    "The settings changed while streaming: the stream was stopped.";

void WriteByte(MeasurementState& state, char c) {
    if (state.link != nullptr) {
        const unsigned char byte = static_cast<unsigned char>(c);
        state.link->Write(&byte, 1);
    }
}

void Command(MeasurementState& state, char c) {
    WriteByte(state, c);
    ClockSleepMs(kCommandPauseMs);
}

int WaitingBytes(MeasurementState& state) {
    if (state.link == nullptr) return CL_ERR_DEVICE;
    const int waiting = state.link->RxCount();
    if (waiting == 0 && state.link->port != nullptr &&
        state.link->port->GetError() == CL_ERR_DEVICE) {
        return CL_ERR_DEVICE;
    }
    return waiting;
}

int ReadLink(MeasurementState& state, unsigned char* buffer, int count, int timeoutMs) {
    return state.link != nullptr ? state.link->Read(buffer, count, timeoutMs) : CL_ERR_DEVICE;
}

// The cycle's drains: discard until a read times out, within the shared bounds.
DrainResult Drain(MeasurementState& state, MeasurementUi* pump, int pauseMs) {
    DrainSettings settings;
    settings.readTimeoutMs = kDiscardTimeoutMs;
    settings.pauseMs = pauseMs;
    settings.pump = pump;
    return DrainLink(state, settings);
}

bool SampleCountValid(int count) {
    return std::any_of(std::begin(SampleCountTable), std::end(SampleCountTable),
                       [count](const SampleCountEntry& e) { return e.count == count; });
}

}  // namespace

bool StreamOverlapValid(int percent) {
    return std::find(std::begin(kStreamOverlaps), std::end(kStreamOverlaps), percent) !=
           std::end(kStreamOverlaps);
}

int StreamHop(int n, int overlapPercent) {
    if (!SampleCountValid(n) || !StreamOverlapValid(overlapPercent)) return 0;
    return n * (100 - overlapPercent) / 100;
}

long long StreamBlocksIn(long long samples, int n, int hop) {
    if (hop <= 0 || samples < n) return 0;
    return (samples - n) / hop + 1;
}

CStream::CStream(MeasurementState& state, MeasurementUi& ui, StreamListener* listener)
    : state_(state), ui_(ui), analyser_(state, listener) {}

CStream::~CStream() {
    if (running_) StopAndDrain();
}

bool CStream::Start(int overlapPercent) {
    if (running_) return true;
    end_ = StreamEnd::None;
    drained_ = 0;
    stopWanted_ = false;

    ui_.RefreshSettings();
    StreamFormat f;
    f.rateSelection = ui_.RateSelection();
    f.sampleCount = state_.sampleCount;
    f.resolution = state_.resolution;
    f.channel = state_.channel;
    f.overlap = overlapPercent;
    f.hop = StreamHop(f.sampleCount, overlapPercent);
    char text[128];
    if (f.rateSelection < 0 || f.rateSelection >= kSampleRateCount) {
        std::snprintf(text, sizeof text,
                      "Invalid sample rate selection %d: choose a rate from the list.",
                      f.rateSelection);
    } else if (!SampleCountValid(f.sampleCount)) {
        std::snprintf(text, sizeof text,
                      "Invalid number of samples %d: choose a count from the list.", f.sampleCount);
    } else if (f.channel < kMinChannel || f.channel > kMaxChannel) {
        std::snprintf(text, sizeof text, "Invalid A/D channel %d: expected %d to %d.", f.channel,
                      kMinChannel, kMaxChannel);
    } else if (f.resolution != 0 && f.resolution != 1) {
        std::snprintf(text, sizeof text, "%s", kBitsErrorText);
    } else if (!StreamOverlapValid(overlapPercent)) {
        std::snprintf(text, sizeof text, "Invalid overlap %d %%: expected 0, 50 or 75.",
                      overlapPercent);
    } else {
        text[0] = '\0';
    }
    if (text[0] != '\0') {
        end_ = StreamEnd::Refused;
        ui_.MessageBox(text);
        return false;
    }
    f.sampleRate = SampleRateTable[f.rateSelection].rate;
    format_ = f;
    analyser_.Begin(f);

    // As the cycle: discard leftovers, configure one byte at a time, discard
    // whatever the configuration brought, then start.
    ui_.PumpMessages();
    ClockSleepMs(1);
    if (!StartDrain()) return false;
    Command(state_, ChannelPrefixByte(f.channel));
    Command(state_, ChannelByte(f.channel));
    Command(state_, SampleRateTable[f.rateSelection].command);
    Command(state_, kResolutionBytes[f.resolution]);
    Command(state_, kConfigEndByte);
    if (!StartDrain()) return false;
    ui_.ResetProgress();
    ui_.ShowValues();
    WriteByte(state_, kStartStopByte);
    running_ = true;
    deadline_ = ClockSeconds() + kSilenceSeconds;
    startTick_ = ClockTickMs();
    return true;
}

bool CStream::Poll() {
    if (!running_) return false;
    if (polling_) return true;
    polling_ = true;
    const long long blocksBefore = analyser_.Blocks();

    ui_.RefreshSettings();
    const StreamFormat& f = format_;
    const bool changed = state_.sampleCount != f.sampleCount || state_.resolution != f.resolution ||
                         state_.channel != f.channel || ui_.RateSelection() != f.rateSelection;
    int taken = 0;
    while (!changed && running_ && taken < kPollBytes) {
        const int waiting = WaitingBytes(state_);
        if (waiting < 0) {
            Finish(StreamEnd::Lost, kConnectionLostText);
            break;
        }
        if (waiting == 0) break;
        const int r = ReadLink(state_, chunk_, std::min(waiting, kLargestRead), kReceiveTimeoutMs);
        if (r < 0) {
            Finish(StreamEnd::Lost, kConnectionLostText);
            break;
        }
        deadline_ = ClockSeconds() + kSilenceSeconds;
        if (r == 0) break;
        taken += r;
        analyser_.Consume(chunk_, r);
    }
    if (analyser_.Blocks() > blocksBefore) {
        ui_.ShowValues();
        ui_.RepaintPlot();
    }
    if (running_) {
        if (changed) {
            StopAndDrain();
            end_ = StreamEnd::SettingsChanged;
            ui_.MessageBox(kSettingsChangedText);
        } else if (stopWanted_) {
            StopAndDrain();
        } else if (ClockSeconds() > deadline_) {
            Finish(StreamEnd::Timeout, kTimeoutText);
        } else {
            const double elapsed = TicksSince(startTick_) / 1000.0;
            const double expected = elapsed * f.sampleRate;
            const long long samples = analyser_.Samples();
            const double lag = expected - static_cast<double>(samples);
            if (lag > kLagSeconds * f.sampleRate && lag > kLagShare * expected) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "Samples were lost: %lld arrived in %.1f s, %.0f expected at %d s/s.",
                              samples, elapsed, expected, f.sampleRate);
                Finish(StreamEnd::SamplesLost, text);
            }
        }
    }
    polling_ = false;
    return running_;
}

void CStream::Stop() {
    if (!running_) return;
    if (polling_) {
        stopWanted_ = true;  // Poll stops once its reads are done
        return;
    }
    StopAndDrain();
}

void CStream::StopAndDrain() {
    running_ = false;
    end_ = StreamEnd::Stopped;
    WriteByte(state_, kStartStopByte);
    // Half a sample left from the last read is discarded with the rest.
    const DrainResult d = Drain(state_, &ui_, 0);
    drained_ = d.bytes + (analyser_.HalfSample() ? 1 : 0);
    if (d.end == DrainEnd::Lost) {
        end_ = StreamEnd::Lost;
        ui_.MessageBox(kConnectionLostText);
    } else if (d.end == DrainEnd::KeepsSending) {
        end_ = StreamEnd::KeepsSending;
        ui_.MessageBox(kKeepsSendingText);
    }
}

bool CStream::StartDrain() {
    const DrainResult d = Drain(state_, nullptr, kDrainPauseMs);
    if (d.end == DrainEnd::Quiet) return true;
    end_ = d.end == DrainEnd::Lost ? StreamEnd::Lost : StreamEnd::KeepsSending;
    ui_.MessageBox(d.end == DrainEnd::Lost ? kConnectionLostText : kKeepsSendingText);
    return false;
}

void CStream::Finish(StreamEnd end, const char* text) {
    running_ = false;
    end_ = end;
    WriteByte(state_, kStartStopByte);
    ui_.MessageBox(text);
}

void CStreamAnalyser::Begin(const StreamFormat& f) {
    format_ = f;
    samples_ = 0;
    blocks_ = 0;
    pendingHigh_ = -1;
    filled_ = 0;
}

void CStreamAnalyser::Consume(const unsigned char* bytes, int count) {
    const int n = format_.sampleCount;
    const int bps = format_.BytesPerSample();
    int at = 0;
    if (pendingHigh_ >= 0 && count > 0) {
        // Complete the sample split across two reads.
        const unsigned char pair[2] = {static_cast<unsigned char>(pendingHigh_), bytes[0]};
        pendingHigh_ = -1;
        at = 1;
        if (listener_ != nullptr) listener_->OnStreamBytes(pair, 2);
        std::memcpy(block_ + 2 * filled_, pair, 2);
        ++filled_;
        ++samples_;
        if (filled_ == n) AnalyseBlock();
    }
    while (at < count) {
        const int whole = (count - at) / bps;
        if (whole == 0) {
            pendingHigh_ = bytes[at];
            break;
        }
        const int take = std::min(whole, n - filled_);
        const int size = take * bps;
        if (listener_ != nullptr) listener_->OnStreamBytes(bytes + at, size);
        std::memcpy(block_ + bps * filled_, bytes + at, static_cast<size_t>(size));
        filled_ += take;
        samples_ += take;
        at += size;
        if (filled_ == n) AnalyseBlock();
    }
}

void CStreamAnalyser::AnalyseBlock() {
    const StreamFormat& f = format_;
    const int n = f.sampleCount;
    // Fixed by the stream; the state must agree for the peaks and the texts.
    state_.sampleCount = n;
    state_.resolution = f.resolution;
    state_.sampleRate = f.sampleRate;
    std::fill(std::begin(state_.spectrum), std::end(state_.spectrum), 0.0);
    std::fill(std::begin(state_.samples), std::end(state_.samples), 0.0);
    DecodeBlock(state_, block_, n);
    for (int j = 0; j < n; ++j) state_.samples[j] = ScaleToInput(state_.samples[j]);
    if (state_.windowMode == 0) ApplyHarrisWindow(state_.samples, n);
    // Every block of the stream comes through here; the faster levels are the
    // exact ones to within 1e-11 dB, from the same power.
    ComputeSpectrumFast(state_.samples, state_.spectrum, n, state_.averagingMode, false);
    FindPeaks(state_);
    FormatResultTexts(state_);

    const long long index = blocks_++;
    if (listener_ != nullptr) listener_->OnStreamBlock(index, index * f.hop);
    // The overlap stays for the next block.
    const int keep = n - f.hop;
    const int bps = f.BytesPerSample();
    std::memmove(block_, block_ + bps * f.hop, static_cast<size_t>(bps * keep));
    filled_ = keep;
}
