// Streaming over a scripted port and the real link, with a clock that only moves
// when the code sleeps or the test advances it.
#include "measurement/stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "comlink/link.h"
#include "tests/measurement/fakes.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct HopCase {
    int n;
    int overlap;
    int hop;  // 0: refused
};

TEST(StreamArithmeticTest, HopIsTheBlockLessItsOverlap) {
    const HopCase cases[] = {
        {128, 0, 128},    {128, 50, 64},    {128, 75, 32}, {8192, 0, 8192},
        {8192, 50, 4096}, {8192, 75, 2048}, {1024, 25, 0}, {1024, 100, 0},
        {1024, -50, 0},   {1000, 50, 0},    {0, 0, 0},     {16384, 75, 0},
    };
    for (const HopCase& c : cases) {
        EXPECT_EQ(StreamHop(c.n, c.overlap), c.hop) << c.n << " at " << c.overlap << " %";
    }
}

TEST(StreamArithmeticTest, BlocksStartEveryHopOnceTheFirstIsFull) {
    struct Case {
        long long samples;
        int n, hop;
        long long blocks;
    };
    const Case cases[] = {
        {0, 128, 32, 0},     {127, 128, 32, 0},   {128, 128, 32, 1},   {159, 128, 32, 1},
        {160, 128, 32, 2},   {1024, 128, 128, 8}, {1023, 128, 128, 7}, {1024, 128, 64, 15},
        {1024, 128, 32, 29}, {100, 128, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StreamBlocksIn(c.samples, c.n, c.hop), c.blocks)
            << c.samples << " samples, N " << c.n << ", hop " << c.hop;
    }
}

