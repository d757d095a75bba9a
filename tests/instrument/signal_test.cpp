// Signal model, quantisation and the parsing of signals, faults and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "instrument/command_line.h"
#include "instrument/instrument.h"
#include "measurement/state.h"

namespace instrument {
namespace {

struct QuantiseCase {
    double volts;
    int resolution;
    int counts;
};

class QuantiseTest : public ::testing::TestWithParam<QuantiseCase> {};

TEST_P(QuantiseTest, CountsMatchTheDecodingOfTheProgram) {
    const QuantiseCase c = GetParam();
    const int counts = Quantise(c.volts, c.resolution);
    EXPECT_EQ(counts, c.counts);
    // The program decodes counts x 5/full, then (v - 2.5) x 2: within half a count of the input.
    const double full = c.resolution == 0 ? 255.0 : 1023.0;
    const double decoded =
        ScaleToInput(counts * (c.resolution == 0 ? kVoltsPerCount8 : kVoltsPerCount10));
    EXPECT_LE(std::abs(decoded - std::clamp(c.volts, -5.0, 5.0)), 10.0 / full / 2 + 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Volts, QuantiseTest,
                         ::testing::Values(QuantiseCase{0.0, 0, 128}, QuantiseCase{5.0, 0, 255},
                                           QuantiseCase{-5.0, 0, 0}, QuantiseCase{7.5, 0, 255},
                                           QuantiseCase{-9.0, 0, 0}, QuantiseCase{1.0, 0, 153},
                                           QuantiseCase{0.0, 1, 512}, QuantiseCase{5.0, 1, 1023},
                                           QuantiseCase{-5.0, 1, 0}, QuantiseCase{6.0, 1, 1023},
                                           QuantiseCase{-1.0, 1, 409}, QuantiseCase{3.0, 1, 818}));

TEST(SignalTest, ValueSumsDcAndTonesWithPhase) {
    const ChannelSignal s{0.5, {{100.0, 2.0, 0.0}, {250.0, 1.0, std::numbers::pi / 2}}, 0.0};
    EXPECT_NEAR(SignalValue(s, 0.0), 0.5 + 0.0 + 1.0, 1e-12);
    EXPECT_NEAR(
        SignalValue(s, 0.0025),
        0.5 + 2.0 * std::sin(2 * std::numbers::pi * 0.25) + std::cos(2 * std::numbers::pi * 0.625),
        1e-12);
}

TEST(SignalTest, DemoSignalFitsTheInputAndTheDefaultRate) {
    const ChannelSignal s = DefaultDemoSignal();
    ASSERT_GE(s.tones.size(), 3u) << "a fundamental and harmonics";
    double peak = std::abs(s.dc);
    for (const Tone& t : s.tones) {
        EXPECT_LT(t.frequency, 900.0) << "below the Nyquist limit of 1800 samples/s";
        peak += t.amplitude;
    }
    EXPECT_LT(peak + 4 * s.noiseRms, 5.0) << "never clipped";
    EXPECT_GT(s.noiseRms, 0.0);
}

struct SignalCase {
    std::string spec;
    bool ok;
    int channel;
    std::string errorMentions;
};

class ParseSignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(ParseSignalTest, AcceptsComponentsAndNamesTheBadValue) {
    const SignalCase c = GetParam();
    ChannelSignal s{0.25, {{10.0, 1.0, 0.0}}, 0.0};
    const ChannelSignal before = s;
    int channel = -1;
    std::string error;
    EXPECT_EQ(ParseSignal(c.spec, &channel, &s, &error), c.ok) << error;
    if (c.ok) {
        EXPECT_EQ(channel, c.channel);
    } else {
        EXPECT_NE(error.find(c.errorMentions), std::string::npos) << error;
        EXPECT_EQ(s.tones.size(), before.tones.size());
        EXPECT_EQ(s.dc, before.dc);
        EXPECT_EQ(s.noiseRms, before.noiseRms);
    }
}

INSTANTIATE_TEST_SUITE_P(Specs, ParseSignalTest,
                         ::testing::Values(SignalCase{"1:sine:440:2.0", true, 1, ""},
                                           SignalCase{"6:sine:880:0.5:1.57", true, 6, ""},
                                           SignalCase{"0:dc:-1.5", true, 0, ""},
                                           SignalCase{"3:noise:0.01", true, 3, ""},
                                           SignalCase{"7:sine:440:2", false, 0, "\"7\""},
                                           SignalCase{"x:sine:440:2", false, 0, "\"x\""},
                                           SignalCase{"1:sine:44o:2", false, 0, "\"44o\""},
                                           SignalCase{"1:sine:440", false, 0, "FREQ:AMP"},
                                           SignalCase{"1:sine:-5:2", false, 0, "\"-5\""},
                                           SignalCase{"1:sine:440:nan", false, 0, "\"nan\""},
                                           SignalCase{"1:square:440:2", false, 0, "\"square\""},
                                           SignalCase{"1:noise:-0.1", false, 0, "\"-0.1\""},
                                           SignalCase{"1", false, 0, "expected"},
                                           SignalCase{"2:sweep:100:2000:4:1.5", true, 2, ""},
                                           SignalCase{"2:sweep:100:2000:0:1", false, 0, "\"0\""},
                                           SignalCase{"2:sweep:0:2000:4:1", false, 0, "above 0"},
                                           SignalCase{"2:sweep:100:200:3", false, 0, "FROM:TO"},
                                           SignalCase{"4:count", true, 4, ""},
                                           SignalCase{"4:count:3", false, 0, "no value"}));

TEST(SignalTest, ParsedComponentsLandInTheSignal) {
    ChannelSignal s;
    int channel = 0;
    std::string error;
    ASSERT_TRUE(ParseSignal("2:sine:440:2.0:0.5", &channel, &s, &error));
    ASSERT_TRUE(ParseSignal("2:sine:880:0.1", &channel, &s, &error));
    ASSERT_TRUE(ParseSignal("2:dc:0.3", &channel, &s, &error));
    ASSERT_TRUE(ParseSignal("2:noise:0.02", &channel, &s, &error));
    ASSERT_EQ(s.tones.size(), 2u);
    EXPECT_EQ(s.tones[0].frequency, 440.0);
    EXPECT_EQ(s.tones[0].amplitude, 2.0);
    EXPECT_EQ(s.tones[0].phase, 0.5);
    EXPECT_EQ(s.tones[1].phase, 0.0);
    EXPECT_EQ(s.dc, 0.3);
    EXPECT_EQ(s.noiseRms, 0.02);
}

TEST(SignalTest, SweepCoversItsRangeThenStartsAgain) {
    ChannelSignal s;
    int channel = 0;
    std::string error;
    ASSERT_TRUE(ParseSignal("1:sweep:100:300:1:2", &channel, &s, &error)) << error;
    ASSERT_EQ(s.sweeps.size(), 1u);
    // A linear sweep from 100 to 300 Hz over 1 s goes through 200 cycles, 400
    // sign changes; the first half holds 75 of them and the second 125.
    auto crossings = [&](double from, double to) {
        int count = 0;
        double last = SignalValue(s, from + 1e-7);
        for (double t = from + 1e-5; t < to; t += 1e-5) {
            const double v = SignalValue(s, t);
            if ((v < 0) != (last < 0)) ++count;
            last = v;
        }
        return count;
    };
    EXPECT_NEAR(crossings(0.0, 0.5), 150, 2);
    EXPECT_NEAR(crossings(0.5, 1.0), 250, 2);
    for (double t : {0.01, 0.37, 0.99})
        EXPECT_NEAR(SignalValue(s, t + 3.0), SignalValue(s, t), 1e-6);
}

TEST(FaultNameTest, EveryNameRoundTripsAndUnknownNamesFail) {
    const Fault all[] = {
        Fault::None,       Fault::SilentAfterStart, Fault::ShortBlock, Fault::ExtraBytes,
        Fault::Garbage,    Fault::NoReply,          Fault::LateReply,  Fault::DoubleReply,
        Fault::WrongReply, Fault::HangUpMidBlock,   Fault::Stall,      Fault::Chatter,
        Fault::NeverStops};
    for (Fault f : all) {
        bool ok = false;
        EXPECT_EQ(ParseFault(FaultName(f), &ok), f);
        EXPECT_TRUE(ok) << FaultName(f);
    }
    bool ok = false;
    EXPECT_EQ(ParseFault("Short_Block", &ok), Fault::ShortBlock);
    EXPECT_TRUE(ok);
    ParseFault("sometimes", &ok);
    EXPECT_FALSE(ok);
}

TEST(CommandLineTest, OptionsFillTheInstrumentOptions) {
    CommandLine cmd;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(
        {"--link", "/tmp/x", "--signal", "1:sine:440:2.0", "--signal=1:sine:880:0.2", "--dc",
         "1:0.5", "--noise", "1:0.01", "--fault", "short-block", "--fault-samples", "12", "--fast",
         "--any-speed", "--log", "/tmp/log", "--seed=9", "--reply-delay", "250"},
        &cmd, &error))
        << error;
    EXPECT_EQ(cmd.linkPath, "/tmp/x");
    const ChannelSignal& c1 = cmd.options.channels[1];
    ASSERT_EQ(c1.tones.size(), 2u) << "the demo signal of channel 1 is replaced";
    EXPECT_EQ(c1.tones[1].frequency, 880.0);
    EXPECT_EQ(c1.dc, 0.5);
    EXPECT_EQ(c1.noiseRms, 0.01);
    EXPECT_EQ(cmd.options.channels[2].tones.size(), DefaultDemoSignal().tones.size());
    EXPECT_EQ(cmd.options.fault, Fault::ShortBlock);
    EXPECT_EQ(cmd.options.faultSamples, 12);
    EXPECT_FALSE(cmd.options.paced);
    EXPECT_TRUE(cmd.options.anySpeed);
    EXPECT_EQ(cmd.options.logPath, "/tmp/log");
    EXPECT_EQ(cmd.options.seed, 9u);
    EXPECT_EQ(cmd.options.replyDelayMs, 250);
    EXPECT_FALSE(cmd.help);
}

struct BadArgsCase {
    std::vector<std::string> args;
    std::string errorMentions;
};

class BadCommandLineTest : public ::testing::TestWithParam<BadArgsCase> {};

TEST_P(BadCommandLineTest, NamesTheBadValue) {
    CommandLine cmd;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(GetParam().args, &cmd, &error));
    EXPECT_NE(error.find(GetParam().errorMentions), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Args, BadCommandLineTest,
                         ::testing::Values(BadArgsCase{{"--frobnicate"}, "\"--frobnicate\""},
                                           BadArgsCase{{"--link"}, "--link needs a value"},
                                           BadArgsCase{{"--fault", "flaky"}, "\"flaky\""},
                                           BadArgsCase{{"--signal", "8:sine:1:1"}, "\"8\""},
                                           BadArgsCase{{"--dc", "1"}, "\"1\""},
                                           BadArgsCase{{"--noise", "2:lots"}, "\"lots\""},
                                           BadArgsCase{{"--fault-samples", "-3"}, "\"-3\""},
                                           BadArgsCase{{"--reply-delay", "60001"}, "0 to 60000"},
                                           BadArgsCase{{"--fast=yes"}, "\"yes\""}));

}  // namespace
}  // namespace instrument
