#include "comlink/posix_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "comlink/clock.h"
#include "comlink/device_map.h"

namespace {

constexpr char kParityLetters[] = {'N', 'O', 'E', 'M', 'S'};

// Unix98 pseudo-terminal slaves (Documentation/admin-guide/devices.txt).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

// The rate a driver may settle on and still be taken as the one asked for: the
// character timing of a UART tolerates a few percent.
constexpr int kBaudTolerancePercent = 3;

// Used when a queue size's low 16 bits are 0: a queue of no bytes would drop
// every byte received.
constexpr std::uint32_t kDefaultQueueSize = 4096;

constexpr std::size_t kMaxDiscardPerCall = 65536;

// Beyond the wire time of the queued bytes, what a speed change waits for them: the
// last character in the chip's own buffer and the scheduler's tick.
constexpr std::uint32_t kDrainSlackMs = 2;

// Calls the OS again after EINTR; a bounded number of times, so a signal storm
// cannot hang the caller.
template <class Call>
auto Retry(Call call) {
    auto result = call();
    for (int i = 0; i < 100 && result < 0 && errno == EINTR; ++i) result = call();
    return result;
}

bool IsGoneError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

bool IsMissingIoctl(int err) {
    return err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

}  // namespace

CPosixPort::CPosixPort(int index, int rxSize, int txSize, int noOpen, const PosixOs* osCalls)
    : os(osCalls != nullptr ? osCalls : &RealPosixOs()) {
    if (noOpen != 0) return;
    txQueueSize = static_cast<std::uint32_t>(txSize) & 0xFFFF;
    rxQueueSize = static_cast<std::uint32_t>(rxSize) & 0xFFFF;
    errorCode = 0;
    portIndex = index;
    Init(index);
    Line(LINE_DTR, 1);
    Line(LINE_RTS, 1);
}

CPosixPort::~CPosixPort() {
    if (fd >= 0) Close();
    GiveBackUsage();
}

void CPosixPort::RecordOsError(int err, const char* what) {
    osError = err;
    osErrorText = devicePath + ": " + what + ": " + std::strerror(err);
}

void CPosixPort::MarkHungUp(int err) {
    hungUp = true;
    errorCode = CL_ERR_DEVICE;
    osError = err != 0 ? err : EIO;
    osErrorText = "device gone: " + devicePath +
                  " hung up (unplugged, or the program at the other end stopped)";
}

int CPosixPort::ResizeQueue(std::uint32_t size) {
    if (size == 0) size = kDefaultQueueSize;
    try {
        rxQueue.assign(size, 0);
    } catch (const std::bad_alloc&) {
        rxQueue.clear();
        rxHead = rxCount = 0;
        return CL_ERR_MEMORY;
    }
    rxHead = rxCount = 0;
    return 0;
}

void CPosixPort::Init(int /*portIndex*/) {
    // The index stored at construction decides, as with the Windows port.
    if (PortIndexValid(portIndex) && portUsage[portIndex] != 0) {
        errorCode = CL_ERR_INUSE;
        return;
    }
    if (Open() != 0) return;
    TakeUsage();
    if (int r = ResizeQueue(rxQueueSize); r != 0) {
        errorCode = r;
        return;
    }
    settings = Settings{};
    settings.xonLim = static_cast<std::uint16_t>(rxQueueSize / 4);
    struct serial_icounter_struct counters {};
    if (Retry([&] { return os->ioctl(fd, TIOCGICOUNT, &counters); }) == 0) {
        lastCounters[0] = counters.frame;
        lastCounters[1] = counters.overrun;
        lastCounters[2] = counters.parity;
        lastCounters[3] = counters.brk;
        lastCounters[4] = counters.buf_overrun;
    } else {
        countersMissing = true;
    }
    if (int r = ApplySettings(); r != 0) errorCode = r;
}

int CPosixPort::Open() {
    if (fd >= 0) {
        errorCode = CL_ERR_INUSE;
        return errorCode;
    }
    devicePath = ComDevicePath(portIndex + 1);
    auto fail = [&](int err, std::string text) {
        osError = err;
        osErrorText = std::move(text);
        errorCode = CL_ERR_FAILED;
        return errorCode;
    };
    std::string why;
    int err = 0;
    if (!CheckCharacterDevice(devicePath, &why, &err, os->stat)) return fail(err, why);
    const int opened = Retry(
        [&] { return os->open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (opened < 0) {
        err = errno;
        return fail(err, DescribeDeviceError(err, devicePath));
    }
    // flock keeps out other programs that lock (and holds against root, whom
    // TIOCEXCL does not stop); TIOCEXCL keeps out those that do not lock.
    if (Retry([&] { return os->flock(opened, LOCK_EX | LOCK_NB); }) != 0) {
        err = errno;
        os->close(opened);
        return fail(err, err == EWOULDBLOCK ? DescribeDeviceError(EBUSY, devicePath)
                                            : DescribeDeviceError(err, devicePath));
    }
    if (Retry([&] { return os->ioctl(opened, TIOCEXCL, nullptr); }) != 0) {
        err = errno;
        os->close(opened);
        return fail(err, DescribeDeviceError(err, devicePath));
    }
    struct stat info {};
    isPty = os->fstat(opened, &info) == 0 && S_ISCHR(info.st_mode) &&
            major(info.st_rdev) >= kPtySlaveMajorFirst && major(info.st_rdev) <= kPtySlaveMajorLast;
    if (!isPty && os->procRoot != nullptr) {
        // flock and TIOCEXCL stop only those who come later: a modem manager probing
        // a new adapter, or a terminal program, may hold it already.
        const std::string node = ResolvedDevicePath(devicePath);
        DeviceHolder holder;
        if (os->lockDir != nullptr &&
            !lock.Acquire(os->lockDir, os->procRoot, devicePath, ::getpid(), &holder)) {
            os->close(opened);
            return fail(EBUSY, DescribeHolder(node, holder, true));
        }
        const std::vector<DeviceHolder> holders =
            FindDeviceHolders(os->procRoot, devicePath, ::getpid());
        if (!holders.empty()) {
            lock.Release();
            os->close(opened);
            return fail(EBUSY, DescribeHolder(node, holders.front(), false));
        }
    }
    fd = opened;
    hungUp = false;
    appliedBaud = 0;
    modemLinesMissing = false;
    countersMissing = false;
    return 0;
}

int CPosixPort::Close() {
    if (fd < 0) {
        osError = EBADF;
        osErrorText = devicePath + ": not open";
        errorCode = CL_ERR_CLOSE;
        return errorCode;
    }
    Purge(0, 0);
    Purge(1, 0);
    SetModemLine(TIOCM_DTR, false);
    SetModemLine(TIOCM_RTS, false);
    // The exclusive flag outlives the descriptor on a tty that stays alive (a
    // pseudo-terminal whose master is open): without this, the next program to
    // open the device would be refused as busy.
    Retry([&] { return os->ioctl(fd, TIOCNXCL, nullptr); });
    // Linux releases the descriptor even when close fails, so it is never retried.
    const int r = os->close(fd);
    const int err = errno;
    fd = -1;
    lock.Release();
    if (r != 0 && err != EINTR) {
        RecordOsError(err, "close");
        errorCode = CL_ERR_CLOSE;
        return errorCode;
    }
    return 0;
}

int CPosixPort::ApplySettings() {
    if (hungUp) {
        errorCode = CL_ERR_DEVICE;
        return errorCode;
    }
    if (fd < 0) {
        osError = EBADF;
        osErrorText = devicePath + ": not open";
        return CL_ERR_FAILED;
    }
    const Settings& s = settings;
    if (s.dataBits < 5) {
        osError = EINVAL;
        osErrorText = devicePath + ": " + std::to_string(s.dataBits) +
                      " data bits are not possible on this system (5 to 8)";
        return CL_ERR_DATABITS;
    }
    if (s.baud <= 0) {
        osError = EINVAL;
        osErrorText = devicePath + ": " + std::to_string(s.baud) + " is not a baud rate";
        return CL_ERR_BAUD;
    }
    PosixLine want;
    want.baud = static_cast<unsigned>(s.baud);
    want.dataBits = s.dataBits;
    want.parity = s.parity;
    want.twoStopBits = s.stopBits != 0;  // with 5 data bits CSTOPB gives 1.5
    want.rtsCts = s.rtsControl == 2 || s.outCtsFlow;
    want.xonOutput = s.outX;
    want.xonInput = s.inX;
    want.xonChar = s.xonChar;
    want.xoffChar = s.xoffChar;
    if (isPty) {
        // The kernel keeps every pseudo-terminal at 8 data bits without parity.
        want.dataBits = 8;
        want.parity = 0;
    }
    if (appliedBaud != 0 && want.baud != appliedBaud) WaitOutputSent();
    if (Retry([&] { return os->setLine(fd, want); }) != 0) {
        const int err = errno;
        if (IsGoneError(err)) {
            MarkHungUp(err);
            return CL_ERR_DEVICE;
        }
        RecordOsError(err, "setting the line");
        return err == EINVAL ? CL_ERR_BAUD : CL_ERR_FAILED;
    }
    PosixLine got;
    if (Retry([&] { return os->getLine(fd, &got); }) != 0) {
        RecordOsError(errno, "reading the line settings back");
        return CL_ERR_FAILED;
    }
    const long long diff = static_cast<long long>(got.baud) - want.baud;
    if ((diff < 0 ? -diff : diff) * 100 >
        static_cast<long long>(want.baud) * kBaudTolerancePercent) {
        osError = EINVAL;
        osErrorText = devicePath + " cannot run at " + std::to_string(want.baud) +
                      " baud (the driver set " + std::to_string(got.baud) + ")";
        return CL_ERR_BAUD;
    }
    auto refused = [&](const char* what, int code) {
        osError = EINVAL;
        osErrorText = devicePath + ": the driver refused " + what;
        return code;
    };
    if (got.dataBits != want.dataBits) return refused("the data bits", CL_ERR_DATABITS);
    if (got.parity != want.parity) return refused("the parity", CL_ERR_PARITY);
    if (got.twoStopBits != want.twoStopBits) return refused("the stop bits", CL_ERR_STOPBITS);
    appliedBaud = want.baud;
    appliedBitsPerChar = 1 + got.dataBits + (got.parity != 0 ? 1 : 0) + (got.twoStopBits ? 2 : 1);
    return 0;
}

void CPosixPort::WaitOutputSent() {
    // A speed change that overtakes bytes still queued sends them at the new speed:
    // a USB adapter can take the request before the byte. Wait for the queue, but no
    // longer than its bytes need on the wire plus a little, so a queue that never
    // empties (output held by flow control) cannot hang the caller.
    const int queued = OutputQueued();
    if (queued <= 0 || appliedBaud == 0) return;
    const std::uint64_t bits = static_cast<std::uint64_t>(queued) * appliedBitsPerChar;
    const std::uint32_t limitMs =
        static_cast<std::uint32_t>((bits * 1000 + appliedBaud - 1) / appliedBaud) + kDrainSlackMs;
    const std::uint32_t start = ClockTickMs();
    while (TicksSince(start) < limitMs) {
        ClockSleepMs(1);
        if (OutputQueued() == 0) return;
    }
}

void CPosixPort::GatherLineCounters() {
    if (countersMissing || fd < 0) return;
    struct serial_icounter_struct c {};
    if (Retry([&] { return os->ioctl(fd, TIOCGICOUNT, &c); }) != 0) {
        if (IsMissingIoctl(errno)) countersMissing = true;
        return;
    }
    const int now[5] = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    constexpr std::uint32_t bits[5] = {PORT_ERR_FRAME, PORT_ERR_OVERRUN, PORT_ERR_PARITY,
                                       PORT_ERR_BREAK, PORT_ERR_RXOVER};
    for (int i = 0; i < 5; ++i) {
        if (now[i] != lastCounters[i]) pendingErrors |= bits[i];
        lastCounters[i] = now[i];
    }
}

void CPosixPort::Fill() {
    if (fd < 0 || hungUp || rxQueue.empty()) return;
    GatherLineCounters();
    unsigned char discard[512];
    // A far end that writes as fast as it is read must not keep one call here for ever.
    std::size_t discarded = 0;
    for (;;) {
        const std::size_t size = rxQueue.size();
        const std::size_t room = size - rxCount;
        unsigned char* target = discard;
        std::size_t want = sizeof discard;
        if (room > 0) {
            const std::size_t tail = (rxHead + rxCount) % size;
            target = rxQueue.data() + tail;
            want = std::min(room, size - tail);
        }
        const ssize_t r = Retry([&] { return os->read(fd, target, want); });
        if (r > 0) {
            if (room > 0) {
                rxCount += static_cast<std::size_t>(r);
            } else {
                // The queue is full: like the Windows driver, drop what does not fit.
                pendingErrors |= PORT_ERR_RXOVER;
                discarded += static_cast<std::size_t>(r);
                if (discarded >= kMaxDiscardPerCall) return;
            }
            if (static_cast<std::size_t>(r) < want) return;
            continue;
        }
        if (r == 0) {
            // With VMIN 1 a non-blocking read of nothing is EAGAIN, so end of file is
            // a hang-up; poll confirms it for drivers that say otherwise.
            struct pollfd p = {fd, POLLIN, 0};
            if (Retry([&] { return os->poll(&p, 1, 0); }) > 0 &&
                (p.revents & (POLLHUP | POLLERR))) {
                MarkHungUp(0);
            }
            return;
        }
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK) return;
        if (IsGoneError(err)) {
            MarkHungUp(err);
        } else {
            RecordOsError(err, "read");
            errorCode = CL_ERR_FAILED;
        }
        return;
    }
}

int CPosixPort::Idle() {
    if (hungUp) {
        // The code ends the caller's wait; the pause keeps a caller that waits again
        // regardless from spinning on a dead device.
        ClockSleepMs(1);
        errorCode = CL_ERR_DEVICE;
        return CL_ERR_DEVICE;
    }
    if (fd < 0) {
        // Nothing to wait on; give the time away as the Windows port does.
        ClockSleepMs(1);
        return 0;
    }
    struct pollfd p = {fd, POLLIN, 0};
    const int r = Retry([&] { return os->poll(&p, 1, 1); });
    if (r < 0) {
        // poll did not wait: without the pause a waiting caller would spin.
        ClockSleepMs(1);
        return 0;
    }
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        const std::size_t before = rxCount;
        Fill();
        // A descriptor that keeps reporting a hang-up with nothing to read would make
        // every wait return at once.
        if (!hungUp && rxCount == before) MarkHungUp(p.revents & POLLNVAL ? EBADF : EIO);
        if (hungUp) return CL_ERR_DEVICE;
    }
    return 0;
}

void CPosixPort::Poll() {
    Fill();
}

int CPosixPort::OutputQueued() {
    int queued = 0;
    if (fd < 0 || Retry([&] { return os->ioctl(fd, TIOCOUTQ, &queued); }) != 0) return 0;
    return queued < 0 ? 0 : queued;
}

void CPosixPort::GetQueueStatus(PortQueueStatus& status, int /*mask*/) {
    Fill();
    status.rxValid = 1;
    status.rxCount = static_cast<std::int32_t>(rxCount);
    status.rxSize = static_cast<std::int32_t>(rxQueue.empty() ? rxQueueSize : rxQueue.size());
    status.txValid = 1;
    status.txCount = OutputQueued();
    status.txSize = static_cast<std::int32_t>(txQueueSize);
    std::uint16_t flags = 0;
    // The kernel tells no XON/XOFF state; a CTS hold is the one hold it shows.
    if ((settings.outCtsFlow || settings.rtsControl == 2) && ModemLine(MODEM_CTS) == 0 &&
        !modemLinesMissing) {
        flags |= 2;
    }
    status.blockFlags = flags;
}

int CPosixPort::SetQueues(int rxSize, int xoffLimit, int txSize) {
    Purge(0, 0);
    Purge(1, 0);
    if (rxSize != 0) rxQueueSize = static_cast<std::uint32_t>(rxSize) & 0xFFFF;
    if (txSize != 0) txQueueSize = static_cast<std::uint32_t>(txSize) & 0xFFFF;
    settings.xonLim = static_cast<std::uint16_t>(rxSize / 4);
    if (xoffLimit != 0) settings.xoffLim = static_cast<std::uint16_t>(xoffLimit);
    if (fd >= 0) {
        if (int r = ResizeQueue(rxQueueSize); r != 0) {
            errorCode = r;
            return r;
        }
    }
    Purge(0, 0);
    Purge(1, 0);
    if (int r = ApplySettings(); r != 0) {
        errorCode = r;
        return r;
    }
    return 0;
}

int CPosixPort::SetHandshake(int type, int kind) {
    Settings& s = settings;
    s.inX = false;
    s.outX = false;
    if (s.rtsControl == 2) s.rtsControl = 1;
    if (s.dtrControl == 2) s.dtrControl = 1;
    s.outCtsFlow = false;
    switch (type) {
        case LINE_NONE:
            break;
        case LINE_XONXOFF:
            s.inX = true;
            break;
        case LINE_RTS:
            s.rtsControl = 2;
            break;
        case LINE_DTR:  // no DTR flow control in the Linux serial drivers
        case LINE_DSR:
            errorCode = CL_ERR_UNSUPPORTED;
            return CL_ERR_UNSUPPORTED;
        default:
            errorCode = CL_ERR_HSTYPE;
            return CL_ERR_FAILED;
    }
    switch (kind) {
        case LINE_NONE:
            break;
        case LINE_XONXOFF:
            s.outX = true;
            break;
        case LINE_CTS:
            s.outCtsFlow = true;
            break;
        case LINE_DSR:  // no DSR flow control in the Linux serial drivers
        case LINE_DCD:
            errorCode = CL_ERR_UNSUPPORTED;
            return CL_ERR_UNSUPPORTED;
        default:
            errorCode = CL_ERR_HSKIND;
            return CL_ERR_HSKIND;
    }
    if (int r = ApplySettings(); r != 0) {
        errorCode = r;
        return r;
    }
    handshakeType = type;
    handshakeKind = kind;
    return 0;
}

int CPosixPort::GetHandshake(int& type, int& kind) {
    type = handshakeType;
    kind = handshakeKind;
    return 0;
}

int CPosixPort::Break(int value) {
    if (value < 0) return breakState;
    if (fd < 0 || hungUp) {
        errorCode = hungUp ? CL_ERR_DEVICE : CL_ERR_BREAK;
        return errorCode;
    }
    const unsigned long request = value == 1 ? TIOCSBRK : TIOCCBRK;
    if (Retry([&] { return os->ioctl(fd, request, nullptr); }) != 0 && errno != ENOTTY) {
        RecordOsError(errno, value == 1 ? "setting the break" : "clearing the break");
        errorCode = CL_ERR_BREAK;
        return CL_ERR_BREAK;
    }
    breakState = static_cast<std::uint16_t>(value);
    return breakState;
}

void CPosixPort::SetModemLine(int tiocmBit, bool on) {
    if (fd < 0 || modemLinesMissing || hungUp) return;
    int bits = tiocmBit;
    if (Retry([&] { return os->ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits); }) != 0 &&
        IsMissingIoctl(errno)) {
        // A pseudo-terminal has no modem lines; the stored states still answer.
        modemLinesMissing = true;
    }
}

