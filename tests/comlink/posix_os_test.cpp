// CPosixPort over a scripted OS: failures that a real device shows rarely or never
// on demand (EINTR, EAGAIN, EIO, EACCES, ENOTTY, a driver that rounds the speed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "comlink/device_map.h"
#include "comlink/link.h"
#include "comlink/posix_port.h"
#include "tests/comlink/fake_clock.h"
#include "tests/comlink/fake_serial_tree.h"

namespace {

constexpr int kIndex = 4;  // COM5, /dev/ttyS4 by default
constexpr int kFd = 77;

// One simulated serial device. Each call name has a script of errno values that
// the next calls fail with, in turn; an empty script lets the call succeed.
struct FakeDevice {
    std::map<std::string, std::deque<int>> failures;
    std::map<std::string, int> calls;
    mode_t mode = S_IFCHR;
    unsigned majorNumber = 4;  // ttyS
    std::deque<unsigned char> input;
    bool endOfFile = false;  // reads give 0 and poll reports POLLHUP
    std::vector<unsigned char> output;
    int outputQueued = 0;
    int outputEmptiesAfter = -1;       // TIOCOUTQ polls until the queue empties; -1: never
    std::vector<int> queuedAtSetLine;  // outputQueued when each speed was applied
    bool modemLines = true;
    int modemBits = 0;
    serial_icounter_struct counters{};
    PosixLine line;
    unsigned baudCeiling = 0;  // a driver that cannot go faster settles here
    int openFds = 0;

