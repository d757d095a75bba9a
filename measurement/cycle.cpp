// One measurement cycle: configure the instrument, receive one block, analyse it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/analysis.h"
#include "comlink/clock.h"
#include "comlink/link.h"
#include "measurement/drain.h"
#include "measurement/measurement.h"
#include "measurement/number_text.h"

namespace {

constexpr int kHalfSize = 30000;       // each half of the receive buffer
constexpr int kLargestRead = 9000;     // largest reception read
constexpr int kReceiveTimeoutMs = 10;  // reception read timeout
constexpr int kDiscardTimeoutMs = 20;  // one discard read of a drain
constexpr int kDrainPauseMs = 10;      // before each discard read ahead of the start byte
constexpr int kCommandPauseMs = 1;     // after each command byte
constexpr int kPassPauseMs = 1;        // twice per reception pass
constexpr std::int64_t kSilenceSeconds = 2;
constexpr int kOverflowWarning = 20000;

constexpr const char* kTimeoutText = "Acquisition timeout. Click OK to continue.";
constexpr const char* kOverflowText = "Array overflow error.";
constexpr const char* kBitsErrorText = "Bits error";

// Reception reads land in the chunk half and are appended to the block half.
// The extra byte takes the zero that every link read stores after its data.
struct ReceiveBuffer {
    unsigned char chunk[kHalfSize + 1];
    unsigned char block[kHalfSize];
};

// Every transfer reaches the link through the state as it stands now: a handler
// dispatched inside the cycle may have replaced the connection or removed it.
// A missing link reads as a lost device.
constexpr int kNoLink = CL_ERR_DEVICE;

void WriteByte(MeasurementState& state, char c) {
    if (state.link != nullptr) {
        const unsigned char byte = static_cast<unsigned char>(c);
        state.link->Write(&byte, 1);
    }
}

int ReadLink(MeasurementState& state, unsigned char* buffer, int count, int timeoutMs) {
    return state.link != nullptr ? state.link->Read(buffer, count, timeoutMs) : kNoLink;
}

// Bytes waiting, or a negative code once the device is gone. A port whose device
// vanished may go on reporting an empty queue; its stored error tells the truth.
int WaitingBytes(MeasurementState& state) {
    if (state.link == nullptr) return kNoLink;
    const int waiting = state.link->RxCount();
    if (waiting == 0 && state.link->port != nullptr &&
        state.link->port->GetError() == CL_ERR_DEVICE) {
        return CL_ERR_DEVICE;
    }
    return waiting;
}

enum class DrainMode { PauseFirst, PumpFirst, Plain };

// Discards received bytes until a one-byte read times out, within the drain's
// bounds.
DrainEnd Drain(MeasurementState& state, MeasurementUi& ui, DrainMode mode) {
    DrainSettings settings;
    settings.readTimeoutMs = kDiscardTimeoutMs;
    if (mode == DrainMode::PauseFirst) settings.pauseMs = kDrainPauseMs;
    if (mode == DrainMode::PumpFirst) settings.pump = &ui;
    return DrainLink(state, settings).end;
}

constexpr const char* kConnectionLostText = "Instrument connection lost.";

// The device is gone: the dialog must stop offering it as ready, so the status
// says so before the box.
void ReportConnectionLost(MeasurementState& state, MeasurementUi& ui) {
    ui.RefreshSettings();
    state.connected = 0;
    state.portStatusText = "COM" + std::to_string(state.comPort) + ":Error";
    ui.ShowValues();
    ui.MessageBox(kConnectionLostText);
}

// A drain that did not end quietly ends the cycle: a lost device, or a line
// that keeps sending, which the next drain would find just the same.
bool DrainFailed(MeasurementState& state, MeasurementUi& ui, DrainEnd end) {
    if (end == DrainEnd::Quiet) return false;
    if (end == DrainEnd::Lost) {
        ReportConnectionLost(state, ui);
    } else {
        ui.MessageBox(kKeepsSendingText);
    }
    return true;
}

bool SampleCountValid(int count) {
    return std::any_of(std::begin(SampleCountTable), std::end(SampleCountTable),
                       [count](const SampleCountEntry& e) { return e.count == count; });
}

// Each check names the setting that has no command byte or no block size, so
// the cycle refuses before anything of it reaches the instrument.
bool CheckRateSelection(MeasurementUi& ui, int selection) {
    if (selection >= 0 && selection < kSampleRateCount) return true;
    char text[96];
    std::snprintf(text, sizeof text,
                  "Invalid sample rate selection %d: choose a rate from the list.", selection);
    ui.MessageBox(text);
    return false;
}

bool CheckSampleCount(MeasurementUi& ui, int count) {
    if (SampleCountValid(count)) return true;
    char text[96];
    std::snprintf(text, sizeof text, "Invalid number of samples %d: choose a count from the list.",
                  count);
    ui.MessageBox(text);
    return false;
}

bool CheckChannel(MeasurementUi& ui, int channel) {
    if (channel >= kMinChannel && channel <= kMaxChannel) return true;
    char text[96];
    std::snprintf(text, sizeof text, "Invalid A/D channel %d: expected %d to %d.", channel,
                  kMinChannel, kMaxChannel);
    ui.MessageBox(text);
    return false;
}

void Command(MeasurementState& state, char c) {
    WriteByte(state, c);
    ClockSleepMs(kCommandPauseMs);
}

int Percent(int received, int expected) {
    const int percent =
        static_cast<int>(static_cast<double>(received) / static_cast<double>(expected) * 100.0);
    // Bytes beyond the block would push the bar past its range, where it stops moving.
    return std::min(percent, 100);
}

}  // namespace