int CPosixPort::ModemLine(int which) {
    if (which == 1) return dtrState;
    if (which == 2) return rtsState;
    if (fd < 0 || modemLinesMissing || hungUp) return 0;
    int lines = 0;
    if (Retry([&] { return os->ioctl(fd, TIOCMGET, &lines); }) != 0) {
        if (IsMissingIoctl(errno)) modemLinesMissing = true;
        return 0;
    }
    int tiocm = 0;
    if (which & MODEM_CTS) tiocm |= TIOCM_CTS;
    if (which & MODEM_DSR) tiocm |= TIOCM_DSR;
    if (which & MODEM_RING) tiocm |= TIOCM_RI;
    if (which & MODEM_DCD) tiocm |= TIOCM_CD;
    return (lines & tiocm) != 0 ? 1 : 0;
}

int CPosixPort::Line(int code, int value) {
    if (code == LINE_BREAK) return Break(value);
    if ((code == LINE_DTR || code == LINE_RTS) && value != -1) {
        const bool on = value != 0;
        if (code == LINE_DTR) {
            dtrState = on ? 1 : 0;
            settings.dtrControl = on ? 1 : 0;
            SetModemLine(TIOCM_DTR, on);
        } else {
            rtsState = on ? 1 : 0;
            settings.rtsControl = on ? 1 : 0;
            SetModemLine(TIOCM_RTS, on);
        }
    }
    switch (code) {
        case LINE_DTR:
            return ModemLine(1);
        case LINE_RTS:
            return ModemLine(2);
        case LINE_CTS:
            return ModemLine(MODEM_CTS);
        case LINE_DSR:
            return ModemLine(MODEM_DSR);
        case LINE_RI:
            return ModemLine(MODEM_RING);
        case LINE_DCD:
            return ModemLine(MODEM_DCD);
        case 17:
        case 18:
        case 19:
        case 20:
            return 0;
        case LINE_OVERRUN:
            return (pendingErrors & PORT_ERR_OVERRUN) ? 1 : 0;
        case LINE_PARITYERR:
            return (pendingErrors & PORT_ERR_PARITY) ? 1 : 0;
        case LINE_FRAMEERR:
            return (pendingErrors & PORT_ERR_FRAME) ? 1 : 0;
        case LINE_BREAKDETECT:
            return (pendingErrors & PORT_ERR_BREAK) ? 1 : 0;
        case LINE_RXOVERFLOW:
            return (pendingErrors & PORT_ERR_RXOVER) ? 1 : 0;
        default:
            return 2;
    }
}

