// The link and the snapshots over a scripted port: call order, timed reads,
// status checks and the line-settings snapshot.
#include "comlink/link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/comlink/fake_clock.h"
#include "tests/comlink/script_port.h"

namespace {

using Calls = std::vector<std::string>;

TEST(ComLinkLifecycle, HealthyPortIsSavedSetTo9600WithoutFlowControlAndRestored) {
    CScriptPort port;
    port.handshakeType = LINE_XONXOFF;  // what the port had before the link
    port.handshakeKind = LINE_CTS;
    {
        CComLink link(&port);
        EXPECT_EQ(port.calls, (Calls{"GetLineParams()", "SetLineParams(1200,N,8,1)",
                                     "SetLineParams(9600,N,8,1)", "GetLineStatus()",
                                     "GetHandshake()", "SetHandshake(0,0)"}));
        EXPECT_EQ(port.baud, 9600);
        ASSERT_NE(link.handshake, nullptr);
        // The direct SetHandshake leaves the snapshot's requested values as saved.
        EXPECT_EQ(link.handshake->type, LINE_XONXOFF);
        EXPECT_EQ(link.handshake->kind, LINE_CTS);
        port.calls.clear();
    }
    EXPECT_EQ(port.calls, (Calls{"SetHandshake(1,12)", "SetLineParams(19200,N,8,1)"}));
    EXPECT_EQ(port.baud, 19200);
}

TEST(ComLinkLifecycle, PortWithErrorIsNotTouchedAndCheckStatusTakesTheError) {
    CScriptPort port(CL_ERR_INUSE);
    {
        CComLink link(&port);
        EXPECT_EQ(link.handshake, nullptr);
        EXPECT_EQ(link.lineSettings, nullptr);
        std::uint16_t flags = 0xffff;
        EXPECT_EQ(link.CheckStatus(flags), CL_ERR_INUSE);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(port.GetError(), 0);
        // No snapshot to refresh: a clean 0, and still nothing touched.
        flags = 0xffff;
        EXPECT_EQ(link.CheckStatus(flags), 0);
        EXPECT_EQ(flags, 0);
    }
    EXPECT_TRUE(port.calls.empty());
}

class ComLinkRead : public ::testing::Test {
  protected:
    void SetUp() override {
        port.calls.clear();
        port.readCalls = 0;
        port.idleCalls = 0;
    }
    CScriptPort port;
    CComLink link{&port};
    CFakeClock clock;
    unsigned char buf[9001] = {};
};

TEST_F(ComLinkRead, NullBufferReturnsZeroWithoutTouchingThePort) {
    EXPECT_EQ(link.Read(nullptr, 10, 100), 0);
    EXPECT_TRUE(port.calls.empty());
}

TEST_F(ComLinkRead, ZeroTimeoutMakesExactlyOneAttemptAndTerminates) {
    buf[0] = 0xAA;
    EXPECT_EQ(link.Read(buf, 1, 0), 0);
    EXPECT_EQ(port.readCalls, 1);
    EXPECT_EQ(port.idleCalls, 0);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(ComLinkRead, TakesAtMostCountAndLeavesSurplusQueued) {
    port.Deliver("abcde");
    buf[3] = 0xAA;
    EXPECT_EQ(link.Read(buf, 3, 100), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "abc");
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(port.rx.size(), 2u);
    EXPECT_EQ(port.idleCalls, 0);
}

TEST_F(ComLinkRead, NothingArrivingWaitsTheTimeoutThenReturnsZero) {
    port.onIdle = [&] {
        clock.Advance(7);
        return 0;
    };
    std::uint32_t start = clock.nowMs;
    EXPECT_EQ(link.Read(buf, 1, 100), 0);
    EXPECT_GE(clock.nowMs - start, 100u);
    EXPECT_LT(clock.nowMs - start, 100u + 7u);  // no more than one idle step past it
    EXPECT_EQ(port.readCalls, port.idleCalls + 1);
}

TEST_F(ComLinkRead, BytesArrivingWhileWaitingAreCollected) {
    int n = 0;
    port.onIdle = [&] {
        clock.Advance(1);
        port.Deliver(std::string(1, static_cast<char>('0' + n++)));
        return 0;
    };
    EXPECT_EQ(link.Read(buf, 4, 1000), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "0123");
    EXPECT_EQ(port.idleCalls, 4);
}

TEST_F(ComLinkRead, NegativeIdleEndsTheReadAtOnceWithoutTerminator) {
    port.onIdle = [] { return -5; };
    buf[0] = 0xAA;
    EXPECT_EQ(link.Read(buf, 2, 1000), -5);
    EXPECT_EQ(port.idleCalls, 1);
    EXPECT_EQ(buf[0], 0xAA);
}

TEST_F(ComLinkRead, FullBlockGetsItsZeroByteInTheLastPlace) {
    port.Deliver(std::string(9000, 'x'));
    buf[9000] = 0xAA;
    EXPECT_EQ(link.Read(buf, 9000, 10), 9000);
    EXPECT_EQ(buf[8999], 'x');
    EXPECT_EQ(buf[9000], 0);
}

TEST_F(ComLinkRead, ReadCharTimedTakesAWaitingCharOrTimesOut) {
    port.Deliver("\xff");
    EXPECT_EQ(link.ReadCharTimed(0), 0xff);
    port.onIdle = [&] {
        clock.Advance(10);
        return 0;
    };
    EXPECT_EQ(link.ReadCharTimed(50), CL_ERR_NODATA);
    EXPECT_EQ(port.idleCalls, 5);
    port.onIdle = [] { return -7; };
    EXPECT_EQ(link.ReadCharTimed(50), -7);
}

TEST(ComLinkWrite, NullBufferTouchesNothingAndShortWriteRecordsTxShort) {
    CScriptPort port;
    CComLink link(&port);
    port.calls.clear();
    EXPECT_EQ(link.Write(nullptr, 1), 0);
    EXPECT_TRUE(port.calls.empty());
    port.txRoom = 2;
    EXPECT_EQ(link.Write("abc", 3), 2);
    EXPECT_EQ(port.Sent(), "ab");
    EXPECT_EQ(port.GetError(), CL_ERR_TXSHORT);
}

TEST(ComLinkWrite, DelayedCharIdlesForTheDelayOnlyWhenOneIsSet) {
    CFakeClock clock;
    CScriptPort port;
    CComLink link(&port);
    EXPECT_EQ(link.WriteCharDelayed('8'), 0);
    EXPECT_EQ(port.idleCalls, 0);
    link.charDelayMs = 20;
    port.onIdle = [&] {
        clock.Advance(5);
        return 0;
    };
    EXPECT_EQ(link.WriteCharDelayed('9'), 0);
    EXPECT_EQ(port.idleCalls, 4);
    port.onIdle = [] { return -3; };
    EXPECT_EQ(link.WriteCharDelayed('P'), -3);
    EXPECT_EQ(port.Sent(), "89P");
}

TEST(ComLinkQueues, RxCountLeavesBytesAndQueueSizesKeepTheTransmitSize) {
    CScriptPort port;
    CComLink link(&port);
    port.Deliver("ab");
    port.calls.clear();
    EXPECT_EQ(link.RxCount(), 2);
    EXPECT_EQ(port.rx.size(), 2u);
    EXPECT_EQ(port.calls, (Calls{"GetQueueStatus(1)"}));
    EXPECT_EQ(link.SetQueueSizes(48000, 128), 0);
    EXPECT_EQ(port.calls.back(), "SetQueues(48000,128,0)");
    EXPECT_EQ(port.rxSize, 48000);
    EXPECT_EQ(port.txSize, 2048);
    EXPECT_EQ(link.Spare(), CL_ERR_UNSUPPORTED);
}

TEST(ComLinkStatus, ParityAndBreakGiveFlags0x11OnceThenZero) {
    CScriptPort port;
    CComLink link(&port);
    std::uint16_t flags = 0xffff;
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, 0);
    port.parityErr = true;
    port.breakDetect = true;
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, 0x11);
    EXPECT_EQ(link.handshake->ParityError(), 1);
    EXPECT_EQ(link.handshake->BreakDetected(), 1);
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, 0);
}