void SingleConvert(MeasurementState& state, MeasurementUi& ui) {
    // Preparation: let the window breathe, then discard whatever is left over.
    ui.PumpMessages();
    ClockSleepMs(1);
    if (DrainFailed(state, ui, Drain(state, ui, DrainMode::PauseFirst))) return;
    ClockSleepMs(1);
    ReceiveBuffer buffer;
    std::memset(&buffer, 0, sizeof buffer);

    // Configuration, one byte at a time.
    ui.RefreshSettings();
    if (!CheckRateSelection(ui, ui.RateSelection()) || !CheckSampleCount(ui, state.sampleCount) ||
        !CheckChannel(ui, state.channel)) {
        return;
    }
    Command(state, ChannelPrefixByte(state.channel));

    ui.RefreshSettings();
    if (!CheckChannel(ui, state.channel)) return;
    Command(state, ChannelByte(state.channel));

    const int rateSelection = ui.RateSelection();
    if (!CheckRateSelection(ui, rateSelection)) return;
    Command(state, SampleRateTable[rateSelection].command);

    ui.RefreshSettings();
    if (state.resolution == 0 || state.resolution == 1) {
        WriteByte(state, kResolutionBytes[state.resolution]);
    } else {
        ui.MessageBox(kBitsErrorText);
    }
    ClockSleepMs(kCommandPauseMs);

    Command(state, kConfigEndByte);
    if (DrainFailed(state, ui, Drain(state, ui, DrainMode::PauseFirst))) return;

    ui.RefreshSettings();
    ui.ResetProgress();
    ui.ShowValues();
    // Checked again wherever N is taken: nothing may divide by a zero count.
    if (!CheckSampleCount(ui, state.sampleCount)) return;
    WriteByte(state, kStartStopByte);

    // Reception. E stays as fixed here whatever a nested handler changes.
    const int expected = (state.resolution + 1) * state.sampleCount;
    int received = 0;
    std::int64_t deadline = ClockSeconds() + kSilenceSeconds;
    if (expected > 0) {
        // A full block ends reception too: only a resolution outside the radio
        // buttons can ask for more than the block holds.
        do {
            ui.PumpMessages();
            ClockSleepMs(kPassPauseMs);
            if (ClockSeconds() > deadline) {
                WriteByte(state, kStartStopByte);
                ui.MessageBox(kTimeoutText);
                return;
            }
            const int waiting = WaitingBytes(state);
            if (waiting < 0) {
                WriteByte(state, kStartStopByte);
                return ReportConnectionLost(state, ui);
            }
            if (waiting > 0) {
                const int count = std::min({waiting, kLargestRead, kHalfSize - received});
                const int r = ReadLink(state, buffer.chunk, count, kReceiveTimeoutMs);
                if (r < 0) {
                    WriteByte(state, kStartStopByte);
                    return ReportConnectionLost(state, ui);
                }
                if (r > 0) {
                    std::memcpy(buffer.block + received, buffer.chunk, static_cast<size_t>(r));
                    received += r;
                }
                if (received > kOverflowWarning) ui.MessageBox(kOverflowText);
                deadline = ClockSeconds() + kSilenceSeconds;
            }
            ui.SetProgress(Percent(received, expected));
            ClockSleepMs(kPassPauseMs);
        } while (received < expected && received < kHalfSize);
    }

    WriteByte(state, kStartStopByte);
    // An instrument that ignores the stop byte would keep this drain busy for
    // ever; its block is complete, but the next cycle could not begin either.
    if (DrainFailed(state, ui, Drain(state, ui, DrainMode::PumpFirst))) return;
    ui.BlockReceived(buffer.block, std::min(received, expected));

    // Decoding with N and resolution as they stand now: a nested handler may have
    // changed them, and the block is zeroed beyond what arrived.
    const int n = state.sampleCount;
    if (!CheckSampleCount(ui, n)) return;
    std::fill(std::begin(state.spectrum), std::end(state.spectrum), 0.0);
    std::fill(std::begin(state.samples), std::end(state.samples), 0.0);
    DecodeBlock(state, buffer.block, n);
    ui.RefreshSettings();
    for (int j = 0; j < n; ++j) state.samples[j] = ScaleToInput(state.samples[j]);

    // Analysis.
    if (state.windowMode == 0) ApplyHarrisWindow(state.samples, n);
    ComputeSpectrum(state.samples, state.spectrum, n, state.averagingMode, false);
    FindPeaks(state);

    // Result texts.
    ui.RefreshSettings();
    FormatResultTexts(state);
    ui.ShowValues();
    const DrainEnd drained = Drain(state, ui, DrainMode::Plain);
    ui.RepaintPlot();
    DrainFailed(state, ui, drained);
}

void DecodeBlock(MeasurementState& state, const unsigned char* block, int n) {
    if (state.resolution != 0) {
        for (int j = 0; j < n; ++j) {
            const int raw = block[2 * j] * 256 + block[2 * j + 1];
            state.samples[j] = raw * kVoltsPerCount10;
        }
    } else {
        for (int j = 0; j < n; ++j) state.samples[j] = block[j] * kVoltsPerCount8;
    }
}

void FormatResultTexts(MeasurementState& state) {
    const int n = state.sampleCount;
    char text[64];
    // Both halves are integer divisions; the result equals bin x rate / N, truncated.
    const double fraction = static_cast<double>(state.fundamentalBin) / (n / 2);
    std::snprintf(text, sizeof text, "%d Hz", static_cast<int>(fraction * (state.sampleRate / 2)));
    state.fundamentalText = text;
    state.amplitudeText = FixedText(state.fundamentalLevel, 1) + " dBm";
    if (state.thdEnabled == 1) state.thdText = FixedText(ComputeThd(state), 3) + " %";
}
