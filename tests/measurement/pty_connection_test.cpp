// Connecting to the stand-in instrument over a pseudo-terminal: the handshake,
// its failures, and what each leaves behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "comlink/device_map.h"
#include "comlink/factory.h"
#include "comlink/link.h"
#include "comlink/posix_port.h"
#include "measurement/measurement.h"
#include "tests/measurement/pty_fixture.h"

namespace {

using ptytest::kCom;
using ptytest::PtyTest;
using ptytest::QuietOptions;

TEST_F(PtyTest, GoodHandshakeMakesTheConnectionReadyAndRemembersThePort) {
    StartInstrument(kCom, QuietOptions());
    profile.ints[{kProfileSection, kKeyComPort}] = 3;

    ASSERT_TRUE(TryConnect());

    EXPECT_EQ(state->connected, 1);
    EXPECT_EQ(ui.shownStatus, (std::vector<std::string>{"COM5:", "COM5:Ready"}));
    EXPECT_EQ(profile.writes, std::vector<std::string>{"MyOrvanelAp/OrvanelComPort=5"});
    ASSERT_NE(state->port, nullptr);
    ASSERT_NE(state->link, nullptr);
    ASSERT_NE(state->lineSettings, nullptr);
    // '9' switches the instrument; 'P' must already go at 128000 baud.
    EXPECT_EQ(ptytest::Text(hosts.at(kCom)->ReceivedBytes()), "9P");
    EXPECT_EQ(hosts.at(kCom)->ReceivedSpeeds().back(), 128000);
    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    state->port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 128000);
    PortQueueStatus queues{};
    state->port->GetQueueStatus(queues, 7);
    EXPECT_EQ(queues.rxSize, 48000);
}

TEST_F(PtyTest, ReconnectingToTheSamePortFreesAndReopensIt) {
    StartInstrument(kCom, QuietOptions());
    ASSERT_TRUE(TryConnect());

    ASSERT_TRUE(TryConnect()) << state->portStatusText;

    EXPECT_EQ(state->portStatusText, "COM5:Ready");
    EXPECT_EQ(ptytest::Text(hosts.at(kCom)->ReceivedBytes()), "9P");
    EXPECT_EQ(profile.writes.size(), 2u);
}

