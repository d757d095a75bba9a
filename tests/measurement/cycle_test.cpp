// The measurement cycle over a scripted port and the real link, with a clock
// that only moves when the code sleeps or polls, so timings are exact.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "comlink/link.h"
#include "measurement/measurement.h"
#include "tests/measurement/fakes.h"

namespace {

using Bytes = std::vector<unsigned char>;

// One sample per entry, as the instrument sends it (high byte first at 10 bits).
Bytes Encode(const std::vector<int>& counts, int resolution) {
    Bytes bytes;
    for (int c : counts) {
        if (resolution != 0) bytes.push_back(static_cast<unsigned char>(c >> 8));
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    return bytes;
}

class CycleTest : public ::testing::Test {
  protected:
    CycleTest() {
        ResetAnalysisState();
        state->port = port;
        state->link = new CComLink(port);
        port->onWrite = [this](unsigned char c) { OnInstrumentByte(*port, c); };
        state->fundamentalText = "previous Hz";
        state->amplitudeText = "previous dBm";
        state->thdText = "previous %";
        ui.controls.windowMode = 1;  // samples reach the transform as decoded
    }
    ~CycleTest() override { ReleaseConnection(*state); }

    // The instrument: '8' starts the stream of `block` (in chunks every
    // chunkIntervalMs), the next '8' stops what has not been sent yet.
    void OnInstrumentByte(fakes::ScriptedPort& p, unsigned char c) {
        writeTimes.push_back(clock.nowMs);
        if (c != '8') return;
        streaming = !streaming;
        if (!streaming) {
            p.CancelScheduled();
            return;
        }
        for (size_t at = 0; at < block.size(); at += static_cast<size_t>(chunk)) {
            const size_t end = std::min(block.size(), at + static_cast<size_t>(chunk));
            p.Deliver(
                Bytes(block.begin() + static_cast<long>(at),
                      block.begin() + static_cast<long>(end)),
                clock.nowMs + firstDelayMs + (at / static_cast<size_t>(chunk)) * chunkIntervalMs);
        }
    }

    std::string Written() const { return std::string(port->written.begin(), port->written.end()); }

    bool TextsUnchanged() const {
        return state->fundamentalText == "previous Hz" && state->amplitudeText == "previous dBm" &&
               state->thdText == "previous %";
    }

    fakes::FakeClock clock;
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    fakes::ScriptedPort* port = new fakes::ScriptedPort;
    fakes::RecordingUi ui{*state};

    Bytes block;
    int chunk = 1 << 20;
    std::uint64_t firstDelayMs = 3;
    std::uint64_t chunkIntervalMs = 5;
    bool streaming = false;
    std::vector<std::uint64_t> writeTimes;
};

TEST_F(CycleTest, WritesEachCommandAloneWithItsPausesAndDrains) {
    ui.Select(12, 0);  // 6000 s/s, 128 samples
    ui.controls.channel = 3;
    block = Bytes(128, 0x80);

    SingleConvert(*state, ui);

    ASSERT_EQ(Written(), "k3MQS88");
    // The first drain pauses 10 ms and waits 20 ms for a byte before the first command.
    EXPECT_GE(writeTimes[0], 1u + 10u + 20u + 1u);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(writeTimes[i] - writeTimes[i - 1], 1u) << "byte " << i;
    // 'S', its pause, then the drain (10 ms pause, 20 ms read) before the start byte.
    EXPECT_GE(writeTimes[5] - writeTimes[4], 1u + 10u + 20u);
    EXPECT_LT(writeTimes[5] - writeTimes[4], 40u);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.repaintCount, 1);
}

struct DecodeCase {
    const char* name;
    int resolution;
    int count;     // every sample of the block
    double volts;  // after scaling to the input range
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class CycleDecodeTest : public CycleTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(CycleDecodeTest, ScalesCountsToTheInputRange) {
    const DecodeCase& c = GetParam();
    ui.Select(6, 0);
    ui.controls.resolution = c.resolution;
    block = Encode(std::vector<int>(128, c.count), c.resolution);

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty());
    EXPECT_NEAR(state->samples[0], c.volts, 1e-4);
    EXPECT_NEAR(state->samples[127], c.volts, 1e-4);
    EXPECT_EQ(state->samples[128], 0.0);
    EXPECT_EQ(state->samples[kBufferSize - 1], 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CycleDecodeTest,
    ::testing::Values(DecodeCase{"Byte80", 0, 0x80, 0.0196}, DecodeCase{"ByteFF", 0, 0xFF, 5.0},
                      DecodeCase{"Word0200", 1, 0x200, 0.0049},
                      DecodeCase{"Word03FF", 1, 0x3FF, 5.0}, DecodeCase{"Word0000", 1, 0, -5.0},
                      // Not masked or clipped: above full scale decodes above 5 V.
                      DecodeCase{"Word0400", 1, 0x400, 5.0098}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CycleTest, FormatsFrequencyLevelAndThd) {
    ui.Select(6, 3);  // 1800 s/s, 1024 samples
    ui.controls.resolution = 1;
    ui.controls.windowMode = 0;
    // A tone on bin 100 and its second harmonic at 1 % of its amplitude.
    std::vector<int> counts(1024);
    for (int j = 0; j < 1024; ++j) {
        const double phase = 2.0 * M_PI * 100 * j / 1024;
        counts[j] = static_cast<int>(
            std::lround(511.5 + 400.0 * std::sin(phase) + 4.0 * std::sin(2 * phase)));
    }
    block = Encode(counts, 1);

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty());
    EXPECT_EQ(state->fundamentalBin, 100);
    // 100 / 512 x 900 = 175.78, truncated.
    EXPECT_EQ(state->fundamentalText, "175 Hz");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.1f dBm", state->fundamentalLevel);
    EXPECT_EQ(state->amplitudeText, expected);
    double thd = 0.0;
    char percent = 0;
    ASSERT_EQ(std::sscanf(state->thdText.c_str(), "%lf %c", &thd, &percent), 2) << state->thdText;
    EXPECT_EQ(percent, '%');
    EXPECT_NEAR(thd, 1.0, 0.05);
    EXPECT_EQ(state->thdText.find('.') + 4, state->thdText.find(' '));  // three decimals

    // Without THD the text keeps what it had.
    ui.controls.thdEnabled = 0;
    state->thdText = " ";
    SingleConvert(*state, ui);
    EXPECT_EQ(state->thdText, " ");
    EXPECT_EQ(state->fundamentalText, "175 Hz");
}

TEST_F(CycleTest, AppendsABlockThatArrivesInSeveralReads) {
    ui.Select(6, 0);
    std::vector<int> ramp(128);
    for (int j = 0; j < 128; ++j) ramp[j] = 2 * j;
    block = Encode(ramp, 0);
    chunk = 50;

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty());
    for (int j = 0; j < 128; ++j) {
        ASSERT_NEAR(state->samples[j], ScaleToInput(2 * j * kVoltsPerCount8), 1e-12) << j;
    }
    EXPECT_EQ(ui.block, block);
    // 50 and 100 of 128 bytes, truncated; the last byte brings 100.
    const std::vector<int>& p = ui.progress;
    ASSERT_FALSE(p.empty());
    EXPECT_NE(std::find(p.begin(), p.end(), 39), p.end());
    EXPECT_NE(std::find(p.begin(), p.end(), 78), p.end());
    EXPECT_EQ(p.back(), 100);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
}

TEST_F(CycleTest, SurplusBeyondTheBlockIsIgnoredAndOverflowIsReportedOnce) {
    ui.Select(12, 6);  // 8192 samples
    ui.controls.resolution = 1;
    // 16000 bytes, then 9000 more: the last read takes the count past 20000.
    block = Encode(std::vector<int>(8192, 0x3FF), 1);
    block.resize(16000 + 9000, 0x00);
    chunk = 16000;

    SingleConvert(*state, ui);

    EXPECT_EQ(ui.messages, std::vector<std::string>{"Array overflow error."});
    EXPECT_EQ(ui.block.size(), 16384u);  // the block without the surplus
    EXPECT_EQ(ui.progress.back(), 100);
    EXPECT_EQ(ui.repaintCount, 1);
    // Samples come from the first 2N bytes only.
    EXPECT_NEAR(state->samples[8191], 5.0, 1e-9);
    EXPECT_EQ(Written().substr(Written().size() - 2), "88");
}

TEST_F(CycleTest, WaitingBytesRenewTheDeadline) {
    ui.Select(6, 0);
    block = Bytes(128, 0x80);
    chunk = 32;
    chunkIntervalMs = 1900;  // never 2 s of silence, 5.7 s in all

    SingleConvert(*state, ui);

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.repaintCount, 1);
    EXPECT_GE(clock.nowMs, 5700u);
}