int CPosixPort::SetLineParams(int baud, char parity, int dataBits, int stopBits) {
    const char* letter = std::find(std::begin(kParityLetters), std::end(kParityLetters), parity);
    if (letter == std::end(kParityLetters)) {
        errorCode = CL_ERR_PARITY;
        return errorCode;
    }
    settings.parity = static_cast<int>(letter - kParityLetters);
    settings.baud = baud;
    if (dataBits < 4 || dataBits > 8) {
        errorCode = CL_ERR_DATABITS;
        return errorCode;
    }
    settings.dataBits = dataBits;
    if (stopBits < 1 || stopBits > 2) {
        errorCode = CL_ERR_STOPBITS;
        return errorCode;
    }
    settings.stopBits = dataBits == 5 ? 1 : (stopBits == 2 ? 2 : 0);
    if (int r = ApplySettings(); r != 0) {
        errorCode = r;
        return r;
    }
    return 0;
}

void CPosixPort::GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) {
    baud = settings.baud;
    dataBits = settings.dataBits;
    stopBits = settings.stopBits == 2 ? 2 : 1;
    parity = settings.parity >= 0 && settings.parity < 5 ? kParityLetters[settings.parity] : '\0';
}

int CPosixPort::GetLineStatus(LineStatusBits& bits) {
    Poll();
    for (int code : lineStatusOrder) bits.SetField(code, Line(code, -1));
    pendingErrors = 0;
    return 0;
}

