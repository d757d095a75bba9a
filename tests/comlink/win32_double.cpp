// The simulated devices behind the Win32 API double.
#include "tests/comlink/win32_double.h"

#include <algorithm>
#include <cstring>

#include "comlink/clock.h"

namespace win32double {
namespace {

struct Pending {
    HANDLE handle;
    OVERLAPPED* overlapped;
    enum Kind { kWrite, kRead, kEvent } kind;
    const unsigned char* source;  // write: the writer's buffer, read at completion
    unsigned char* target;        // read: the reader's buffer
    DWORD count;
    DWORD* events;  // event wait: where the events go
};

World theWorld;
std::map<HANDLE, std::string> handles;
std::vector<Pending> pending;
std::uintptr_t nextHandle = 0x1000;

Device* Lookup(HANDLE h) {
    auto it = handles.find(h);
    if (it == handles.end()) {
        theWorld.lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return &theWorld.devices[it->second];
}

bool Injected(const char* function) {
    auto it = theWorld.failures.find(function);
    if (it == theWorld.failures.end() || it->second.empty()) return false;
    theWorld.lastError = it->second.front();
    it->second.erase(it->second.begin());
    return true;
}

// Records the call, then looks up its device; null (with the last error set)
// for a bad handle or an injected failure.
Device* Enter(const char* function, HANDLE h) {
    theWorld.calls.push_back(function);
    Device* d = Lookup(h);
    if (d == nullptr) return nullptr;
    if (Injected(function)) return nullptr;
    return d;
}

bool IsPending(const OVERLAPPED* ov) {
    return std::any_of(pending.begin(), pending.end(),
                       [ov](const Pending& p) { return p.overlapped == ov; });
}

void Violation(const std::string& text) {
    ++theWorld.violations;
    theWorld.violationText += text + "\n";
}

DWORD PendingBytes(HANDLE h) {
    DWORD n = 0;
    for (const Pending& p : pending) {
        if (p.handle == h && p.kind == Pending::kWrite) n += p.count;
    }
    return n;
}

void Finish(Pending& p, DWORD status) {
    Device* d = Lookup(p.handle);
    DWORD n = 0;
    if (status == 0 && d != nullptr) {
        if (p.kind == Pending::kWrite) {
            d->wire.insert(d->wire.end(), p.source, p.source + p.count);
            n = p.count;
        } else if (p.kind == Pending::kRead) {
            n = std::min<DWORD>(p.count, static_cast<DWORD>(d->rx.size()));
            for (DWORD i = 0; i < n; ++i) {
                p.target[i] = d->rx.front();
                d->rx.pop_front();
            }
        } else {
            *p.events = (d->events | d->eventsLater) & d->commMask;
            d->events = 0;
            d->eventsLater = 0;
        }
    }
    p.overlapped->Internal = status;
    p.overlapped->InternalHigh = n;
}

void ApplyLines(Device& d) {
    if (d.applied.fDtrControl == DTR_CONTROL_DISABLE) d.dtr = false;
    if (d.applied.fDtrControl == DTR_CONTROL_ENABLE) d.dtr = true;
    if (d.applied.fRtsControl == RTS_CONTROL_DISABLE) d.rts = false;
    if (d.applied.fRtsControl == RTS_CONTROL_ENABLE) d.rts = true;
}

}  // namespace

World& world() {
    return theWorld;
}

void Reset() {
    theWorld = World{};
    handles.clear();
    pending.clear();
}

Device& AddDevice(int comNumber) {
    Device& d = theWorld.devices["\\\\.\\COM" + std::to_string(comNumber)];
    d = Device{};
    // A driver's state before anyone configured the port: deliberately unlike
    // the port's defaults, so a test sees which fields the port sets.
    d.applied.DCBlength = sizeof(DCB);
    d.applied.BaudRate = 1200;
    d.applied.ByteSize = 7;
    d.applied.Parity = EVENPARITY;
    d.applied.StopBits = TWOSTOPBITS;
    d.applied.fOutxCtsFlow = 1;
    d.applied.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.applied.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.applied.fNull = 1;
    d.applied.fErrorChar = 1;
    d.applied.fAbortOnError = 1;
    d.applied.fTXContinueOnXoff = 1;
    d.applied.ErrorChar = '?';
    d.applied.XonChar = 0x51;
    d.applied.XoffChar = 0x53;
    d.applied.EofChar = 0x1a;
    d.applied.EvtChar = 0x0d;
    d.applied.XonLim = 7;
    d.applied.XoffLim = 9;
    return d;
}

Device& DeviceFor(int comNumber) {
    return theWorld.devices["\\\\.\\COM" + std::to_string(comNumber)];
}

void FailNext(const std::string& function, DWORD error, int times) {
    for (int i = 0; i < times; ++i) theWorld.failures[function].push_back(error);
}

int CallCount(const std::string& function) {
    return static_cast<int>(std::count(theWorld.calls.begin(), theWorld.calls.end(), function));
}

void CompletePendingWrites() {
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->kind == Pending::kWrite) {
            Finish(*it, 0);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

int PendingWrites() {
    return static_cast<int>(std::count_if(pending.begin(), pending.end(), [](const Pending& p) {
        return p.kind == Pending::kWrite;
    }));
}

}  // namespace win32double

using namespace win32double;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    World& w = world();
    w.calls.push_back("CreateFileA");
    w.lastAccess = access;
    w.lastShare = share;
    w.lastDisposition = disposition;
    w.lastFlags = flags;
    if (Injected("CreateFileA")) return INVALID_HANDLE_VALUE;
    auto it = w.devices.find(name);
    if (it == w.devices.end()) {
        w.lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Device& d = it->second;
    if (d.openError != 0) {
        w.lastError = d.openError;
        return INVALID_HANDLE_VALUE;
    }
    if (d.open) {  // no sharing
        w.lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    d.open = true;
    HANDLE h = reinterpret_cast<HANDLE>(nextHandle++);
    handles[h] = name;
    return h;
}

BOOL CloseHandle(HANDLE h) {
    Device* d = Enter("CloseHandle", h);
    if (d == nullptr) return FALSE;
    for (const Pending& p : pending) {
        if (p.handle == h) Violation("handle closed while an overlapped operation was pending");
    }
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [h](const Pending& p) { return p.handle == h; }),
                  pending.end());
    d->open = false;
    handles.erase(h);
    return TRUE;
}

BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue) {
    Device* d = Enter("SetupComm", h);
    if (d == nullptr) return FALSE;
    d->inQueueSize = inQueue;
    d->outQueueSize = outQueue;
    return TRUE;
}