TEST_F(CycleTest, BytesWaitingRenewTheDeadlineEvenWhenTheReadGetsNone) {
    ui.Select(6, 0);
    block = Bytes(128, 0xFF);
    firstDelayMs = 5000;
    // The queue reports a byte that no read delivers until the block comes.
    port->onWrite = [this](unsigned char c) {
        OnInstrumentByte(*port, c);
        if (c == '8' && streaming) port->rxCountResult = 1;
    };
    ui.onPump = [this](int) {
        if (clock.nowMs >= 5000) port->rxCountResult.reset();
    };

    SingleConvert(*state, ui);

    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_NEAR(state->samples[0], 5.0, 1e-9);
    EXPECT_EQ(ui.repaintCount, 1);
}

TEST_F(CycleTest, SilenceEndsReceptionAfterTwoToThreeWholeSeconds) {
    ui.Select(6, 0);  // the instrument sends nothing
    std::uint64_t startMs = 0;
    port->onWrite = [&](unsigned char c) {
        OnInstrumentByte(*port, c);
        if (c == '8' && streaming) startMs = clock.nowMs;
    };

    SingleConvert(*state, ui);

    EXPECT_EQ(ui.messages, std::vector<std::string>{"Acquisition timeout. Click OK to continue."});
    EXPECT_EQ(Written(), "i1GQS88");  // the stop byte before the box
    const std::uint64_t silentMs = writeTimes.back() - startMs;
    EXPECT_GE(silentMs, 2000u);
    EXPECT_LE(silentMs, 3000u + 20u);  // the last pass's pauses and read
    EXPECT_EQ(ui.repaintCount, 0);
    EXPECT_TRUE(TextsUnchanged());
}

