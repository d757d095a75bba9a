// pelkor-measure against a stand-in instrument whose line never goes quiet or
// whose reply comes late: each ends with its exit code and reason, and a late
// reply is never taken for a fresh one. A guard hangs the instrument up should
// the tool hang, so a fault fails the test rather than blocking the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/measure.h"
#include "instrument/instrument.h"
#include "tests/measurement/hang_guard.h"

namespace {

using ptytest::CHangGuard;

constexpr std::chrono::seconds kHangLimit{40};

struct Outcome {
    int code = -1;
    std::string out, err, received;
    double seconds = 0.0;
    bool hung = false;
};

Outcome MeasureAgainst(const instrument::Options& options, const std::vector<std::string>& extra) {
    instrument::PtyHost host(options);
    std::string error;
    Outcome run;
    if (!host.Start(&error)) {
        ADD_FAILURE() << error;
        return run;
    }
    std::vector<std::string> args = {"--device", host.SlavePath(), "--json", "-"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    CHangGuard guard(host, kHangLimit);
    run.code = RunMeasure(args, out, err, false);
    run.seconds = guard.Finish();
    run.hung = guard.Fired();
    run.out = out.str();
    run.err = err.str();
    // The host reads on its own thread: let the last bytes written arrive.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (unsigned long long seen = ~0ull;
         seen != host.ReceivedTotal() && std::chrono::steady_clock::now() < until;) {
        seen = host.ReceivedTotal();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::vector<unsigned char> bytes = host.ReceivedBytes();
    run.received.assign(bytes.begin(), bytes.end());
    return run;
}

struct SendingCase {
    const char* name;
    instrument::Fault fault;
    bool paced;
    const char* says;
};

void PrintTo(const SendingCase& c, std::ostream* os) {
    *os << c.name;
}

class MeasureKeepsSending : public ::testing::TestWithParam<SendingCase> {};

TEST_P(MeasureKeepsSending, ExitsWithFourAndTheReason) {
    const SendingCase& c = GetParam();
    instrument::Options options;
    options.paced = c.paced;
    options.fault = c.fault;

    const Outcome run = MeasureAgainst(options, {"--count", "3"});
    std::printf("%s: ended after %.2f s\n", c.name, run.seconds);

    ASSERT_FALSE(run.hung) << "still running after " << kHangLimit.count() << " s";
    EXPECT_EQ(run.code, kExitAcquisition) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("check the line"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"status\": \"failed\""), std::string::npos) << run.out;
    // A loaded machine may hold the instrument back long enough for one drain
    // to find the line quiet; the next one finds it sending all the same.
    EXPECT_EQ(run.out.find("\"cycle\": 3"), std::string::npos) << run.out;
    // A drain's bound or two, no retries on top.
    EXPECT_LT(run.seconds, 15.0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MeasureKeepsSending,
    ::testing::Values(SendingCase{"ChatteringLine", instrument::Fault::Chatter, false,
                                  "COM1:Error (/dev/pts/"},
                      SendingCase{"StopNeverHonoured", instrument::Fault::NeverStops, false,
                                  "the instrument keeps sending on /dev/pts/"},
                      SendingCase{"StopNeverHonouredPaced", instrument::Fault::NeverStops, true,
                                  "the instrument keeps sending on /dev/pts/"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplyCase {
    const char* name;
    int delayMs;
    bool answers;  // within its own 50 ms
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class MeasureStaleReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(MeasureStaleReply, OnlyAReplyInsideItsOwnWindowConnects) {
    const ReplyCase& c = GetParam();
    instrument::Options options;
    options.paced = false;
    options.replyDelayMs = c.delayMs;

    const Outcome run = MeasureAgainst(options, {});
    std::printf("%s: ended after %.2f s\n", c.name, run.seconds);

    ASSERT_FALSE(run.hung) << "still running after " << kHangLimit.count() << " s";
    if (c.answers) {
        EXPECT_EQ(run.code, kExitMeasured) << run.err;
        EXPECT_NE(run.out.find("\"status\": \"measured\""), std::string::npos) << run.out;
        return;
    }
    // Every attempt's reply comes late; none may pass for the next attempt's.
    EXPECT_EQ(run.code, kExitNoInstrument) << run.err << run.out;
    EXPECT_NE(run.err.find("COM1:Error"), std::string::npos) << run.err;
    EXPECT_EQ(run.received, "9P9P9P");
}

INSTANTIATE_TEST_SUITE_P(Delays, MeasureStaleReply,
                         ::testing::Values(ReplyCase{"OnTime", 0, true},
                                           ReplyCase{"Late160ms", 160, false},
                                           ReplyCase{"Late200ms", 200, false},
                                           ReplyCase{"Late250ms", 250, false},
                                           ReplyCase{"Late300ms", 300, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