BOOL GetCommState(HANDLE h, DCB* dcb) {
    Device* d = Enter("GetCommState", h);
    if (d == nullptr) return FALSE;
    *dcb = d->applied;
    return TRUE;
}

BOOL SetCommState(HANDLE h, DCB* dcb) {
    Device* d = Enter("SetCommState", h);
    if (d == nullptr) return FALSE;
    bool refused = std::find(d->refusedBauds.begin(), d->refusedBauds.end(), dcb->BaudRate) !=
                       d->refusedBauds.end() ||
                   dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
                   // 1.5 stop bits go with 5 data bits only, 2 stop bits never with 5.
                   (dcb->ByteSize == 5 && dcb->StopBits == TWOSTOPBITS) ||
                   (dcb->ByteSize != 5 && dcb->StopBits == ONE5STOPBITS);
    if (refused) {
        world().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    d->applied = *dcb;
    ApplyLines(*d);
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) {
    Device* d = Enter("SetCommTimeouts", h);
    if (d == nullptr) return FALSE;
    d->timeouts = *timeouts;
    return TRUE;
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
    Device* d = Enter("SetCommMask", h);
    if (d == nullptr) return FALSE;
    d->commMask = mask;
    return TRUE;
}

BOOL GetCommMask(HANDLE h, LPDWORD mask) {
    Device* d = Enter("GetCommMask", h);
    if (d == nullptr) return FALSE;
    *mask = d->commMask;
    return TRUE;
}

BOOL WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED overlapped) {
    Device* d = Enter("WaitCommEvent", h);
    if (d == nullptr) return FALSE;
    if (d->commMask == 0) {
        world().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if ((d->events & d->commMask) != 0 || overlapped == nullptr) {
        *events = d->events & d->commMask;
        d->events = 0;
        return TRUE;
    }
    if (IsPending(overlapped)) Violation("WaitCommEvent reused a pending overlapped record");
    pending.push_back({h, overlapped, Pending::kEvent, nullptr, nullptr, 0, events});
    world().lastError = ERROR_IO_PENDING;
    return FALSE;
}

BOOL ClearCommError(HANDLE h, LPDWORD errors, COMSTAT* stat) {
    Device* d = Enter("ClearCommError", h);
    if (d == nullptr) return FALSE;
    if (errors != nullptr) *errors = d->errors;
    d->errors = 0;
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->fCtsHold = d->ctsHold;
        stat->fDsrHold = d->dsrHold;
        stat->fXoffHold = d->xoffHold;
        stat->fXoffSent = d->xoffSent;
        stat->cbInQue = static_cast<DWORD>(d->rx.size());
        stat->cbOutQue = d->txBacklog + PendingBytes(h);
    }
    return TRUE;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    Device* d = Enter("ReadFile", h);
    if (read != nullptr) *read = 0;
    if (d == nullptr) return FALSE;
    if (overlapped != nullptr && IsPending(overlapped))
        Violation("ReadFile reused a pending overlapped record");
    auto* out = static_cast<unsigned char*>(buffer);
    if (d->readsPend && overlapped != nullptr) {
        pending.push_back({h, overlapped, Pending::kRead, nullptr, out, count, nullptr});
        world().lastError = ERROR_IO_PENDING;
        return FALSE;
    }
    DWORD n = std::min<DWORD>(count, static_cast<DWORD>(d->rx.size()));
    for (DWORD i = 0; i < n; ++i) {
        out[i] = d->rx.front();
        d->rx.pop_front();
    }
    if (read != nullptr) *read = n;
    if (overlapped != nullptr) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = n;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    Device* d = Enter("WriteFile", h);
    if (written != nullptr) *written = 0;
    if (d == nullptr) return FALSE;
    if (overlapped != nullptr && IsPending(overlapped))
        Violation("WriteFile reused a pending overlapped record");
    auto* bytes = static_cast<const unsigned char*>(buffer);
    if (d->writesPend && overlapped != nullptr) {
        pending.push_back({h, overlapped, Pending::kWrite, bytes, nullptr, count, nullptr});
        world().lastError = ERROR_IO_PENDING;
        return FALSE;
    }
    d->wire.insert(d->wire.end(), bytes, bytes + count);
    if (written != nullptr) *written = count;
    if (overlapped != nullptr) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = count;
    }
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    Device* d = Enter("GetOverlappedResult", h);
    if (d == nullptr) return FALSE;
    auto it = std::find_if(pending.begin(), pending.end(),
                           [overlapped](const Pending& p) { return p.overlapped == overlapped; });
    if (it != pending.end()) {
        if (wait == FALSE) {
            world().lastError = ERROR_IO_INCOMPLETE;
            return FALSE;
        }
        Finish(*it, 0);  // waiting lets the device finish the transfer
        pending.erase(it);
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) {
        world().lastError = static_cast<DWORD>(overlapped->Internal);
        return FALSE;
    }
    return TRUE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
    Device* d = Enter("PurgeComm", h);
    if (d == nullptr) return FALSE;
    if ((flags & PURGE_RXCLEAR) != 0) d->rx.clear();
    if ((flags & PURGE_TXCLEAR) != 0) d->txBacklog = 0;
    if ((flags & PURGE_TXABORT) != 0) {
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->handle == h && it->kind == Pending::kWrite) {
                Finish(*it, ERROR_OPERATION_ABORTED);
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE h, DWORD function) {
    Device* d = Enter("EscapeCommFunction", h);
    if (d == nullptr) return FALSE;
    switch (function) {
        case SETDTR:
            d->dtr = true;
            break;
        case CLRDTR:
            d->dtr = false;
            break;
        case SETRTS:
            d->rts = true;
            break;
        case CLRRTS:
            d->rts = false;
            break;
        default:
            break;
    }
    return TRUE;
}

BOOL SetCommBreak(HANDLE h) {
    Device* d = Enter("SetCommBreak", h);
    if (d == nullptr) return FALSE;
    d->breakOn = true;
    return TRUE;
}

BOOL ClearCommBreak(HANDLE h) {
    Device* d = Enter("ClearCommBreak", h);
    if (d == nullptr) return FALSE;
    d->breakOn = false;
    return TRUE;
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
    Device* d = Enter("GetCommModemStatus", h);
    if (d == nullptr) return FALSE;
    *status = d->modemStatus;
    return TRUE;
}

BOOL TransmitCommChar(HANDLE h, char c) {
    Device* d = Enter("TransmitCommChar", h);
    if (d == nullptr) return FALSE;
    d->wire.push_back(static_cast<unsigned char>(c));
    return TRUE;
}

DWORD GetLastError() {
    return world().lastError;
}
void SetLastError(DWORD error) {
    world().lastError = error;
}

void Sleep(DWORD ms) {
    world().calls.push_back("Sleep");
    ClockSleepMs(ms);
}

DWORD GetTickCount() {
    return ClockTickMs();
}