int CPosixPort::WriteChar(unsigned char c) {
    if (Write(&c, 1) == 1) return 0;
    return errorCode;
}

int CPosixPort::WriteString(const char* text) {
    return static_cast<int>(Write(text, static_cast<unsigned>(std::strlen(text))));
}

unsigned CPosixPort::Write(const void* buffer, unsigned count) {
    Fill();
    unsigned accepted = 0;
    if (fd >= 0 && !hungUp && count > 0) {
        const int queued = OutputQueued();
        const unsigned room =
            txQueueSize > static_cast<unsigned>(queued) ? txQueueSize - queued : 0;
        const unsigned n = std::min(count, room);
        if (n > 0) {
            const ssize_t r = Retry([&] { return os->write(fd, buffer, n); });
            if (r > 0) {
                accepted = static_cast<unsigned>(r);
            } else if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                const int err = errno;
                if (IsGoneError(err)) {
                    MarkHungUp(err);
                } else {
                    RecordOsError(err, "write");
                }
            }
        }
    }
    if (accepted < count) errorCode = hungUp ? CL_ERR_DEVICE : CL_ERR_TXSHORT;
    return accepted;
}

int CPosixPort::TransmitChar(unsigned char c) {
    // No queue of our own sits before the kernel's, so the character goes out next.
    if (fd < 0 || hungUp) return CL_ERR_FAILED;
    return Retry([&] { return os->write(fd, &c, 1); }) == 1 ? 0 : CL_ERR_FAILED;
}

