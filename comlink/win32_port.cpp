// CWin32Port over the Win32 communications API (or its test double).
#include "comlink/win32_port.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "comlink/clock.h"

namespace {

struct ParityEntry {
    char letter;
    BYTE value;
};
constexpr ParityEntry ParityTable[] = {
    {'N', NOPARITY}, {'O', ODDPARITY}, {'E', EVENPARITY}, {'M', MARKPARITY}, {'S', SPACEPARITY},
};

// The values that the old comm driver interface reported as errors (IE_BADID to
// IE_BAUDRATE); the platform headers may define those names as macros.
constexpr int kIeBadId = -1;
constexpr int kIeOpen = -2;
constexpr int kIeNotOpen = -3;
constexpr int kIeMemory = -4;
constexpr int kIeDefault = -5;
constexpr int kIeHardware = -10;
constexpr int kIeByteSize = -11;
constexpr int kIeBaudRate = -12;

// Margin over the wire time for a previous write to end: a driver completes a
// write once its last byte has left, a USB adapter a frame or so later.
constexpr DWORD kWriteWaitMarginMs = 20;
// Margin over the wire time for the output queue to drain before a speed change.
constexpr DWORD kDrainMarginMs = 2;
// A read of bytes that were already queued ends at once on a sound device.
constexpr DWORD kReadWaitMs = 1000;
// After an abort the driver ends the operation promptly.
constexpr DWORD kAbortWaitMs = 1000;

// Bits of one character on the wire: start bit, data, parity, stop bits.
double FrameBits(const DCB& d) {
    const double stop = d.StopBits == ONE5STOPBITS ? 1.5 : d.StopBits == TWOSTOPBITS ? 2.0 : 1.0;
    return 1.0 + d.ByteSize + (d.Parity != NOPARITY ? 1.0 : 0.0) + stop;
}

// A record with a manual-reset event of its own: without one a wait is on the
// device handle, which any other completion (the background write) signals.
OVERLAPPED* NewRecord() {
    auto* ov = static_cast<OVERLAPPED*>(ZeroAlloc(sizeof(OVERLAPPED)));
    if (ov == nullptr) return nullptr;
    ov->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov->hEvent == nullptr) {
        FreeBlock(ov);
        return nullptr;
    }
    return ov;
}

void FreeRecord(OVERLAPPED* ov) {
    if (ov == nullptr) return;
    if (ov->hEvent != nullptr) CloseHandle(ov->hEvent);
    FreeBlock(ov);
}

std::string Describe(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return "no such device";
        case ERROR_ACCESS_DENIED:
            return "access denied (the port is in use by another program)";
        case ERROR_INVALID_HANDLE:
            return "device not open";
        case ERROR_INVALID_PARAMETER:
            return "setting refused by the device";
        case ERROR_GEN_FAILURE:
            return "device not functioning";
        case ERROR_OPERATION_ABORTED:
            return "operation aborted";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "out of memory";
        default:
            return "system error " + std::to_string(static_cast<long long>(error));
    }
}

}  // namespace

CWin32Port::CWin32Port(int index, int rxSize, int txSize, int noOpen) {
    if (noOpen != 0) return;
    dcb = static_cast<DCB*>(ZeroAlloc(sizeof(DCB)));
    if (dcb != nullptr) readOverlapped = NewRecord();
    if (readOverlapped != nullptr) writeOverlapped = NewRecord();
    if (writeOverlapped == nullptr) {
        ReleaseRecords();
        osErrorText = "out of memory";
        errorCode = CL_ERR_MEMORY;
        return;
    }
    txQueueSize = static_cast<std::uint16_t>(txSize);
    rxQueueSize = static_cast<std::uint16_t>(rxSize);
    errorCode = 0;
    portIndex = index;
    handshakeKind = 0;
    handshakeType = 0;
    dtrState = 1;
    rtsState = 1;
    breakState = 0;
    Init(portIndex);
    // Also after a failed Init: the calls fail against no device and are ignored.
    Line(LINE_DTR, 1);
    Line(LINE_RTS, 1);
}

