// A stand-in for the part of the Win32 API that the Windows port uses, so the
// port's own source builds and runs on Linux. Written from what the port
// expects of the platform: the records carry the fields the port touches, and
// the calls act on simulated COM devices (queues with sizes, line errors,
// modem lines, pending overlapped I/O, injectable failures). It is as strict as
// the platform where a port can go wrong: writes stay pending, a wait without an
// event of its own ends with any completion on the device handle and leaves its
// own operation running, held lines keep writes pending, fAbortOnError aborts
// I/O after a line error, and SetCommState judges the state as the serial driver
// does. A wait that could never end is recorded as a violation instead. The
// win32double namespace below is the test's handle on those devices.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

using BOOL = int;
using BYTE = unsigned char;
using WORD = unsigned short;
using DWORD = std::uint32_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr DWORD MAXDWORD = 0xffffffffu;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;

// What the I/O manager leaves in OVERLAPPED::Internal while an operation runs;
// like every success status it does not make GetOverlappedResult fail.
constexpr ULONG_PTR STATUS_PENDING = 0x103;

constexpr DWORD INFINITE = 0xffffffffu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xffffffffu;

constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

constexpr DWORD SETXOFF = 1;
constexpr DWORD SETXON = 2;
constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;

constexpr DWORD MS_CTS_ON = 0x0010;
constexpr DWORD MS_DSR_ON = 0x0020;
constexpr DWORD MS_RING_ON = 0x0040;
constexpr DWORD MS_RLSD_ON = 0x0080;

constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;

constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE h);
BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE h, DCB* dcb);
BOOL SetCommState(HANDLE h, DCB* dcb);
BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts);
BOOL SetCommMask(HANDLE h, DWORD mask);
BOOL GetCommMask(HANDLE h, LPDWORD mask);
BOOL WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED overlapped);
BOOL ClearCommError(HANDLE h, LPDWORD errors, COMSTAT* stat);
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
BOOL PurgeComm(HANDLE h, DWORD flags);
BOOL EscapeCommFunction(HANDLE h, DWORD function);
BOOL SetCommBreak(HANDLE h);
BOOL ClearCommBreak(HANDLE h);
BOOL GetCommModemStatus(HANDLE h, LPDWORD status);
BOOL TransmitCommChar(HANDLE h, char c);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
DWORD WaitForSingleObject(HANDLE h, DWORD ms);
DWORD GetLastError();
void SetLastError(DWORD error);
void Sleep(DWORD ms);
DWORD GetTickCount();

namespace win32double {

// One simulated COM device.
struct Device {
    // What CreateFileA meets: 0 opens, any other value fails with that error
    // (ERROR_ACCESS_DENIED: busy in another program).
    DWORD openError = 0;
    bool open = false;
    DCB applied = {};  // the state the device runs with
    COMMTIMEOUTS timeouts = {};
    DWORD inQueueSize = 0;  // from SetupComm
    DWORD outQueueSize = 0;
    std::deque<unsigned char> rx;     // received, waiting to be read
    DWORD txBacklog = 0;              // bytes still queued for sending (not yet on the wire)
    std::vector<unsigned char> wire;  // bytes that left the device, in order
    DWORD errors = 0;                 // CE_ bits since the last ClearCommError
    DWORD modemStatus = 0;            // MS_ bits
    bool dtr = false, rts = false, breakOn = false;
    bool ctsHold = false, dsrHold = false, xoffHold = false, xoffSent = false;
    DWORD commMask = 0;
    DWORD events = 0;                 // events that occurred, reported by WaitCommEvent at once
    DWORD eventsLater = 0;            // events that occur while a wait is pending
    std::vector<DWORD> refusedBauds;  // SetCommState fails with ERROR_INVALID_PARAMETER
    // WriteFile leaves its write pending, as serial and USB drivers do; the bytes
    // reach the wire when a wait lets the device send, at CompletePendingWrites,
    // or as sentPerPoll allows. A held line (ctsHold, dsrHold, xoffHold) keeps them
    // pending through any of these.
    bool writesPend = true;
    bool readsPend = false;  // ReadFile leaves its read pending
    // Each ClearCommError lets the device send this many queued bytes (the
    // backlog first, then whole pending writes), as time passing would.
    DWORD sentPerPoll = 0;
    // After a line error with fAbortOnError applied, reads and writes fail with
    // ERROR_OPERATION_ABORTED until ClearCommError.
    bool abortBlocked = false;
    // Every applied change of BaudRate: the bytes already on the wire then, and
    // those still queued for sending (which a real UART would send at the new rate).
    struct BaudChange {
        DWORD baud;
        std::size_t onWire;
        DWORD stillQueued;
    };
    std::vector<BaudChange> baudChanges;
};

// Everything the double knows; Reset() starts afresh.
struct World {
    std::map<std::string, Device> devices;               // by name, e.g. "\\.\COM1"
    std::vector<std::string> calls;                      // API calls in order, by name
    std::map<std::string, std::vector<DWORD>> failures;  // next failures of a call, by name
    DWORD lastError = 0;
    // An overlapped record reused or released while pending, a wait that could
    // never end, or a wait on something that is no event.
    int violations = 0;
    std::string violationText;
    DWORD lastAccess = 0, lastShare = 0, lastDisposition = 0, lastFlags = 0;
};

World& world();
void Reset();
// Adds a device under its Win32 name ("\\.\COM1" for COM1), as a driver would
// report it before anyone configured it.
Device& AddDevice(int comNumber);
Device& DeviceFor(int comNumber);
// The next `times` calls of `function` fail with `error`.
void FailNext(const std::string& function, DWORD error, int times = 1);
int CallCount(const std::string& function);
// The device finishes every pending write in the background: the bytes are
// taken from the writer's buffer now, as a device reads them at transfer time.
void CompletePendingWrites();
int PendingWrites();
int PendingReads();
// A line error arrives (CE_ bits): recorded for ClearCommError; with
// fAbortOnError applied it aborts every pending read and write of the device and
// blocks I/O until the next ClearCommError, as the platform does.
void LineError(Device& device, DWORD errors);
// Events made by CreateEventA and not yet closed.
int OpenEvents();

}  // namespace win32double