int CPosixPort::ReadChar() {
    unsigned char c = 0;
    return Read(&c, 1) == 1 ? c : CL_ERR_NODATA;
}

int CPosixPort::TakeQueued(unsigned char* out, unsigned count) {
    unsigned taken = 0;
    const std::size_t size = rxQueue.size();
    while (taken < count && rxCount > 0) {
        const std::size_t n = std::min<std::size_t>({count - taken, rxCount, size - rxHead});
        std::memcpy(out + taken, rxQueue.data() + rxHead, n);
        taken += static_cast<unsigned>(n);
        rxHead = (rxHead + n) % size;
        rxCount -= n;
    }
    if (rxCount == 0) rxHead = 0;
    return static_cast<int>(taken);
}

unsigned CPosixPort::Read(void* buffer, unsigned count) {
    auto* out = static_cast<unsigned char*>(buffer);
    // Take first, then fill: the queue has the most room when the device is read.
    unsigned total = static_cast<unsigned>(TakeQueued(out, count));
    if (total < count) {
        Fill();
        total += static_cast<unsigned>(TakeQueued(out + total, count - total));
    }
    return total;
}

int CPosixPort::Purge(int which, int count) {
    if (which != 0) {
        if (fd >= 0) os->tcflush(fd, TCOFLUSH);
        return 0;
    }
    if (count <= 0) {
        rxHead = rxCount = 0;
        if (fd >= 0) os->tcflush(fd, TCIFLUSH);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (ReadChar() == CL_ERR_NODATA) return 0;
    }
    return CL_ERR_FAILED;
}