TEST(ComLinkStatus, EachLineErrorHasItsFlag) {
    CScriptPort port;
    CComLink link(&port);
    std::uint16_t flags = 0;
    port.frameErr = true;
    link.CheckStatus(flags);
    EXPECT_EQ(flags, ST_FRAMING);
    port.rxOverflow = true;
    link.CheckStatus(flags);
    EXPECT_EQ(flags, ST_RXOVERFLOW);
    port.overrun = true;
    link.CheckStatus(flags);
    EXPECT_EQ(flags, ST_OVERRUN);
}

TEST(ComLinkStatus, StoredErrorWinsAndIsClearedWithoutRefreshingStatus) {
    CScriptPort port;
    CComLink link(&port);
    port.parityErr = true;
    port.errorCode = CL_ERR_TXSHORT;
    port.calls.clear();
    std::uint16_t flags = 0xffff;
    EXPECT_EQ(link.CheckStatus(flags), CL_ERR_TXSHORT);
    EXPECT_EQ(flags, 0);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_TRUE(port.parityErr);  // still recorded for the next check
}

TEST(LineSettings, WithoutALinkSetFailsAndRestoreDoesNothing) {
    CLineSettings settings(nullptr);
    EXPECT_EQ(settings.Set(38400, 'N', 8, 1), CL_ERR_FAILED);
    EXPECT_EQ(settings.Snapshot(), CL_ERR_FAILED);
    EXPECT_EQ(settings.Restore(), 0);
}

