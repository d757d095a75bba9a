// pelkor-measure --stream against the paced stand-in instrument, and the replay
// of what it recorded.
#include "measurement/stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/measure.h"
#include "instrument/instrument.h"
#include "measurement/stream_file.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const fs::path& p, const std::string& data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << data;
}

// The lines of a JSON-lines report that hold a block.
std::vector<std::string> BlockLines(const std::string& json) {
    std::istringstream in(json);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("{\"block\":", 0) == 0) lines.push_back(line);
    }
    return lines;
}

long long Field(const std::string& line, const std::string& key) {
    const size_t k = line.find("\"" + key + "\":");
    return k == std::string::npos ? -1 : std::atoll(line.c_str() + k + key.size() + 3);
}

class MeasureStream : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/pelkor-stream-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    int Run(const std::string& line) {
        out.str("");
        err.str("");
        return RunMeasure(Split(line), out, err, false);
    }

    // A paced instrument (6000 samples/s reach the program as they would) whose
    // channel 1 carries a tone with a harmonic and a little noise.
    void Start(instrument::Fault fault = instrument::Fault::None, int faultSamples = 64) {
        instrument::Options options;
        for (auto& c : options.channels) c = instrument::ChannelSignal{};
        options.channels[1].tones = {{1500.0, 2.0, 0.0}, {3000.0, 0.05, 0.3}};
        options.channels[1].noiseRms = 0.003;
        options.fault = fault;
        options.faultSamples = faultSamples;
        host = std::make_unique<instrument::PtyHost>(options);
        std::string error;
        ASSERT_TRUE(host->Start(&error)) << error;
    }

    std::string Device() const { return "--device " + host->SlavePath(); }

    fs::path dir;
    std::ostringstream out, err;
    std::unique_ptr<instrument::PtyHost> host;
};

TEST_F(MeasureStream, RecordingReplaysToTheSameBlocks) {
    Start();
    const fs::path raw = dir / "s.raw", live = dir / "live.json", replay = dir / "replay.json";
    ASSERT_EQ(Run(Device() + " --rate 6000 --bits 10 --samples 256 --stream 1 --overlap 50 " +
                  "--save-raw " + raw.string() + " --json " + live.string()),
              kExitMeasured)
        << err.str();
    const std::string liveJson = ReadAll(live);
    const std::vector<std::string> blocks = BlockLines(liveJson);
    ASSERT_GE(blocks.size(), 20u) << liveJson.substr(0, 400);
    for (size_t k = 0; k < blocks.size(); ++k) {
        ASSERT_EQ(Field(blocks[k], "block"), static_cast<long long>(k + 1));
        ASSERT_EQ(Field(blocks[k], "first_sample"), static_cast<long long>(k) * 128);
    }
    EXPECT_NE(blocks.front().find("\"fundamental\":\"1500 Hz\""), std::string::npos)
        << blocks.front();

    // The file: one header, whole, then every sample of the stream.
    const std::string data = ReadAll(raw);
    ASSERT_GT(data.size(), static_cast<size_t>(kStreamHeaderLength));
    StreamFileHeader header;
    std::string why;
    ASSERT_TRUE(ParseStreamHeader(data.substr(0, kStreamHeaderLength - 1), &header, &why)) << why;
    EXPECT_TRUE(header.complete);
    EXPECT_EQ(header.end, "stopped");
    EXPECT_EQ(header.format.overlap, 50);
    EXPECT_EQ(header.bytes, static_cast<long long>(data.size()) - kStreamHeaderLength);
    EXPECT_EQ(static_cast<long long>(blocks.size()), StreamBlocksIn(header.bytes / 2, 256, 128));

    ASSERT_EQ(Run("--input " + raw.string() + " --json " + replay.string()), kExitMeasured)
        << err.str();
    EXPECT_EQ(BlockLines(ReadAll(replay)), blocks);

    // Another overlap over the same samples: a block every 64 samples.
    ASSERT_EQ(Run("--input " + raw.string() + " --overlap 75 --json -"), kExitMeasured);
    EXPECT_EQ(static_cast<long long>(BlockLines(out.str()).size()),
              StreamBlocksIn(header.bytes / 2, 256, 64));
}

TEST_F(MeasureStream, CutRecordingsAreRefusedOrReplayedAsFlagged) {
    Start();
    const fs::path raw = dir / "s.raw";
    ASSERT_EQ(Run(Device() + " --rate 6000 --samples 128 --stream 1 --save-raw " + raw.string()),
              kExitMeasured)
        << err.str();
    const std::string whole = ReadAll(raw);
    ASSERT_GT(whole.size(), static_cast<size_t>(kStreamHeaderLength + 1000));

    // A whole file that lost its end is refused, naming what is missing.
    WriteAll(raw, whole.substr(0, whole.size() - 5));
    EXPECT_EQ(Run("--input " + raw.string()), kExitBadArguments);
    EXPECT_NE(err.str().find("truncated"), std::string::npos) << err.str();

    // One the recorder never finished says so and replays what it holds.
    std::string open = whole;
    const size_t flag = open.find("complete=1");
    ASSERT_NE(flag, std::string::npos);
    open.replace(flag, 10, "complete=0");
    WriteAll(raw, open.substr(0, open.size() - 300));
    EXPECT_EQ(Run("--input " + raw.string() + " --json -"), kExitMeasured) << err.str();
    EXPECT_NE(err.str().find("flagged incomplete"), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("\"incomplete\":true"), std::string::npos);
    const long long samples = static_cast<long long>(whole.size()) - kStreamHeaderLength - 300;
    EXPECT_EQ(static_cast<long long>(BlockLines(out.str()).size()),
              StreamBlocksIn(samples, 128, 128));
}

TEST_F(MeasureStream, ALostDeviceEndsTheRunWithItsReasonAndTheRecordingStaysWhole) {
    Start(instrument::Fault::HangUpMidBlock, 2000);
    const fs::path raw = dir / "s.raw";
    EXPECT_EQ(Run(Device() + " --rate 6000 --samples 128 --stream 20 --json - --save-raw " +
                  raw.string()),
              kExitAcquisition);
    EXPECT_NE(err.str().find("Instrument connection lost."), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("\"status\":\"failed\""), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"end\":\"lost\""), std::string::npos);
    const std::string data = ReadAll(raw);
    StreamFileHeader header;
    std::string why;
    ASSERT_TRUE(ParseStreamHeader(data.substr(0, kStreamHeaderLength - 1), &header, &why)) << why;
    EXPECT_TRUE(header.complete);
    EXPECT_EQ(header.end, "lost");
    EXPECT_LE(header.bytes, 2000);
    EXPECT_EQ(header.bytes, static_cast<long long>(data.size()) - kStreamHeaderLength);
}

TEST_F(MeasureStream, StreamOptionsThatDoNotFitAreRefused) {
    const std::pair<const char*, const char*> cases[] = {
        {"--demo --stream 0", "--stream"},
        {"--demo --stream 5 --count 3", "--count"},
        {"--demo --stream 5 --overlap 25", "--overlap '25'"},
        {"--demo --overlap 50", "--overlap applies"},
        {"--input x.raw --stream 5", "--stream applies"},
    };
    for (const auto& [line, mentions] : cases) {
        EXPECT_EQ(Run(line), kExitBadArguments) << line;
        EXPECT_NE(err.str().find(mentions), std::string::npos) << line << ": " << err.str();
    }
}

}  // namespace