CWin32Port::~CWin32Port() {
    if (!Hollow() && IsOpen()) Close();
    GiveBackUsage();
    ReleaseRecords();
}

void CWin32Port::ReleaseRecords() {
    FreeBlock(dcb);
    dcb = nullptr;
    // A record and buffer that a device never gave back stay allocated: the
    // driver may still write into them.
    if (!recordsKept) {
        FreeRecord(readOverlapped);
        FreeRecord(writeOverlapped);
        FreeRecord(eventOverlapped);
        FreeBlock(writeCopy);
        FreeBlock(readCopy);
    }
    readOverlapped = nullptr;
    writeOverlapped = nullptr;
    eventOverlapped = nullptr;
    writeCopy = nullptr;
    writeCopySize = 0;
    readCopy = nullptr;
    readCopySize = 0;
}

int CWin32Port::Store(int code) {
    errorCode = code;
    return code;
}

int CWin32Port::PlatformFailure(const char* call) {
    DWORD error = GetLastError();
    int code = TranslateLastError();
    osError = static_cast<int>(error);
    osErrorText = Describe(error) + " (" + call + " on " + devicePath + ")";
    return code;
}

bool CWin32Port::GatherErrors(COMSTAT* comstat) {
    DWORD errors = 0;
    COMSTAT local = {};
    if (ClearCommError(handle, &errors, comstat != nullptr ? comstat : &local) == FALSE) {
        if (comstat != nullptr) *comstat = COMSTAT{};
        return false;
    }
    pendingErrors |= static_cast<std::uint32_t>(errors);
    return true;
}

DWORD CWin32Port::WireTimeMs(DWORD bytes) const {
    const DWORD baud = appliedBaud != 0 ? appliedBaud : dcb->BaudRate;
    if (baud == 0 || bytes == 0) return 0;
    return static_cast<DWORD>(std::ceil(bytes * appliedFrameBits * 1000.0 / baud));
}

// Bytes still queued would go out at the new speed (a USB adapter takes the
// speed request ahead of the data), and the far end would not understand them.
void CWin32Port::DrainOutput() {
    COMSTAT comstat = {};
    if (!GatherErrors(&comstat) || comstat.cbOutQue == 0) return;
    const DWORD limit = WireTimeMs(comstat.cbOutQue) + kDrainMarginMs;
    const std::uint32_t start = ClockTickMs();
    while (TicksSince(start) < limit) {
        Sleep(0);
        if (!GatherErrors(&comstat) || comstat.cbOutQue == 0) return;
    }
}

BOOL CWin32Port::Apply() {
    if (dcb->BaudRate != appliedBaud) DrainOutput();
    if (SetCommState(handle, dcb) == FALSE) return FALSE;
    appliedBaud = dcb->BaudRate;
    appliedFrameBits = FrameBits(*dcb);
    return TRUE;
}

int CWin32Port::Await(OVERLAPPED* ov, DWORD ms, DWORD* done) {
    WaitForSingleObject(ov->hEvent, ms);
    DWORD n = 0;
    if (GetOverlappedResult(handle, ov, &n, FALSE) != FALSE) {
        if (done != nullptr) *done = n;
        return 1;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE) return -1;
    if (done != nullptr) *done = n;
    return 0;
}

int CWin32Port::Idle() {
    if (Hollow()) return CL_ERR_DEVICE;
    Sleep(0);
    return 0;
}

void CWin32Port::Poll() {
    if (Hollow()) return;
    GatherErrors(nullptr);
}