// Sample j of the stream is j counts, modulo the resolution's range.
Bytes Counting(long long first, long long count, int resolution) {
    Bytes bytes;
    for (long long j = first; j < first + count; ++j) {
        const int c = static_cast<int>(j % (resolution == 0 ? 256 : 1024));
        if (resolution != 0) bytes.push_back(static_cast<unsigned char>(c >> 8));
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    return bytes;
}

// Keeps what the stream hands out.
struct Recorder : StreamListener {
    void OnStreamBytes(const unsigned char* b, int count) override {
        bytes.insert(bytes.end(), b, b + count);
    }
    void OnStreamBlock(long long index, long long firstSample) override {
        indices.push_back(index);
        firsts.push_back(firstSample);
        samples.emplace_back(state->samples, state->samples + state->sampleCount);
        fundamentals.push_back(state->fundamentalText);
    }
    MeasurementState* state = nullptr;
    Bytes bytes;
    std::vector<long long> indices, firsts;
    std::vector<std::vector<double>> samples;
    std::vector<std::string> fundamentals;
};

class StreamTest : public ::testing::Test {
  protected:
    StreamTest() {
        ResetAnalysisState();
        state->port = port;
        state->link = new CComLink(port);
        port->onWrite = [this](unsigned char c) { OnInstrumentByte(c); };
        ui.controls.windowMode = 1;  // the samples reach the transform as decoded
        ui.controls.resolution = resolution;
        recorder.state = state.get();
    }
    ~StreamTest() override { ReleaseConnection(*state); }

    // '8' starts the scripted stream: `total` counting samples in pieces of
    // `piece` bytes, one piece every ms; the next '8' cancels what is still to
    // come and sends `tail` more bytes, for the drain.
    void OnInstrumentByte(unsigned char c) {
        written.push_back(static_cast<char>(c));
        if (c != '8') return;
        streaming = !streaming;
        if (!streaming) {
            port->CancelScheduled();
            if (tail > 0) port->Deliver(Bytes(static_cast<size_t>(tail), 0x55));
            return;
        }
        const Bytes all = Counting(0, total, resolution);
        for (size_t at = 0, k = 1; at < all.size(); at += piece, ++k) {
            const size_t end = std::min(all.size(), at + piece);
            port->Deliver(
                Bytes(all.begin() + static_cast<long>(at), all.begin() + static_cast<long>(end)),
                clock.nowMs + k);
        }
    }

    // Polls every 10 ms of the clock until the stream ends or `ms` have passed.
    void PollFor(std::uint64_t ms) {
        const std::uint64_t end = clock.nowMs + ms;
        while (stream.Running() && clock.nowMs < end) {
            stream.Poll();
            clock.Advance(10);
        }
    }

    fakes::FakeClock clock;
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    fakes::ScriptedPort* port = new fakes::ScriptedPort;
    fakes::RecordingUi ui{*state};
    Recorder recorder;
    CStream stream{*state, ui, &recorder};

    std::string written;
    bool streaming = false;
    long long total = 0;
    size_t piece = 7;
    int tail = 0;
    int resolution = 1;
};

struct GaplessCase {
    const char* name;
    int resolution;
    int countSelection;
    int overlap;
    size_t piece;  // bytes per read: odd sizes split 10-bit samples
};

void PrintTo(const GaplessCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamGaplessTest : public StreamTest, public ::testing::WithParamInterface<GaplessCase> {};

TEST_P(StreamGaplessTest, EverySampleOnceInOrderAndEachBlockWhereItBelongs) {
    const GaplessCase& c = GetParam();
    resolution = c.resolution;
    piece = c.piece;
    ui.controls.resolution = c.resolution;
    ui.Select(12, c.countSelection);
    const int n = SampleCountTable[c.countSelection].count;
    const int hop = StreamHop(n, c.overlap);
    total = n + 23 * hop + hop / 2;  // 24 blocks and half a hop more

    ASSERT_TRUE(stream.Start(c.overlap));
    for (int i = 0; i < 100000 && stream.Running() && stream.SamplesReceived() < total; ++i) {
        stream.Poll();
        clock.Advance(10);
    }
    ASSERT_TRUE(stream.Running()) << (ui.messages.empty() ? "" : ui.messages.front());
    stream.Stop();

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(stream.End(), StreamEnd::Stopped);
    EXPECT_EQ(stream.SamplesReceived(), total);
    EXPECT_EQ(recorder.bytes, Counting(0, total, c.resolution));
    ASSERT_EQ(stream.BlocksAnalysed(), 24);
    const double perCount = c.resolution == 0 ? kVoltsPerCount8 : kVoltsPerCount10;
    const int range = c.resolution == 0 ? 256 : 1024;
    for (size_t k = 0; k < recorder.firsts.size(); ++k) {
        EXPECT_EQ(recorder.indices[k], static_cast<long long>(k));
        EXPECT_EQ(recorder.firsts[k], static_cast<long long>(k) * hop);
        const std::vector<double>& s = recorder.samples[k];
        for (int j = 0; j < n; j += n / 8) {
            const long long sample = recorder.firsts[k] + j;
            const double volts = ScaleToInput(static_cast<double>(sample % range) * perCount);
            ASSERT_DOUBLE_EQ(s[j], volts) << "block " << k << " sample " << j;
        }
        ASSERT_DOUBLE_EQ(
            s[n - 1],
            ScaleToInput(static_cast<double>((recorder.firsts[k] + n - 1) % range) * perCount));
    }
}

INSTANTIATE_TEST_SUITE_P(Overlaps, StreamGaplessTest,
                         ::testing::Values(GaplessCase{"Bits10None", 1, 0, 0, 7},
                                           GaplessCase{"Bits10Half", 1, 0, 50, 7},
                                           GaplessCase{"Bits10Quarter", 1, 1, 75, 13},
                                           GaplessCase{"Bits8Quarter", 0, 0, 75, 5},
                                           GaplessCase{"Bits10LargeReads", 1, 2, 50, 4001}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamTest, StopSendsTheStopByteAndDrainsWhatFollows) {
    ui.Select(12, 0);
    total = 1 << 20;  // far more than the test waits for
    tail = 37;
    ASSERT_TRUE(stream.Start(50));
    PollFor(500);
    const std::string beforeStop = written;
    stream.Stop();

    EXPECT_EQ(beforeStop, "i1MRS8");
    EXPECT_EQ(written, "i1MRS88");
    EXPECT_EQ(stream.End(), StreamEnd::Stopped);
    EXPECT_FALSE(stream.Running());
    EXPECT_TRUE(ui.messages.empty());
    // Everything after the stop byte went to the drain; a sample cut in two by
    // the stop counts there too.
    EXPECT_GE(stream.DrainedBytes(), 37);
    EXPECT_LE(stream.DrainedBytes(), 38);
    EXPECT_TRUE(port->rx.empty());
    EXPECT_FALSE(stream.Poll());
}

TEST_F(StreamTest, SilenceEndsTheStreamWithTheTimeoutText) {
    ui.Select(12, 0);
    total = 1000;  // then nothing more
    ASSERT_TRUE(stream.Start(0));
    PollFor(10000);

    EXPECT_EQ(stream.End(), StreamEnd::Timeout);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Acquisition timeout. Click OK to continue."});
    EXPECT_EQ(written, "i1MRS88");
    EXPECT_EQ(stream.SamplesReceived(), 1000);
    EXPECT_EQ(stream.BlocksAnalysed(), 7);
}

TEST_F(StreamTest, ALostDeviceEndsTheStreamOnceWithTheConnectionText) {
    ui.Select(12, 0);
    total = 1 << 20;
    ASSERT_TRUE(stream.Start(75));
    PollFor(200);
    const long long before = stream.BlocksAnalysed();
    ASSERT_GT(before, 0);
    port->rxCountResult = CL_ERR_DEVICE;
    PollFor(1000);

    EXPECT_EQ(stream.End(), StreamEnd::Lost);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Instrument connection lost."});
    EXPECT_EQ(stream.BlocksAnalysed(), before);
}

TEST_F(StreamTest, ChangedSettingsStopTheStream) {
    ui.Select(12, 0);
    total = 1 << 20;
    ASSERT_TRUE(stream.Start(0));
    PollFor(100);
    ui.Select(12, 1);  // the operator picks another N
    PollFor(100);

    EXPECT_EQ(stream.End(), StreamEnd::SettingsChanged);
    EXPECT_EQ(written, "i1MRS88");
    ASSERT_EQ(ui.messages.size(), 1u);
}

TEST_F(StreamTest, SettingsOutsideTheTablesSendNothing) {
    struct Case {
        int rateSelection, countSelection, channel, resolution, overlap;
    };
    const Case cases[] = {
        {13, 0, 1, 1, 0}, {12, -1, 1, 1, 0}, {12, 0, 7, 1, 0}, {12, 0, 1, 2, 0}, {12, 0, 1, 1, 25}};
    for (const Case& c : cases) {
        state->sampleCount = 100;  // what a list without a selection leaves
        ui.Select(c.rateSelection, c.countSelection);
        ui.controls.channel = c.channel;
        ui.controls.resolution = c.resolution;
        ui.messages.clear();
        EXPECT_FALSE(stream.Start(c.overlap));
        EXPECT_EQ(stream.End(), StreamEnd::Refused);
        EXPECT_EQ(ui.messages.size(), 1u);
    }
    EXPECT_EQ(written, "");
}

TEST_F(StreamTest, AShortfallAgainstTheRateEndsTheStream) {
    ui.Select(12, 0);  // 6000 s/s
    total = 1 << 20;
    piece = 2;  // 1000 samples/s arrive: most of the stream is lost on the way
    ASSERT_TRUE(stream.Start(0));
    PollFor(20000);

    EXPECT_EQ(stream.End(), StreamEnd::SamplesLost);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind("Samples were lost: ", 0), 0u) << ui.messages[0];
    EXPECT_EQ(written, "i1MRS88");
}

}  // namespace