void CPosixPort::Dump(const DumpOutput& output) {
    const Settings& s = settings;
    char line[160];
    std::snprintf(line, sizeof line,
                  "Port type: POSIX termios  BaudRate: %-6u  ByteSize: %1d  Parity: %1d",
                  static_cast<unsigned>(s.baud), s.dataBits, s.parity);
    output(line);
    std::snprintf(line, sizeof line, "StopBits: %1d  fBinary: %1d  fRtsControl: %1d", s.stopBits, 1,
                  s.rtsControl);
    output(line);
    std::snprintf(
        line, sizeof line,
        "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d", 0,
        s.outCtsFlow ? 1 : 0, 0, s.dtrControl, s.outX ? 1 : 0, s.inX ? 1 : 0);
    output(line);
    std::snprintf(line, sizeof line, "Null: %1d  XonChar: %02x  XoffChar: %02x", 0, s.xonChar,
                  s.xoffChar);
    output(line);
    std::snprintf(line, sizeof line, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
                  static_cast<unsigned>(s.xonLim), static_cast<unsigned>(s.xoffLim), 0, 0);
    output(line);
    PortQueueStatus status{};
    GetQueueStatus(status, 7);
    std::snprintf(line, sizeof line,
                  "RX sz/ct: %5d/%-5d  TX sz/ct: %5d/%-5d  BLOCK SENT:%d  BLOCK RECEIVED:%d",
                  status.rxSize, status.rxCount, status.txSize, status.txCount,
                  status.blockFlags & 1, (status.blockFlags >> 1) & 1);
    output(line);
}
