// CPosixPort over a real pseudo-terminal pair: the test holds the master side and
// plays the far end itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comlink/device_map.h"
#include "comlink/factory.h"
#include "comlink/link.h"
#include "comlink/posix_port.h"
#include "tests/comlink/pty_far_end.h"

namespace {

constexpr int kIndex = 9;  // COM10
constexpr int kWaitMs = 10000;

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> Pattern(size_t n, unsigned seed = 0) {
    std::vector<unsigned char> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>((i * 7 + seed) % 251);
    return bytes;
}

// Counts the read calls that reach the OS, to show that a hung-up port stops reading.
std::atomic<int> osReads{0};
ssize_t CountingRead(int fd, void* buffer, size_t count) {
    ++osReads;
    return RealPosixOs().read(fd, buffer, count);
}

constexpr int kNoUser = 2;

// Runs check in a child process, as an ordinary user when dropAuthority is set
// and the test runs as root: 0 when it held, 1 when not, kNoUser when the
// child could not become an ordinary user.
template <class Check>
int InChildAs(bool dropAuthority, Check check) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (dropAuthority && (geteuid() != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(kNoUser);
        }
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[128] = {};
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0) << std::strerror(errno);
        close(slave);  // only the port holds the slave side
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = name;
        std::string error;
        ASSERT_TRUE(SetComDevice(kIndex + 1, slavePath, &error)) << error;
    }
    void TearDown() override {
        ClearComDevices();
        if (master >= 0) close(master);
    }

    std::unique_ptr<CPosixPort> OpenPort(int rx = 4096, int tx = 2048, const PosixOs* os = nullptr,
                                         int index = kIndex) {
        auto port = std::make_unique<CPosixPort>(index, rx, tx, 0, os);
        EXPECT_EQ(port->GetError(), 0) << port->osErrorText;
        return port;
    }

    void FarEndWrite(const std::vector<unsigned char>& bytes) {
        size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        while (done < bytes.size() && Clock::now() < deadline) {
            ssize_t r = write(master, bytes.data() + done, bytes.size() - done);
            if (r > 0) done += static_cast<size_t>(r);
            if (r <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(done, bytes.size());
    }

    std::vector<unsigned char> FarEndRead(size_t n) {
        std::vector<unsigned char> got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        while (got.size() < n && Clock::now() < deadline) {
            struct pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            unsigned char buffer[4096];
            ssize_t r = read(master, buffer, std::min(sizeof buffer, n - got.size()));
            if (r > 0) got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }

    // Bytes written by the far end reach the slave's input a little later.
    static int WaitQueued(CComPort& port, int n) {
        PortQueueStatus status{};
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        do {
            port.GetQueueStatus(status, 1);
            if (status.rxCount >= n) break;
            port.Idle();
        } while (Clock::now() < deadline);
        return status.rxCount;
    }

    int master = -1;
    std::string slavePath;
};

TEST_F(PtyPortTest, OpensRawAtTheDefaultsWithStoredModemLines) {
    auto port = OpenPort();
    EXPECT_TRUE(port->IsPseudoTerminal());
    EXPECT_EQ(port->devicePath, slavePath);
    EXPECT_EQ(portUsage[kIndex], 1);
    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(parity, 'N');
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(stopBits, 1);
    FarEndView view;
    ASSERT_TRUE(ReadFarEndView(master, &view));
    EXPECT_EQ(view.outputBaud, 19200u);
    EXPECT_EQ(view.inputBaud, 19200u);
    EXPECT_TRUE(view.raw);
    EXPECT_TRUE(view.readMinOne);
    // The pty has no modem lines: DTR and RTS answer from the stored states, the
    // inputs read as off.
    LineStatusBits bits{};
    EXPECT_EQ(port->GetLineStatus(bits), 0);
    EXPECT_EQ(bits.bytes[0], 0x05);
    EXPECT_EQ(bits.bytes[1], 0x00);
    EXPECT_EQ(bits.bytes[2], 0x00);
    EXPECT_EQ(bits.bytes[3], 0x00);
    EXPECT_EQ(port->Line(LINE_RTS, 0), 0);
    EXPECT_EQ(port->Line(LINE_RTS, -1), 0);
    EXPECT_EQ(port->Break(1), 1);
    EXPECT_EQ(port->Break(-1), 1);
    EXPECT_EQ(port->Break(0), 0);
    EXPECT_EQ(port->GetError(), 0);
    port.reset();
    EXPECT_EQ(portUsage[kIndex], 0);
}

TEST_F(PtyPortTest, CarriesEveryByteValueBothWaysUntranslated) {
    auto port = OpenPort();
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);

    EXPECT_EQ(port->Write(all.data(), 256), 256u);
    EXPECT_EQ(FarEndRead(256), all);

    FarEndWrite(all);
    ASSERT_EQ(WaitQueued(*port, 256), 256);
    std::vector<unsigned char> got(256);
    EXPECT_EQ(port->Read(got.data(), 256), 256u);
    EXPECT_EQ(got, all);
    // Raw mode: nothing was echoed back to the far end.
    unsigned char extra;
    EXPECT_EQ(read(master, &extra, 1), -1);
}

struct LineCase {
    int baud;
    char parity;
    int dataBits;
    int stopBits;
    bool farEndTwoStopBits;
};

class PtyLineTest : public PtyPortTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(PtyLineTest, FarEndSeesTheSpeedAndThePortReportsWhatWasSet) {
    const LineCase& c = GetParam();
    auto port = OpenPort();
    ASSERT_EQ(port->SetLineParams(c.baud, c.parity, c.dataBits, c.stopBits), 0)
        << port->osErrorText;
    FarEndView view;
    ASSERT_TRUE(ReadFarEndView(master, &view));
    EXPECT_EQ(view.outputBaud, static_cast<unsigned>(c.baud));
    EXPECT_EQ(view.inputBaud, static_cast<unsigned>(c.baud));
    // The kernel forces 8 data bits without parity on a pty ...
    EXPECT_EQ(view.dataBits, 8);
    EXPECT_FALSE(view.parity);
    EXPECT_EQ(view.twoStopBits, c.farEndTwoStopBits);
    // ... while the port's own copy reports what was set.
    int baud = 0, dataBits = 0, stopBits = 0;
    char parity = 0;
    port->GetLineParams(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, c.baud);
    EXPECT_EQ(parity, c.parity);
    EXPECT_EQ(dataBits, c.dataBits);
    EXPECT_EQ(stopBits, c.dataBits == 5 ? 1 : c.stopBits);
}

INSTANTIATE_TEST_SUITE_P(Speeds, PtyLineTest,
                         ::testing::Values(LineCase{38400, 'N', 8, 1, false},
                                           LineCase{128000, 'N', 8, 1, false},
                                           LineCase{38400, 'E', 7, 2, true},
                                           LineCase{9600, 'N', 5, 2, true},
                                           LineCase{250000, 'M', 8, 1, false}),
                         [](const auto& info) {
                             const LineCase& c = info.param;
                             return "B" + std::to_string(c.baud) + c.parity +
                                    std::to_string(c.dataBits) + std::to_string(c.stopBits);
                         });

TEST_F(PtyPortTest, SecondPortObjectAndSecondProcessAreRefusedWhileTheFirstWorks) {
    auto first = OpenPort();

    CPosixPort sameIndex(kIndex, 4096, 2048, 0);
    EXPECT_EQ(sameIndex.GetError(), CL_ERR_INUSE);

    // Another index mapped to the same device: the device lock refuses it.
    std::string error;
    ASSERT_TRUE(SetComDevice(kIndex + 2, slavePath, &error)) << error;
    CPosixPort sameDevice(kIndex + 1, 4096, 2048, 0);
    EXPECT_EQ(sameDevice.GetError(), CL_ERR_FAILED);
    EXPECT_EQ(sameDevice.osErrorText, "busy: " + slavePath + " is open in another program");
    EXPECT_EQ(portUsage[kIndex + 1], 0);

    // Another process: as root it gets past TIOCEXCL and the lock refuses it; as an
    // ordinary user TIOCEXCL already does.
    EXPECT_EQ(
        InChildAs(false,
                  [] { return CPosixPort(kIndex + 1, 4096, 2048, 0).GetError() == CL_ERR_FAILED; }),
        0);
    ASSERT_EQ(chmod(slavePath.c_str(), 0666), 0);
    const std::string busy = "busy: " + slavePath + " is open in another program";
    const int asUser = InChildAs(true, [&] {
        CPosixPort other(kIndex + 1, 4096, 2048, 0);
        return other.GetError() == CL_ERR_FAILED && other.osErrorText == busy;
    });
    if (asUser != kNoUser) {
        EXPECT_EQ(asUser, 0) << "an ordinary user's process was not refused";
    }

    EXPECT_EQ(portUsage[kIndex], 1);
    const auto bytes = Pattern(32);
    EXPECT_EQ(first->Write(bytes.data(), 32), 32u);
    EXPECT_EQ(FarEndRead(32), bytes);
    FarEndWrite(bytes);
    ASSERT_EQ(WaitQueued(*first, 32), 32);
    EXPECT_EQ(first->GetError(), 0);

    // Once the holder closes, an ordinary user's process opens the device again.
    first.reset();
    if (asUser != kNoUser) {
        EXPECT_EQ(
            InChildAs(true, [] { return CPosixPort(kIndex + 1, 4096, 2048, 0).GetError() == 0; }),
            0);
    }
}

TEST_F(PtyPortTest, HangUpMidReadEndsTheReadWithDeviceErrorAndStopsReading) {
    PosixOs os = RealPosixOs();
    os.read = CountingRead;
    auto port = OpenPort(4096, 2048, &os);
    CComLink link(port.get());
    FarEndWrite(Pattern(10));

    // The far end goes away while the link waits for a block that never completes.
    std::thread farEnd([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        close(master);
        master = -1;
    });
    std::vector<unsigned char> buffer(1001);
    const auto start = Clock::now();
    const int r = link.Read(buffer.data(), 1000, 60000);
    const auto waited = Clock::now() - start;
    farEnd.join();

    EXPECT_EQ(r, CL_ERR_DEVICE);
    EXPECT_LT(waited, std::chrono::seconds(30)) << "the read waited for its timeout";
    EXPECT_TRUE(port->HungUp());
    EXPECT_EQ(port->GetError(), CL_ERR_DEVICE);
    EXPECT_NE(port->osErrorText.find("hung up"), std::string::npos) << port->osErrorText;

    // Nothing more is read from the device, and every wait ends at once.
    const int readsBefore = osReads;
    EXPECT_EQ(link.Read(buffer.data(), 1000, 60000), CL_ERR_DEVICE);
    EXPECT_EQ(link.ReadCharTimed(60000), CL_ERR_DEVICE);
    EXPECT_EQ(link.RxCount(), 0);
    EXPECT_EQ(osReads, readsBefore);
    EXPECT_EQ(port->TakeError(), CL_ERR_DEVICE);
    EXPECT_EQ(port->Idle(), CL_ERR_DEVICE);
    EXPECT_EQ(port->GetError(), CL_ERR_DEVICE);
}

TEST_F(PtyPortTest, OwnReceiveQueueCountsWrapsAndOverflowsLikeTheWindowsQueue) {
    auto port = OpenPort(1000);
    const auto first = Pattern(700, 1);
    const auto second = Pattern(700, 2);

    FarEndWrite(first);
    ASSERT_EQ(WaitQueued(*port, 700), 700);
    std::vector<unsigned char> got(1000);
    ASSERT_EQ(port->Read(got.data(), 500), 500u);
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 500, got.begin()));

    // 200 queued + 700 more wrap around the 1000-byte ring without loss.
    FarEndWrite(second);
    ASSERT_EQ(WaitQueued(*port, 900), 900);
    LineStatusBits bits{};
    port->GetLineStatus(bits);
    EXPECT_EQ(bits.Field(LINE_RXOVERFLOW), 0);
    ASSERT_EQ(port->Read(got.data(), 1000), 900u);
    EXPECT_TRUE(std::equal(first.begin() + 500, first.end(), got.begin()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), got.begin() + 200));

    // 1500 into a 1000-byte queue: the oldest 1000 stay, the rest is an overflow.
    const auto flood = Pattern(1500, 3);
    FarEndWrite(flood);
    ASSERT_EQ(WaitQueued(*port, 1000), 1000);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    int overflow = 0;
    while (overflow == 0 && Clock::now() < deadline) {
        port->Idle();
        port->GetLineStatus(bits);
        overflow = bits.Field(LINE_RXOVERFLOW);
    }
    EXPECT_EQ(overflow, 1);
    PortQueueStatus status{};
    port->GetQueueStatus(status, 1);
    EXPECT_EQ(status.rxCount, 1000);
    EXPECT_EQ(status.rxSize, 1000);
    ASSERT_EQ(port->Read(got.data(), 1000), 1000u);
    EXPECT_TRUE(std::equal(flood.begin(), flood.begin() + 1000, got.begin()));
    port->GetLineStatus(bits);
    EXPECT_EQ(bits.Field(LINE_RXOVERFLOW), 0) << "the overflow is reported once";
}

