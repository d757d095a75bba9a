// CWin32Port where a real driver is less kind than a simple model: writes that
// stay pending, waits that end on the device handle, held lines, devices that
// abort on line errors, and a speed change while bytes are still queued.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "comlink/win32_port.h"
#include "tests/comlink/fake_clock.h"

namespace {

using namespace win32double;

class Win32PortIo : public ::testing::Test {
  protected:
    void SetUp() override {
        Reset();
        std::memset(portUsage, 0, sizeof portUsage);
        com1 = &AddDevice(1);
        port = std::make_unique<CWin32Port>(0, 4096, 2048, 0);
        ASSERT_EQ(port->GetError(), 0);
    }
    void TearDown() override {
        port.reset();
        EXPECT_EQ(world().violations, 0) << world().violationText;
        EXPECT_EQ(OpenEvents(), 0);
        Reset();
    }
    static std::string Wire(const Device& d) { return std::string(d.wire.begin(), d.wire.end()); }

    Device* com1 = nullptr;
    std::unique_ptr<CWin32Port> port;
};

// A wait without an event of its own would end with the background write and
// leave the read running into a buffer that is gone.
TEST_F(Win32PortIo, PendingReadEndsWithItsOwnCompletionNotTheBackgroundWrite) {
    EXPECT_EQ(port->WriteChar('8'), 0);  // handed over, still in progress
    com1->rx = {'a', 'b'};
    com1->readsPend = true;
    EXPECT_EQ(port->ReadChar(), 'a');
    EXPECT_EQ(port->ReadChar(), 'b');
    EXPECT_EQ(PendingReads(), 0);
    EXPECT_EQ(PendingWrites(), 1);  // the reads did not ride on its completion
    CompletePendingWrites();
    EXPECT_EQ(Wire(*com1), "8");
}

TEST_F(Win32PortIo, EventWaitReportsItsOwnEventsAndEndsWhenNoneCome) {
    ASSERT_EQ(port->SetEventMask(EV_RXCHAR), 0);
    EXPECT_EQ(port->WriteChar('8'), 0);
    com1->eventsLater = EV_RXCHAR;
    DWORD mask = 0;
    EXPECT_EQ(port->WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_RXCHAR);
    EXPECT_EQ(PendingWrites(), 1);

    CFakeClock clock;
    const std::uint32_t start = clock.nowMs;
    mask = 99;
    EXPECT_EQ(port->WaitEvent(mask), 0);  // nothing happens: the wait gives up
    EXPECT_EQ(mask, 0u);
    EXPECT_GE(clock.nowMs - start, CWin32Port::kEventWaitMs);
    EXPECT_LE(clock.nowMs - start, 2 * CWin32Port::kEventWaitMs);
}

struct HeldCase {
    const char* name;
    int kind;                // output-side handshake
    bool Device::*holdFlag;  // the hold the peer puts on
};

class Win32PortHeld : public Win32PortIo, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(Win32PortHeld, WriteBehindAHeldWriteAcceptsNothingAndWaitsOnlyTheWireTime) {
    const HeldCase c = GetParam();
    ASSERT_EQ(port->SetHandshake(LINE_NONE, c.kind), 0);
    com1->*c.holdFlag = true;
    CFakeClock clock;
    EXPECT_EQ(port->WriteChar('9'), 0);  // accepted, held by the peer
    const std::uint32_t start = clock.nowMs;
    EXPECT_EQ(port->Write("P", 1), 0u);
    EXPECT_EQ(port->TakeError(), CL_ERR_TXSHORT);
    // One queued byte at 19200 baud is well under a millisecond on the wire.
    EXPECT_LE(clock.nowMs - start, 50u);
    EXPECT_EQ(PendingWrites(), 1);