void CWin32Port::Init(int /*index*/) {
    if (Hollow()) {
        Store(CL_ERR_DEVICE);
        return;
    }
    // An index without a counter has no device name we would hand out.
    if (!PortIndexValid(portIndex)) {
        osError = 0;
        osErrorText = "COM" + std::to_string(portIndex + 1) + " is outside COM1 to COM" +
                      std::to_string(CL_PORT_COUNT);
        Store(CL_ERR_DEVICE);
        return;
    }
    if (portUsage[portIndex] != 0 || HoldsUsage()) {
        osError = 0;
        osErrorText = "COM" + std::to_string(portIndex + 1) + " is already open in this program";
        Store(CL_ERR_INUSE);
        return;
    }
    if (Open() != 0) return;
    TakeUsage();
    SetupComm(handle, rxQueueSize, txQueueSize);
    SetCommMask(handle, 0);
    GetCommState(handle, dcb);
    appliedBaud = dcb->BaudRate;
    appliedFrameBits = FrameBits(*dcb);
    dcb->BaudRate = 19200;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    dcb->fBinary = 1;
    dcb->fOutxCtsFlow = 0;
    dcb->fOutxDsrFlow = 0;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fRtsControl = RTS_CONTROL_DISABLE;
    dcb->fNull = 0;
    dcb->XonChar = 0x11;
    dcb->XoffChar = 0x13;
    dcb->EofChar = 0;
    dcb->EvtChar = 0;
    dcb->XonLim = static_cast<WORD>(rxQueueSize / 4);
    dcb->XoffLim = 128;
    // A device left aborting on line errors would cancel an accepted write after
    // any framing or parity error, and refuse I/O until the next ClearCommError.
    dcb->fAbortOnError = 0;
    // Reads return at once with what has arrived; writes have no time-out.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &timeouts);
    if (Apply() == FALSE) Store(PlatformFailure("SetCommState"));
}

int CWin32Port::Open() {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    char* name = static_cast<char*>(ZeroAlloc(20));
    if (name == nullptr) {
        osErrorText = "out of memory";
        return Store(CL_ERR_MEMORY);
    }
    std::snprintf(name, 20, "\\\\.\\COM%d", portIndex + 1);
    devicePath = name;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    FreeBlock(name);
    if (h == INVALID_HANDLE_VALUE) return Store(PlatformFailure("CreateFileA"));
    handle = h;
    return 0;
}

int CWin32Port::Close() {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    Purge(0, 0);
    Purge(1, 0);
    AbandonPending();
    EscapeCommFunction(handle, CLRDTR);
    EscapeCommFunction(handle, CLRRTS);
    if (CloseHandle(handle) == FALSE) {
        PlatformFailure("CloseHandle");
        return Store(CL_ERR_CLOSE);
    }
    handle = INVALID_HANDLE_VALUE;
    return 0;
}

void CWin32Port::AbandonPending() {
    if (writePending) {
        PurgeComm(handle, PURGE_TXABORT);
        if (Await(writeOverlapped, kAbortWaitMs, nullptr) >= 0) writePending = false;
    }
    if (readPending) {
        PurgeComm(handle, PURGE_RXABORT);
        if (Await(readOverlapped, kAbortWaitMs, nullptr) >= 0) readPending = false;
    }
    if (eventPending) {
        SetCommMask(handle, 0);
        if (Await(eventOverlapped, kAbortWaitMs, nullptr) >= 0) eventPending = false;
    }
    if (writePending || readPending || eventPending) recordsKept = true;
}

void CWin32Port::GetQueueStatus(PortQueueStatus& status, int /*mask*/) {
    if (Hollow()) return;
    COMSTAT comstat = {};
    GatherErrors(&comstat);
    status.rxValid = 1;
    status.rxCount = static_cast<std::int32_t>(comstat.cbInQue);
    status.rxSize = static_cast<std::int32_t>(rxQueueSize);
    status.txValid = 1;
    status.txCount = static_cast<std::int32_t>(comstat.cbOutQue);
    status.txSize = static_cast<std::int32_t>(txQueueSize);
    std::uint16_t flags = 0;
    if (comstat.fCtsHold || comstat.fDsrHold || comstat.fXoffHold) flags |= 0x02;
    if (comstat.fXoffSent) flags |= 0x01;
    status.blockFlags = flags;
}