TEST_F(PtyPortTest, QueueSetToAMeasurementBlockHoldsMoreThanThePtyBuffer) {
    auto port = OpenPort();
    ASSERT_EQ(port->SetQueues(48000, 128, 0), 0);
    PortQueueStatus status{};
    port->GetQueueStatus(status, 7);
    EXPECT_EQ(status.rxSize, 48000);
    EXPECT_EQ(status.txSize, 2048);

    // 16384 bytes: a 10-bit block of 8192 samples, four times the pty's own buffer.
    const auto block = Pattern(16384, 4);
    std::thread farEnd([&] { FarEndWrite(block); });
    const int queued = WaitQueued(*port, 16384);
    farEnd.join();
    ASSERT_EQ(queued, 16384);
    std::vector<unsigned char> got(16385);
    CComLink link(port.get());  // takes nothing queued
    EXPECT_EQ(link.RxCount(), 16384);
    EXPECT_EQ(link.Read(got.data(), 16384, 0), 16384);
    got.resize(16384);
    EXPECT_EQ(got, block);
}

struct PurgeCase {
    int queued;
    int which;
    int count;
    int result;
    int left;
};

class PtyPurgeTest : public PtyPortTest, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(PtyPurgeTest, DiscardsOrDrainsTheReceiveQueue) {
    const PurgeCase& c = GetParam();
    auto port = OpenPort();
    FarEndWrite(Pattern(static_cast<size_t>(c.queued)));
    ASSERT_EQ(WaitQueued(*port, c.queued), c.queued);
    EXPECT_EQ(port->Purge(c.which, c.count), c.result);
    PortQueueStatus status{};
    port->GetQueueStatus(status, 1);
    EXPECT_EQ(status.rxCount, c.left);
    EXPECT_EQ(port->GetError(), 0);
}

INSTANTIATE_TEST_SUITE_P(Selectors, PtyPurgeTest,
                         ::testing::Values(PurgeCase{5, 0, 0, 0, 0},     // discard all
                                           PurgeCase{5, 0, 3, -801, 2},  // limit reached
                                           PurgeCase{2, 0, 3, 0, 0},     // found empty
                                           PurgeCase{1, 0, 1, -801, 0},
                                           PurgeCase{5, 1, 0, 0, 5}),  // transmit side only
                         [](const auto& info) {
                             const PurgeCase& c = info.param;
                             return "Queued" + std::to_string(c.queued) + "Which" +
                                    std::to_string(c.which) + "Count" + std::to_string(c.count);
                         });

TEST_F(PtyPortTest, FactoryCreatesAnOpenPortThroughTheDeviceMap) {
    std::unique_ptr<CComPort> port(CreateComPort(kIndex, 4096, 2048));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->GetError(), 0) << port->osErrorText;
    EXPECT_EQ(port->devicePath, slavePath);
    EXPECT_EQ(port->WriteString("9"), 1);
    EXPECT_EQ(FarEndRead(1), std::vector<unsigned char>{'9'});
}

}  // namespace
