// The instrument's protocol model alone: handshake, block bytes, pacing, faults.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "instrument/instrument.h"

namespace instrument {
namespace {

constexpr double kByteTime = 1.0 / 12800.0;

std::string Bytes(const std::vector<Emission>& out) {
    std::string s;
    for (const Emission& e : out) s += static_cast<char>(e.byte);
    return s;
}

// A DC level of 1 V plus 2 V at a quarter of the rate: 1, 3, 1, -1 V, none
// of them near a rounding boundary.
Options QuarterRateSignal() {
    Options options;
    for (ChannelSignal& c : options.channels) c = ChannelSignal{};
    options.channels[3].dc = 1.0;
    options.channels[3].tones = {{450.0, 2.0, 0.0}};
    return options;
}

class ModelTest : public ::testing::Test {
  protected:
    void Make(const Options& options) { model_ = std::make_unique<Model>(options); }
    // Sends bytes at 128000 baud at time t.
    void Send(const std::string& bytes, double t = 0.0) {
        for (char c : bytes) model_->Receive(static_cast<unsigned char>(c), 128000, t);
    }
    std::string TakeUntil(double t, std::size_t limit = 1000000) {
        out_.clear();
        model_->Take(t, limit, &out_);
        return Bytes(out_);
    }
    // Connected and configured for channel 3 at 1800 samples/s.
    void Connect(const Options& options, char resolution = 'Q') {
        Make(options);
        model_->Receive('9', 38400, 0.0);
        Send(std::string("k3G") + resolution + "S");
        TakeUntil(0.0);
    }
    std::unique_ptr<Model> model_;
    std::vector<Emission> out_;
};

struct HandshakeCase {
    int nineSpeed;  // speed at which '9' is read
    int pSpeed;     // speed at which 'P' is read
    bool replies;
    bool anySpeed = false;
};

class HandshakeSpeedTest : public ModelTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeSpeedTest, NineSwitchesAtAnySpeedAndLaterBytesMustBeFast) {
    const HandshakeCase c = GetParam();
    Options options;
    options.anySpeed = c.anySpeed;
    Make(options);
    EXPECT_EQ(model_->Receive('9', c.nineSpeed, 0.0), ByteUse::SpeedChange);
    EXPECT_EQ(model_->Receive('P', c.pSpeed, 0.001),
              c.replies ? ByteUse::Handshake : ByteUse::WrongSpeed);
    EXPECT_EQ(TakeUntil(1.0), c.replies ? "Q" : "");
}

INSTANTIATE_TEST_SUITE_P(Speeds, HandshakeSpeedTest,
                         ::testing::Values(HandshakeCase{38400, 128000, true},
                                           HandshakeCase{128000, 128000, true},
                                           HandshakeCase{38400, 126000, true},  // within 2 %
                                           HandshakeCase{38400, 38400, false},
                                           HandshakeCase{38400, 115200, false},
                                           HandshakeCase{38400, 38400, true, true},
                                           HandshakeCase{9600, 300, true, true}));

TEST_F(ModelTest, OnlyTheSpeedChangeCountsBeforeIt) {
    Make(Options());
    EXPECT_EQ(model_->Receive('P', 38400, 0.0), ByteUse::BeforeSpeedChange);
    EXPECT_EQ(model_->Receive('8', 128000, 0.0), ByteUse::BeforeSpeedChange);
    EXPECT_EQ(TakeUntil(1.0), "");
    EXPECT_FALSE(model_->AtFastSpeed());
    Options anySpeed;
    anySpeed.anySpeed = true;  // still only after the speed change
    Make(anySpeed);
    EXPECT_EQ(model_->Receive('P', 38400, 0.0), ByteUse::BeforeSpeedChange);
}

TEST_F(ModelTest, ConfigurationBytesSelectChannelRateAndResolution) {
    Make(Options());
    model_->Receive('9', 38400, 0.0);
    EXPECT_EQ(model_->Receive('n', 128000, 0.0), ByteUse::Prefix);
    EXPECT_EQ(model_->Receive('6', 128000, 0.0), ByteUse::Channel);
    EXPECT_EQ(model_->Receive('M', 128000, 0.0), ByteUse::Rate);
    EXPECT_EQ(model_->Receive('R', 128000, 0.0), ByteUse::Resolution);
    EXPECT_EQ(model_->Receive('S', 128000, 0.0), ByteUse::ConfigEnd);
    EXPECT_EQ(model_->Channel(), 6);
    EXPECT_EQ(model_->Rate(), 6000);
    EXPECT_EQ(model_->ResolutionIndex(), 1);
    // Any byte may stand before the channel byte: channels 0 and 1 have none defined.
    EXPECT_EQ(model_->Receive('h', 128000, 0.0), ByteUse::Prefix);
    EXPECT_EQ(model_->Receive('0', 128000, 0.0), ByteUse::Channel);
    EXPECT_EQ(model_->Channel(), 0);
    EXPECT_EQ(model_->Receive('A', 128000, 0.0), ByteUse::Rate);
    EXPECT_EQ(model_->Rate(), 100);
    EXPECT_EQ(TakeUntil(1.0), "") << "configuration bytes get no answer";
}

TEST_F(ModelTest, EightBitBlockOfAKnownSignal) {
    Connect(QuarterRateSignal(), 'Q');
    EXPECT_EQ(model_->Receive('8', 128000, 0.0), ByteUse::Start);
    const std::string block = TakeUntil(8.0 / 1800.0);
    // counts = round((v/2 + 2.5) x 51): 1 V -> 153, 3 V -> 204, -1 V -> 102
    const std::string expected = {'\x99', '\xcc', '\x99', '\x66', '\x99', '\xcc', '\x99', '\x66'};
    EXPECT_EQ(block, expected);
}

TEST_F(ModelTest, TenBitBlockOfAKnownSignalIsHighByteFirst) {
    Connect(QuarterRateSignal(), 'R');
    model_->Receive('8', 128000, 0.0);
    const std::string block = TakeUntil(4.0 / 1800.0 + 2 * kByteTime);
    // x 204.6: 1 V -> 614 = 0x266, 3 V -> 818 = 0x332, -1 V -> 409 = 0x199
    const std::string expected = {'\x02', '\x66', '\x03', '\x32', '\x02', '\x66', '\x01', '\x99'};
    EXPECT_EQ(block, expected);
}

TEST_F(ModelTest, CountingChannelNumbersItsSamplesInEveryAcquisition) {
    Options options = QuarterRateSignal();
    options.channels[3].counting = true;
    options.paced = false;
    for (char resolution : {'Q', 'R'}) {
        Connect(options, resolution);
        const int range = resolution == 'Q' ? 256 : 1024;
        double t = 0.0;
        for (int acquisition = 0; acquisition < 2; ++acquisition, t += 3.0) {
            Send("8", t);
            // A second of the line holds 12800 bytes, more than either block.
            const std::string bytes = TakeUntil(t + 1.0, resolution == 'Q' ? 1300 : 2600);
            Send("8", t + 1.0);
            TakeUntil(t + 2.0);
            for (int j = 0; j < 1300; ++j) {
                const int counts = resolution == 'Q'
                                       ? static_cast<unsigned char>(bytes[j])
                                       : static_cast<unsigned char>(bytes[2 * j]) * 256 +
                                             static_cast<unsigned char>(bytes[2 * j + 1]);
                ASSERT_EQ(counts, j % range) << resolution << " acquisition " << acquisition;
            }
        }
        EXPECT_EQ(model_->SamplesSentInTotal(), 2 * 1300);
    }
}

TEST_F(ModelTest, StreamRunsUntilTheSecondEightAndFinishesItsSample) {
    Connect(QuarterRateSignal(), 'R');
    model_->Receive('8', 128000, 0.0);
    // Stop between the high and the low byte of sample 3.
    EXPECT_EQ(TakeUntil(3.0 / 1800.0).size(), 5u);
    EXPECT_EQ(model_->Receive('8', 128000, 3.0 / 1800.0), ByteUse::Stop);
    EXPECT_EQ(TakeUntil(10.0).size(), 1u) << "the low byte of the sample on the wire";
    EXPECT_EQ(model_->NextDue(), std::numeric_limits<double>::infinity());
    EXPECT_FALSE(model_->AcquisitionOpen());
}

struct PacingCase {
    char rateByte;
    char resolutionByte;
    int rate;
    int bytesPerSample;
};

class PacingTest : public ModelTest, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(PacingTest, OneSampleEveryPeriodNeverFasterThanTheLine) {
    const PacingCase c = GetParam();
    Make(Options());
    model_->Receive('9', 38400, 10.0);
    Send(std::string("l4") + c.rateByte + c.resolutionByte + "S8", 10.0);
    // Samples come one period apart, starting one period after '8'.
    EXPECT_EQ(TakeUntil(10.0 + 0.99 / c.rate), "");
    const std::size_t taken = TakeUntil(11.0).size();
    // Sample `rate` is due at exactly 11.0: its high byte is out, a low byte one byte time later.
    EXPECT_EQ(taken, static_cast<std::size_t>(c.rate * c.bytesPerSample - (c.bytesPerSample - 1)));
    for (std::size_t i = 1; i < out_.size(); ++i) {
        ASSERT_GE(out_[i].time - out_[i - 1].time, kByteTime * (1 - 1e-9)) << "byte " << i;
    }
    EXPECT_NEAR(out_.front().time, 10.0 + 1.0 / c.rate, 1e-9);
    EXPECT_GT(model_->NextDue(), 11.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, PacingTest,
                         ::testing::Values(PacingCase{'A', 'Q', 100, 1},
                                           PacingCase{'G', 'Q', 1800, 1},
                                           PacingCase{'M', 'Q', 6000, 1},
                                           PacingCase{'M', 'R', 6000, 2}));

TEST_F(ModelTest, UnpacedStreamGoesAtTheLineSpeedUpToTheLimit) {
    Options options;
    options.paced = false;
    Make(options);
    model_->Receive('9', 38400, 0.0);
    Send("l4MRS8");
    // Not at the sample rate, but never faster than the line: what can follow a
    // stop byte is bounded as on a real line.
    EXPECT_EQ(TakeUntil(0.0).size(), 1u);
    EXPECT_EQ(TakeUntil(4999 * kByteTime + 1e-9).size(), 4999u);
    EXPECT_LE(model_->NextDue(), 5000 * kByteTime + 1e-9);
    EXPECT_EQ(TakeUntil(1.0, 10).size(), 10u) << "the limit";
    Send("8", 1.0);
    EXPECT_EQ(TakeUntil(2.0).size(), 0u) << "5010 bytes end on a whole sample";
}

TEST_F(ModelTest, ReplyWhileStreamingIsNotLost) {
    Connect(Options());
    Send("8");
    TakeUntil(0.01);
    Send("P", 0.01);
    EXPECT_NE(TakeUntil(0.02).find('Q'), std::string::npos);
}

TEST_F(ModelTest, NoiseFollowsTheSeed) {
    auto block = [&](unsigned seed) {
        Options options;
        options.seed = seed;
        options.channels[3] = ChannelSignal{0.3, {}, 0.2};
        Connect(options, 'R');
        Send("8");
        return TakeUntil(1.0);
    };
    const std::string a = block(7);
    EXPECT_EQ(a.size(), 3599u);
    EXPECT_EQ(a, block(7));
    EXPECT_NE(a, block(8));
}

// Faults ------------------------------------------------------------------

struct ReplyCase {
    Fault fault;
    std::string within50ms;
    std::string within1s;
};

class ReplyFaultTest : public ModelTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyFaultTest, HandshakeReply) {
    const ReplyCase c = GetParam();
    Options options;
    options.fault = c.fault;
    Make(options);
    model_->Receive('9', 38400, 0.0);
    Send("P", 0.0);
    EXPECT_EQ(TakeUntil(0.05), c.within50ms);
    EXPECT_EQ(TakeUntil(1.0), c.within1s);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReplyFaultTest,
                         ::testing::Values(ReplyCase{Fault::None, "Q", ""},
                                           ReplyCase{Fault::NoReply, "", ""},
                                           ReplyCase{Fault::LateReply, "", "Q"},
                                           ReplyCase{Fault::DoubleReply, "QQ", ""},
                                           ReplyCase{Fault::WrongReply, "R", ""}));

TEST_F(ModelTest, SilentAfterStartSendsNothingAndTheSecondEightStillStops) {
    Options options;
    options.fault = Fault::SilentAfterStart;
    Connect(options);
    EXPECT_EQ(model_->Receive('8', 128000, 0.0), ByteUse::Start);
    EXPECT_EQ(TakeUntil(5.0), "");
    EXPECT_EQ(model_->Receive('8', 128000, 5.0), ByteUse::Stop);
    Send("P", 5.0);
    EXPECT_EQ(TakeUntil(6.0), "Q");
}

struct LimitCase {
    Fault fault;
    bool answersAfterwards;
    bool hangsUp;
};

class StreamLimitTest : public ModelTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(StreamLimitTest, StreamEndsAfterTheGivenSamples) {
    const LimitCase c = GetParam();
    Options options;
    options.fault = c.fault;
    options.faultSamples = 10;
    Connect(options, 'R');
    Send("8");
    EXPECT_EQ(TakeUntil(5.0).size(), 20u);
    EXPECT_EQ(model_->HangUpDue(), c.hangsUp);
    // The program times out and sends its stop byte, which must not start a new stream.
    model_->Receive('8', 128000, 5.0);
    Send("P", 5.0);
    EXPECT_EQ(TakeUntil(10.0), c.answersAfterwards ? "Q" : "");
    EXPECT_FALSE(model_->AcquisitionOpen() && c.answersAfterwards);
}

INSTANTIATE_TEST_SUITE_P(Faults, StreamLimitTest,
                         ::testing::Values(LimitCase{Fault::ShortBlock, true, false},
                                           LimitCase{Fault::Stall, false, false},
                                           LimitCase{Fault::HangUpMidBlock, true, true}));

TEST_F(ModelTest, StalledInstrumentRecoversOnlyThroughTheSpeedChange) {
    Options options;
    options.fault = Fault::Stall;
    options.faultSamples = 3;
    Connect(options);
    Send("8");
    TakeUntil(1.0);
    EXPECT_TRUE(model_->StallActive());
    EXPECT_EQ(model_->Receive('P', 128000, 1.0), ByteUse::Stalled);
    EXPECT_EQ(model_->Receive('9', 38400, 1.0), ByteUse::SpeedChange);
    model_->SetFault(Fault::None);
    Send("P", 1.0);
    EXPECT_EQ(TakeUntil(2.0), "Q");
}

TEST_F(ModelTest, ExtraBytesFollowTheStopByte) {
    for (int extra : {5, 0}) {
        SCOPED_TRACE(extra);
        Options options;
        options.fault = Fault::ExtraBytes;
        options.faultSamples = extra;
        Connect(options);
        Send("8");
        EXPECT_EQ(TakeUntil(100.0 / 1800.0).size(), 100u);
        model_->Receive('8', 128000, 100.0 / 1800.0);
        EXPECT_EQ(TakeUntil(10.0).size(), static_cast<std::size_t>(extra));
    }
}

TEST_F(ModelTest, GarbageAfterSpeedChangeAndConfigurationAndInPlaceOfSamples) {
    Options options;
    options.fault = Fault::Garbage;
    Make(options);
    model_->Receive('9', 38400, 0.0);
    EXPECT_EQ(TakeUntil(0.1).size(), 3u);
    Send("k3GRS");
    EXPECT_EQ(TakeUntil(0.2).size(), 3u);
    Send("8", 0.2);
    const std::string block = TakeUntil(1.2);
    ASSERT_EQ(block.size(), 3599u);
    // The instrument's own 10-bit samples never have a high byte above 3.
    int wild = 0;
    for (std::size_t i = 0; i < block.size(); i += 2)
        wild += static_cast<unsigned char>(block[i]) > 3;
    EXPECT_GT(wild, 1000);
}

TEST_F(ModelTest, SetFaultActsFromTheNextCommand) {
    Connect(Options());
    model_->SetFault(Fault::NoReply);
    Send("P", 0.0);
    EXPECT_EQ(TakeUntil(1.0), "");
    model_->SetFault(Fault::None);
    Send("P", 1.0);
    EXPECT_EQ(TakeUntil(2.0), "Q");
}

TEST_F(ModelTest, ReplyDelayHoldsBackTheAnswer) {
    for (int delayMs : {0, 180, 300}) {
        SCOPED_TRACE(delayMs);
        Options options;
        options.replyDelayMs = delayMs;
        Make(options);
        model_->Receive('9', 38400, 0.0);
        Send("P", 1.0);
        EXPECT_EQ(TakeUntil(1.0 + delayMs / 1000.0 - 0.001), "");
        EXPECT_EQ(TakeUntil(1.0 + delayMs / 1000.0 + 0.001), "Q");
    }
}

TEST_F(ModelTest, ChatterNeverStopsAndKeepsItsPaceThroughAReset) {
    Options options;
    options.fault = Fault::Chatter;
    Make(options);
    model_->Receive('9', 38400, 0.0);
    // Every 10 ms for ever: no gap of 20 ms, whatever happens on the line.
    std::vector<Emission> all;
    for (double t = 0.0; t <= 10.0; t += 0.5) {
        if (t == 5.0) model_->Receive('9', 38400, t);  // a reconnect does not quieten it
        model_->Take(t, 1000000, &all);
    }
    ASSERT_GE(all.size(), 990u);
    for (std::size_t i = 1; i < all.size(); ++i) {
        ASSERT_LT(all[i].time - all[i - 1].time, 0.02) << "gap before byte " << i;
    }
    EXPECT_LE(model_->NextDue(), 10.0 + kChatterInterval);
    model_->SetFault(Fault::None);
    Send("P", 10.0);
    const std::string after = TakeUntil(20.0);
    EXPECT_EQ(after.back(), 'Q');
    EXPECT_LE(after.size(), 2u) << "the noise ends with the fault";
}

TEST_F(ModelTest, NeverStopsIgnoresTheStopByteUntilTheSpeedChange) {
    Options options;
    options.fault = Fault::NeverStops;
    Connect(options);
    EXPECT_EQ(model_->Receive('8', 128000, 0.0), ByteUse::Start);
    EXPECT_EQ(TakeUntil(0.1).size(), 180u);
    EXPECT_EQ(model_->Receive('8', 128000, 0.1), ByteUse::StopIgnored);
    EXPECT_EQ(model_->Receive('8', 128000, 0.2), ByteUse::StopIgnored) << "nor a new start";
    EXPECT_EQ(TakeUntil(10.0).size(), 17820u) << "the stream went on at its rate";
    EXPECT_EQ(model_->Receive('9', 38400, 10.0), ByteUse::SpeedChange);
    EXPECT_EQ(TakeUntil(20.0), "");
}

TEST_F(ModelTest, SpeedChangeResetsAnOpenAcquisition) {
    Connect(Options());
    Send("8");
    TakeUntil(0.1);
    EXPECT_EQ(model_->Receive('9', 38400, 0.1), ByteUse::SpeedChange);
    EXPECT_EQ(TakeUntil(1.0), "");
    EXPECT_EQ(model_->Receive('8', 128000, 1.0), ByteUse::Start) << "a fresh acquisition";
}

}  // namespace
}  // namespace instrument