int CWin32Port::SetQueues(int rxSize, int xoffLimit, int txSize) {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    Purge(0, 0);
    Purge(1, 0);
    if (rxSize != 0) rxQueueSize = static_cast<std::uint16_t>(rxSize);
    if (txSize != 0) txQueueSize = static_cast<std::uint16_t>(txSize);
    dcb->XonLim = static_cast<WORD>(rxSize / 4);
    if (xoffLimit != 0) dcb->XoffLim = static_cast<WORD>(xoffLimit);
    SetupComm(handle, rxQueueSize, txQueueSize);
    Purge(0, 0);
    Purge(1, 0);
    if (Apply() == FALSE) return Store(PlatformFailure("SetCommState"));
    return 0;
}

int CWin32Port::SetHandshake(int type, int kind) {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    dcb->fInX = 0;
    dcb->fOutX = 0;
    if (dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) dcb->fRtsControl = RTS_CONTROL_ENABLE;
    if (dcb->fDtrControl == DTR_CONTROL_HANDSHAKE) dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fOutxCtsFlow = 0;
    dcb->fOutxDsrFlow = 0;
    switch (type) {
        case LINE_NONE:
            break;
        case LINE_XONXOFF:
            dcb->fInX = 1;
            break;
        case LINE_DTR:
            dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
            break;
        case LINE_RTS:
            dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        case LINE_DSR:
            return Store(CL_ERR_UNSUPPORTED);
        default:
            Store(CL_ERR_HSTYPE);
            return CL_ERR_FAILED;
    }
    switch (kind) {
        case LINE_NONE:
            break;
        case LINE_XONXOFF:
            dcb->fOutX = 1;
            break;
        case LINE_CTS:
            dcb->fOutxCtsFlow = 1;
            break;
        case LINE_DSR:
            dcb->fOutxDsrFlow = 1;
            break;
        case LINE_DCD:
            return Store(CL_ERR_UNSUPPORTED);
        default:
            return Store(CL_ERR_HSKIND);
    }
    if (Apply() == FALSE) return Store(PlatformFailure("SetCommState"));
    handshakeType = type;
    handshakeKind = kind;
    return 0;
}

int CWin32Port::GetHandshake(int& type, int& kind) {
    if (Hollow()) return CL_ERR_DEVICE;
    type = handshakeType;
    kind = handshakeKind;
    return 0;
}

int CWin32Port::Break(int value) {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    if (value < 0) return breakState;
    BOOL ok = value == 1 ? SetCommBreak(handle) : ClearCommBreak(handle);
    if (ok == FALSE) {
        PlatformFailure(value == 1 ? "SetCommBreak" : "ClearCommBreak");
        return Store(CL_ERR_BREAK);
    }
    breakState = static_cast<std::uint16_t>(value);
    return breakState;
}

int CWin32Port::Line(int code, int value) {
    if (Hollow()) return CL_ERR_DEVICE;
    if (code == LINE_BREAK) return Break(value);
    if ((code == LINE_DTR || code == LINE_RTS) && value != -1) {
        bool raise = value != 0;
        if (code == LINE_DTR) {
            dtrState = raise ? 1 : 0;
            dcb->fDtrControl = raise ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
            EscapeCommFunction(handle, raise ? SETDTR : CLRDTR);
        } else {
            rtsState = raise ? 1 : 0;
            dcb->fRtsControl = raise ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
            EscapeCommFunction(handle, raise ? SETRTS : CLRRTS);
        }
    }
    switch (code) {
        case LINE_DTR:
            return ModemLine(1);
        case LINE_RTS:
            return ModemLine(2);
        case LINE_CTS:
            return ModemLine(MS_CTS_ON);
        case LINE_DSR:
            return ModemLine(MS_DSR_ON);
        case LINE_RI:
            return ModemLine(MS_RING_ON);
        case LINE_DCD:
            return ModemLine(MS_RLSD_ON);
        case 17:
        case 18:
        case 19:
        case 20:
            return 0;
        case LINE_OVERRUN:
            return (pendingErrors & CE_OVERRUN) != 0 ? 1 : 0;
        case LINE_PARITYERR:
            return (pendingErrors & CE_RXPARITY) != 0 ? 1 : 0;
        case LINE_FRAMEERR:
            return (pendingErrors & CE_FRAME) != 0 ? 1 : 0;
        case LINE_BREAKDETECT:
            return (pendingErrors & CE_BREAK) != 0 ? 1 : 0;
        case LINE_RXOVERFLOW:
            return (pendingErrors & CE_RXOVER) != 0 ? 1 : 0;
        default:
            return 2;
    }
}