    // Counts the call; true (with errno set) when its script says it fails now.
    bool Fails(const std::string& name) {
        ++calls[name];
        auto& script = failures[name];
        if (script.empty()) return false;
        errno = script.front();
        script.pop_front();
        return errno != 0;
    }
};

FakeDevice* device = nullptr;

int FakeOpen(const char*, int) {
    if (device->Fails("open")) return -1;
    ++device->openFds;
    return kFd;
}
int FakeClose(int) {
    --device->openFds;
    return device->Fails("close") ? -1 : 0;
}
ssize_t FakeRead(int, void* buffer, size_t count) {
    if (device->Fails("read")) return -1;
    if (device->input.empty()) {
        if (device->endOfFile) return 0;
        errno = EAGAIN;
        return -1;
    }
    size_t n = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (n < count && !device->input.empty()) {
        out[n++] = device->input.front();
        device->input.pop_front();
    }
    return static_cast<ssize_t>(n);
}
ssize_t FakeWrite(int, const void* buffer, size_t count) {
    if (device->Fails("write")) return -1;
    const auto* in = static_cast<const unsigned char*>(buffer);
    device->output.insert(device->output.end(), in, in + count);
    return static_cast<ssize_t>(count);
}
int FakePoll(struct pollfd* fds, unsigned long, int) {
    if (device->Fails("poll")) return -1;
    fds->revents = 0;
    if (!device->input.empty()) fds->revents |= POLLIN;
    if (device->endOfFile) fds->revents |= POLLHUP;
    return fds->revents != 0 ? 1 : 0;
}
int FakeIoctl(int, unsigned long request, void* arg) {
    switch (request) {
        case TIOCEXCL:
            return device->Fails("TIOCEXCL") ? -1 : 0;
        case TIOCOUTQ:
            ++device->calls["TIOCOUTQ"];
            if (device->outputEmptiesAfter > 0 && --device->outputEmptiesAfter == 0) {
                device->outputQueued = 0;
            }
            *static_cast<int*>(arg) = device->outputQueued;
            return 0;
        case TIOCSBRK:
        case TIOCCBRK:
            return device->Fails("break") ? -1 : 0;
        case TIOCGICOUNT:
            if (device->Fails("TIOCGICOUNT")) return -1;
            *static_cast<serial_icounter_struct*>(arg) = device->counters;
            return 0;
        case TIOCMGET:
        case TIOCMBIS:
        case TIOCMBIC:
            ++device->calls["modem"];
            if (!device->modemLines) {
                errno = ENOTTY;
                return -1;
            }
            if (request == TIOCMGET) *static_cast<int*>(arg) = device->modemBits;
            if (request == TIOCMBIS) device->modemBits |= *static_cast<int*>(arg);
            if (request == TIOCMBIC) device->modemBits &= ~*static_cast<int*>(arg);
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
}
int FakeFlock(int, int) {
    return device->Fails("flock") ? -1 : 0;
}
int FakeStat(const char*, struct stat* info) {
    if (device->Fails("stat")) return -1;
    *info = {};
    info->st_mode = device->mode;
    info->st_rdev = makedev(device->majorNumber, 64);
    return 0;
}
int FakeFstat(int, struct stat* info) {
    return FakeStat("", info);
}
int FakeTcflush(int, int) {
    return 0;
}
int FakeGetLine(int, PosixLine* line) {
    if (device->Fails("getLine")) return -1;
    *line = device->line;
    return 0;
}
int FakeSetLine(int, const PosixLine& line) {
    if (device->Fails("setLine")) return -1;
    device->queuedAtSetLine.push_back(device->outputQueued);
    device->line = line;
    if (device->baudCeiling != 0 && line.baud > device->baudCeiling) {
        device->line.baud = device->baudCeiling;
    }
    return 0;
}

const PosixOs kFakeOs = {FakeOpen,    FakeClose,   FakeRead, FakeWrite, FakePoll,
                         FakeIoctl,   FakeFlock,   FakeStat, FakeFstat, FakeTcflush,
                         FakeGetLine, FakeSetLine, nullptr,  nullptr};

class SeamTest : public ::testing::Test {
  protected:
    void SetUp() override { device = &fake; }
    void TearDown() override {
        device = nullptr;
        ClearComDevices();
    }
    std::unique_ptr<CPosixPort> MakePort(int rx = 4096, int tx = 2048) {
        return std::make_unique<CPosixPort>(kIndex, rx, tx, 0, &kFakeOs);
    }
    FakeDevice fake;
};

// A serial device someone else already has: seen through /proc and lock files.
class EarlierHolderTest : public SeamTest {
  protected:
    void SetUp() override {
        SeamTest::SetUp();
        tree.AddUsb({"ttyACM0", "cdc_acm", "2341", "0043", "Arduino", "Uno", "1", kLink, ""});
        proc = tree.Proc().string();
        lockDir = tree.Lock().string();
        os = kFakeOs;
        os.procRoot = proc.c_str();
        os.lockDir = lockDir.c_str();
        node = std::filesystem::canonical(tree.Dev() / "ttyACM0").string();
        ASSERT_TRUE(SetComDevice(kIndex + 1, tree.ByIdPath(kLink), nullptr));
    }
    std::unique_ptr<CPosixPort> Open() {
        return std::make_unique<CPosixPort>(kIndex, 4096, 2048, 0, &os);
    }
    static constexpr const char* kLink = "usb-Arduino_Uno_1-if00";
    FakeSerialTree tree;
    std::string proc, lockDir, node;
    PosixOs os{};
};

TEST_F(EarlierHolderTest, AProcessHoldingTheDeviceRefusesTheOpenByName) {
    tree.AddProcess(812, "ModemManager", {node});
    auto port = Open();
    EXPECT_EQ(port->GetError(), CL_ERR_FAILED);
    EXPECT_EQ(port->osError, EBUSY);
    EXPECT_EQ(port->osErrorText, "busy: " + node + " is open in ModemManager (pid 812)");
    EXPECT_EQ(fake.openFds, 0) << "a descriptor was left open";
    EXPECT_EQ(portUsage[kIndex], 0);
    EXPECT_FALSE(std::filesystem::exists(tree.Lock() / "LCK..ttyACM0")) << "lock left behind";
}

TEST_F(EarlierHolderTest, ALiveLockFileRefusesAndAFreeDeviceIsLockedWhileOpen) {
    tree.AddProcess(813, "minicom", {});
    const auto lockFile = tree.Lock() / "LCK..ttyACM0";
    std::ofstream(lockFile) << "       813\n";
    {
        auto port = Open();
        EXPECT_EQ(port->GetError(), CL_ERR_FAILED);
        EXPECT_EQ(port->osErrorText, "busy: " + node + " is locked by minicom (pid 813)");
        EXPECT_EQ(fake.openFds, 0);
    }
    std::filesystem::remove(tree.Proc() / "813" / "comm");
    std::filesystem::remove(tree.Proc() / "813" / "fd");
    std::filesystem::remove(tree.Proc() / "813");  // minicom has ended: the lock is stale
    {
        auto port = Open();
        ASSERT_EQ(port->GetError(), 0) << port->osErrorText;
        std::ifstream in(lockFile);
        int pid = 0;
        in >> pid;
        EXPECT_EQ(pid, getpid());
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "closing left the lock file";
}

TEST_F(EarlierHolderTest, APseudoTerminalIsNotCheckedSinceItsFarEndHoldsIt) {
    fake.majorNumber = 136;
    tree.AddProcess(812, "pelkor-instrument", {node});
    auto port = Open();
    EXPECT_EQ(port->GetError(), 0) << port->osErrorText;
    EXPECT_TRUE(port->IsPseudoTerminal());
}

struct OpenFailure {
    const char* name;
    const char* call;
    int err;
    mode_t mode;
    const char* text;
};

class OpenFailureTest : public SeamTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, FailsWithTheReasonAndHoldsNothing) {
    const OpenFailure& c = GetParam();
    fake.mode = c.mode;
    if (c.err != 0) fake.failures[c.call] = {c.err};
    {
        auto port = MakePort();
        EXPECT_EQ(port->GetError(), CL_ERR_FAILED);
        EXPECT_EQ(port->osErrorText, c.text);
        EXPECT_EQ(port->devicePath, "/dev/ttyS4");
        EXPECT_EQ(portUsage[kIndex], 0);
        EXPECT_FALSE(port->HungUp());
    }
    EXPECT_EQ(fake.openFds, 0) << "a descriptor was left open";
    if (c.mode != S_IFCHR) {
        EXPECT_EQ(fake.calls["open"], 0) << "opened a non-device";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, OpenFailureTest,
    ::testing::Values(
        OpenFailure{"OpenEacces", "open", EACCES, S_IFCHR,
                    "permission denied on /dev/ttyS4 (add your user to the dialout group)"},
        OpenFailure{"StatEnoent", "stat", ENOENT, S_IFCHR, "no such device /dev/ttyS4"},
        OpenFailure{"OpenEnxio", "open", ENXIO, S_IFCHR, "no such device /dev/ttyS4"},
        OpenFailure{"OpenEbusy", "open", EBUSY, S_IFCHR,
                    "busy: /dev/ttyS4 is open in another program"},
        OpenFailure{"FlockWouldBlock", "flock", EWOULDBLOCK, S_IFCHR,
                    "busy: /dev/ttyS4 is open in another program"},
        OpenFailure{"ExclusiveEnotty", "TIOCEXCL", ENOTTY, S_IFCHR,
                    "/dev/ttyS4 is not a serial port"},
        OpenFailure{"RegularFile", "", 0, S_IFREG,
                    "/dev/ttyS4 is not a character device (expected a serial port such as "
                    "/dev/ttyUSB0)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeamTest, InterruptedCallsAreRetried) {
    fake.failures["open"] = {EINTR, EINTR};
    fake.failures["flock"] = {EINTR};
    fake.failures["setLine"] = {EINTR};
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0) << port->osErrorText;

    fake.input = {1, 2, 3};
    fake.failures["read"] = {EINTR};
    unsigned char got[3] = {};
    EXPECT_EQ(port->Read(got, 3), 3u);
    EXPECT_EQ(got[2], 3);

    fake.failures["write"] = {EINTR};
    EXPECT_EQ(port->Write("ab", 2), 2u);
    EXPECT_EQ(fake.output, (std::vector<unsigned char>{'a', 'b'}));

    fake.failures["poll"] = {EINTR};
    EXPECT_EQ(port->Idle(), 0);
    EXPECT_EQ(fake.calls["poll"], 2);
    EXPECT_EQ(port->GetError(), 0);
}

TEST_F(SeamTest, NothingAvailableIsNotAnError) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    unsigned char got[4];
    EXPECT_EQ(port->Read(got, 4), 0u);
    EXPECT_EQ(port->ReadChar(), CL_ERR_NODATA);
    EXPECT_EQ(port->Idle(), 0);
    EXPECT_EQ(port->GetError(), 0);
    EXPECT_FALSE(port->HungUp());

    // A full output buffer takes nothing: a short write, never a wait.
    fake.failures["write"] = {EAGAIN};
    EXPECT_EQ(port->Write("xyz", 3), 0u);
    EXPECT_EQ(port->TakeError(), CL_ERR_TXSHORT);
    // The transmit queue's room counts what the kernel still holds.
    fake.outputQueued = 2000;
    std::vector<unsigned char> data(100, 'd');
    EXPECT_EQ(port->Write(data.data(), 100), 48u);
    EXPECT_EQ(port->GetError(), CL_ERR_TXSHORT);
}

TEST_F(SeamTest, IdleWaitsItsMillisecondEvenWhenPollFails) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    CFakeClock clock;
    fake.failures["poll"] = {ENOMEM};
    EXPECT_EQ(port->Idle(), 0);
    EXPECT_EQ(clock.sleeps, 1) << "a failing poll made Idle return without waiting";
    EXPECT_EQ(port->GetError(), 0);
    EXPECT_FALSE(port->HungUp());
}

// The speed change after '9' must not overtake the byte on its way out.
struct DrainCase {
    const char* name;
    int queued;
    int emptiesAfter;         // polls; -1: the queue never empties (output held)
    bool waitsForEmpty;       // the new speed is applied only after the queue emptied
    std::uint32_t maxWaitMs;  // the bound: wire time of the queued bytes + 2 ms, + a poll
};

class DrainBeforeSpeedChangeTest : public SeamTest,
                                   public ::testing::WithParamInterface<DrainCase> {};

TEST_P(DrainBeforeSpeedChangeTest, WaitsForTheQueueButNeverLongerThanItsWireTime) {
    const DrainCase& c = GetParam();
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    ASSERT_EQ(port->SetLineParams(38400, 'N', 8, 1), 0);
    CFakeClock clock;
    fake.outputQueued = c.queued;
    fake.outputEmptiesAfter = c.emptiesAfter;
    fake.queuedAtSetLine.clear();
    const std::uint32_t before = clock.nowMs;
    ASSERT_EQ(port->SetLineParams(128000, 'N', 8, 1), 0);
    ASSERT_EQ(fake.queuedAtSetLine.size(), 1u);
    EXPECT_EQ(fake.queuedAtSetLine[0] == 0, c.waitsForEmpty);
    EXPECT_LE(clock.nowMs - before, c.maxWaitMs) << "the wait was not bounded";
    EXPECT_EQ(fake.line.baud, 128000u);
    if (c.emptiesAfter > 0) {
        EXPECT_EQ(fake.outputEmptiesAfter, 0) << "stopped polling early";
    }
    if (c.emptiesAfter < 0 && c.queued > 0) {
        EXPECT_GE(clock.nowMs - before, c.maxWaitMs - 1) << "gave up before the bytes could leave";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Queues, DrainBeforeSpeedChangeTest,
    ::testing::Values(
        // One byte at 38400 baud 8N1: 0.26 ms on the wire, so at most 1 + 2 ms.
        DrainCase{"OneByteEmptiesAfterThreePolls", 1, 3, true, 4},
        DrainCase{"OneByteNeverEmpties", 1, -1, false, 4},
        // 384 bytes: 100 ms on the wire.
        DrainCase{"ManyBytesEmptyAfterFortyPolls", 384, 41, true, 103},
        DrainCase{"ManyBytesNeverEmpty", 384, -1, false, 103},
        DrainCase{"EmptyQueueNoWait", 0, -1, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeamTest, SameSpeedOrFirstSettingDoesNotWait) {
    CFakeClock clock;
    fake.outputQueued = 100;  // held output, never empties
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    const int polls = fake.calls["TIOCOUTQ"];
    const std::uint32_t before = clock.nowMs;
    ASSERT_EQ(port->SetLineParams(19200, 'E', 8, 1), 0);  // the speed Init applied
    ASSERT_EQ(port->SetHandshake(LINE_NONE, LINE_NONE), 0);
    EXPECT_EQ(clock.nowMs, before);
    EXPECT_EQ(fake.calls["TIOCOUTQ"], polls);
}

struct HangUp {
    const char* name;
    int readErrno;  // 0: end of file with POLLHUP
};

class HangUpTest : public SeamTest, public ::testing::WithParamInterface<HangUp> {};

TEST_P(HangUpTest, IsAStickyDeviceErrorAndTheDeviceIsNotReadAgain) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    CComLink link(port.get());
    fake.input = {'a', 'b'};
    if (GetParam().readErrno != 0) {
        fake.failures["read"] = {0, GetParam().readErrno};  // data first, then the error
    } else {
        fake.endOfFile = true;
    }
    unsigned char buffer[11];
    EXPECT_EQ(link.Read(buffer, 10, 60000), CL_ERR_DEVICE);
    EXPECT_TRUE(port->HungUp());
    EXPECT_EQ(port->GetError(), CL_ERR_DEVICE);

    const int reads = fake.calls["read"];
    const int polls = fake.calls["poll"];
    EXPECT_EQ(link.Read(buffer, 10, 60000), CL_ERR_DEVICE);
    EXPECT_EQ(port->Write("x", 1), 0u);
    EXPECT_EQ(port->TakeError(), CL_ERR_DEVICE);
    EXPECT_EQ(port->Idle(), CL_ERR_DEVICE);
    EXPECT_EQ(fake.calls["read"], reads);
    EXPECT_EQ(fake.calls["poll"], polls);
    EXPECT_TRUE(fake.output.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, HangUpTest,
                         ::testing::Values(HangUp{"EndOfFile", 0}, HangUp{"Eio", EIO}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeamTest, ModemLinesMissingKeepTheStoredStatesAndOpen) {
    fake.modemLines = false;
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    EXPECT_EQ(port->Line(LINE_DTR, 0), 0);
    EXPECT_EQ(port->Line(LINE_DTR, -1), 0);
    EXPECT_EQ(port->Line(LINE_RTS, 1), 1);
    EXPECT_EQ(port->Line(LINE_CTS, -1), 0);
    EXPECT_EQ(port->Line(LINE_DCD, -1), 0);
    EXPECT_EQ(port->GetError(), 0);
    // Once known to be missing, the lines are not asked for again.
    const int asked = fake.calls["modem"];
    port->Line(LINE_DSR, -1);
    EXPECT_EQ(fake.calls["modem"], asked);
}

TEST_F(SeamTest, ModemLinesPresentAreSetAndRead) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    EXPECT_EQ(fake.modemBits & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(port->Line(LINE_RTS, 0), 0);
    EXPECT_EQ(fake.modemBits & TIOCM_RTS, 0);
    fake.modemBits |= TIOCM_CTS | TIOCM_CD;
    EXPECT_EQ(port->Line(LINE_CTS, -1), 1);
    EXPECT_EQ(port->Line(LINE_DCD, -1), 1);
    EXPECT_EQ(port->Line(LINE_DSR, -1), 0);
    EXPECT_EQ(port->Line(LINE_RI, -1), 0);
    // With CTS flow control, a peer that drops CTS holds transmission.
    ASSERT_EQ(port->SetHandshake(LINE_RTS, LINE_CTS), 0);
    EXPECT_TRUE(fake.line.rtsCts);
    PortQueueStatus status{};
    port->GetQueueStatus(status, 7);
    EXPECT_EQ(status.blockFlags, 0);
    fake.modemBits &= ~TIOCM_CTS;
    port->GetQueueStatus(status, 7);
    EXPECT_EQ(status.blockFlags, 2);
}

TEST_F(SeamTest, LineErrorCountersReachTheLinkOnce) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    CComLink link(port.get());
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, 0);
    ++fake.counters.parity;
    ++fake.counters.brk;
    unsigned char c;
    port->Read(&c, 1);  // any call that asks the device gathers them
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, ST_PARITY | ST_BREAK);
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, 0);
    fake.counters.frame += 2;
    fake.counters.overrun += 1;
    fake.counters.buf_overrun += 5;
    EXPECT_EQ(link.CheckStatus(flags), 0);
    EXPECT_EQ(flags, ST_FRAMING | ST_OVERRUN | ST_RXOVERFLOW);
}

TEST_F(SeamTest, DriverWithoutCountersIsAskedOnce) {
    fake.failures["TIOCGICOUNT"] = {ENOTTY};
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    LineStatusBits bits{};
    port->GetLineStatus(bits);
    port->GetLineStatus(bits);
    EXPECT_EQ(fake.calls["TIOCGICOUNT"], 1);
}

TEST_F(SeamTest, SpeedTheDriverDidNotTakeIsRefused) {
    fake.baudCeiling = 115200;
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    EXPECT_EQ(port->SetLineParams(115200, 'N', 8, 1), 0);
    EXPECT_EQ(port->SetLineParams(128000, 'N', 8, 1), CL_ERR_BAUD);
    EXPECT_EQ(port->GetError(), CL_ERR_BAUD);
    EXPECT_EQ(port->osErrorText, "/dev/ttyS4 cannot run at 128000 baud (the driver set 115200)");
    // The copy keeps what was asked, as the Windows port's DCB copy does.
    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 128000);
}

TEST_F(SeamTest, ARealUartGetsTheFullCharacterFormat) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    EXPECT_FALSE(port->IsPseudoTerminal());
    ASSERT_EQ(port->SetLineParams(38400, 'E', 7, 2), 0);
    EXPECT_EQ(fake.line.baud, 38400u);
    EXPECT_EQ(fake.line.dataBits, 7);
    EXPECT_EQ(fake.line.parity, 2);
    EXPECT_TRUE(fake.line.twoStopBits);
    EXPECT_EQ(port->SetLineParams(9600, 'N', 4, 1), CL_ERR_DATABITS);
}

