// Measurement cycles against the stand-in instrument over a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "comlink/link.h"
#include "measurement/measurement.h"
#include "tests/measurement/pty_fixture.h"

namespace {

using ptytest::kCom;
using ptytest::kOtherCom;
using ptytest::PtyTest;
using ptytest::QuietOptions;

struct WireCase {
    const char* name;
    int channel;
    int resolution;
    int rateSelection;
    const char* bytes;  // what the instrument receives in one cycle
};

void PrintTo(const WireCase& c, std::ostream* os) {
    *os << c.name;
}

class PtyWireTest : public PtyTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(PtyWireTest, InstrumentReceivesTheCommandsOfTheSettings) {
    const WireCase& c = GetParam();
    StartInstrument(kCom, QuietOptions());
    Connect();
    ui.Select(c.rateSelection, 0);
    ui.controls.channel = c.channel;
    ui.controls.resolution = c.resolution;

    SingleConvert(*state, ui);

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ReceivedSoon(c.bytes), c.bytes);
    const std::vector<int> speeds = hosts.at(kCom)->ReceivedSpeeds();
    EXPECT_TRUE(std::all_of(speeds.begin(), speeds.end(), [](int s) { return s == 128000; }));
    EXPECT_EQ(ui.repaintCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Settings, PtyWireTest,
                         ::testing::Values(WireCase{"Ch0Bits8First", 0, 0, 0, "h0AQS88"},
                                           WireCase{"Ch0Bits10Last", 0, 1, 12, "h0MRS88"},
                                           WireCase{"Ch1Bits10First", 1, 1, 0, "i1ARS88"},
                                           WireCase{"Ch1Bits8Last", 1, 0, 12, "i1MQS88"},
                                           WireCase{"Ch2Bits8First", 2, 0, 0, "j2AQS88"},
                                           WireCase{"Ch2Bits10Last", 2, 1, 12, "j2MRS88"},
                                           WireCase{"Ch6Bits10First", 6, 1, 0, "n6ARS88"},
                                           WireCase{"Ch6Bits8Last", 6, 0, 12, "n6MQS88"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyTest, KnownSignalGivesItsFrequencyLevelAndThd) {
    // 1800 s/s and 1024 samples: bin 100 is 175.78 Hz, bin 200 its harmonic.
    instrument::Options options = QuietOptions();
    const double bin = 1800.0 / 1024.0;
    options.channels[2].tones = {{100 * bin, 4.0, 0.3}, {200 * bin, 0.04, 1.1}};
    StartInstrument(kCom, options);
    Connect();
    ui.Select(6, 3);
    ui.controls.channel = 2;
    ui.controls.resolution = 1;
    ui.controls.windowMode = 1;  // an exact bin needs no window

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_EQ(state->fundamentalText, "175 Hz");
    // 4 V peak is 2.83 V rms: 9.03 dB + 11 dB.
    EXPECT_EQ(state->amplitudeText, "20.0 dBm");
    double thd = 0.0;
    ASSERT_EQ(std::sscanf(state->thdText.c_str(), "%lf %%", &thd), 1) << state->thdText;
    EXPECT_NEAR(thd, 1.0, 0.05) << state->thdText;
    EXPECT_EQ(state->harmonicBins[0], 200);
}

TEST_F(PtyTest, PacedBlockArrivesInSeveralReadsAndProgressReaches100) {
    instrument::Options options = QuietOptions(true);
    options.channels[1].dc = 2.0;
    StartInstrument(kCom, options);
    Connect();
    // 1024 samples at 1000 s/s: about a second of stream, so the cycle sees it
    // arrive in parts even when a loaded machine holds its thread back a while.
    ui.Select(4, 3);
    ui.controls.windowMode = 1;

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty());
    const std::vector<int>& p = ui.progress;
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.back(), 100);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    // The bar moved through several positions on the way.
    std::vector<int> distinct(p);
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_GE(distinct.size(), 5u);
    // 2 V quantised at 8 bits: round(3.5 x 51) = 179 counts.
    EXPECT_NEAR(state->samples[0], ScaleToInput(179 * kVoltsPerCount8), 1e-9);
    EXPECT_NEAR(state->samples[1023], ScaleToInput(179 * kVoltsPerCount8), 1e-9);
}

TEST_F(PtyTest, BytesBeyondTheBlockAreDiscardedBeforeTheNextCycle) {
    instrument::Options options = QuietOptions();
    options.channels[1].dc = -1.0;
    options.fault = instrument::Fault::ExtraBytes;
    options.faultSamples = 300;  // more samples after the stop byte
    StartInstrument(kCom, options);
    Connect();
    ui.Select(6, 0);
    ui.controls.windowMode = 1;

    for (int cycle = 0; cycle < 2; ++cycle) {
        SingleConvert(*state, ui);
        ASSERT_TRUE(ui.messages.empty()) << ui.messages[0];
        // -1 V: round(2 x 51) = 102 counts; nothing of the surplus is decoded.
        for (int j = 0; j < 128; ++j) {
            ASSERT_NEAR(state->samples[j], ScaleToInput(102 * kVoltsPerCount8), 1e-9) << j;
        }
        EXPECT_EQ(state->samples[128], 0.0);
    }
    EXPECT_EQ(ui.repaintCount, 2);
    EXPECT_EQ(ReceivedSoon("i1GQS88i1GQS88"), "i1GQS88i1GQS88");
}

TEST_F(PtyTest, SilentInstrumentTimesOutAfterTwoToThreeSeconds) {
    instrument::Options options = QuietOptions();
    options.fault = instrument::Fault::SilentAfterStart;
    StartInstrument(kCom, options);
    Connect();
    state->fundamentalText = "previous";
    ui.Select(6, 0);

    const auto start = std::chrono::steady_clock::now();
    SingleConvert(*state, ui);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(ui.messages, std::vector<std::string>{"Acquisition timeout. Click OK to continue."});
    EXPECT_EQ(ReceivedSoon("i1GQS88"), "i1GQS88");  // the stop byte before the box
    EXPECT_GE(seconds, 2.0);
    EXPECT_LT(seconds, 3.0 + 3.0);  // margin for a loaded machine
    EXPECT_EQ(state->fundamentalText, "previous");
    EXPECT_EQ(ui.repaintCount, 0);
}

TEST_F(PtyTest, DeviceLostMidBlockEndsTheCycleAndKeepsTheResults) {
    instrument::Options options = QuietOptions(true);
    options.fault = instrument::Fault::HangUpMidBlock;
    options.faultSamples = 200;
    StartInstrument(kCom, options);
    state->comPort = kCom;
    Connect();
    state->fundamentalText = "previous";
    ui.Select(6, 3);

    SingleConvert(*state, ui);

    // Noticed as a loss, not waited out as a silent instrument.
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Instrument connection lost."});
    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(state->portStatusText, "COM" + std::to_string(kCom) + ":Error");
    EXPECT_EQ(state->fundamentalText, "previous");
    EXPECT_EQ(ui.repaintCount, 0);
}

TEST_F(PtyTest, PortChangeDuringReceptionCarriesOnOverTheNewLink) {
    instrument::Options silent = QuietOptions();
    silent.fault = instrument::Fault::SilentAfterStart;
    StartInstrument(kCom, silent);
    instrument::Options other = QuietOptions();
    other.channels[1].dc = 3.0;
    StartInstrument(kOtherCom, other);
    Connect();
    ui.Select(6, 0);
    ui.controls.windowMode = 1;
    // The operator steps the COM spin while the cycle waits for its block; the
    // instrument on the new port is already streaming.
    bool switched = false;
    ui.onPump = [&](int) {
        if (switched || Received(kCom).find('8') == std::string::npos) return;
        switched = true;
        TryConnect(kOtherCom);
        const unsigned char start = '8';
        state->link->Write(&start, 1);
    };

    SingleConvert(*state, ui);

    ASSERT_TRUE(switched);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_EQ(state->portStatusText, "COM6:Ready");
    // The old instrument got no stop byte; the new one got it over the new link.
    EXPECT_EQ(ReceivedSoon("i1GQS8", kCom), "i1GQS8");
    EXPECT_EQ(ReceivedSoon("9P88", kOtherCom), "9P88");
    // 3 V: round(4 x 51) = 204 counts.
    EXPECT_NEAR(state->samples[0], ScaleToInput(204 * kVoltsPerCount8), 1e-9);
    EXPECT_EQ(ui.repaintCount, 1);
}

}  // namespace