int CWin32Port::SetLineParams(int baud, char parity, int dataBits, int stopBits) {
    if (Hollow()) return Store(CL_ERR_DEVICE);
    const ParityEntry* entry = nullptr;
    for (const ParityEntry& e : ParityTable) {
        if (e.letter == parity) {
            entry = &e;
            break;
        }
    }
    if (entry == nullptr) return Store(CL_ERR_PARITY);
    // Fields set before a failed check stay in the copy, as the next apply carries them.
    dcb->Parity = entry->value;
    dcb->BaudRate = static_cast<DWORD>(baud);
    if (dataBits < 4 || dataBits > 8) return Store(CL_ERR_DATABITS);
    dcb->ByteSize = static_cast<BYTE>(dataBits);
    if (stopBits < 1 || stopBits > 2) return Store(CL_ERR_STOPBITS);
    if (dataBits == 5) {
        dcb->StopBits = ONE5STOPBITS;
    } else {
        dcb->StopBits = stopBits == 1 ? ONESTOPBIT : TWOSTOPBITS;
    }
    if (Apply() == FALSE) return Store(PlatformFailure("SetCommState"));
    return 0;
}

void CWin32Port::GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) {
    if (Hollow()) return;
    baud = static_cast<int>(dcb->BaudRate);
    dataBits = dcb->ByteSize;
    stopBits = dcb->StopBits == TWOSTOPBITS ? 2 : 1;
    parity = '\0';
    for (const ParityEntry& e : ParityTable) {
        if (e.value == dcb->Parity) {
            parity = e.letter;
            break;
        }
    }
}

int CWin32Port::GetLineStatus(LineStatusBits& bits) {
    if (Hollow()) return CL_ERR_DEVICE;
    Poll();
    for (int code : lineStatusOrder) bits.SetField(code, Line(code, -1) & 3);
    pendingErrors = 0;
    return 0;
}

int CWin32Port::WriteChar(unsigned char c) {
    if (Hollow()) return CL_ERR_DEVICE;
    return Write(&c, 1) == 1 ? 0 : errorCode;
}

int CWin32Port::WriteString(const char* text) {
    if (Hollow() || text == nullptr) return 0;
    return static_cast<int>(Write(text, static_cast<unsigned>(std::strlen(text))));
}

bool CWin32Port::Grow(unsigned char** block, unsigned* size, unsigned n) {
    if (n <= *size) return true;
    auto* larger = static_cast<unsigned char*>(ZeroAlloc(n));
    if (larger == nullptr) return false;
    FreeBlock(*block);
    *block = larger;
    *size = n;
    return true;
}

// A held line (CTS, DSR, XOFF) keeps a write pending for as long as it is held,
// so the wait for it is bounded by the wire time of what is queued.
bool CWin32Port::EndWrite(DWORD queued) {
    if (!writePending) return true;
    if (Await(writeOverlapped, WireTimeMs(queued) + kWriteWaitMarginMs, nullptr) < 0) return false;
    writePending = false;
    return true;
}

unsigned CWin32Port::Write(const void* buffer, unsigned count) {
    if (Hollow()) return 0;
    COMSTAT comstat = {};
    GatherErrors(&comstat);
    unsigned room = comstat.cbOutQue < txQueueSize ? txQueueSize - comstat.cbOutQue : 0;
    unsigned n = count < room ? count : room;
    if (buffer == nullptr) n = 0;
    unsigned result = 0;
    // writeOverlapped and the copy are the device's until the previous write ends.
    if (n > 0 && !EndWrite(comstat.cbOutQue)) n = 0;
    if (n > 0 && !Grow(&writeCopy, &writeCopySize, n)) n = writeCopySize;  // take what fits
    if (n > 0) {
        std::memcpy(writeCopy, buffer, n);
        DWORD written = 0;
        if (WriteFile(handle, writeCopy, n, &written, writeOverlapped) != FALSE) {
            result = written;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            writePending = true;
            result = n;
        } else {
            PlatformFailure("WriteFile");
            GatherErrors(nullptr);
            result = written;
        }
    }
    if (result < count) errorCode = CL_ERR_TXSHORT;
    return result;
}

