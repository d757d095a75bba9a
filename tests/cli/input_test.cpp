// Saved blocks and input files: round trip, and every kind of bad file refused
// with a message that says what is wrong; then the offline analysis.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "analysis/analysis.h"
#include "cli/json.h"
#include "cli/raw_block.h"
#include "cli/replay.h"

namespace fs = std::filesystem;

namespace {

RawBlock Block(int countIndex, int resolution, unsigned seed) {
    RawBlock b;
    b.rateIndex = 6;
    b.countIndex = countIndex;
    b.channel = 4;
    b.resolution = resolution;
    b.windowMode = 1;
    b.averagingMode = 2;
    std::mt19937 rng(seed);
    b.bytes.resize(static_cast<size_t>((resolution + 1) * SampleCountTable[countIndex].count));
    for (auto& byte : b.bytes) byte = static_cast<unsigned char>(rng());
    return b;
}

TEST(RawBlockFile, BlocksRoundTripByteForByte) {
    const RawBlock a = Block(0, 0, 1);
    const RawBlock b = Block(2, 1, 2);
    const std::string data = FormatRawBlock(a) + FormatRawBlock(b);
    EXPECT_EQ(data.substr(0, data.find('\n')),
              "pelkor-raw 1 rate=1800 samples=128 channel=4 bits=8 window=off average=10 "
              "bytes=128");
    InputFile file;
    std::string error;
    ASSERT_TRUE(ParseInputFile(data, &file, &error)) << error;
    EXPECT_FALSE(file.volts);
    ASSERT_EQ(file.blocks.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const RawBlock& want = i == 0 ? a : b;
        const RawBlock& got = file.blocks[i];
        EXPECT_EQ(got.rateIndex, want.rateIndex);
        EXPECT_EQ(got.countIndex, want.countIndex);
        EXPECT_EQ(got.channel, want.channel);
        EXPECT_EQ(got.resolution, want.resolution);
        EXPECT_EQ(got.windowMode, want.windowMode);
        EXPECT_EQ(got.averagingMode, want.averagingMode);
        EXPECT_EQ(got.bytes, want.bytes);
    }
}

TEST(VoltsFile, OneValuePerLineWithCommentsBlankLinesAndCrLf) {
    std::string text = "# volts at the input\r\n\r\n";
    for (int i = 0; i < 256; ++i) text += "  " + std::to_string(std::sin(i * 0.3) * 4) + "\r\n";
    InputFile file;
    std::string error;
    ASSERT_TRUE(ParseInputFile(text, &file, &error)) << error;
    ASSERT_TRUE(file.volts);
    ASSERT_EQ(file.voltValues.size(), 256u);
    EXPECT_NEAR(file.voltValues[10], std::sin(3.0) * 4, 1e-6);
}

struct BadFile {
    const char* name;
    std::string data;
    const char* says;
};

std::string Values(int n, const std::string& value = "0.5") {
    std::string s;
    for (int i = 0; i < n; ++i) s += value + "\n";
    return s;
}

std::string Header(const std::string& fields) {
    return "pelkor-raw 1 " + fields + "\n";
}

const std::string kGood = "rate=1800 samples=128 channel=1 bits=8 window=on average=off";

class BadInput : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadInput, RefusedWithAClearMessage) {
    InputFile file;
    std::string error;
    EXPECT_FALSE(ParseInputFile(GetParam().data, &file, &error));
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadFile{"Empty", "", "empty"},
        BadFile{"Truncated", Header(kGood + " bytes=128") + std::string(100, 'x'),
                "truncated: 100 of 128 bytes"},
        BadFile{"SecondBlockTruncated",
                Header(kGood + " bytes=128") + std::string(128, 'x') + Header(kGood + " bytes=128"),
                "block 2: truncated: 0 of 128"},
        BadFile{"ExtraBytesAfterTheBlock", Header(kGood + " bytes=128") + std::string(129, 'x'),
                "block 2:"},
        BadFile{"HeaderWithoutLineEnd", "pelkor-raw 1 rate=1800", "header line missing"},
        BadFile{"HugeHeader", "pelkor-raw 1 " + std::string(1000, 'a') + "\n", "longer than"},
        BadFile{"UnknownVersion", "pelkor-raw 2 x=1\n", "version '2'"},
        // Control bytes of the file reach the message escaped, never raw.
        BadFile{"ControlBytesInTheHeader", std::string("pelkor-raw \x1b[2J\x01 x=1\n"),
                "version '\\x1b[2J\\x01'"},
        BadFile{"CarriageReturnInAValue", "0.5\n1\r2\n", "line 2: '1\\x0d2'"},
        BadFile{"RateNotInTable",
                Header("rate=1234 samples=128 channel=1 bits=8 window=on average=off bytes=128"),
                "rate '1234'"},
        BadFile{"CountNotInTable",
                Header("rate=1800 samples=100 channel=1 bits=8 window=on average=off bytes=100"),
                "samples '100'"},
        BadFile{"ChannelOutOfRange",
                Header("rate=1800 samples=128 channel=9 bits=8 window=on average=off bytes=128"),
                "channel '9'"},
        BadFile{"BitsWrong",
                Header("rate=1800 samples=128 channel=1 bits=9 window=on average=off bytes=128"),
                "bits '9'"},
        BadFile{"ByteCountWrong", Header(kGood + " bytes=256"), "does not match"},
        BadFile{"FieldMissing", Header(kGood), "'bytes' missing"},
        BadFile{"FieldTwice", Header(kGood + " bytes=128 rate=1800"), "given twice"},
        BadFile{"BinaryGarbage",
                std::string("\x7f"
                            "ELF\x02\x01\x01\x00\x00",
                            9),
                "binary data"},
        BadFile{"NotANumber", "0.5\n1.0\nabc\n", "line 3: 'abc'"},
        BadFile{"NumberWithTrailingText", "0.5 V\n", "line 1: '0.5 V'"},
        BadFile{"NotFinite", Values(127) + "nan\n", "line 128: 'nan'"},
        BadFile{"Infinite", "inf\n", "'inf'"},
        BadFile{"CountNotABlockSize", Values(100), "100 values"},
        BadFile{"TooManyValues", Values(8193), "more than 8192 values"}),
    [](const auto& info) { return info.param.name; });

class InputFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/pelkor-input-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(InputFileOnDisk, MissingHugeAndFolderAreRefusedNamingThePath) {
    const fs::path huge = dir / "huge.raw";
    {
        std::ofstream f(huge, std::ios::binary);
        f << Header(kGood + " bytes=128");
    }
    fs::resize_file(huge, kMaxInputBytes + 1);  // sparse: costs no disk
    struct Case {
        fs::path path;
        const char* says;
    };
    for (const Case& c : {Case{dir / "missing.raw", "No such file"},
                          Case{huge, "larger than 64 MiB"}, Case{dir, "directory"}}) {
        InputFile file;
        std::string error;
        EXPECT_FALSE(ReadInputFile(c.path, &file, &error));
        EXPECT_NE(error.find(c.path.string()), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    const fs::path good = dir / "good.raw";
    std::ofstream(good, std::ios::binary) << FormatRawBlock(Block(1, 1, 3));
    InputFile file;
    std::string error;
    ASSERT_TRUE(ReadInputFile(good, &file, &error)) << error;
    EXPECT_EQ(file.blocks.at(0).bytes, Block(1, 1, 3).bytes);
}

class Replay : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetAnalysisState();
        state = std::make_unique<MeasurementState>();
        state->sampleRate = 1800;
        state->sampleCount = 1024;
        state->thdEnabled = 1;
    }
    std::unique_ptr<MeasurementState> state;
};

TEST_F(Replay, TenBitBlockDecodesHighByteFirstAndGivesTheDialogTexts) {
    // A 2 V sine on entry 100 (175.78 Hz at 1800 s/s), counts as the instrument makes them.
    std::vector<unsigned char> bytes;
    for (int j = 0; j < 1024; ++j) {
        const double v = 2.0 * std::sin(2 * M_PI * 100 * j / 1024);
        const int counts = static_cast<int>(std::lround((v / 2 + 2.5) * 1023 / 5));
        bytes.push_back(static_cast<unsigned char>(counts >> 8));
        bytes.push_back(static_cast<unsigned char>(counts & 0xff));
    }
    state->resolution = 1;
    state->windowMode = 1;
    ASSERT_TRUE(AnalyseBlock(*state, bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(state->fundamentalBin, 100);
    EXPECT_EQ(state->fundamentalText, "175 Hz");
    // 2 V on an exact bin, no window: 10 log10(2) + 11 dB.
    EXPECT_EQ(state->amplitudeText, "14.0 dBm");
    EXPECT_EQ(state->thdText.back(), '%');
    EXPECT_NEAR(state->samples[0],
                ScaleToInput(bytes[0] * 256 * 5.0 / 1023 + bytes[1] * 5.0 / 1023), 1e-12);
}

TEST_F(Replay, BlockOfTheWrongSizeChangesNothing) {
    state->resolution = 1;
    state->fundamentalText = "before";
    const std::vector<unsigned char> bytes(1024, 0x80);  // an 8-bit block's size
    EXPECT_FALSE(AnalyseBlock(*state, bytes.data(), 1024));
    EXPECT_EQ(state->fundamentalText, "before");
}

TEST_F(Replay, VoltsOfADecodedBlockGiveTheSameResults) {
    std::vector<unsigned char> bytes(1024);
    for (int j = 0; j < 1024; ++j) {
        bytes[j] = static_cast<unsigned char>(128 + std::lround(90 * std::sin(0.37 * j)));
    }
    ASSERT_TRUE(AnalyseBlock(*state, bytes.data(), 1024));
    const std::vector<double> spectrum(state->spectrum, state->spectrum + 513);
    const std::string texts = state->fundamentalText + state->amplitudeText + state->thdText;
    std::vector<double> volts(1024);
    for (int j = 0; j < 1024; ++j) volts[j] = ScaleToInput(bytes[j] * kVoltsPerCount8);
    ResetAnalysisState();
    AnalyseVolts(*state, volts.data());
    EXPECT_EQ(std::vector<double>(state->spectrum, state->spectrum + 513), spectrum);
    EXPECT_EQ(state->fundamentalText + state->amplitudeText + state->thdText, texts);
}

TEST(JsonWriter, NestedDocumentWithEscapesAndNonFiniteNumbers) {
    CJsonWriter j;
    j.BeginObject();
    j.String("path", "a\"b\\c\n\x01");
    j.Number("x", 0.1);
    j.Number("bad", std::nan(""));
    j.BeginArray("list");
    j.Integer(nullptr, 1);
    j.BeginObject();
    j.Bool("ok", true);
    j.EndObject();
    j.EndArray();
    j.BeginArray("empty");
    j.EndArray();
    j.EndObject();
    EXPECT_EQ(j.Text(),
              "{\n"
              "  \"path\": \"a\\\"b\\\\c\\n\\u0001\",\n"
              "  \"x\": 0.1,\n"
              "  \"bad\": null,\n"
              "  \"list\": [\n"
              "    1,\n"
              "    {\n"
              "      \"ok\": true\n"
              "    }\n"
              "  ],\n"
              "  \"empty\": []\n"
              "}\n");
}

}  // namespace
