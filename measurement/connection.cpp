// The instrument connection: open COMn, switch the instrument to 128000 baud,
// check its reply; and the release of the connection objects at exit.
#include <cstdint>
#include <cstdio>
#include <string>

#include "comlink/clock.h"
#include "comlink/factory.h"
#include "comlink/link.h"
#include "measurement/drain.h"
#include "measurement/measurement.h"

namespace {

constexpr int kOpenRxQueue = 4096;
constexpr int kOpenTxQueue = 2048;
constexpr int kConnectedRxQueue = 48000;
constexpr int kConnectedXoffLimit = 128;
constexpr int kInitialBaud = 38400;
constexpr int kFastBaud = 128000;
constexpr int kDrainTimeoutMs = 100;
constexpr int kReplyWaitMs = 50;
constexpr int kReplyTimeoutMs = 100;

void ShowStatus(MeasurementState& state, MeasurementUi& ui, const std::string& text) {
    state.portStatusText = text;
    ui.ShowValues();
}

// "COM%d:" followed by suffix, for port number n.
std::string PortText(int n, const char* suffix) {
    char text[32];
    std::snprintf(text, sizeof text, "COM%d:", n);
    return std::string(text) + suffix;
}

void WriteByte(CComLink& link, char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    link.Write(&byte, 1);
}

// Discards received bytes until 100 ms pass without one. A line that never
// goes quiet fails the attempt, naming the reason beside the status.
bool Drain(MeasurementState& state) {
    DrainSettings settings;
    settings.readTimeoutMs = kDrainTimeoutMs;
    // A lost device shows in the next step's result, as it always has.
    if (DrainLink(state, settings).end != DrainEnd::KeepsSending) return true;
    state.portProblemText = kKeepsSendingText;
    return false;
}

}  // namespace

void ConnectInstrument(MeasurementState& state, MeasurementUi& ui, int comPort) {
    state.connected = 0;
    state.portProblemText.clear();
    ui.RefreshSettings();
    ShowStatus(state, ui, PortText(comPort, ""));

    ReleaseConnection(state);

    // Only COM1..COM16 exist; an edited profile may name another.
    if (comPort < kMinComPort || comPort > kMaxComPort) {
        ShowStatus(state, ui, PortText(comPort, "Error"));
        return;
    }
    state.port = CreateComPort(comPort - 1, kOpenRxQueue, kOpenTxQueue);
    if (state.port == nullptr) {
        ShowStatus(state, ui, PortText(comPort, "Error"));
        return;
    }
    state.link = new CComLink(state.port);
    CComLink& link = *state.link;

    std::uint16_t flags = 0;
    if (link.CheckStatus(flags) != 0) {
        ShowStatus(state, ui, PortText(comPort, "Error"));
        return;
    }

    state.lineSettings = new CLineSettings(state.link);
    if (state.lineSettings->Set(kInitialBaud, 'N', 8, 1) != 0) {
        ShowStatus(state, ui, "BR error.");
        return;
    }
    WriteByte(link, kSpeedChangeByte);
    // At once: the instrument changes speed right after the byte.
    if (state.lineSettings->Set(kFastBaud, 'N', 8, 1) != 0) {
        ShowStatus(state, ui, "Error setting 128000 Baud.");
        return;
    }
    if (!Drain(state)) {
        ShowStatus(state, ui, PortText(comPort, "Error"));
        return;
    }

    WriteByte(link, kHandshakeRequest);
    ClockSleepMs(kReplyWaitMs);
    // Exactly one byte must be waiting: a second one means something else answered.
    unsigned char reply[2] = {0, 0};
    if (link.RxCount() == 1 && link.Read(reply, 1, kReplyTimeoutMs) != 1) reply[0] = 0;

    if (reply[0] != static_cast<unsigned char>(kHandshakeReply)) {
        ShowStatus(state, ui, PortText(comPort, "Error"));
        return;
    }
    link.SetQueueSizes(kConnectedRxQueue, kConnectedXoffLimit);
    ShowStatus(state, ui, PortText(comPort, "Ready"));
    if (state.profile != nullptr) state.profile->WriteInt(kProfileSection, kKeyComPort, comPort);
    state.connected = 1;
    if (!Drain(state)) {
        state.connected = 0;
        ShowStatus(state, ui, PortText(comPort, "Error"));
    }
}