int CWin32Port::TransmitChar(unsigned char c) {
    if (Hollow()) return CL_ERR_DEVICE;
    if (TransmitCommChar(handle, static_cast<char>(c)) == FALSE) {
        PlatformFailure("TransmitCommChar");
        return CL_ERR_FAILED;
    }
    return 0;
}

int CWin32Port::ReadChar() {
    if (Hollow()) return CL_ERR_DEVICE;
    unsigned char c = 0;
    return Read(&c, 1) == 1 ? c : CL_ERR_NODATA;
}

// A read that did not end in time keeps its record and buffer; the next read
// looks again before it may use them.
bool CWin32Port::EndRead() {
    if (!readPending) return true;
    if (Await(readOverlapped, 0, nullptr) < 0) return false;
    readPending = false;
    return true;
}

unsigned CWin32Port::Read(void* buffer, unsigned count) {
    if (Hollow() || buffer == nullptr) return 0;
    COMSTAT comstat = {};
    GatherErrors(&comstat);
    if (comstat.cbInQue == 0 || !EndRead()) return 0;
    DWORD n = count < comstat.cbInQue ? count : comstat.cbInQue;
    // The device reads into the port's own buffer, so a read that ends late
    // never writes into the caller's memory.
    if (!Grow(&readCopy, &readCopySize, n)) n = readCopySize;
    if (n == 0) return 0;
    DWORD bytesRead = 0;
    if (ReadFile(handle, readCopy, n, &bytesRead, readOverlapped) == FALSE) {
        if (GetLastError() != ERROR_IO_PENDING) {
            PlatformFailure("ReadFile");
            GatherErrors(nullptr);
            return 0;
        }
        readPending = true;
        bytesRead = 0;
        // The bytes were already queued, so this wait is short.
        int ended = Await(readOverlapped, kReadWaitMs, &bytesRead);
        if (ended < 0) {
            PurgeComm(handle, PURGE_RXABORT);
            ended = Await(readOverlapped, kAbortWaitMs, &bytesRead);
        }
        if (ended < 0) return 0;
        readPending = false;
        if (ended == 0) {
            PlatformFailure("ReadFile");
            GatherErrors(nullptr);
            return 0;
        }
    }
    if (bytesRead > n) bytesRead = n;
    std::memcpy(buffer, readCopy, bytesRead);
    return bytesRead;
}

int CWin32Port::Purge(int which, int count) {
    if (Hollow()) return CL_ERR_DEVICE;
    if (which != 0) {
        PurgeComm(handle, PURGE_TXCLEAR);
        return 0;
    }
    if (count <= 0) {
        PurgeComm(handle, PURGE_RXCLEAR);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (ReadChar() == CL_ERR_NODATA) return 0;
    }
    return CL_ERR_FAILED;
}

void CWin32Port::Dump(const DumpOutput& output) {
    if (Hollow() || !output) return;
    char line[160];
    std::snprintf(line, sizeof line,
                  "Port type: MS Win32  BaudRate: %-6u  ByteSize: %1d  Parity: %1d",
                  static_cast<unsigned>(dcb->BaudRate), dcb->ByteSize, dcb->Parity);
    output(line);
    std::snprintf(line, sizeof line, "StopBits: %1d  fBinary: %1d  fRtsControl: %1d", dcb->StopBits,
                  static_cast<int>(dcb->fBinary), static_cast<int>(dcb->fRtsControl));
    output(line);
    std::snprintf(line, sizeof line,
                  "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: "
                  "%1d",
                  static_cast<int>(dcb->fParity), static_cast<int>(dcb->fOutxCtsFlow),
                  static_cast<int>(dcb->fOutxDsrFlow), static_cast<int>(dcb->fDtrControl),
                  static_cast<int>(dcb->fOutX), static_cast<int>(dcb->fInX));
    output(line);
    std::snprintf(line, sizeof line, "Null: %1d  XonChar: %02x  XoffChar: %02x",
                  static_cast<int>(dcb->fNull), static_cast<unsigned char>(dcb->XonChar),
                  static_cast<unsigned char>(dcb->XoffChar));
    output(line);
    std::snprintf(line, sizeof line, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
                  static_cast<unsigned>(dcb->XonLim), static_cast<unsigned>(dcb->XoffLim),
                  static_cast<unsigned char>(dcb->EofChar),
                  static_cast<unsigned char>(dcb->EvtChar));
    output(line);
    PortQueueStatus status = {};
    GetQueueStatus(status, 7);
    std::snprintf(line, sizeof line,
                  "RX sz/ct: %5d/%-5d  TX sz/ct: %5d/%-5d  BLOCK SENT:%d  BLOCK RECEIVED:%d",
                  status.rxSize, status.rxCount, status.txSize, status.txCount,
                  status.blockFlags & 1, (status.blockFlags >> 1) & 1);
    output(line);
}

