// The pty host and pelkor-instrument over a real pseudo-terminal, driven by a
// plain termios client as the program would drive a serial port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "instrument/instrument.h"
#include "tests/instrument/client_speed.h"

extern char** environ;

namespace instrument {
namespace {

using Clock = std::chrono::steady_clock;

// The program's side of the line.
class Client {
  public:
    ~Client() { Close(); }
    bool Open(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return false;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
        return tcsetattr(fd_, TCSANOW, &tio) == 0;
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    bool Speed(int baud) { return SetAnySpeed(fd_, baud) == 0; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came, the line hung up, or timeoutMs passed.
    std::string Read(std::size_t count, int timeoutMs) {
        std::string got;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && !hungUp_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hungUp_ = true;
            }
        }
        return got;
    }
    // The program's connection sequence: '9' at 38400, then 'P' at 128000.
    std::string Connect() {
        Write("9");
        if (!Speed(128000)) return "cannot set 128000";
        Write("P");
        return Read(1, 5000);
    }
    bool HungUp() const { return hungUp_; }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
    bool hungUp_ = false;
};

Options DcOnChannel4(double volts, bool paced = true) {
    Options options;
    options.channels[4] = ChannelSignal{volts, {}, 0.0};
    options.paced = paced;
    return options;
}

// Waits until the host has read `count` bytes.
std::vector<unsigned char> ReceivedAtLeast(const PtyHost& host, std::size_t count) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    std::vector<unsigned char> got = host.ReceivedBytes();
    while (got.size() < count && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        got = host.ReceivedBytes();
    }
    return got;
}

std::string TempDir() {
    char pattern[] = "/tmp/pelkor-instrument-test.XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

TEST(PtyHostTest, HandshakeAndBlockAtTheProtocolSpeeds) {
    PtyHost host(DcOnChannel4(1.0));
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    EXPECT_EQ(client.Connect(), "Q");
    client.Write("l4MQS8");
    // 128 samples of 1 V at 8 bits: 153 counts each.
    EXPECT_EQ(client.Read(128, 10000), std::string(128, '\x99'));
    client.Write("8");

    const std::vector<unsigned char> got = ReceivedAtLeast(host, 9);
    EXPECT_EQ(std::string(got.begin(), got.end()), "9Pl4MQS88");
    const std::vector<int> speeds = host.ReceivedSpeeds();
    ASSERT_EQ(speeds.size(), got.size());
    // '9' may be read before or after the program switched.
    EXPECT_TRUE(speeds[0] == 38400 || speeds[0] == 128000) << speeds[0];
    for (std::size_t i = 1; i < speeds.size(); ++i) EXPECT_EQ(speeds[i], 128000) << "byte " << i;
}

TEST(PtyHostTest, LogHasEveryByteWithTimeSpeedAndMeaning) {
    const std::string dir = TempDir();
    Options options = DcOnChannel4(1.0);
    options.logPath = dir + "/log";
    PtyHost host(options);
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    ASSERT_EQ(client.Connect(), "Q");
    client.Write("l4MQS8");
    ASSERT_EQ(client.Read(4, 5000).size(), 4u);
    client.Write("8");
    ASSERT_EQ(ReceivedAtLeast(host, 9).size(), 9u);
    host.Stop();

    std::FILE* f = std::fopen(options.logPath.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string in, out;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        double time = -1;
        char direction[4] = {};
        int speed = 0;
        unsigned byte = 0;
        if (std::sscanf(line, "%lf %3s %d 0x%x", &time, direction, &speed, &byte) != 4) continue;
        EXPECT_GE(time, 0.0) << line;
        if (std::string(direction) == "in") {
            in += static_cast<char>(byte);
            if (byte == 'P') {
                EXPECT_EQ(speed, 128000) << line;
                EXPECT_NE(std::strstr(line, "handshake request"), nullptr) << line;
            }
        } else if (std::string(direction) == "out") {
            out += static_cast<char>(byte);
        }
    }
    std::fclose(f);
    EXPECT_EQ(in, "9Pl4MQS8" + std::string("8"));
    ASSERT_GE(out.size(), 5u);
    EXPECT_EQ(out.substr(0, 5), "Q\x99\x99\x99\x99");
    unlink(options.logPath.c_str());
    rmdir(dir.c_str());
}

TEST(PtyHostTest, ExclusiveUseEndsWithTheProgramThatAskedForIt) {
    PtyHost host(Options{});
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    auto exclusive = [&] {
        // Root may open an exclusive tty; a normal user could not.
        Client probe;
        int flag = -1;
        if (!probe.Open(host.SlavePath()) || ioctl(probe.fd(), TIOCGEXCL, &flag) != 0) return -1;
        return flag;
    };
    auto eventually = [&](int wanted) {
        const auto end = Clock::now() + std::chrono::seconds(5);
        int flag = exclusive();
        while (flag != wanted && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            flag = exclusive();
        }
        return flag;
    };
    {
        Client owner;
        ASSERT_TRUE(owner.Open(host.SlavePath()));
        ASSERT_EQ(ioctl(owner.fd(), TIOCEXCL), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(exclusive(), 1) << "still held while its owner has the port open";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(exclusive(), 1);
    }
    EXPECT_EQ(eventually(0), 0) << "a later program can open the port again";
}

TEST(PtyHostTest, ByteAtTheWrongSpeedIsRecordedAndIgnored) {
    PtyHost host(Options{});
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    ASSERT_EQ(client.Connect(), "Q");
    ASSERT_TRUE(client.Speed(38400));
    client.Write("P");
    EXPECT_EQ(client.Read(1, 300), "");
    ASSERT_EQ(ReceivedAtLeast(host, 3).size(), 3u);
    EXPECT_EQ(host.ReceivedSpeeds().back(), 38400);
    host.ClearReceived();
    EXPECT_TRUE(host.ReceivedBytes().empty());
    EXPECT_TRUE(host.ReceivedSpeeds().empty());
}

TEST(PtyHostTest, KeepsWorkingWhenTheProgramClosesAndReopens) {
    PtyHost host(Options{});
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    {
        Client first;
        ASSERT_TRUE(first.Open(host.SlavePath()));
        ASSERT_EQ(first.Connect(), "Q");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Client second;
    ASSERT_TRUE(second.Open(host.SlavePath()));
    EXPECT_EQ(second.Connect(), "Q");
}

TEST(PtyHostTest, ReconnectAfterAnAbandonedStreamFindsTheInstrumentIdle) {
    PtyHost host(DcOnChannel4(1.0, false));
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    ASSERT_EQ(client.Connect(), "Q");
    // A program starts a block, then stops reading without a stop byte (it crashed).
    client.Write("l4MQS8");
    ASSERT_EQ(client.Read(1, 5000).size(), 1u);
    ASSERT_EQ(ReceivedAtLeast(host, 8).size(), 8u);
    // Unpaced the stream fills the pseudo-terminal's buffers at once; let it.
    int queued = 0;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (queued < 4000 && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(ioctl(client.fd(), FIONREAD, &queued), 0);
    }
    ASSERT_GE(queued, 4000);

    // The next connection: the reset at '9' leaves nothing of the old stream.
    client.Write("9");
    ASSERT_TRUE(client.Speed(128000));
    client.Write("P");
    ASSERT_EQ(ReceivedAtLeast(host, 10).size(), 10u);
    EXPECT_EQ(client.Read(1, 5000), "Q");
    EXPECT_EQ(client.Read(1, 300), "") << "the old stream still came after the reset";
}

TEST(PtyHostTest, ReceivedBytesStayBoundedInALongRun) {
    PtyHost host(DcOnChannel4(1.0, false));
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    // Three times what the host keeps, as a long demo sends over hours.
    const std::size_t total = 3 * kReceivedKept + 123;
    std::string bytes;
    for (std::size_t i = 0; i < total; ++i) bytes += static_cast<char>('a' + i % 7);
    std::size_t sent = 0;
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (sent < total && Clock::now() < end) {
        const ssize_t n =
            write(client.fd(), bytes.data() + sent, std::min<std::size_t>(4096, total - sent));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else {
            pollfd p{client.fd(), POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    ASSERT_EQ(sent, total);
    while (host.ReceivedTotal() < total && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(host.ReceivedTotal(), total);
    const std::vector<unsigned char> kept = host.ReceivedBytes();
    ASSERT_EQ(kept.size(), kReceivedKept);
    EXPECT_EQ(host.ReceivedSpeeds().size(), kReceivedKept);
    EXPECT_TRUE(
        std::equal(kept.begin(), kept.end(), bytes.end() - static_cast<long>(kReceivedKept)))
        << "the latest bytes, in order";
}

TEST(PtyHostTest, UnpacedLargestBlockGoesThroughThePtyBuffer) {
    PtyHost host(DcOnChannel4(1.0, false));
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    ASSERT_EQ(client.Connect(), "Q");
    client.Write("l4ARS8");  // 100 samples/s: paced, this would take 82 s
    const std::string block = client.Read(16384, 20000);
    client.Write("8");
    ASSERT_EQ(block.size(), 16384u);
    std::string expected;
    for (int i = 0; i < 8192; ++i) expected += "\x02\x66";  // 614 counts
    EXPECT_EQ(block, expected);
}

TEST(PtyHostTest, LinkPointsAtTheSlaveAndIsReplacedAtomically) {
    const std::string dir = TempDir();
    const std::string link = dir + "/tty";
    PtyHost host(Options{});
    std::string error;
    EXPECT_FALSE(host.Link(link, &error)) << "not started";
    ASSERT_TRUE(host.Start(&error)) << error;
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    ASSERT_TRUE(host.Link(link, &error)) << error;
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), host.SlavePath());
    Client client;
    ASSERT_TRUE(client.Open(link));
    EXPECT_EQ(client.Connect(), "Q");

    const std::string file = dir + "/file";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_FALSE(host.Link(file, &error));
    EXPECT_NE(error.find(file), std::string::npos) << error;
    struct stat st {};
    EXPECT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "a file that is not a symlink is left alone";

    host.Stop();
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link goes with the instrument";
    unlink(file.c_str());
    rmdir(dir.c_str());
}

class HangUpTest : public ::testing::TestWithParam<bool> {};

TEST_P(HangUpTest, TheProgramSeesTheDeviceGo) {
    const bool byFault = GetParam();
    Options options = DcOnChannel4(0.0);
    if (byFault) {
        options.fault = Fault::HangUpMidBlock;
        options.faultSamples = 10;
    }
    const std::string dir = TempDir();
    const std::string link = dir + "/tty";
    PtyHost host(options);
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    ASSERT_TRUE(host.Link(link, &error)) << error;
    Client client;
    ASSERT_TRUE(client.Open(host.SlavePath()));
    ASSERT_EQ(client.Connect(), "Q");
    client.Write("l4MQS8");
    if (!byFault) {
        client.Read(10, 5000);
        host.HangUp();
    }
    const std::string block = client.Read(1000, 10000);
    EXPECT_TRUE(client.HungUp());
    if (byFault) {
        EXPECT_LE(block.size(), 10u);
    }
    EXPECT_TRUE(host.HungUp());
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "a vanished device takes its name along";
    host.Stop();
    rmdir(dir.c_str());
}

INSTANTIATE_TEST_SUITE_P(Ways, HangUpTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByFault" : "ByHangUp"; });

// pelkor-instrument as a process ----------------------------------------

struct Process {
    pid_t pid = -1;
    int out = -1;  // its stdout
    int err = -1;  // its stderr
};

Process Spawn(const std::vector<std::string>& args) {
    int out[2], err[2];
    Process p;
    if (pipe(out) != 0 || pipe(err) != 0) return p;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> all = {PELKOR_INSTRUMENT_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&p.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) p.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    p.out = out[0];
    p.err = err[0];
    return p;
}

std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char c = 0;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(fd, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    return line;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(InstrumentProcessTest, PublishesTheLinkAnswersAndStopsOnSigterm) {
    const std::string dir = TempDir();
    const std::string link = dir + "/tty";
    Process p = Spawn({"--link", link, "--fast", "--dc", "4:1.0"});
    ASSERT_GT(p.pid, 0);
    EXPECT_EQ(ReadLine(p.out, 10000), link);
    Client client;
    ASSERT_TRUE(client.Open(link));
    EXPECT_EQ(client.Connect(), "Q");
    client.Write("l4MQS8");
    EXPECT_EQ(client.Read(256, 10000), std::string(256, '\x99'));
    client.Write("8");
    client.Close();
    kill(p.pid, SIGTERM);
    EXPECT_EQ(Wait(p.pid), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    close(p.out);
    close(p.err);
    rmdir(dir.c_str());
}

TEST(InstrumentProcessTest, BadArgumentExitsWithTwoAndNamesIt) {
    Process p = Spawn({"--fault", "flaky"});
    ASSERT_GT(p.pid, 0);
    const std::string message = ReadLine(p.err, 10000);
    EXPECT_EQ(Wait(p.pid), 2);
    EXPECT_NE(message.find("\"flaky\""), std::string::npos) << message;
    close(p.out);
    close(p.err);
}

}  // namespace
}  // namespace instrument