struct ReplyCase {
    const char* name;
    instrument::Fault fault;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class PtyBadReplyTest : public PtyTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(PtyBadReplyTest, LeavesTheObjectsAndTheProfileAndReportsAnError) {
    instrument::Options options = QuietOptions();
    options.fault = GetParam().fault;
    StartInstrument(kCom, options);
    profile.ints[{kProfileSection, kKeyComPort}] = 3;

    ConnectInstrument(*state, ui, kCom);

    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(ui.shownStatus, (std::vector<std::string>{"COM5:", "COM5:Error"}));
    EXPECT_NE(state->port, nullptr);
    EXPECT_NE(state->link, nullptr);
    EXPECT_NE(state->lineSettings, nullptr);
    EXPECT_TRUE(profile.writes.empty());
    EXPECT_EQ(profile.ReadInt(kProfileSection, kKeyComPort, 0), 3);
    // Without a reply the attempt may end before the instrument's thread has read 'P'.
    EXPECT_EQ(ReceivedSoon("9P"), "9P");
}

INSTANTIATE_TEST_SUITE_P(Replies, PtyBadReplyTest,
                         ::testing::Values(ReplyCase{"NoReply", instrument::Fault::NoReply},
                                           ReplyCase{"WrongReply", instrument::Fault::WrongReply},
                                           ReplyCase{"TwoBytes", instrument::Fault::DoubleReply},
                                           ReplyCase{"LateReply", instrument::Fault::LateReply}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyTest, MissingDeviceSendsNothing) {
    std::string error;
    ASSERT_TRUE(SetComDevice(kCom, "/nonexistent/pelkor-test-tty", &error)) << error;

    ConnectInstrument(*state, ui, kCom);

    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(ui.shownStatus, (std::vector<std::string>{"COM5:", "COM5:Error"}));
    EXPECT_NE(state->port, nullptr);
    EXPECT_NE(state->link, nullptr);
    EXPECT_EQ(state->lineSettings, nullptr);
    EXPECT_TRUE(profile.writes.empty());
}

TEST_F(PtyTest, PortHeldByAnotherObjectSendsNothing) {
    instrument::PtyHost& host = StartInstrument(kCom, QuietOptions());
    std::unique_ptr<CComPort> holder(CreateComPort(kCom - 1, 4096, 2048));
    ASSERT_EQ(holder->GetError(), 0);

    ConnectInstrument(*state, ui, kCom);

    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(state->portStatusText, "COM5:Error");
    EXPECT_NE(state->link, nullptr);
    EXPECT_EQ(state->lineSettings, nullptr);
    EXPECT_TRUE(host.ReceivedBytes().empty());
    EXPECT_TRUE(profile.writes.empty());

    // Once the holder lets go, the next attempt gets the port.
    holder.reset();
    EXPECT_TRUE(TryConnect());
    EXPECT_EQ(state->portStatusText, "COM5:Ready");
}

class PtyPortNumberTest : public PtyTest, public ::testing::WithParamInterface<int> {};

TEST_P(PtyPortNumberTest, NumberOutsideTheRangeCreatesNothing) {
    const int n = GetParam();
    StartInstrument(kCom, QuietOptions());
    Connect();  // a working connection first: it is torn down all the same

    ConnectInstrument(*state, ui, n);

    EXPECT_EQ(state->portStatusText, "COM" + std::to_string(n) + ":Error");
    EXPECT_EQ(state->connected, 0);
    EXPECT_EQ(state->port, nullptr);
    EXPECT_EQ(state->link, nullptr);
    EXPECT_EQ(state->lineSettings, nullptr);
    EXPECT_EQ(profile.writes.size(), 1u);  // only the good connection's
}

INSTANTIATE_TEST_SUITE_P(Numbers, PtyPortNumberTest, ::testing::Values(0, -3, 17));

// A device that refuses one speed, through the port's OS seam.
int refusedBaud = 0;

int RefusingSetLine(int fd, const PosixLine& line) {
    if (line.baud == static_cast<unsigned>(refusedBaud)) {
        errno = EINVAL;
        return -1;
    }
    return RealPosixOs().setLine(fd, line);
}

struct SpeedCase {
    const char* name;
    int baud;
    const char* status;
    const char* received;  // what reached the instrument
};

void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.name;
}

class PtySpeedRefusedTest : public PtyTest, public ::testing::WithParamInterface<SpeedCase> {
  protected:
    PtySpeedRefusedTest() {
        os.setLine = RefusingSetLine;
        previous = SetFactoryPosixOs(&os);
    }
    ~PtySpeedRefusedTest() override {
        ReleaseConnection(*state);  // the port uses os
        SetFactoryPosixOs(previous);
        refusedBaud = 0;
    }
    PosixOs os = RealPosixOs();
    const PosixOs* previous = nullptr;
};

TEST_P(PtySpeedRefusedTest, ReportsTheSpeedAndKeepsTheObjects) {
    const SpeedCase& c = GetParam();
    instrument::PtyHost& host = StartInstrument(kCom, QuietOptions());
    refusedBaud = c.baud;

    ConnectInstrument(*state, ui, kCom);

    EXPECT_EQ(ui.shownStatus, (std::vector<std::string>{"COM5:", c.status}));
    EXPECT_EQ(state->connected, 0);
    EXPECT_NE(state->port, nullptr);
    EXPECT_NE(state->link, nullptr);
    EXPECT_NE(state->lineSettings, nullptr);
    EXPECT_TRUE(profile.writes.empty());
    // The host reads on its own thread: give a written byte time to arrive.
    for (int i = 0; i < 100 && ptytest::Text(host.ReceivedBytes()) != c.received; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ptytest::Text(host.ReceivedBytes()), c.received);
}

INSTANTIATE_TEST_SUITE_P(Speeds, PtySpeedRefusedTest,
                         ::testing::Values(SpeedCase{"Initial", 38400, "BR error.", ""},
                                           SpeedCase{"Fast", 128000, "Error setting 128000 Baud.",
                                                     "9"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
