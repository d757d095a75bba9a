// Lines that never go quiet, against the stand-in instrument over a
// pseudo-terminal: noise on the line and an instrument that ignores the stop
// byte end the connection or the cycle with a clear text, within a few seconds.
// A guard hangs the instrument up should the code hang, so a fault fails the
// test rather than blocking the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "comlink/link.h"
#include "measurement/drain.h"
#include "measurement/measurement.h"
#include "tests/measurement/hang_guard.h"
#include "tests/measurement/pty_fixture.h"

namespace {

using ptytest::CHangGuard;
using ptytest::kCom;
using ptytest::PtyTest;
using ptytest::QuietOptions;

constexpr std::chrono::seconds kHangLimit{30};
// The bound is 2 s; a loaded machine may add some.
constexpr double kEndsWithinSeconds = 10.0;
constexpr int kAttempts = 3;

// Makes attempts until the fault shows, at most kAttempts: a loaded machine may
// hold the instrument's thread back for longer than a drain's read waits, which
// any program must take for a quiet line; the next drain meets the noise all
// the same. Every attempt must end within the bound. Returns the attempts made.
template <class Attempt, class Shown>
int UntilItShows(instrument::PtyHost& host, const char* name, Attempt attempt, Shown shown) {
    int made = 0;
    while (made < kAttempts) {
        ++made;
        CHangGuard guard(host, kHangLimit);
        attempt();
        const double seconds = guard.Finish();
        std::printf("%s: attempt %d ended after %.2f s\n", name, made, seconds);
        EXPECT_FALSE(guard.Fired()) << "still draining after " << kHangLimit.count() << " s";
        EXPECT_LT(seconds, kEndsWithinSeconds);
        if (guard.Fired() || shown()) break;
    }
    return made;
}

enum class ChatterFrom { Connection, BeforeConfiguration, AfterConfiguration };

struct ChatterCase {
    const char* name;
    ChatterFrom from;
    const char* received;  // what the instrument got before the noise won
};

void PrintTo(const ChatterCase& c, std::ostream* os) {
    *os << c.name;
}

class PtyChatterTest : public PtyTest, public ::testing::WithParamInterface<ChatterCase> {};

TEST_P(PtyChatterTest, EndsWithAClearTextAndKeepsTheResults) {
    const ChatterCase& c = GetParam();
    instrument::Options options = QuietOptions();
    if (c.from == ChatterFrom::Connection) options.fault = instrument::Fault::Chatter;
    instrument::PtyHost& host = StartInstrument(kCom, options);
    state->fundamentalText = "previous";
    if (c.from != ChatterFrom::Connection) {
        Connect();
        // The noise starts with the next byte the instrument reads.
        host.SetFault(instrument::Fault::Chatter);
        if (c.from == ChatterFrom::BeforeConfiguration) {
            const unsigned char nudge = 'x';
            state->link->Write(&nudge, 1);
            ReceivedSoon("x");
            host.ClearReceived();
        }
    }

    int repaints = 0;
    const int attempts = UntilItShows(
        host, c.name,
        [&] {
            state->fundamentalText = "previous";
            repaints = ui.repaintCount;
            ui.shownStatus.clear();
            if (c.from == ChatterFrom::Connection) {
                ConnectInstrument(*state, ui, kCom);
            } else {
                SingleConvert(*state, ui);
            }
        },
        [&] { return !state->portProblemText.empty() || !ui.messages.empty(); });

    if (attempts == 1) {
        EXPECT_EQ(ReceivedSoon(c.received), c.received);
    }
    if (c.from == ChatterFrom::Connection) {
        EXPECT_EQ(ui.shownStatus, (std::vector<std::string>{"COM5:", "COM5:Error"}));
        EXPECT_EQ(state->portProblemText, kKeepsSendingText);
        EXPECT_EQ(state->connected, 0);
        EXPECT_TRUE(profile.writes.empty());
    } else {
        EXPECT_EQ(ui.messages, std::vector<std::string>{kKeepsSendingText});
        EXPECT_EQ(ui.repaintCount, repaints);
        EXPECT_EQ(state->fundamentalText, "previous");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drains, PtyChatterTest,
    ::testing::Values(
        // The drain after the speed change: the handshake is never tried.
        ChatterCase{"Connection", ChatterFrom::Connection, "9"},
        // The cycle's first drain: nothing of the cycle goes out.
        ChatterCase{"BeforeConfiguration", ChatterFrom::BeforeConfiguration, ""},
        // The drain after 'S': the start byte never goes out.
        ChatterCase{"AfterConfiguration", ChatterFrom::AfterConfiguration, "i1GQS"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NeverStopsCase {
    const char* name;
    bool paced;
    int rateSelection;
    int countSelection;
    int resolution;
};

void PrintTo(const NeverStopsCase& c, std::ostream* os) {
    *os << c.name;
}

class PtyNeverStopsTest : public PtyTest, public ::testing::WithParamInterface<NeverStopsCase> {};

TEST_P(PtyNeverStopsTest, DrainAfterTheStopByteEndsAndAReconnectRecovers) {
    const NeverStopsCase& c = GetParam();
    instrument::Options options = QuietOptions(c.paced);
    options.fault = instrument::Fault::NeverStops;
    instrument::PtyHost& host = StartInstrument(kCom, options);
    Connect();
    state->fundamentalText = "previous";
    ui.Select(c.rateSelection, c.countSelection);
    ui.controls.resolution = c.resolution;

    int repaints = 0;
    const int attempts = UntilItShows(
        host, c.name,
        [&] {
            state->fundamentalText = "previous";
            repaints = ui.repaintCount;
            ui.messages.clear();
            SingleConvert(*state, ui);
        },
        // A stand-in stalled past the drain's quiet time by a loaded machine lets
        // the drain after the stop byte end, and only the cycle's last drain sees
        // the stream: that attempt shows the box after new results, so try again.
        [&] { return !ui.messages.empty() && state->fundamentalText == "previous"; });

    EXPECT_EQ(ui.messages, std::vector<std::string>{kKeepsSendingText});
    EXPECT_EQ(ui.repaintCount, repaints);
    EXPECT_EQ(state->fundamentalText, "previous");
    if (attempts == 1) {
        const std::string bytes = Received();
        EXPECT_EQ(bytes.size(), 7u) << bytes;
        EXPECT_EQ(bytes.substr(5), "88") << "the stop byte went out";
    }

    // The reset at the speed change ends the stream: the next connection works.
    host.SetFault(instrument::Fault::None);
    ui.messages.clear();
    ASSERT_TRUE(TryConnect()) << state->portStatusText;
    repaints = ui.repaintCount;
    SingleConvert(*state, ui);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_EQ(ui.repaintCount, repaints + 1);
}

INSTANTIATE_TEST_SUITE_P(Streams, PtyNeverStopsTest,
                         ::testing::Values(
                             // 1800 bytes/s never fill the byte bound: 2 s end it.
                             NeverStopsCase{"Paced1800Bits8", true, 6, 0, 0},
                             // The line's 12800 bytes/s reach the largest block's bytes first.
                             NeverStopsCase{"LineSpeedBits10Largest", false, 12, 6, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