TEST_F(SeamTest, BreakFailureIsStoredButAPtyWithoutBreakIsTolerated) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    fake.failures["break"] = {EIO};
    EXPECT_EQ(port->Break(1), CL_ERR_BREAK);
    EXPECT_EQ(port->TakeError(), CL_ERR_BREAK);
    EXPECT_EQ(port->Break(-1), 0);
    fake.failures["break"] = {ENOTTY};
    EXPECT_EQ(port->Break(1), 1);
    EXPECT_EQ(port->GetError(), 0);
}

TEST_F(SeamTest, HandshakeValuesTheKernelCannotDoAreUnsupported) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    EXPECT_EQ(port->SetHandshake(2, 0), CL_ERR_FAILED);
    EXPECT_EQ(port->TakeError(), CL_ERR_HSTYPE);
    EXPECT_EQ(port->SetHandshake(0, 2), CL_ERR_HSKIND);
    EXPECT_EQ(port->SetHandshake(LINE_DTR, 0), CL_ERR_UNSUPPORTED);
    EXPECT_EQ(port->SetHandshake(0, LINE_DSR), CL_ERR_UNSUPPORTED);
    EXPECT_EQ(port->SetHandshake(LINE_XONXOFF, LINE_XONXOFF), 0);
    EXPECT_TRUE(fake.line.xonInput && fake.line.xonOutput);
    int type = -1, kind = -1;
    port->GetHandshake(type, kind);
    EXPECT_EQ(type, LINE_XONXOFF);
    EXPECT_EQ(kind, LINE_XONXOFF);
}

TEST_F(SeamTest, DumpDescribesANewPortInTheWindowsPortsTerms) {
    auto port = MakePort();
    ASSERT_EQ(port->GetError(), 0);
    std::vector<std::string> lines;
    port->Dump([&](const char* line) { lines.emplace_back(line); });
    const std::vector<std::string> expected = {
        "Port type: POSIX termios  BaudRate: 19200   ByteSize: 8  Parity: 0",
        "StopBits: 0  fBinary: 1  fRtsControl: 1",
        "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
        "Null: 0  XonChar: 11  XoffChar: 13",
        "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: 00",
        "RX sz/ct:  4096/0      TX sz/ct:  2048/0      BLOCK SENT:0  BLOCK RECEIVED:0",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