struct InvalidCase {
    const char* name;
    int rateSelection;
    int countSelection;  // -1: the list has no selection
    int channel;
    const char* setting;  // named by the message
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << c.name;
}

class CycleInvalidSettingTest : public CycleTest,
                                public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(CycleInvalidSettingTest, SendsNothingAndNamesTheSetting) {
    const InvalidCase& c = GetParam();
    ui.Select(c.rateSelection, c.countSelection);
    ui.controls.channel = c.channel;
    state->sampleCount = 0;  // as after a persisted index outside the table

    SingleConvert(*state, ui);

    EXPECT_TRUE(port->written.empty()) << Written();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(c.setting), std::string::npos) << ui.messages[0];
    EXPECT_EQ(ui.repaintCount, 0);
    EXPECT_TRUE(TextsUnchanged());
}

INSTANTIATE_TEST_SUITE_P(Settings, CycleInvalidSettingTest,
                         ::testing::Values(InvalidCase{"RateNone", -1, 0, 1,
                                                       "sample rate selection"},
                                           InvalidCase{"Rate13", 13, 0, 1, "sample rate selection"},
                                           InvalidCase{"CountNone", 6, -1, 1, "number of samples"},
                                           InvalidCase{"ChannelMinus1", 6, 0, -1, "A/D channel"},
                                           InvalidCase{"Channel7", 6, 0, 7, "A/D channel"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CycleTest, ChannelsGetTheirPrefixAndChannelBytes) {
    const char* expected[] = {"h0", "i1", "j2", "k3", "l4", "m5", "n6"};
    for (int channel = 0; channel <= 6; ++channel) {
        port->written.clear();
        ui.controls.channel = channel;
        ui.Select(0, 0);
        block = Bytes(128, 0x80);
        SingleConvert(*state, ui);
        EXPECT_EQ(Written(), std::string(expected[channel]) + "AQS88");
    }
}

enum class Loss {
    RxCountDuringReception,
    ReadDuringReception,
    StoredDeviceError,
    BeforeConfiguration,
    LinkRemoved
};

struct LossCase {
    const char* name;
    Loss loss;
    const char* written;  // what reached the instrument
};

void PrintTo(const LossCase& c, std::ostream* os) {
    *os << c.name;
}

class CycleLostDeviceTest : public CycleTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(CycleLostDeviceTest, StopsAndKeepsThePreviousResults) {
    const LossCase& c = GetParam();
    ui.Select(6, 0);
    block = Bytes(40, 0x80);  // part of a block, then the device goes
    port->onWrite = [this, &c](unsigned char byte) {
        OnInstrumentByte(*port, byte);
        if (byte != '8' || !streaming) return;
        if (c.loss == Loss::RxCountDuringReception) port->rxCountResult = CL_ERR_DEVICE;
        // The port reports an empty queue, and the reason in its stored error.
        if (c.loss == Loss::StoredDeviceError) port->errorCode = CL_ERR_DEVICE;
        if (c.loss == Loss::ReadDuringReception) {
            port->rxCountResult = 100;  // a count the device can no longer deliver
            port->idleResult = CL_ERR_DEVICE;
        }
    };
    if (c.loss == Loss::BeforeConfiguration) port->idleResult = CL_ERR_DEVICE;
    if (c.loss == Loss::LinkRemoved) {
        ui.onPump = [this](int) {
            if (streaming) ReleaseConnection(*state);
        };
    }

    state->comPort = 7;
    state->connected = 1;
    state->portStatusText = "COM7:Ready";

    SingleConvert(*state, ui);

    EXPECT_EQ(ui.messages, std::vector<std::string>{"Instrument connection lost."});
    // A dead device no longer reads as ready.
    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(state->portStatusText, "COM7:Error");
    if (state->port != nullptr) {
        EXPECT_EQ(Written(), c.written);
    }
    EXPECT_EQ(ui.repaintCount, 0);
    EXPECT_TRUE(TextsUnchanged());
    EXPECT_LT(ui.pumpCount, 100);  // it gave up at once rather than polling on
}

INSTANTIATE_TEST_SUITE_P(
    Losses, CycleLostDeviceTest,
    ::testing::Values(LossCase{"RxCount", Loss::RxCountDuringReception, "i1GQS88"},
                      LossCase{"Read", Loss::ReadDuringReception, "i1GQS88"},
                      LossCase{"StoredError", Loss::StoredDeviceError, "i1GQS88"},
                      LossCase{"FirstDrain", Loss::BeforeConfiguration, ""},
                      LossCase{"LinkRemoved", Loss::LinkRemoved, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CycleTest, ANestedHandlerThatReplacesTheLinkIsFollowed) {
    ui.Select(6, 0);
    ui.controls.resolution = 1;
    fakes::ScriptedPort* second = new fakes::ScriptedPort;
    bool streamingOnSecond = false;
    second->onWrite = [&](unsigned char c) {
        if (c != '8') return;
        streamingOnSecond = !streamingOnSecond;
        if (streamingOnSecond)
            second->Deliver(Encode(std::vector<int>(128, 0x3FF), 1), clock.nowMs + 2);
    };
    // The old instrument never answers; the handler switches ports mid-reception.
    ui.onPump = [&](int) {
        if (!streaming || state->port == second) return;
        ReleaseConnection(*state);
        state->port = second;
        state->link = new CComLink(second);
        second->Write("8", 1);  // what was started on the old port is running on the new one
    };

    SingleConvert(*state, ui);

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(std::string(second->written.begin(), second->written.end()), "88");
    EXPECT_NEAR(state->samples[0], 5.0, 1e-9);
    EXPECT_EQ(ui.repaintCount, 1);
}

TEST_F(CycleTest, DecodesWithTheCountAsItStandsAfterReception) {
    ui.Select(6, 0);  // E fixed at 128 bytes
    block = Bytes(128, 0xFF);
    ui.onPump = [this](int) {
        if (streaming) ui.Select(6, 1);  // the operator picks 256 mid-cycle
        if (streaming) state->sampleCount = 256;
    };

    SingleConvert(*state, ui);

    ASSERT_TRUE(ui.messages.empty());
    EXPECT_NEAR(state->samples[127], 5.0, 1e-9);
    // Bytes that never arrived are zero counts.
    EXPECT_NEAR(state->samples[128], -5.0, 1e-9);
    EXPECT_NEAR(state->samples[255], -5.0, 1e-9);
    EXPECT_EQ(state->samples[256], 0.0);
}

TEST_F(CycleTest, ResolutionOutsideTheButtonsIsReportedAndBounded) {
    ui.Select(12, 6);
    ui.controls.resolution = 3;  // asks for 4 x 8192 bytes, more than the block holds
    block = Bytes(40000, 0x01);
    chunk = 9000;

    SingleConvert(*state, ui);

    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages[0], "Bits error");
    EXPECT_EQ(Written(), "i1MS88");  // no resolution byte exists for it
    EXPECT_EQ(ui.repaintCount, 1);
}

}  // namespace
