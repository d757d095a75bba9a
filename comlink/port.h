// The abstract serial port: its records, line codes, error codes and the
// process-wide usage table. Every concrete port derives from CComPort and
// overrides the operations in place, in the order declared here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Line codes: queried and set through Line, kept in LineStatusBits, and (0, 1,
// 3, 4, 12, 13, 15) used as handshake values by SetHandshake.
constexpr int LINE_NONE = 0;
constexpr int LINE_XONXOFF = 1;
constexpr int LINE_DTR = 3;
constexpr int LINE_RTS = 4;
constexpr int LINE_BREAK = 7;
constexpr int LINE_CTS = 12;
constexpr int LINE_DSR = 13;
constexpr int LINE_RI = 14;
constexpr int LINE_DCD = 15;
constexpr int LINE_OVERRUN = 25;
constexpr int LINE_PARITYERR = 26;
constexpr int LINE_FRAMEERR = 27;
constexpr int LINE_BREAKDETECT = 28;
constexpr int LINE_RXOVERFLOW = 31;

// Error codes: every failure of the library is one of these; 0 is success.
constexpr int CL_ERR_FAILED = -801;
constexpr int CL_ERR_NODATA = -802;
constexpr int CL_ERR_UNSUPPORTED = -803;
constexpr int CL_ERR_TXSHORT = -805;
constexpr int CL_ERR_BREAK = -827;
constexpr int CL_ERR_DEVICE = -828;
constexpr int CL_ERR_CLOSE = -829;
constexpr int CL_ERR_HSTYPE = -830;
constexpr int CL_ERR_HSKIND = -832;
constexpr int CL_ERR_MEMORY = -836;
constexpr int CL_ERR_INUSE = -838;
constexpr int CL_ERR_BAUD = -839;
constexpr int CL_ERR_PARITY = -840;
constexpr int CL_ERR_STOPBITS = -841;
constexpr int CL_ERR_DATABITS = -842;

// Status flags of CComLink::CheckStatus.
constexpr std::uint16_t ST_PARITY = 0x01;
constexpr std::uint16_t ST_FRAMING = 0x02;
constexpr std::uint16_t ST_RXOVERFLOW = 0x04;
constexpr std::uint16_t ST_OVERRUN = 0x08;
constexpr std::uint16_t ST_BREAK = 0x10;

// Filled by GetQueueStatus; the caller provides it.
struct PortQueueStatus {
    std::int32_t rxValid;  // 1: the receive figures are filled
    std::int32_t rxCount;  // bytes waiting in the receive queue
    std::int32_t rxSize;   // receive queue size as configured
    std::int32_t txValid;  // 1: the transmit figures are filled
    std::int32_t txCount;  // bytes waiting in the transmit queue
    std::int32_t txSize;   // transmit queue size as configured
    // Bit 0: we sent XOFF (reception held); bit 1: transmission held.
    std::uint16_t blockFlags;
};

// Sixteen 2-bit fields, each the query result Line(code, -1) cut to two bits,
// packed from the two lowest bits of bytes[0] upwards in lineStatusOrder.
struct LineStatusBits {
    std::uint8_t bytes[4];

    // Field of a line code, 0 to 3; 0 for a code that has no field.
    int Field(int code) const;
    // Stores the low two bits of value in the field of code; other codes are ignored.
    void SetField(int code, int value);
};

// The line code of each LineStatusBits field, field 0 first.
// clang-format off
constexpr int lineStatusOrder[16] = {
    LINE_DTR,       LINE_RTS,      LINE_BREAK,      LINE_DSR,
    LINE_CTS,       LINE_RI,       LINE_DCD,        20,
    19,             17,            18,              LINE_BREAKDETECT,
    LINE_PARITYERR, LINE_FRAMEERR, LINE_RXOVERFLOW, LINE_OVERRUN,
};
// clang-format on

// One counter per port index (0 = COM1): non-zero while a live port object
// holds that COM port open. Ports are made and destroyed on one thread.
constexpr int CL_PORT_COUNT = 16;
extern std::uint16_t portUsage[CL_PORT_COUNT];

// True when portIndex has a counter in portUsage.
constexpr bool PortIndexValid(int portIndex) {
    return portIndex >= 0 && portIndex < CL_PORT_COUNT;
}

// Receives one zero-terminated line of Dump.
using DumpOutput = std::function<void(const char* line)>;

