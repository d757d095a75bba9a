// Command-line parsing: accepted forms, and refusals that name the value and
// what is allowed.
#include "cli/args.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

TEST(Arguments, DefaultsAreThoseOfAFreshProfile) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--demo"}, &o, &error)) << error;
    EXPECT_EQ(o.source, CliSource::kDemo);
    EXPECT_EQ(o.rateIndex, 6);   // 1800 s/s
    EXPECT_EQ(o.countIndex, 0);  // 128
    EXPECT_EQ(o.channel, 1);
    EXPECT_EQ(o.resolution, 0);
    EXPECT_EQ(o.windowMode, 0);
    EXPECT_EQ(o.averagingMode, 0);
    EXPECT_EQ(o.cycles, 1);
    EXPECT_FALSE(o.rateGiven || o.countGiven || o.bitsGiven || o.windowGiven);
}

TEST(Arguments, EverySettingInBothSpellings) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseArguments(Split("--port COM3=/dev/ttyUSB0 --rate=6000 --samples 8192 "
                                     "--channel=6 --bits 10 --window off --average=10 "
                                     "--count 5 --interval 250 --json out.json --csv - "
                                     "--save-raw run.raw --metrics"),
                               &o, &error))
        << error;
    EXPECT_EQ(o.source, CliSource::kPort);
    EXPECT_EQ(o.comPort, 3);
    EXPECT_EQ(o.devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(o.rateIndex, 12);
    EXPECT_EQ(o.countIndex, 6);
    EXPECT_EQ(o.channel, 6);
    EXPECT_EQ(o.resolution, 1);
    EXPECT_EQ(o.windowMode, 1);
    EXPECT_EQ(o.averagingMode, 2);
    EXPECT_EQ(o.cycles, 5);
    EXPECT_EQ(o.intervalMs, 250);
    EXPECT_EQ(o.jsonPath, "out.json");
    EXPECT_EQ(o.csvPath, "-");
    EXPECT_EQ(o.rawPath, "run.raw");
    EXPECT_TRUE(o.metrics);

    ASSERT_TRUE(
        ParseArguments(Split("--port com16 --average on --bits 8 --channel 0"), &o, &error));
    EXPECT_EQ(o.comPort, 16);
    EXPECT_TRUE(o.devicePath.empty());
    EXPECT_EQ(o.averagingMode, 1);
    EXPECT_EQ(o.channel, 0);

    ASSERT_TRUE(ParseArguments(Split("--demo --signal 1:sine:440:2.0 --signal 1:noise:0.01 "
                                     "--fault stall"),
                               &o, &error));
    EXPECT_EQ(o.signals, (std::vector<std::string>{"1:sine:440:2.0", "1:noise:0.01"}));
    EXPECT_EQ(o.fault, "stall");
}

TEST(Arguments, HelpAndVersionNeedNoInstrument) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--help"}, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(ParseArguments({"--version"}, &o, &error));
    EXPECT_TRUE(o.version);
}

struct Refusal {
    const char* args;
    std::vector<const char*> says;  // each must appear in the message
};

class ArgumentRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ArgumentRefusal, NamesTheValueAndWhatIsAllowed) {
    CliOptions o;
    std::string error;
    EXPECT_FALSE(ParseArguments(Split(GetParam().args), &o, &error));
    for (const char* part : GetParam().says) {
        EXPECT_NE(error.find(part), std::string::npos) << "'" << part << "' not in: " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgumentRefusal,
    ::testing::Values(
        Refusal{"--demo --rate 1234", {"--rate '1234'", "100, 200, 300, 500", "6000"}},
        Refusal{"--demo --rate 1800.0", {"'1800.0'", "allowed"}},
        Refusal{"--demo --samples 1000", {"--samples '1000'", "128, 256", "8192"}},
        Refusal{"--demo --samples 16384", {"'16384'", "8192"}},
        Refusal{"--demo --samples 128x", {"'128x'"}},
        Refusal{"--demo --channel 7", {"--channel '7'", "0 to 6"}},
        Refusal{"--demo --channel -1", {"'-1'", "0 to 6"}},
        Refusal{"--demo --bits 12", {"--bits '12'", "8, 10"}},
        Refusal{"--demo --window maybe", {"'maybe'", "on, off"}},
        Refusal{"--demo --average 5", {"'5'", "off, on, 10"}},
        Refusal{"--demo --count 0", {"--count '0'", "1 to"}},
        Refusal{"--demo --interval -5", {"'-5'"}},
        Refusal{"--port COM17", {"'COM17'", "COM1 to COM16"}}, Refusal{"--port COM0", {"'COM0'"}},
        Refusal{"--port ttyS0", {"'ttyS0'", "COMn=PATH"}},
        Refusal{"--port COM3=", {"path is empty"}}, Refusal{"--demo --rate", {"--rate", "missing"}},
        Refusal{"--demo --frobnicate", {"'--frobnicate'", "unknown option"}},
        Refusal{"--demo stray", {"'stray'", "unexpected"}},
        Refusal{"--metrics=yes --demo", {"--metrics", "no value"}},
        Refusal{"--demo --port COM1", {"only one of"}},
        Refusal{"--rate 1800", {"no instrument", "--demo"}},
        Refusal{"--port COM1 --signal 1:sine:50:1", {"--signal", "--demo"}},
        Refusal{"--device /dev/ttyUSB0 --fault stall", {"--fault", "--demo"}},
        Refusal{"--demo --json - --csv -", {"standard output"}},
        Refusal{"--demo --save-raw -", {"--save-raw"}},
        Refusal{"--input x.raw --count 3", {"--count", "--input"}},
        Refusal{"--input x.raw --save-raw y.raw", {"--save-raw", "--input"}},
        Refusal{"--list-ports --demo", {"--list-ports", "no instrument"}},
        Refusal{"--list-ports --csv x.csv", {"--list-ports", "--json"}},
        Refusal{"--port ttyUSB0", {"'ttyUSB0'", "device path"}},
        Refusal{"--demo --profile", {"--profile", "missing"}}));

TEST(Arguments, PortsByPathAndTheirListing) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseArguments(Split("--port /dev/serial/by-id/usb-FTDI-if00-port0"), &o, &error))
        << error;
    EXPECT_EQ(o.source, CliSource::kPort);
    EXPECT_EQ(o.comPort, 0) << "the number comes from the COM database";
    EXPECT_EQ(o.devicePath, "/dev/serial/by-id/usb-FTDI-if00-port0");

    ASSERT_TRUE(ParseArguments(Split("--list-ports --json --profile /tmp/p.INI"), &o, &error))
        << error;
    EXPECT_TRUE(o.listPorts);
    EXPECT_EQ(o.jsonPath, "-") << "a bare --json goes to standard output";
    EXPECT_EQ(o.profilePath, "/tmp/p.INI");
    ASSERT_TRUE(ParseArguments(Split("--list-ports --json ports.json"), &o, &error)) << error;
    EXPECT_EQ(o.jsonPath, "ports.json");
    ASSERT_TRUE(ParseArguments(Split("--list-ports"), &o, &error)) << error;
    EXPECT_EQ(o.jsonPath, "");
}

}  // namespace