TEST(LineSettings, AppliesItsDefaultsAtOnceAndRestoresWhatThePortHad) {
    CScriptPort port;
    CComLink link(&port);  // leaves the port at 9600
    port.calls.clear();
    CLineSettings settings(&link);
    EXPECT_EQ(port.calls, (Calls{"GetLineParams()", "SetLineParams(1200,N,8,1)"}));
    EXPECT_EQ(settings.Set(128000, 'E', 7, 2), 0);
    EXPECT_EQ(port.baud, 128000);
    EXPECT_EQ(settings.Restore(), 0);
    EXPECT_EQ(port.baud, 9600);
    EXPECT_EQ(port.parity, 'N');
    EXPECT_EQ(port.dataBits, 8);
    EXPECT_EQ(port.stopBits, 1);
}

TEST(LineSettings, RefusalsBecomeFailedWhileThePortKeepsItsOwnCode) {
    CScriptPort port;
    CComLink link(&port);
    CLineSettings settings(&link);
    port.TakeError();
    EXPECT_EQ(settings.Set(9600, 'X', 8, 1), CL_ERR_FAILED);
    EXPECT_EQ(port.GetError(), CL_ERR_PARITY);
    port.refusedBauds = {128000};
    EXPECT_EQ(settings.Set(128000, 'N', 8, 1), CL_ERR_FAILED);
    EXPECT_EQ(port.GetError(), CL_ERR_FAILED);
}

TEST(HandshakeSettings, SetStoresAndRestorePutsBackTheSavedValues) {
    CScriptPort port;
    port.handshakeType = LINE_RTS;
    CComLink link(&port);
    CHandshakeSettings& hs = *link.handshake;
    EXPECT_EQ(hs.Set(LINE_XONXOFF, LINE_XONXOFF), 0);
    EXPECT_EQ(port.handshakeType, LINE_XONXOFF);
    EXPECT_EQ(hs.Restore(), 0);
    EXPECT_EQ(port.handshakeType, LINE_RTS);
    EXPECT_EQ(port.handshakeKind, 0);
}

TEST(ComLinkWithoutPort, EveryOperationFailsCleanly) {
    CComLink link(nullptr);
    unsigned char buf[2] = {7, 7};
    std::uint16_t flags = 0xffff;
    EXPECT_EQ(link.CheckStatus(flags), CL_ERR_DEVICE);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link.Read(buf, 1, 10), 0);
    EXPECT_EQ(buf[0], 7);
    EXPECT_EQ(link.Write(buf, 1), 0);
    EXPECT_EQ(link.RxCount(), 0);
    EXPECT_EQ(link.SetQueueSizes(48000, 128), CL_ERR_DEVICE);
    EXPECT_EQ(link.ReadCharTimed(10), CL_ERR_DEVICE);
    EXPECT_EQ(link.WriteCharDelayed('8'), CL_ERR_DEVICE);
    CLineSettings settings(&link);
    EXPECT_EQ(settings.Set(9600, 'N', 8, 1), CL_ERR_FAILED);
    CHandshakeSettings handshake(&link);
    EXPECT_EQ(handshake.Set(0, 0), CL_ERR_FAILED);
}

}  // namespace
