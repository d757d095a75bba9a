// CWin32Port over the Win32 API double: opening and the usage table, the
// device state it sets, settings, lines, I/O, purging, the dump and the
// translation of platform errors.
#include "comlink/win32_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comlink/link.h"
#include "tests/comlink/fake_clock.h"

namespace {

using namespace win32double;

class Win32Port : public ::testing::Test {
  protected:
    void SetUp() override {
        Reset();
        std::memset(portUsage, 0, sizeof portUsage);
        com1 = &AddDevice(1);
    }
    void TearDown() override {
        EXPECT_EQ(world().violations, 0) << world().violationText;
        Reset();
    }
    std::unique_ptr<CWin32Port> OpenCom1(int rx = 4096, int tx = 2048) {
        auto port = std::make_unique<CWin32Port>(0, rx, tx, 0);
        EXPECT_EQ(port->GetError(), 0);
        return port;
    }
    static std::string Wire(const Device& d) { return std::string(d.wire.begin(), d.wire.end()); }

    Device* com1 = nullptr;
};

TEST_F(Win32Port, OpensCom1At19200EightNoneOneWithDtrAndRtsRaised) {
    auto port = OpenCom1();
    EXPECT_EQ(portUsage[0], 1);
    EXPECT_EQ(world().lastAccess, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(world().lastShare, 0u);
    EXPECT_EQ(world().lastDisposition, OPEN_EXISTING);
    EXPECT_EQ(world().lastFlags, FILE_FLAG_OVERLAPPED);
    EXPECT_EQ(port->devicePath, "\\\\.\\COM1");
    EXPECT_EQ(com1->inQueueSize, 4096u);
    EXPECT_EQ(com1->outQueueSize, 2048u);
    EXPECT_EQ(com1->commMask, 0u);
    EXPECT_EQ(com1->timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(com1->timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(com1->timeouts.WriteTotalTimeoutConstant, 0u);

    const DCB& d = com1->applied;
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fOutxCtsFlow, 0u);
    EXPECT_EQ(d.fOutxDsrFlow, 0u);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(d.fNull, 0u);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.EofChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 128);
    // Fields the default state does not name keep what the device reported,
    // except aborting on line errors, which the port never wants.
    EXPECT_EQ(d.fErrorChar, 1u);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.fAbortOnError, 0u);
    EXPECT_EQ(d.fTXContinueOnXoff, 1u);
    // The lines were raised at once; the copy carries both as enabled.
    EXPECT_TRUE(com1->dtr);
    EXPECT_TRUE(com1->rts);
    EXPECT_EQ(port->dcb->fRtsControl, RTS_CONTROL_ENABLE);

    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(parity, 'N');
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(stopBits, 1);
}

TEST_F(Win32Port, DestructionDiscardsQueuesLowersLinesClosesAndGivesBackTheCount) {
    auto port = OpenCom1();
    com1->rx = {1, 2, 3};
    com1->txBacklog = 10;
    port.reset();
    EXPECT_FALSE(com1->open);
    EXPECT_TRUE(com1->rx.empty());
    EXPECT_EQ(com1->txBacklog, 0u);
    EXPECT_FALSE(com1->dtr);
    EXPECT_FALSE(com1->rts);
    EXPECT_EQ(portUsage[0], 0);
}

TEST_F(Win32Port, MissingDeviceFailsWithFailedAndClosesNothing) {
    {
        CWin32Port port(4, 4096, 2048, 0);
        EXPECT_EQ(port.GetError(), CL_ERR_FAILED);
        EXPECT_EQ(portUsage[4], 0);
        EXPECT_EQ(port.osError, static_cast<int>(ERROR_FILE_NOT_FOUND));
        EXPECT_NE(port.osErrorText.find("\\\\.\\COM5"), std::string::npos) << port.osErrorText;
    }
    EXPECT_EQ(CallCount("CloseHandle"), 0);
    EXPECT_EQ(portUsage[4], 0);
}

TEST_F(Win32Port, DeviceBusyInAnotherProgramFailsWithFailed) {
    com1->openError = ERROR_ACCESS_DENIED;
    CWin32Port port(0, 4096, 2048, 0);
    EXPECT_EQ(port.GetError(), CL_ERR_FAILED);
    EXPECT_EQ(port.osError, static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(portUsage[0], 0);
}

TEST_F(Win32Port, SecondObjectForAHeldPortIsRefusedAndTheFirstKeepsWorking) {
    auto first = OpenCom1();
    {
        CWin32Port second(0, 4096, 2048, 0);
        EXPECT_EQ(second.GetError(), CL_ERR_INUSE);
        EXPECT_EQ(CallCount("CreateFileA"), 1);  // the device was not touched
    }
    EXPECT_EQ(portUsage[0], 1);
    EXPECT_EQ(first->SetLineParams(38400, 'N', 8, 1), 0);
    EXPECT_EQ(com1->applied.BaudRate, 38400u);
    EXPECT_TRUE(com1->open);
    first.reset();
    EXPECT_EQ(portUsage[0], 0);
    auto again = OpenCom1();
    EXPECT_EQ(portUsage[0], 1);
}

TEST_F(Win32Port, InitOnAPortAlreadyHeldFailsInUse) {
    auto port = OpenCom1();
    port->Init(0);
    EXPECT_EQ(port->GetError(), CL_ERR_INUSE);
    EXPECT_EQ(portUsage[0], 1);
}

class Win32PortOutsideTable : public Win32Port, public ::testing::WithParamInterface<int> {};

TEST_P(Win32PortOutsideTable, FailsWithDeviceWithoutTouchingDeviceOrTable) {
    AddDevice(17);
    {
        CWin32Port port(GetParam(), 4096, 2048, 0);
        EXPECT_EQ(port.GetError(), CL_ERR_DEVICE);
    }
    EXPECT_EQ(CallCount("CreateFileA"), 0);
    for (std::uint16_t count : portUsage) EXPECT_EQ(count, 0);
}

INSTANTIATE_TEST_SUITE_P(Indices, Win32PortOutsideTable, ::testing::Values(-1, 16, 100000));

TEST_F(Win32Port, QueueSizesKeepTheirLow16Bits) {
    auto port = OpenCom1(70000, 2048);
    EXPECT_EQ(port->rxQueueSize, 4464u);
    EXPECT_EQ(port->txQueueSize, 2048u);
    EXPECT_EQ(com1->inQueueSize, 4464u);
}

int allocationsLeft = 0;
int allocationsAsked = 0;
bool RefuseAfterCount(std::size_t) {
    ++allocationsAsked;
    return allocationsLeft-- > 0;
}

class Win32PortOutOfMemory : public Win32Port, public ::testing::WithParamInterface<int> {};

TEST_P(Win32PortOutOfMemory, RecordThatCannotBeHadGivesMemoryAndOpensNothing) {
    allocationsLeft = GetParam();
    allocationsAsked = 0;
    ZeroAllocHook previous = SetZeroAllocHook(RefuseAfterCount);
    {
        CWin32Port port(0, 4096, 2048, 0);
        EXPECT_EQ(port.GetError(), CL_ERR_MEMORY);
        EXPECT_EQ(port.dcb, nullptr);
        EXPECT_EQ(port.readOverlapped, nullptr);
        EXPECT_EQ(port.writeOverlapped, nullptr);
    }
    SetZeroAllocHook(previous);
    EXPECT_EQ(allocationsAsked, GetParam() + 1);  // gives up at the first refusal
    EXPECT_EQ(CallCount("CreateFileA"), 0);
    EXPECT_EQ(OpenEvents(), 0);  // the records made so far went back with their events
    EXPECT_EQ(portUsage[0], 0);
}

INSTANTIATE_TEST_SUITE_P(EachRecord, Win32PortOutOfMemory, ::testing::Values(0, 1, 2));

TEST_F(Win32Port, RefusedDefaultStateIsTranslatedButThePortIsHeldAndClosed) {
    FailNext("SetCommState", ERROR_GEN_FAILURE);
    {
        CWin32Port port(0, 4096, 2048, 0);
        EXPECT_EQ(port.GetError(), CL_ERR_FAILED);
        EXPECT_EQ(portUsage[0], 1);
    }
    EXPECT_FALSE(com1->open);
    EXPECT_EQ(portUsage[0], 0);
}

struct LineParamsCase {
    char parity;
    int dataBits;
    int stopBits;
    int code;
};

class Win32PortLineParams : public Win32Port,
                            public ::testing::WithParamInterface<LineParamsCase> {};

TEST_P(Win32PortLineParams, RejectsAndStoresTheCode) {
    const LineParamsCase c = GetParam();
    auto port = OpenCom1();
    EXPECT_EQ(port->SetLineParams(9600, c.parity, c.dataBits, c.stopBits), c.code);
    EXPECT_EQ(port->GetError(), c.code);
    EXPECT_EQ(com1->applied.BaudRate, 19200u);  // nothing applied
}

INSTANTIATE_TEST_SUITE_P(BadValues, Win32PortLineParams,
                         ::testing::Values(LineParamsCase{'n', 8, 1, CL_ERR_PARITY},
                                           LineParamsCase{'X', 8, 1, CL_ERR_PARITY},
                                           LineParamsCase{'N', 9, 1, CL_ERR_DATABITS},
                                           LineParamsCase{'N', 3, 1, CL_ERR_DATABITS},
                                           LineParamsCase{'N', 8, 3, CL_ERR_STOPBITS},
                                           LineParamsCase{'N', 8, 0, CL_ERR_STOPBITS}));

TEST_F(Win32Port, LineParamsRoundTripAndFiveBitsGetOneAndAHalfStopBits) {
    auto port = OpenCom1();
    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    EXPECT_EQ(port->SetLineParams(38400, 'E', 7, 2), 0);
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 38400);
    EXPECT_EQ(parity, 'E');
    EXPECT_EQ(dataBits, 7);
    EXPECT_EQ(stopBits, 2);
    EXPECT_EQ(com1->applied.StopBits, TWOSTOPBITS);

    EXPECT_EQ(port->SetLineParams(9600, 'N', 5, 2), 0);
    EXPECT_EQ(com1->applied.StopBits, ONE5STOPBITS);
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(stopBits, 1);
}

TEST_F(Win32Port, RefusedBaudIsFailedAndEarlierFieldsStayInTheCopy) {
    auto port = OpenCom1();
    com1->refusedBauds = {128000};
    EXPECT_EQ(port->SetLineParams(128000, 'N', 8, 1), CL_ERR_FAILED);
    EXPECT_EQ(port->TakeError(), CL_ERR_FAILED);
    EXPECT_EQ(com1->applied.BaudRate, 19200u);
    // A failed check leaves the fields set before it in the copy, unapplied.
    EXPECT_EQ(port->SetLineParams(9600, 'O', 9, 1), CL_ERR_DATABITS);
    EXPECT_EQ(port->dcb->Parity, ODDPARITY);
    EXPECT_EQ(port->dcb->BaudRate, 9600u);
    EXPECT_EQ(com1->applied.Parity, NOPARITY);
}

struct HandshakeCase {
    int type;
    int kind;
    int result;
    int stored;
};

class Win32PortHandshake : public Win32Port, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(Win32PortHandshake, InvalidOrUnsupportedValuesFailAndKeepTheLastValues) {
    const HandshakeCase c = GetParam();
    auto port = OpenCom1();
    EXPECT_EQ(port->SetHandshake(c.type, c.kind), c.result);
    EXPECT_EQ(port->GetError(), c.stored);
    int type = -1, kind = -1;
    EXPECT_EQ(port->GetHandshake(type, kind), 0);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(kind, 0);
}

INSTANTIATE_TEST_SUITE_P(
    BadValues, Win32PortHandshake,
    ::testing::Values(HandshakeCase{2, 0, CL_ERR_FAILED, CL_ERR_HSTYPE},
                      HandshakeCase{0, 2, CL_ERR_HSKIND, CL_ERR_HSKIND},
                      HandshakeCase{LINE_DSR, 0, CL_ERR_UNSUPPORTED, CL_ERR_UNSUPPORTED},
                      HandshakeCase{0, LINE_DCD, CL_ERR_UNSUPPORTED, CL_ERR_UNSUPPORTED}));

TEST_F(Win32Port, HandshakeIsAppliedAndReported) {
    auto port = OpenCom1();
    EXPECT_EQ(port->SetHandshake(LINE_RTS, LINE_CTS), 0);
    int type = 0, kind = 0;
    port->GetHandshake(type, kind);
    EXPECT_EQ(type, LINE_RTS);
    EXPECT_EQ(kind, LINE_CTS);
    EXPECT_EQ(com1->applied.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(com1->applied.fOutxCtsFlow, 1u);
    // A new selection first undoes the old flow control.
    EXPECT_EQ(port->SetHandshake(LINE_XONXOFF, LINE_DSR), 0);
    EXPECT_EQ(com1->applied.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(com1->applied.fOutxCtsFlow, 0u);
    EXPECT_EQ(com1->applied.fInX, 1u);
    EXPECT_EQ(com1->applied.fOutxDsrFlow, 1u);
    EXPECT_EQ(port->SetHandshake(LINE_DTR, LINE_XONXOFF), 0);
    EXPECT_EQ(com1->applied.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(com1->applied.fOutX, 1u);
    EXPECT_EQ(com1->applied.fInX, 0u);
}

TEST_F(Win32Port, BreakSetsQueriesClearsAndReportsFailure) {
    auto port = OpenCom1();
    EXPECT_EQ(port->Break(1), 1);
    EXPECT_TRUE(com1->breakOn);
    EXPECT_EQ(port->Break(-1), 1);
    EXPECT_EQ(port->Line(LINE_BREAK, -1), 1);
    EXPECT_EQ(port->Line(LINE_BREAK, 0), 0);
    EXPECT_FALSE(com1->breakOn);
    FailNext("SetCommBreak", ERROR_GEN_FAILURE);
    EXPECT_EQ(port->Break(1), CL_ERR_BREAK);
    EXPECT_EQ(port->GetError(), CL_ERR_BREAK);
    EXPECT_EQ(port->Break(-1), 0);
}

TEST_F(Win32Port, DtrAndRtsChangeAtOnceAndTheCopyCarriesTheMode) {
    auto port = OpenCom1();
    EXPECT_EQ(port->Line(LINE_RTS, 0), 0);
    EXPECT_FALSE(com1->rts);
    EXPECT_EQ(port->Line(LINE_RTS, -1), 0);
    EXPECT_EQ(port->dcb->fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(port->Line(LINE_DTR, 0), 0);
    EXPECT_FALSE(com1->dtr);
    EXPECT_EQ(port->Line(LINE_DTR, 5), 1);
    EXPECT_TRUE(com1->dtr);
}

struct QueryCase {
    int code;
    DWORD modem;
    DWORD errors;
    int result;
};

class Win32PortLineQuery : public Win32Port, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(Win32PortLineQuery, AnswersFromModemStatusAndGatheredErrors) {
    const QueryCase c = GetParam();
    auto port = OpenCom1();
    com1->modemStatus = c.modem;
    com1->errors = c.errors;
    port->Poll();
    EXPECT_EQ(port->Line(c.code, -1), c.result);
    EXPECT_EQ(port->Line(c.code, 1), c.code == LINE_DTR || c.code == LINE_RTS ? 1 : c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Win32PortLineQuery,
    ::testing::Values(
        QueryCase{2, 0, 0, 2}, QueryCase{40, 0, 0, 2}, QueryCase{17, 0xff, 0xff, 0},
        QueryCase{18, 0, 0, 0}, QueryCase{19, 0, 0, 0}, QueryCase{20, 0xff, 0, 0},
        QueryCase{LINE_CTS, MS_CTS_ON, 0, 1}, QueryCase{LINE_CTS, MS_DSR_ON, 0, 0},
        QueryCase{LINE_DSR, MS_DSR_ON, 0, 1}, QueryCase{LINE_RI, MS_RING_ON, 0, 1},
        QueryCase{LINE_DCD, MS_RLSD_ON, 0, 1}, QueryCase{LINE_DCD, MS_CTS_ON, 0, 0},
        QueryCase{LINE_OVERRUN, 0, CE_OVERRUN, 1}, QueryCase{LINE_PARITYERR, 0, CE_RXPARITY, 1},
        QueryCase{LINE_FRAMEERR, 0, CE_FRAME, 1}, QueryCase{LINE_BREAKDETECT, 0, CE_BREAK, 1},
        QueryCase{LINE_RXOVERFLOW, 0, CE_RXOVER, 1}, QueryCase{LINE_RXOVERFLOW, 0, CE_OVERRUN, 0}));

TEST_F(Win32Port, ModemLineIsZeroWhenTheStatusCannotBeRead) {
    auto port = OpenCom1();
    com1->modemStatus = MS_CTS_ON | MS_DSR_ON;
    EXPECT_EQ(port->ModemLine(MS_CTS_ON), 1);
    FailNext("GetCommModemStatus", ERROR_GEN_FAILURE);
    EXPECT_EQ(port->ModemLine(MS_CTS_ON), 0);
    EXPECT_EQ(port->GetError(), 0);
}

TEST_F(Win32Port, LineStatusPacksTheLinesAndForgetsTheErrors) {
    auto port = OpenCom1();
    LineStatusBits bits = {{0xff, 0xff, 0xff, 0xff}};
    EXPECT_EQ(port->GetLineStatus(bits), 0);
    EXPECT_EQ(bits.bytes[0], 0x05);
    EXPECT_EQ(bits.bytes[1], 0x00);
    EXPECT_EQ(bits.bytes[2], 0x00);
    EXPECT_EQ(bits.bytes[3], 0x00);

    com1->modemStatus = MS_DSR_ON | MS_CTS_ON;
    com1->errors = CE_RXPARITY | CE_BREAK;
    port->Line(LINE_RTS, 0);
    EXPECT_EQ(port->GetLineStatus(bits), 0);
    EXPECT_EQ(bits.bytes[0], 0x41);  // DTR, DSR
    EXPECT_EQ(bits.bytes[1], 0x01);  // CTS
    EXPECT_EQ(bits.bytes[2], 0x40);  // break detected
    EXPECT_EQ(bits.bytes[3], 0x01);  // parity error
    EXPECT_EQ(port->pendingErrors, 0u);
    EXPECT_EQ(port->GetLineStatus(bits), 0);
    EXPECT_EQ(bits.bytes[2], 0x00);
    EXPECT_EQ(bits.bytes[3], 0x00);
}

TEST_F(Win32Port, LineErrorsAreGatheredFromEveryStateQuery) {
    auto port = OpenCom1();
    unsigned char buf[4];
    PortQueueStatus status = {};
    com1->errors = CE_FRAME;
    port->Read(buf, 4);
    com1->errors = CE_OVERRUN;
    port->Write("x", 1);
    com1->errors = CE_RXOVER;
    port->GetQueueStatus(status, 1);
    com1->errors = CE_BREAK;
    port->Poll();
    EXPECT_EQ(port->pendingErrors, CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_BREAK);
    EXPECT_EQ(port->GetError(), 0);  // line errors are not failures
}

TEST_F(Win32Port, QueueStatusIsFilledWholeWhateverTheRecordHeld) {
    auto port = OpenCom1();
    PortQueueStatus status;
    std::memset(&status, 0x5a, sizeof status);
    port->GetQueueStatus(status, 1);
    EXPECT_EQ(status.rxValid, 1);
    EXPECT_EQ(status.rxCount, 0);
    EXPECT_EQ(status.rxSize, 4096);
    EXPECT_EQ(status.txValid, 1);
    EXPECT_EQ(status.txCount, 0);
    EXPECT_EQ(status.txSize, 2048);
    EXPECT_EQ(status.blockFlags, 0);
    com1->rx = {1, 2};
    com1->txBacklog = 7;
    com1->xoffSent = true;
    port->GetQueueStatus(status, 7);
    EXPECT_EQ(status.rxCount, 2);
    EXPECT_EQ(status.txCount, 7);
    EXPECT_EQ(status.blockFlags, 0x01);
    com1->xoffSent = false;
    com1->ctsHold = true;
    port->GetQueueStatus(status, 7);
    EXPECT_EQ(status.blockFlags, 0x02);
}

TEST_F(Win32Port, SetQueuesResizesReceiveKeepsTransmitAndEmptiesBoth) {
    auto port = OpenCom1();
    com1->rx = {1, 2, 3};
    com1->txBacklog = 9;
    EXPECT_EQ(port->SetQueues(48000, 128, 0), 0);
    EXPECT_EQ(port->rxQueueSize, 48000u);
    EXPECT_EQ(port->txQueueSize, 2048u);
    EXPECT_EQ(com1->inQueueSize, 48000u);
    EXPECT_EQ(com1->outQueueSize, 2048u);
    EXPECT_EQ(com1->applied.XonLim, 12000);
    EXPECT_EQ(com1->applied.XoffLim, 128);
    EXPECT_TRUE(com1->rx.empty());
    EXPECT_EQ(com1->txBacklog, 0u);
    FailNext("SetCommState", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port->SetQueues(0, 0, 0), CL_ERR_FAILED);
    EXPECT_EQ(port->GetError(), CL_ERR_FAILED);
    EXPECT_EQ(port->dcb->XonLim, 0);
    EXPECT_EQ(port->dcb->XoffLim, 128);
}

TEST_F(Win32Port, WriteTakesOnlyTheRoomLeftAndRecordsTheShortfall) {
    auto port = OpenCom1();
    com1->txBacklog = 2048 - 100;
    std::vector<unsigned char> bytes(150, 'w');
    EXPECT_EQ(port->Write(bytes.data(), 150), 100u);
    EXPECT_EQ(port->TakeError(), CL_ERR_TXSHORT);
    CompletePendingWrites();
    EXPECT_EQ(com1->wire.size(), 100u);
    EXPECT_EQ(port->Write(bytes.data(), 0), 0u);
    EXPECT_EQ(port->GetError(), 0);
    com1->txBacklog = 2048;
    EXPECT_EQ(port->WriteChar('c'), CL_ERR_TXSHORT);
}

TEST_F(Win32Port, PendingWriteSendsItsOwnCopyWhenTheCallerReusesTheBuffer) {
    auto port = OpenCom1();
    com1->writesPend = true;
    unsigned char command = '9';
    EXPECT_EQ(port->Write(&command, 1), 1u);
    EXPECT_EQ(PendingWrites(), 1);  // handed over, not waited for
    EXPECT_EQ(port->GetError(), 0);
    command = 'P';  // the caller's one-byte buffer, reused at once
    EXPECT_EQ(port->Write(&command, 1), 1u);
    command = 'x';
    CompletePendingWrites();
    EXPECT_EQ(Wire(*com1), "9P");
    // The second write waited for the first before reusing the record.
    EXPECT_EQ(CallCount("GetOverlappedResult"), 1);
}

TEST_F(Win32Port, PendingWriteCountsAgainstTheRoomAndIsEndedBeforeClose) {
    auto port = OpenCom1(4096, 4);
    com1->writesPend = true;
    EXPECT_EQ(port->WriteString("abc"), 3);
    EXPECT_EQ(port->WriteString("def"), 1);  // 3 of 4 bytes still in flight
    EXPECT_EQ(port->GetError(), CL_ERR_TXSHORT);
    port.reset();  // the fixture checks that nothing was left pending at close
    EXPECT_FALSE(com1->open);
}

TEST_F(Win32Port, FailedWriteReturnsZeroAndGathersErrors) {
    auto port = OpenCom1();
    FailNext("WriteFile", ERROR_GEN_FAILURE);
    int clears = CallCount("ClearCommError");
    EXPECT_EQ(port->Write("ab", 2), 0u);
    EXPECT_EQ(port->GetError(), CL_ERR_TXSHORT);
    EXPECT_EQ(port->osError, static_cast<int>(ERROR_GEN_FAILURE));
    EXPECT_EQ(CallCount("ClearCommError"), clears + 2);
}

TEST_F(Win32Port, ReadTakesOnlyWhatIsQueued) {
    auto port = OpenCom1();
    unsigned char buf[8] = {};
    EXPECT_EQ(port->Read(buf, 8), 0u);
    EXPECT_EQ(CallCount("ReadFile"), 0);
    EXPECT_EQ(port->ReadChar(), CL_ERR_NODATA);
    com1->rx = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(port->Read(buf, 3), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
    EXPECT_EQ(com1->rx.size(), 2u);
    EXPECT_EQ(port->ReadChar(), 'd');
}

TEST_F(Win32Port, PendingReadIsCompletedBeforeReturningAndFailedReadGivesZero) {
    auto port = OpenCom1();
    unsigned char buf[8] = {};
    com1->rx = {0xff, 0x00, 0x80};
    com1->readsPend = true;
    EXPECT_EQ(port->Read(buf, 8), 3u);
    EXPECT_EQ(buf[0], 0xff);
    EXPECT_EQ(buf[2], 0x80);
    com1->readsPend = false;
    com1->rx = {1};
    FailNext("ReadFile", ERROR_GEN_FAILURE);
    EXPECT_EQ(port->Read(buf, 8), 0u);
    EXPECT_EQ(port->GetError(), 0);
}

struct PurgeCase {
    int queued;
    int count;
    int result;
    int left;
};

class Win32PortPurge : public Win32Port, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(Win32PortPurge, DrainsAtMostCountCharacters) {
    const PurgeCase c = GetParam();
    auto port = OpenCom1();
    com1->rx.assign(static_cast<std::size_t>(c.queued), 'q');
    EXPECT_EQ(port->Purge(0, c.count), c.result);
    EXPECT_EQ(static_cast<int>(com1->rx.size()), c.left);
    EXPECT_EQ(port->GetError(), 0);
}

INSTANTIATE_TEST_SUITE_P(Counts, Win32PortPurge,
                         ::testing::Values(PurgeCase{5, 3, CL_ERR_FAILED, 2}, PurgeCase{2, 3, 0, 0},
                                           PurgeCase{1, 1, CL_ERR_FAILED, 0}, PurgeCase{0, 1, 0, 0},
                                           PurgeCase{5, 0, 0, 0}));

TEST_F(Win32Port, PurgeOfTheTransmitSideLeavesReception) {
    auto port = OpenCom1();
    com1->rx = {1};
    com1->txBacklog = 5;
    EXPECT_EQ(port->Purge(1, 0), 0);
    EXPECT_EQ(com1->txBacklog, 0u);
    EXPECT_EQ(com1->rx.size(), 1u);
}

struct TranslateCase {
    DWORD lastError;
    int code;
};

class Win32PortTranslate : public Win32Port, public ::testing::WithParamInterface<TranslateCase> {};

TEST_P(Win32PortTranslate, MapsTheLastError) {
    CWin32Port port(0, 4096, 2048, 1);
    SetLastError(GetParam().lastError);
    EXPECT_EQ(port.TranslateLastError(), GetParam().code);
    EXPECT_EQ(port.GetError(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Win32PortTranslate,
                         ::testing::Values(TranslateCase{static_cast<DWORD>(-1), CL_ERR_DEVICE},
                                           TranslateCase{static_cast<DWORD>(-2), CL_ERR_INUSE},
                                           TranslateCase{static_cast<DWORD>(-3), CL_ERR_DEVICE},
                                           TranslateCase{static_cast<DWORD>(-4), CL_ERR_MEMORY},
                                           TranslateCase{static_cast<DWORD>(-5), CL_ERR_HSKIND},
                                           TranslateCase{static_cast<DWORD>(-10), CL_ERR_DEVICE},
                                           TranslateCase{static_cast<DWORD>(-11), CL_ERR_DATABITS},
                                           TranslateCase{static_cast<DWORD>(-12), CL_ERR_BAUD},
                                           TranslateCase{static_cast<DWORD>(-6), CL_ERR_FAILED},
                                           TranslateCase{2, CL_ERR_FAILED},
                                           TranslateCase{5, CL_ERR_FAILED},
                                           TranslateCase{0, CL_ERR_FAILED}));

TEST_F(Win32Port, DumpHandsOverSixLines) {
    auto port = OpenCom1();
    std::vector<std::string> lines;
    port->Dump([&](const char* line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Port type: MS Win32  BaudRate: 19200   ByteSize: 8  Parity: 0",
                         "StopBits: 0  fBinary: 1  fRtsControl: 1",
                         "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
                         "Null: 0  XonChar: 11  XoffChar: 13",
                         "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: 00",
                         "RX sz/ct:  4096/0      TX sz/ct:  2048/0      BLOCK SENT:0  BLOCK "
                         "RECEIVED:0",
                     }));
}

TEST_F(Win32Port, DumpShowsCharactersAsTwoHexDigitsAndTheBlockBits) {
    auto port = OpenCom1();
    port->dcb->XonChar = static_cast<char>(0xf1);
    port->dcb->EvtChar = static_cast<char>(0x80);
    com1->rx = {1, 2, 3};
    com1->xoffSent = true;
    com1->dsrHold = true;
    std::vector<std::string> lines;
    port->Dump([&](const char* line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "Null: 0  XonChar: f1  XoffChar: 13");
    EXPECT_EQ(lines[4], "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: 80");
    EXPECT_EQ(lines[5],
              "RX sz/ct:  4096/3      TX sz/ct:  2048/0      BLOCK SENT:1  BLOCK RECEIVED:1");
}

TEST_F(Win32Port, EventOperations) {
    auto port = OpenCom1();
    DWORD mask = 99;
    EXPECT_EQ(port->GetEventMask(mask), 0);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(port->WaitEvent(mask), CL_ERR_FAILED);  // nothing watched
    EXPECT_EQ(port->SetEventMask(EV_RXCHAR | EV_CTS), 0);
    com1->events = EV_CTS | EV_TXEMPTY;
    EXPECT_EQ(port->WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_CTS);
    com1->eventsLater = EV_RXCHAR | EV_TXEMPTY;  // occur while the wait is pending
    EXPECT_EQ(port->WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_RXCHAR);
    EXPECT_EQ(CallCount("GetOverlappedResult"), 1);
    FailNext("GetCommMask", ERROR_GEN_FAILURE);
    EXPECT_EQ(port->GetEventMask(mask), CL_ERR_FAILED);
    EXPECT_NE(port->SetEventChar('\r'), FALSE);
    EXPECT_EQ(com1->applied.EvtChar, '\r');
    FailNext("SetCommState", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port->SetEventChar('\n'), FALSE);
    EXPECT_EQ(port->GetError(), 0);  // none of these store
}

TEST_F(Win32Port, TransmitCharGoesOutAndReportsFailure) {
    auto port = OpenCom1();
    EXPECT_EQ(port->TransmitChar(0x13), 0);
    EXPECT_EQ(Wire(*com1), "\x13");
    FailNext("TransmitCommChar", ERROR_GEN_FAILURE);
    EXPECT_EQ(port->TransmitChar(0x11), CL_ERR_FAILED);
    EXPECT_EQ(port->GetError(), 0);
    EXPECT_EQ(port->Spare1(), CL_ERR_UNSUPPORTED);
}

TEST_F(Win32Port, CloseFailureIsReported) {
    auto port = OpenCom1();
    FailNext("CloseHandle", ERROR_INVALID_HANDLE);
    EXPECT_EQ(port->Close(), CL_ERR_CLOSE);
    EXPECT_EQ(port->GetError(), CL_ERR_CLOSE);
    EXPECT_EQ(port->Close(), 0);
}

TEST_F(Win32Port, ObjectBuiltWithNoOpenFailsCleanlyAndReleasesNothing) {
    {
        CWin32Port port(3, 4096, 2048, 1);
        EXPECT_EQ(port.portIndex, 0);
        EXPECT_EQ(port.GetError(), 0);
        EXPECT_EQ(port.dcb, nullptr);
        unsigned char buf[4] = {7, 7, 7, 7};
        PortQueueStatus status = {};
        status.rxCount = 42;
        LineStatusBits bits = {{9, 9, 9, 9}};
        int a = 5, b = 6, c = 7;
        char p = 'Z';
        DWORD mask = 3;
        EXPECT_EQ(port.Idle(), CL_ERR_DEVICE);
        EXPECT_EQ(port.Read(buf, 4), 0u);
        EXPECT_EQ(port.Write(buf, 4), 0u);
        EXPECT_EQ(port.ReadChar(), CL_ERR_DEVICE);
        EXPECT_EQ(port.WriteChar('x'), CL_ERR_DEVICE);
        EXPECT_EQ(port.WriteString("x"), 0);
        EXPECT_EQ(port.TransmitChar('x'), CL_ERR_DEVICE);
        EXPECT_EQ(port.Line(LINE_DTR, 1), CL_ERR_DEVICE);
        EXPECT_EQ(port.Purge(0, 0), CL_ERR_DEVICE);
        EXPECT_EQ(port.GetHandshake(a, b), CL_ERR_DEVICE);
        EXPECT_EQ(port.GetLineStatus(bits), CL_ERR_DEVICE);
        EXPECT_EQ(port.GetEventMask(mask), CL_ERR_DEVICE);
        EXPECT_EQ(port.SetEventMask(1), CL_ERR_DEVICE);
        EXPECT_EQ(port.WaitEvent(mask), CL_ERR_DEVICE);
        EXPECT_EQ(port.SetEventChar('x'), FALSE);
        EXPECT_EQ(port.ModemLine(MS_CTS_ON), 0);
        EXPECT_EQ(port.ModemLine(1), 0);
        port.Poll();
        port.GetQueueStatus(status, 7);
        port.GetLineParams(a, p, b, c);
        int lines = 0;
        port.Dump([&](const char*) { ++lines; });
        EXPECT_EQ(lines, 0);
        EXPECT_EQ(port.GetError(), 0);  // none of the above stores
        EXPECT_EQ(port.SetLineParams(9600, 'N', 8, 1), CL_ERR_DEVICE);
        EXPECT_EQ(port.TakeError(), CL_ERR_DEVICE);
        EXPECT_EQ(port.SetHandshake(0, 0), CL_ERR_DEVICE);
        EXPECT_EQ(port.Break(-1), CL_ERR_DEVICE);
        EXPECT_EQ(port.SetQueues(100, 0, 0), CL_ERR_DEVICE);
        EXPECT_EQ(port.Open(), CL_ERR_DEVICE);
        EXPECT_EQ(port.Close(), CL_ERR_DEVICE);
        port.Init(0);
        EXPECT_EQ(port.TakeError(), CL_ERR_DEVICE);
        // Nothing of the caller's was written.
        EXPECT_EQ(buf[0], 7);
        EXPECT_EQ(status.rxCount, 42);
        EXPECT_EQ(bits.bytes[0], 9);
        EXPECT_EQ(a, 5);
        EXPECT_EQ(p, 'Z');
        EXPECT_EQ(mask, 3u);
    }
    EXPECT_TRUE(world().calls.empty());
    EXPECT_EQ(portUsage[0], 0);
    EXPECT_EQ(portUsage[3], 0);
}

// The link over the real port: what the measurement code builds.
TEST_F(Win32Port, LinkLeavesThePortAt9600AndRestores19200) {
    auto port = OpenCom1();
    {
        CComLink link(port.get());
        std::uint16_t flags = 0xffff;
        EXPECT_EQ(link.CheckStatus(flags), 0);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(com1->applied.BaudRate, 9600u);
        com1->errors = CE_RXPARITY | CE_BREAK;
        EXPECT_EQ(link.CheckStatus(flags), 0);
        EXPECT_EQ(flags, ST_PARITY | ST_BREAK);
        EXPECT_EQ(link.CheckStatus(flags), 0);
        EXPECT_EQ(flags, 0);
        com1->rx = {'Q', 'x'};
        EXPECT_EQ(link.RxCount(), 2);
        unsigned char reply[2] = {};
        EXPECT_EQ(link.Read(reply, 1, 100), 1);
        EXPECT_EQ(reply[0], 'Q');
        EXPECT_EQ(reply[1], 0);
    }
    EXPECT_EQ(com1->applied.BaudRate, 19200u);
}

TEST_F(Win32Port, LinkOverAMissingPortReportsFailedOnce) {
    CWin32Port port(4, 4096, 2048, 0);
    int calls = static_cast<int>(world().calls.size());
    CComLink link(&port);
    std::uint16_t flags = 0xffff;
    EXPECT_EQ(link.CheckStatus(flags), CL_ERR_FAILED);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(port.GetError(), 0);
    EXPECT_EQ(static_cast<int>(world().calls.size()), calls);
}

TEST_F(Win32Port, TimedReadOverThePortWaitsItsTimeoutAndTakesLateBytes) {
    auto port = OpenCom1();
    CComLink link(port.get());
    CFakeClock clock;  // each Sleep(0) of Idle costs a millisecond
    unsigned char buf[4] = {};
    std::uint32_t start = clock.nowMs;
    EXPECT_EQ(link.Read(buf, 1, 100), 0);
    EXPECT_GE(clock.nowMs - start, 100u);
    EXPECT_LE(clock.nowMs - start, 101u);
    EXPECT_EQ(CallCount("Sleep"), 100);
    com1->rx = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(link.Read(buf, 3, 0), 3);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(link.RxCount(), 2);
}

}  // namespace
