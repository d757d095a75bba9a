// CPosixPort: the serial port on termios. It keeps the library's contract of the
// Windows port: a copy of the line settings that every setting operation edits and
// applies whole, reads that take only what has arrived, writes that never wait,
// line errors gathered by every call that asks the device for its state, and the
// same results and stored codes. Only the POSIX build includes this header.
#pragma once

#include <cstdint>
#include <vector>

#include "comlink/port.h"
#include "comlink/posix_os.h"
#include "comlink/serial_access.h"

// Modem status bits of ModemLine, as the Windows port's (MS_CTS_ON etc.).
constexpr int MODEM_CTS = 0x10;
constexpr int MODEM_DSR = 0x20;
constexpr int MODEM_RING = 0x40;
constexpr int MODEM_DCD = 0x80;

// Line-error bits gathered in pendingErrors, with the Windows CE_ values.
constexpr std::uint32_t PORT_ERR_RXOVER = 0x0001;
constexpr std::uint32_t PORT_ERR_OVERRUN = 0x0002;
constexpr std::uint32_t PORT_ERR_PARITY = 0x0004;
constexpr std::uint32_t PORT_ERR_FRAME = 0x0008;
constexpr std::uint32_t PORT_ERR_BREAK = 0x0010;

class CPosixPort : public CComPort {
  public:
    // Opens COM(portIndex + 1) through the device map unless noOpen is non-zero.
    // Queue sizes count with their low 16 bits, as on Windows. The outcome is
    // GetError(): 0 = open and ready; -838 when another live port object holds the
    // index; -801 when the device is missing, not a serial port, refused or busy
    // (osError and osErrorText say which), also when another program already holds
    // a serial device (not a pseudo-terminal, whose far end always holds it) open or
    // by its UUCP lock file. `os` replaces the OS calls (not owned).
    CPosixPort(int portIndex, int rxSize, int txSize, int noOpen, const PosixOs* os = nullptr);
    ~CPosixPort() override;

    // Waits at most 1 ms for input: 0, or -828 once the device has hung up.
    int Idle() override;
    void Poll() override;
    void Init(int portIndex) override;
    int Open() override;
    int Close() override;
    void GetQueueStatus(PortQueueStatus& status, int mask) override;
    int SetQueues(int rxSize, int xoffLimit, int txSize) override;
    // Linux has no DTR input or DSR output flow control: types 3 (DTR) and 13
    // (DSR) and kind 13 (DSR) and 15 (DCD) give -803. RTS input and CTS output
    // handshake are one kernel setting (CRTSCTS): either turns on both.
    int SetHandshake(int type, int kind) override;
    int GetHandshake(int& type, int& kind) override;
    int Break(int value) override;
    int Line(int code, int value) override;
    // Any integer baud rate; the device's setting is read back and a rate it did
    // not take within 3% gives -839. On a pseudo-terminal the kernel forces 8 data
    // bits without parity; GetLineParams still reports what was set.
    int SetLineParams(int baud, char parity, int dataBits, int stopBits) override;
    void GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) override;
    int GetLineStatus(LineStatusBits& bits) override;
    int WriteChar(unsigned char c) override;
    int WriteString(const char* text) override;
    unsigned Write(const void* buffer, unsigned count) override;
    int TransmitChar(unsigned char c) override;
    int ReadChar() override;
    unsigned Read(void* buffer, unsigned count) override;
    int Purge(int which, int count) override;
    void Dump(const DumpOutput& output) override;

    // which 1: dtrState; 2: rtsState; otherwise 1 if any MODEM_ bit of which is
    // on. Without modem lines (a pseudo-terminal) CTS, DSR, RING and DCD are off.
    virtual int ModemLine(int which);

    // True once the device has hung up (read end of file, POLLHUP, EIO).
    bool HungUp() const { return hungUp; }
    // True when the open device is a pseudo-terminal.
    bool IsPseudoTerminal() const { return isPty; }

    std::int32_t handshakeType = 0;
    std::int32_t handshakeKind = 0;
    std::int32_t rtsState = 1;
    std::int32_t dtrState = 1;
    std::uint16_t breakState = 0;
    std::uint32_t pendingErrors = 0;
    std::uint32_t txQueueSize = 0;
    std::uint32_t rxQueueSize = 0;

  private:
    // The port's copy of the line settings, in the Windows DCB's terms.
    struct Settings {
        int baud = 19200;
        int dataBits = 8;
        int parity = 0;      // index into the parity letters N O E M S
        int stopBits = 0;    // 0 one, 1 one and a half, 2 two (the DCB's codes)
        int rtsControl = 0;  // 0 disable, 1 enable, 2 handshake
        int dtrControl = 1;
        bool outCtsFlow = false;
        bool outX = false;
        bool inX = false;
        unsigned char xonChar = 0x11;
        unsigned char xoffChar = 0x13;
        std::uint16_t xonLim = 0;
        std::uint16_t xoffLim = 128;
    };

    int ApplySettings();
    // Moves what the descriptor holds into the receive queue and gathers line
    // errors: the counterpart of ClearCommError.
    void Fill();
    void GatherLineCounters();
    int TakeQueued(unsigned char* out, unsigned count);
    int ResizeQueue(std::uint32_t size);
    void RecordOsError(int err, const char* what);
    void MarkHungUp(int err);
    void SetModemLine(int tiocmBit, bool on);
    int OutputQueued();
    // Before a speed change: until the output queue is empty, bounded by the queued
    // bytes' wire time at the current speed plus 2 ms.
    void WaitOutputSent();

    const PosixOs* os;
    int fd = -1;
    bool isPty = false;
    bool hungUp = false;
    bool modemLinesMissing = false;
    bool countersMissing = false;
    unsigned appliedBaud = 0;  // the speed on the device; 0 before the first setting
    unsigned appliedBitsPerChar = 10;
    CDeviceLock lock;
    int lastCounters[5] = {};  // frame, overrun, parity, break, buffer overrun
    Settings settings;
    std::vector<unsigned char> rxQueue;  // ring of rxQueue.size() bytes
    std::size_t rxHead = 0;              // oldest byte
    std::size_t rxCount = 0;
};

// The OS calls of the ports that CreateComPort makes from now on: `os` (not owned),
// or the real ones for null. For tests that make a device refuse something.
// Returns the previous table, null for the real one.
const PosixOs* SetFactoryPosixOs(const PosixOs* os);