    com1->*c.holdFlag = false;  // the peer is ready again
    EXPECT_EQ(port->Write("P", 1), 1u);
    EXPECT_EQ(port->GetError(), 0);
    CompletePendingWrites();
    EXPECT_EQ(Wire(*com1), "9P");
}

INSTANTIATE_TEST_SUITE_P(Lines, Win32PortHeld,
                         ::testing::Values(HeldCase{"Cts", LINE_CTS, &Device::ctsHold},
                                           HeldCase{"Dsr", LINE_DSR, &Device::dsrHold},
                                           HeldCase{"Xoff", LINE_XONXOFF, &Device::xoffHold}),
                         [](const ::testing::TestParamInfo<HeldCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Win32PortIo, HeldWriteIsAbortedAtCloseAndNothingIsLeftToTheDevice) {
    ASSERT_EQ(port->SetHandshake(LINE_NONE, LINE_CTS), 0);
    com1->ctsHold = true;
    EXPECT_EQ(port->WriteString("9P"), 2);
    port.reset();  // the fixture checks that no record was pending at close
    EXPECT_FALSE(com1->open);
    EXPECT_TRUE(com1->wire.empty());
}

// The device came with fAbortOnError set; a framing error must not cancel what
// the port has already accepted, nor refuse what follows.
TEST_F(Win32PortIo, LineErrorNeitherAbortsAnAcceptedWriteNorBlocksTheNext) {
    EXPECT_EQ(com1->applied.fAbortOnError, 0u);
    EXPECT_EQ(port->WriteString("9P"), 2);
    com1->rx = {'Q'};
    com1->readsPend = true;
    LineError(*com1, CE_FRAME);
    EXPECT_EQ(port->ReadChar(), 'Q');
    EXPECT_EQ(port->WriteChar('S'), 0);
    EXPECT_EQ(port->GetError(), 0);
    CompletePendingWrites();
    EXPECT_EQ(Wire(*com1), "9PS");
    EXPECT_EQ(port->Line(LINE_FRAMEERR, -1), 1);  // still reported as a line error
}

struct DrainCase {
    const char* name;
    DWORD backlog;      // bytes queued ahead of the speed change
    bool writeNine;     // and a '9' written just before it
    DWORD sentPerPoll;  // what the device sends between two polls
    bool ctsHeld;
    bool drains;
    int polls;  // ClearCommError calls of the wait when it drains
};

class Win32PortSpeedChange : public Win32PortIo, public ::testing::WithParamInterface<DrainCase> {};

// The new speed must not overtake bytes still queued: an instrument that is
// sent '9' at the new speed never switches.
TEST_P(Win32PortSpeedChange, WaitsForTheOutputQueueBoundedByItsWireTime) {
    const DrainCase c = GetParam();
    if (c.ctsHeld) {
        ASSERT_EQ(port->SetHandshake(LINE_NONE, LINE_CTS), 0);
        com1->ctsHold = true;
    }
    com1->txBacklog = c.backlog;
    if (c.writeNine) {
        ASSERT_EQ(port->WriteChar('9'), 0);
    }
    com1->sentPerPoll = c.sentPerPoll;
    CFakeClock clock;  // each Sleep(0) of the wait costs a millisecond
    const int pollsBefore = CallCount("ClearCommError");
    const std::uint32_t start = clock.nowMs;

    EXPECT_EQ(port->SetLineParams(128000, 'N', 8, 1), 0);

    const std::uint32_t elapsed = clock.nowMs - start;
    ASSERT_FALSE(com1->baudChanges.empty());
    const Device::BaudChange change = com1->baudChanges.back();
    EXPECT_EQ(change.baud, 128000u);
    EXPECT_EQ(com1->applied.BaudRate, 128000u);
    // 96 bytes of 10 bits at 19200 baud take 50 ms; the wait may add 2 ms.
    const std::uint32_t wire = (c.backlog + (c.writeNine ? 1 : 0)) * 10 * 1000 / 19200;
    if (c.drains) {
        EXPECT_EQ(change.stillQueued, 0u);
        EXPECT_EQ(CallCount("ClearCommError") - pollsBefore, c.polls);
        EXPECT_LT(elapsed, static_cast<std::uint32_t>(c.polls));
        if (c.writeNine) {
            EXPECT_EQ(Wire(*com1), "9");
        }
    } else {
        EXPECT_GT(change.stillQueued, 0u);
        EXPECT_GE(elapsed, wire);
        EXPECT_LE(elapsed, wire + 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Queues, Win32PortSpeedChange,
    ::testing::Values(DrainCase{"EmptiesAfterThreePolls", 96, false, 32, false, true, 3},
                      DrainCase{"NineLeavesFirst", 0, true, 1, false, true, 1},
                      DrainCase{"NineBehindABacklog", 95, true, 8, false, true, 12},
                      DrainCase{"NeverEmpties", 96, false, 0, false, false, 0},
                      DrainCase{"HeldByCts", 95, true, 32, true, false, 0}),
    [](const ::testing::TestParamInfo<DrainCase>& info) { return std::string(info.param.name); });

TEST_F(Win32PortIo, NoWaitWhenTheSpeedStaysOrNothingIsQueued) {
    CFakeClock clock;
    const std::uint32_t start = clock.nowMs;
    com1->txBacklog = 96;
    EXPECT_EQ(port->SetLineParams(19200, 'E', 7, 1), 0);  // same speed, new format
    EXPECT_EQ(clock.nowMs, start);
    com1->txBacklog = 0;
    EXPECT_EQ(port->SetLineParams(38400, 'N', 8, 1), 0);
    EXPECT_EQ(clock.nowMs, start);
    EXPECT_EQ(com1->applied.BaudRate, 38400u);
}

}  // namespace
