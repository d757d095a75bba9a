// Streaming from the paced stand-in instrument over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "comlink/link.h"
#include "measurement/stream.h"
#include "tests/measurement/pty_fixture.h"

namespace {

using ptytest::kCom;
using ptytest::PtyTest;
using ptytest::QuietOptions;

constexpr int kRate6000 = 12;
constexpr int kCount256 = 1;

// What the stream hands out, for checking against the counting channel.
struct Recorder : StreamListener {
    void OnStreamBytes(const unsigned char* b, int count) override {
        bytes.insert(bytes.end(), b, b + count);
    }
    void OnStreamBlock(long long index, long long firstSample) override {
        indices.push_back(index);
        firsts.push_back(firstSample);
        // The block's samples back in counts (10-bit), from the decoded volts.
        std::vector<int> counts;
        for (int j = 0; j < state->sampleCount; ++j) {
            counts.push_back(
                static_cast<int>((state->samples[j] / 2.0 + 2.5) * 1023.0 / 5.0 + 0.5));
        }
        blocks.push_back(counts);
    }
    MeasurementState* state = nullptr;
    std::vector<unsigned char> bytes;
    std::vector<long long> indices, firsts;
    std::vector<std::vector<int>> blocks;
};

class PtyStreamTest : public PtyTest {
  protected:
    PtyStreamTest() {
        recorder.state = state.get();
        ui.controls.windowMode = 1;  // keep the decoded samples for the check
        ui.controls.resolution = 1;
        ui.Select(kRate6000, kCount256);
    }

    instrument::PtyHost& StartCounting(instrument::Fault fault = instrument::Fault::None,
                                       int faultSamples = 64) {
        instrument::Options options = QuietOptions(true);  // paced: 6000 samples/s
        options.channels[1].counting = true;
        options.fault = fault;
        options.faultSamples = faultSamples;
        return StartInstrument(kCom, options);
    }

    // Polls every 10 ms until done() or the stream ends; bounded at 60 s.
    template <typename Done>
    void PollUntil(Done done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (stream.Running() && !done() && std::chrono::steady_clock::now() < end) {
            stream.Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Bytes still arriving on the line, until it has been quiet for 300 ms.
    int ReadRest() {
        int rest = 0;
        unsigned char buffer[4097];
        for (int quiet = 0; quiet < 3;) {
            const int r = state->link->Read(buffer, 4096, 100);
            if (r < 0) break;
            quiet = r == 0 ? quiet + 1 : 0;
            rest += r;
        }
        return rest;
    }

    Recorder recorder;
    CStream stream{*state, ui, &recorder};
};

class PtyStreamGaplessTest : public PtyStreamTest, public ::testing::WithParamInterface<int> {};

TEST_P(PtyStreamGaplessTest, EverySampleArrivesOnceInOrderAcrossTheBlocks) {
    const int overlap = GetParam();
    instrument::PtyHost& host = StartCounting();
    Connect();
    const int n = 256;
    const int hop = StreamHop(n, overlap);
    constexpr long long kBlocks = 24;

    ASSERT_TRUE(stream.Start(overlap));
    PollUntil([&] { return stream.BlocksAnalysed() >= kBlocks; });
    ASSERT_TRUE(stream.Running()) << (ui.messages.empty() ? "" : ui.messages.front());
    stream.Stop();
    ASSERT_EQ(stream.End(), StreamEnd::Stopped) << ui.messages.size();
    EXPECT_TRUE(ui.messages.empty());

    // Every sample the instrument sent is in the stream, the drain, or (on a
    // loaded machine, sent after the drain went quiet) still on the line.
    EXPECT_EQ(ReceivedSoon("i1MRS88"), "i1MRS88");
    const long long streamed = stream.SamplesReceived();
    const int rest = ReadRest();
    EXPECT_EQ(2 * streamed + stream.DrainedBytes() + rest, 2 * host.SamplesSent());

    // The counting channel numbers its samples: sample j is j modulo 1024.
    ASSERT_EQ(recorder.bytes.size(), static_cast<size_t>(2 * streamed));
    for (long long j = 0; j < streamed; ++j) {
        const int counts = recorder.bytes[2 * j] * 256 + recorder.bytes[2 * j + 1];
        ASSERT_EQ(counts, j % 1024) << "sample " << j << " of " << streamed;
    }
    ASSERT_GE(static_cast<long long>(recorder.blocks.size()), kBlocks);
    EXPECT_EQ(static_cast<long long>(recorder.blocks.size()), StreamBlocksIn(streamed, n, hop));
    for (size_t k = 0; k < recorder.blocks.size(); ++k) {
        ASSERT_EQ(recorder.indices[k], static_cast<long long>(k));
        ASSERT_EQ(recorder.firsts[k], static_cast<long long>(k) * hop);
        for (int j = 0; j < n; ++j) {
            ASSERT_EQ(recorder.blocks[k][j], (recorder.firsts[k] + j) % 1024)
                << "block " << k << " sample " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Overlaps, PtyStreamGaplessTest, ::testing::Values(0, 50, 75),
                         [](const auto& info) { return "Overlap" + std::to_string(info.param); });

TEST_F(PtyStreamTest, ADeviceLostMidStreamEndsItWithTheConnectionText) {
    StartCounting(instrument::Fault::HangUpMidBlock, 3000);
    Connect();

    ASSERT_TRUE(stream.Start(50));
    PollUntil([] { return false; });

    EXPECT_EQ(stream.End(), StreamEnd::Lost);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Instrument connection lost."});
    // What arrived before the device vanished was analysed, and no more (a hang-up
    // may flush what was still in the terminal's queue).
    EXPECT_GT(stream.SamplesReceived(), 256);
    EXPECT_LE(stream.SamplesReceived(), 3000);
    EXPECT_EQ(stream.BlocksAnalysed(), StreamBlocksIn(stream.SamplesReceived(), 256, 128));
    EXPECT_FALSE(stream.Poll());
}

TEST_F(PtyStreamTest, AHangUpFromOutsideEndsTheStreamToo) {
    instrument::PtyHost& host = StartCounting();
    Connect();

    ASSERT_TRUE(stream.Start(75));
    PollUntil([&] { return stream.BlocksAnalysed() >= 3; });
    host.HangUp();
    PollUntil([] { return false; });

    EXPECT_EQ(stream.End(), StreamEnd::Lost);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Instrument connection lost."});
}

}  // namespace
