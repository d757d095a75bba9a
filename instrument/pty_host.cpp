// Runs the instrument model on a pseudo-terminal pair.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "instrument/instrument.h"
#include "instrument/line_speed.h"

namespace instrument {

namespace {

constexpr int kMaxWaitMs = 50;                // bounds how late a stop request is seen
constexpr std::size_t kMaxPending = 1 << 20;  // paced bytes the program has not taken yet
constexpr std::size_t kUnpacedChunk = 1024;   // unpaced: a stop byte ends the stream soon
constexpr std::size_t kReadChunk = 4096;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool SetCloseOnExec(int fd) {
    return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// The latest bytes read, each with its line speed, in a ring of fixed size.
// Its memory is taken and touched once at the start, so a long run (the demo,
// a soak) neither grows nor moves bytes around.
class ReceivedRecord {
public:
    ReceivedRecord() : bytes_(kReceivedKept), speeds_(kReceivedKept) {}

    void Add(unsigned char byte, int speed) {
        bytes_[next_] = byte;
        speeds_[next_] = speed;
        next_ = (next_ + 1) % kReceivedKept;
        if (held_ < kReceivedKept) ++held_;
    }
    void Clear() { held_ = 0; }
    std::vector<unsigned char> Bytes() const { return InOrder(bytes_); }
    std::vector<int> Speeds() const { return InOrder(speeds_); }

private:
    template <typename T>
    std::vector<T> InOrder(const std::vector<T>& ring) const {
        std::vector<T> out;
        out.reserve(held_);
        const std::size_t first = (next_ + kReceivedKept - held_) % kReceivedKept;
        for (std::size_t i = 0; i < held_; ++i) out.push_back(ring[(first + i) % kReceivedKept]);
        return out;
    }

    std::vector<unsigned char> bytes_;
    std::vector<int> speeds_;
    std::size_t next_ = 0;  // where the next byte goes
    std::size_t held_ = 0;  // how many of the latest are kept
};

}  // namespace

struct PtyHost::Impl {
    explicit Impl(Options o) : options(std::move(o)), model(options) {}

    Options options;
    mutable std::mutex mutex;  // model, received bytes, hungUp, links
    std::condition_variable hungUpChanged;
    Model model;
    ReceivedRecord received;
    unsigned long long receivedTotal = 0;
    bool hungUp = false;
    bool running = false;
    std::vector<std::string> links;

    int master = -1;
    int slave = -1;  // held so the master never reads EIO while no program has the slave open
    int wake[2] = {-1, -1};
    int openWatch = -1;  // inotify on the slave: when the program closes it
    std::string slavePath;
    std::FILE* log = nullptr;
    std::thread thread;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> hangUpRequested{false};
    std::chrono::steady_clock::time_point epoch;

    // Thread-only state.
    std::vector<unsigned char> pending;
    long dropped = 0;

    double Now() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch).count();
    }
    void Wake() {
        if (wake[1] < 0) return;
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(wake[1], &c, 1);
    }
    void Run();
    void Loop();
    bool ReadCommands();  // false when the master failed, not merely empty
    void WatchOpeners();
    bool OthersHoldSlave() const;
    void WritePending();
    void DropUnsentOutput();
    void CloseDevice();
    void RemoveLinks();  // caller holds mutex
    void LogByte(double time, const char* direction, int speed, unsigned char byte,
                 const char* note);
};

void PtyHost::Impl::LogByte(double time, const char* direction, int speed, unsigned char byte,
                            const char* note) {
    if (!log) return;
    const char shown = std::isprint(byte) ? static_cast<char>(byte) : '.';
    std::fprintf(log, "%.6f %s %6d 0x%02x %c%s%s\n", time, direction, speed, byte, shown,
                 note ? "  " : "", note ? note : "");
}

void PtyHost::Impl::RemoveLinks() {
    for (const std::string& link : links) {
        char target[PATH_MAX];
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n < 0) continue;
        target[n] = '\0';
        // Someone may have pointed it elsewhere since: leave that alone.
        if (slavePath == target) unlink(link.c_str());
    }
    links.clear();
}

void PtyHost::Impl::CloseDevice() {
    std::lock_guard<std::mutex> lock(mutex);
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
    // A vanished device takes its name with it, as a USB adapter's does.
    RemoveLinks();
    hungUp = true;
    hungUpChanged.notify_all();
}

bool PtyHost::Impl::ReadCommands() {
    unsigned char buf[kReadChunk];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        if (n <= 0) return false;
        // The speed now is the speed the program had set when it wrote these
        // bytes, unless it switched since; the model allows for that at '9'.
        const int speed = ReadLineSpeed(master);
        const double now = Now();
        std::lock_guard<std::mutex> lock(mutex);
        for (ssize_t i = 0; i < n; ++i) {
            const ByteUse use = model.Receive(buf[i], speed, now);
            if (use == ByteUse::SpeedChange) DropUnsentOutput();
            received.Add(buf[i], speed);
            ++receivedTotal;
            LogByte(now, "in ", speed, buf[i], ByteUseName(use));
        }
        if (static_cast<std::size_t>(n) < sizeof buf) return true;
    }
}

