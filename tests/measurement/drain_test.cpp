// The bounded drain over a scripted port, with a clock that moves only when the
// code sleeps or polls: a quiet line ends it as before, a line that keeps
// sending ends it at its time or byte bound.
#include "measurement/drain.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "comlink/link.h"
#include "tests/measurement/fakes.h"

namespace {

using Bytes = std::vector<unsigned char>;

class DrainTest : public ::testing::Test {
  protected:
    DrainTest() {
        state->port = port;
        state->link = new CComLink(port);
    }
    ~DrainTest() override { ReleaseConnection(*state); }

    // One byte every intervalMs from now until untilMs.
    void Chatter(std::uint64_t intervalMs, std::uint64_t untilMs) {
        for (std::uint64_t t = clock.nowMs; t < untilMs; t += intervalMs) port->Deliver({0x55}, t);
    }

    fakes::FakeClock clock;
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    fakes::ScriptedPort* port = new fakes::ScriptedPort;
    fakes::RecordingUi ui{*state};
};

struct LineCase {
    const char* name;
    int bytesAtOnce;        // waiting when the drain starts
    int chatterIntervalMs;  // then one byte every this many ms (0: none)
    DrainEnd end;
    int bytes;            // discarded
    std::uint64_t minMs;  // the drain took at least this long
    std::uint64_t maxMs;  // and at most this
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class DrainLineTest : public DrainTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(DrainLineTest, EndsQuietOrAtItsBound) {
    const LineCase& c = GetParam();
    port->Deliver(Bytes(static_cast<size_t>(c.bytesAtOnce), 0xAA));
    if (c.chatterIntervalMs > 0) Chatter(static_cast<std::uint64_t>(c.chatterIntervalMs), 60000);
    DrainSettings settings;
    settings.readTimeoutMs = 20;
    settings.pump = &ui;

    const DrainResult r = DrainLink(*state, settings);

    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.bytes, c.bytes);
    EXPECT_GE(clock.nowMs, c.minMs);
    EXPECT_LE(clock.nowMs, c.maxMs);
    // One dispatch before every read, as many reads as bytes and the last one.
    if (c.end == DrainEnd::Quiet) {
        EXPECT_EQ(ui.pumpCount, c.bytes + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DrainLineTest,
    ::testing::Values(
        // A quiet line: one read waits out its 20 ms.
        LineCase{"Quiet", 0, 0, DrainEnd::Quiet, 0, 20, 22},
        // Left-over bytes go at once, then the read that finds nothing.
        LineCase{"LeftOver", 300, 0, DrainEnd::Quiet, 300, 20, 22},
        // Noise every 15 ms never lets a 20 ms read time out: it ends with the
        // first byte read at or after 2 s (the one at 2010 ms, the 135th).
        LineCase{"Chatter15ms", 0, 15, DrainEnd::KeepsSending, 135, 2000, 2020},
        // Noise every 25 ms does: the line counts as quiet after the first gap.
        LineCase{"Noise25ms", 0, 25, DrainEnd::Quiet, 1, 20, 50},
        // More than the largest block ends it by its byte bound, long before 2 s.
        LineCase{"Flood", 40000, 0, DrainEnd::KeepsSending, kDrainLimitBytes, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrainTest, PausesBeforeEachReadAndCountsThePausesInTheBound) {
    Chatter(5, 60000);
    DrainSettings settings;
    settings.readTimeoutMs = 20;
    settings.pauseMs = 10;

    const DrainResult r = DrainLink(*state, settings);

    EXPECT_EQ(r.end, DrainEnd::KeepsSending);
    EXPECT_GE(clock.nowMs, 2000u);
    EXPECT_LE(clock.nowMs, 2040u);
    EXPECT_EQ(ui.pumpCount, 0);
}

TEST_F(DrainTest, ErrorOrMissingLinkIsLostAndNeverACount) {
    port->idleResult = CL_ERR_DEVICE;
    EXPECT_EQ(DrainLink(*state, DrainSettings{}).end, DrainEnd::Lost);

    ReleaseConnection(*state);
    const DrainResult r = DrainLink(*state, DrainSettings{});
    EXPECT_EQ(r.end, DrainEnd::Lost);
    EXPECT_EQ(r.bytes, 0);
}

TEST_F(DrainTest, FollowsALinkThatAHandlerReplaces) {
    port->Deliver(Bytes(5, 0xAA));
    fakes::ScriptedPort* second = new fakes::ScriptedPort;
    second->Deliver(Bytes(7, 0xBB));
    ui.onPump = [&](int count) {
        if (count != 3) return;
        ReleaseConnection(*state);
        state->port = second;
        state->link = new CComLink(second);
    };
    DrainSettings settings;
    settings.pump = &ui;

    const DrainResult r = DrainLink(*state, settings);

    EXPECT_EQ(r.end, DrainEnd::Quiet);
    EXPECT_EQ(r.bytes, 2 + 7);  // two from the old link, then all of the new one's
}

}  // namespace
