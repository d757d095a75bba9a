// The measurement code against the stand-in instrument on a pseudo-terminal,
// reached as COMn through the device map and the platform's port.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comlink/device_map.h"
#include "instrument/instrument.h"
#include "measurement/measurement.h"
#include "tests/measurement/fakes.h"

namespace ptytest {

constexpr int kCom = 5;       // the instrument under test
constexpr int kOtherCom = 6;  // a second one, for port changes

// Quiet channels everywhere, so a test states the signal it relies on.
inline instrument::Options QuietOptions(bool paced = false) {
    instrument::Options options;
    for (instrument::ChannelSignal& c : options.channels) c = instrument::ChannelSignal{};
    options.paced = paced;
    return options;
}

inline std::string Text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class PtyTest : public ::testing::Test {
  protected:
    PtyTest() { state->profile = &profile; }
    ~PtyTest() override {
        ReleaseConnection(*state);
        ClearComDevices();
    }

    // Starts an instrument and maps COMn to its pseudo-terminal.
    instrument::PtyHost& StartInstrument(int com, const instrument::Options& options) {
        auto host = std::make_unique<instrument::PtyHost>(options);
        std::string error;
        EXPECT_TRUE(host->Start(&error)) << error;
        EXPECT_TRUE(SetComDevice(com, host->SlavePath(), &error)) << error;
        instrument::PtyHost& ref = *host;
        hosts[com] = std::move(host);
        return ref;
    }

    // Connects to COMn as a test checks it: the reply must come within 50 ms, and
    // on a loaded machine the instrument's thread may miss that, so up to five
    // attempts are made. The statuses shown and the bytes received are those of
    // the last attempt; a failed attempt writes nothing to the profile.
    bool TryConnect(int com = kCom) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            ui.shownStatus.clear();
            hosts.at(com)->ClearReceived();
            ConnectInstrument(*state, ui, com);
            if (state->connected == 1) return true;
            // Let the missed attempt's bytes arrive before they are forgotten.
            ReceivedSoon("9P", com);
        }
        return false;
    }

    // Connects to COMn, which must answer, and forgets the handshake's bytes.
    void Connect(int com = kCom) {
        ASSERT_TRUE(TryConnect(com)) << state->portStatusText;
        ASSERT_EQ(state->portStatusText, "COM" + std::to_string(com) + ":Ready");
        hosts.at(com)->ClearReceived();
        ui.calls.clear();
        ui.shownStatus.clear();
    }

    std::string Received(int com = kCom) const { return Text(hosts.at(com)->ReceivedBytes()); }

    // What COMn's instrument received, once it equals `expected` or 2 s have
    // passed: the host reads on its own thread, a little after the write.
    std::string ReceivedSoon(const std::string& expected, int com = kCom) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::string got = Received(com);
        while (got != expected && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            got = Received(com);
        }
        return got;
    }

    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    fakes::RecordingUi ui{*state};
    fakes::MemoryProfile profile;
    std::map<int, std::unique_ptr<instrument::PtyHost>> hosts;
};

}  // namespace ptytest