class CComPort {
  public:
    CComPort() = default;
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Closes what the object opened and gives back its portUsage count, if it took one.
    virtual ~CComPort();
    // Called by waiting loops between two polls; 0, or a negative code that ends the wait.
    virtual int Idle();
    // Gathers the device's pending line errors into the port.
    virtual void Poll();
    // Opens the device and puts it into the library's default state; outcome in errorCode.
    virtual void Init(int portIndex);
    // Opens the device: 0 or a code.
    virtual int Open();
    // Closes the device: 0 or a code.
    virtual int Close();
    // Fills status; mask says what the caller needs (1: receive figures, 7: all).
    virtual void GetQueueStatus(PortQueueStatus& status, int mask);
    // Resizes the queues and sets the XOFF limit (0 = leave unchanged): 0 or a code.
    virtual int SetQueues(int rxSize, int xoffLimit, int txSize);
    // Selects flow control, input side (type) and output side (kind): 0 or a code.
    virtual int SetHandshake(int type, int kind);
    // The handshake values last set successfully; returns 0.
    virtual int GetHandshake(int& type, int& kind);
    // value < 0 queries, 1 sets the break, 0 clears it: the break state, or a code.
    virtual int Break(int value);
    // Sets DTR, RTS or break (value != -1), then queries the line: see the LINE_ codes.
    virtual int Line(int code, int value);
    // Sets speed and character format; parity is 'N', 'O', 'E', 'M' or 'S': 0 or a code.
    virtual int SetLineParams(int baud, char parity, int dataBits, int stopBits);
    // Reports speed and character format in the terms of SetLineParams.
    virtual void GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits);
    // Fills bits, then forgets the recorded line errors; returns 0.
    virtual int GetLineStatus(LineStatusBits& bits);
    // Queues one character: 0 or a code.
    virtual int WriteChar(unsigned char c);
    // Queues text without its terminator: bytes accepted.
    virtual int WriteString(const char* text);
    // Queues as much as the transmit queue has room for, never waits: bytes accepted.
    virtual unsigned Write(const void* buffer, unsigned count);
    // Sends one character ahead of the transmit queue: 0 or CL_ERR_FAILED.
    virtual int TransmitChar(unsigned char c);
    // Takes one received character (0 to 255), or CL_ERR_NODATA; never waits.
    virtual int ReadChar();
    // Takes at most what is waiting now, up to count bytes; never waits: bytes taken.
    virtual unsigned Read(void* buffer, unsigned count);
    // which != 0 discards the transmit queue; which 0 discards the receive queue
    // (count 0) or drains at most count characters: 0 or CL_ERR_FAILED.
    virtual int Purge(int which, int count);
    // Hands six lines describing the port to output.
    virtual void Dump(const DumpOutput& output);
    // Not supported: CL_ERR_UNSUPPORTED, errorCode unchanged.
    virtual int Spare1();
    virtual int Spare2();

    // The sticky error, left in place.
    int GetError() const { return errorCode; }
    // The sticky error, cleared.
    int TakeError() {
        int e = errorCode;
        errorCode = 0;
        return e;
    }

    std::int32_t portIndex = 0;  // 0 = COM1; set by the concrete port's constructor
    std::int32_t errorCode = 0;  // sticky: the last failure's code until TakeError

    int osError = 0;          // errno or GetLastError() of the last OS failure
    std::string osErrorText;  // a human reason for osError, naming the device
    std::string devicePath;   // the device opened or tried

  protected:
    // True when this object holds a portUsage count.
    bool HoldsUsage() const { return usageHeld; }
    // Raises the counter of portIndex and records that this object holds it.
    // Callers check PortIndexValid and the counter first.
    void TakeUsage();
    // Lowers the counter this object raised (never below 0); safe to call twice.
    void GiveBackUsage();

  private:
    bool usageHeld = false;
};

// Allocates size bytes filled with zero; null when the heap refuses (nothing written).
void* ZeroAlloc(std::size_t size);
// Gives a block from ZeroAlloc back; null is ignored.
void FreeBlock(void* block);

// Lets tests refuse allocations: the hook sees each request and returns false
// to refuse it. Null restores normal allocation. Returns the previous hook.
using ZeroAllocHook = bool (*)(std::size_t size);
ZeroAllocHook SetZeroAllocHook(ZeroAllocHook hook);

// Shows a library error: title "Library Error", one OK button, modal.
using ReportHandler = void (*)(const char* title, const char* text);
// Installs the handler that ReportPureCall uses; null restores the default
// (standard error, or a message box on Windows). Returns the previous one.
ReportHandler SetReportHandler(ReportHandler handler);

// Reports an operation the object's class does not implement, then ends the
// process with exit status 1 through the normal exit. Does not return.
[[noreturn]] void ReportPureCall(const char* file, int line);
// The operation's arguments are passed along but not shown.
template <class... Args>
[[noreturn]] void ReportPureCall(const char* file, int line, const Args&...) {
    ReportPureCall(file, line);
}