// The exclusive-use flag (TIOCEXCL) belongs to the tty, not to a descriptor, and
// the kernel clears it only when the tty itself goes away, which the host's own
// slave descriptor prevents. So a program that set it and closed would lock out
// every later open by a normal user. When the slave is closed and no other
// descriptor is left on it, clear the flag. inotify coalesces equal events, so
// it only says when to look, and /proc says who still has the slave open.
void PtyHost::Impl::WatchOpeners() {
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = read(openWatch, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            if (e->mask & (IN_CLOSE | IN_Q_OVERFLOW)) closed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    if (!closed || slave < 0) return;
    int exclusive = 0;
    if (ioctl(slave, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
    if (!OthersHoldSlave()) ioctl(slave, TIOCNXCL);
}

bool PtyHost::Impl::OthersHoldSlave() const {
    struct stat own {};
    if (fstat(slave, &own) != 0) return true;
    const std::string self = std::to_string(getpid());
    const std::string ownFd = std::to_string(slave);
    DIR* proc = opendir("/proc");
    if (!proc) return true;  // cannot tell: keep the flag
    bool held = false;
    while (dirent* p = readdir(proc)) {
        if (held) break;
        if (p->d_name[0] < '0' || p->d_name[0] > '9') continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;  // gone, or another user's
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] < '0' || f->d_name[0] > '9') continue;
            if (self == p->d_name && ownFd == f->d_name) continue;
            struct stat st {};
            if (stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == own.st_rdev) {
                held = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return held;
}

void PtyHost::Impl::WritePending() {
    std::size_t done = 0;
    while (done < pending.size()) {
        const ssize_t n = write(master, pending.data() + done, pending.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // EAGAIN: the program has not read enough yet
        if (log) {
            const double now = Now();
            const int speed = ReadLineSpeed(master);
            for (ssize_t i = 0; i < n; ++i) LogByte(now, "out", speed, pending[done + i], nullptr);
        }
        done += static_cast<std::size_t>(n);
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
}

// A line keeps no bytes for a listener that is not there, and the reset at '9'
// ends the stream: what a program that stopped reading left behind (the host's
// backlog and the pseudo-terminal's buffers) must not reach the program that
// connects next.
void PtyHost::Impl::DropUnsentOutput() {
    pending.clear();
    tcflush(master, TCOFLUSH);
    tcflush(slave, TCIFLUSH);
}

void PtyHost::Impl::Run() {
    Loop();
    std::lock_guard<std::mutex> lock(mutex);
    running = false;
    hungUpChanged.notify_all();
}

void PtyHost::Impl::Loop() {
    std::vector<Emission> due;
    while (!stopRequested.load()) {
        const double now = Now();
        double next = 0.0;
        bool hangUp = hangUpRequested.load();
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::size_t room = 0;
            if (options.paced) {
                room = SIZE_MAX;  // a line does not wait for the listener
            } else if (pending.empty()) {
                room = kUnpacedChunk;
            }
            due.clear();
            model.Take(now, room, &due);
            next = model.NextDue();
            // A real device that vanishes takes whatever it had not sent along.
            hangUp = hangUp || model.HangUpDue();
        }
        for (const Emission& e : due) {
            if (pending.size() < kMaxPending) {
                pending.push_back(e.byte);
            } else if (dropped++ == 0 && log) {
                std::fprintf(log, "%.6f the program reads nothing: dropping output\n", now);
            }
        }
        WritePending();
        if (hangUp) {
            CloseDevice();
            return;
        }

        int timeoutMs = kMaxWaitMs;
        if (pending.empty() && next != std::numeric_limits<double>::infinity()) {
            const double wait = std::ceil((next - Now()) * 1000.0);
            timeoutMs = wait <= 0.0 ? 0 : static_cast<int>(std::min<double>(wait, kMaxWaitMs));
        }
        pollfd fds[3] = {{master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                         {wake[0], POLLIN, 0},
                         {openWatch, POLLIN, 0}};
        if (log) std::fflush(log);
        const int ready = poll(fds, 3, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            char sink[64];
            while (read(wake[0], sink, sizeof sink) > 0) {
            }
        }
        if (fds[2].revents & POLLIN) WatchOpeners();
        const bool failed = (fds[0].revents & POLLIN) ? !ReadCommands()
                                                      : (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        if (failed) {
            // Not expected while the host holds the slave; never spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

PtyHost::PtyHost(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

PtyHost::~PtyHost() {
    Stop();
}

bool PtyHost::Start(std::string* error) {
    Impl& d = *impl_;
    if (d.thread.joinable() || d.master >= 0) {
        *error = "the instrument is already started";
        return false;
    }
    if (d.hungUp) {
        *error = "the instrument has hung up; make a new one";
        return false;
    }
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        *error = Errno("cannot open a pseudo-terminal");
        return false;
    }
    char name[128];
    termios tio{};
    const bool ok = ptsname_r(master, name, sizeof name) == 0 && SetCloseOnExec(master) &&
                    SetCloseOnExec(slave) && fcntl(master, F_SETFL, O_NONBLOCK) == 0 &&
                    tcgetattr(slave, &tio) == 0;
    if (ok) {
        // Raw, so the line discipline neither echoes nor rewrites a byte, at
        // the instrument's power-up speed until the program sets its own.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
    }
    if (!ok || tcsetattr(slave, TCSANOW, &tio) != 0 || pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = Errno("cannot set up the pseudo-terminal");
        close(master);
        close(slave);
        return false;
    }
    if (!d.options.logPath.empty()) {
        d.log = std::fopen(d.options.logPath.c_str(), "we");
        if (!d.log) {
            *error = Errno("cannot open the log file " + d.options.logPath);
            close(master);
            close(slave);
            close(d.wake[0]);
            close(d.wake[1]);
            d.wake[0] = d.wake[1] = -1;
            return false;
        }
        std::fprintf(d.log, "# time/s direction speed/baud byte  meaning (slave %s)\n", name);
    }
    // Without inotify the host still works; only the TIOCEXCL clean-up is lost.
    d.openWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (d.openWatch >= 0 && inotify_add_watch(d.openWatch, name, IN_CLOSE) < 0) {
        close(d.openWatch);
        d.openWatch = -1;
    }
    d.master = master;
    d.slave = slave;
    d.slavePath = name;
    d.epoch = std::chrono::steady_clock::now();
    d.stopRequested = false;
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    return true;
}

void PtyHost::Stop() {
    Impl& d = *impl_;
    d.stopRequested = true;
    d.Wake();
    if (d.thread.joinable()) d.thread.join();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.RemoveLinks();
        if (d.master >= 0) close(d.master);
        if (d.slave >= 0) close(d.slave);
        d.master = d.slave = -1;
    }
    for (int* fd : {&d.wake[0], &d.wake[1], &d.openWatch}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (d.log) {
        if (d.dropped > 0) std::fprintf(d.log, "# %ld bytes dropped\n", d.dropped);
        std::fclose(d.log);
        d.log = nullptr;
    }
}

std::string PtyHost::SlavePath() const {
    return impl_->slavePath;
}

bool PtyHost::Link(const std::string& linkPath, std::string* error) {
    Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.master < 0) {
        *error = "the instrument is not running, nothing to link " + linkPath + " to";
        return false;
    }
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = "will not replace " + linkPath + ": it exists and is not a symlink";
        return false;
    }
    // A program that opens the link while it moves sees the old or the new
    // target, never a missing name.
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        linkPath + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    unlink(temp.c_str());
    if (symlink(d.slavePath.c_str(), temp.c_str()) != 0) {
        *error = Errno("cannot create the symlink " + temp);
        return false;
    }
    if (rename(temp.c_str(), linkPath.c_str()) != 0) {
        *error = Errno("cannot rename " + temp + " to " + linkPath);
        unlink(temp.c_str());
        return false;
    }
    for (const std::string& known : d.links) {
        if (known == linkPath) return true;
    }
    d.links.push_back(linkPath);
    return true;
}

std::vector<unsigned char> PtyHost::ReceivedBytes() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->received.Bytes();
}

std::vector<int> PtyHost::ReceivedSpeeds() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->received.Speeds();
}

unsigned long long PtyHost::ReceivedTotal() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->receivedTotal;
}

void PtyHost::ClearReceived() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->received.Clear();
}

void PtyHost::SetFault(Fault fault) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->model.SetFault(fault);
}

void PtyHost::HangUp() {
    Impl& d = *impl_;
    if (!d.thread.joinable()) {
        if (d.master >= 0 || d.slave >= 0) d.CloseDevice();
        return;
    }
    d.hangUpRequested = true;
    d.Wake();
    bool closed = false;
    {
        std::unique_lock<std::mutex> lock(d.mutex);
        d.hungUpChanged.wait(lock, [&d] { return d.hungUp || !d.running; });
        closed = d.hungUp;
    }
    if (!closed) {  // the thread ended before it saw the request
        d.thread.join();
        d.CloseDevice();
    }
}

bool PtyHost::HungUp() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->hungUp;
}

long long PtyHost::SamplesSent() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model.SamplesSentInTotal();
}

}  // namespace instrument