BOOL CWin32Port::SetEventChar(char c) {
    if (Hollow()) return FALSE;
    GetCommState(handle, dcb);
    dcb->EvtChar = c;
    return Apply();
}

int CWin32Port::GetEventMask(DWORD& mask) {
    if (Hollow()) return CL_ERR_DEVICE;
    if (GetCommMask(handle, &mask) == FALSE) return PlatformFailure("GetCommMask");
    return 0;
}

int CWin32Port::SetEventMask(DWORD mask) {
    if (Hollow()) return CL_ERR_DEVICE;
    if (SetCommMask(handle, mask) == FALSE) return PlatformFailure("SetCommMask");
    return 0;
}

int CWin32Port::WaitEvent(DWORD& mask) {
    if (Hollow()) return CL_ERR_DEVICE;
    // The record and the events' place are the port's, not the stack's: the
    // device owns both until the wait has ended.
    if (eventOverlapped == nullptr) eventOverlapped = NewRecord();
    if (eventOverlapped == nullptr) return CL_ERR_MEMORY;
    if (eventPending) {
        if (Await(eventOverlapped, 0, nullptr) < 0) return CL_ERR_FAILED;
        eventPending = false;
    }
    eventMask = 0;
    if (WaitCommEvent(handle, &eventMask, eventOverlapped) == FALSE) {
        if (GetLastError() != ERROR_IO_PENDING) return PlatformFailure("WaitCommEvent");
        eventPending = true;
        int ended = Await(eventOverlapped, kEventWaitMs, nullptr);
        if (ended < 0) {
            // Setting the mask again ends the wait, with no events.
            DWORD current = 0;
            if (GetCommMask(handle, &current) != FALSE) SetCommMask(handle, current);
            ended = Await(eventOverlapped, kAbortWaitMs, nullptr);
        }
        if (ended < 0) return CL_ERR_FAILED;
        eventPending = false;
        if (ended == 0) return PlatformFailure("WaitCommEvent");
    }
    mask = eventMask;
    return 0;
}

int CWin32Port::ModemLine(int which) {
    if (Hollow()) return 0;
    if (which == 1) return dtrState;
    if (which == 2) return rtsState;
    DWORD status = 0;
    if (GetCommModemStatus(handle, &status) == FALSE) return 0;
    return (status & static_cast<DWORD>(which)) != 0 ? 1 : 0;
}

int CWin32Port::TranslateLastError() {
    switch (static_cast<int>(GetLastError())) {
        case kIeBadId:
            return CL_ERR_DEVICE;
        case kIeOpen:
            return CL_ERR_INUSE;
        case kIeNotOpen:
            return CL_ERR_DEVICE;
        case kIeMemory:
            return CL_ERR_MEMORY;
        case kIeDefault:
            return CL_ERR_HSKIND;
        case kIeHardware:
            return CL_ERR_DEVICE;
        case kIeByteSize:
            return CL_ERR_DATABITS;
        case kIeBaudRate:
            return CL_ERR_BAUD;
        default:
            return CL_ERR_FAILED;
    }
}
