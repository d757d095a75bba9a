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
std::vector<Pending> pending;  // in the order the operations started
// Events by handle: signalled or not, and whether they reset by hand.
struct Event {
    bool signalled;
    bool manualReset;
};
std::map<HANDLE, Event> events;
// A file handle is signalled when any operation on it completes, and reset when
// the next one starts: what an event-less wait sees.
std::map<HANDLE, bool> handleSignalled;
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

bool Held(const Device& d) {
    return d.ctsHold || d.dsrHold || d.xoffHold;
}

// Whether the device could ever finish the operation as things stand.
bool CanComplete(const Pending& p) {
    Device* d = Lookup(p.handle);
    if (d == nullptr) return true;
    switch (p.kind) {
        case Pending::kWrite:
            return !Held(*d);
        case Pending::kRead:
            return true;  // the time-outs make a read return with what has arrived
        case Pending::kEvent:
            return ((d->events | d->eventsLater) & d->commMask) != 0;
    }
    return true;
}

// An operation starts on record ov: its event and the handle are reset.
void Start(HANDLE h, OVERLAPPED* ov) {
    handleSignalled[h] = false;
    if (ov->hEvent != nullptr) {
        auto it = events.find(ov->hEvent);
        if (it == events.end()) {
            Violation("an overlapped record carries something that is no event");
        } else {
            if (!it->second.manualReset)
                Violation("an overlapped record carries an auto-reset event");
            it->second.signalled = false;
        }
    }
    ov->Internal = STATUS_PENDING;
    ov->InternalHigh = 0;
}

void Signal(HANDLE h, OVERLAPPED* ov) {
    handleSignalled[h] = true;
    auto it = events.find(ov->hEvent);
    if (ov->hEvent != nullptr && it != events.end()) it->second.signalled = true;
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
    } else if (p.kind == Pending::kEvent && d != nullptr) {
        *p.events = 0;
    }
    p.overlapped->Internal = status;
    p.overlapped->InternalHigh = n;
    Signal(p.handle, p.overlapped);
}

// Ends the operations on h that `which` selects with `status`.
template <typename Which>
void FinishAll(HANDLE h, DWORD status, Which which) {
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->handle == h && which(*it)) {
            Finish(*it, status);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

// The device sends up to `budget` queued bytes: the backlog first, then whole
// pending writes in order.
void Send(HANDLE h, Device& d, DWORD budget) {
    if (Held(d)) return;
    const DWORD fromBacklog = std::min(budget, d.txBacklog);
    d.txBacklog -= fromBacklog;
    budget -= fromBacklog;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->handle == h && it->kind == Pending::kWrite && it->count <= budget) {
            budget -= it->count;
            Finish(*it, 0);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
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
    events.clear();
    handleSignalled.clear();
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
    d.inQueueSize = 4096;  // a driver's queue before SetupComm
    d.outQueueSize = 4096;
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
        Device* d = Lookup(it->handle);
        if (it->kind == Pending::kWrite && (d == nullptr || !Held(*d))) {
            Finish(*it, 0);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

int PendingReads() {
    return static_cast<int>(std::count_if(
        pending.begin(), pending.end(), [](const Pending& p) { return p.kind == Pending::kRead; }));
}

void LineError(Device& device, DWORD errors) {
    device.errors |= errors;
    if (device.applied.fAbortOnError == 0) return;
    device.abortBlocked = true;
    for (const auto& [h, name] : handles) {
        if (&theWorld.devices[name] != &device) continue;
        FinishAll(h, ERROR_OPERATION_ABORTED,
                  [](const Pending& p) { return p.kind != Pending::kEvent; });
    }
}

int OpenEvents() {
    return static_cast<int>(events.size());
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
    auto event = events.find(h);
    if (event != events.end()) {
        world().calls.push_back("CloseHandle(event)");
        for (const Pending& p : pending) {
            if (p.overlapped->hEvent == h)
                Violation("event closed while its operation was pending");
        }
        events.erase(event);
        return TRUE;
    }
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
    // As the serial driver judges a device state: a rate, a known parity and stop
    // bits, and flow-control limits that fit the receive queue.
    bool refused = std::find(d->refusedBauds.begin(), d->refusedBauds.end(), dcb->BaudRate) !=
                       d->refusedBauds.end() ||
                   dcb->BaudRate == 0 || dcb->Parity > SPACEPARITY || dcb->StopBits > TWOSTOPBITS ||
                   dcb->XonLim > d->inQueueSize || dcb->XoffLim > d->inQueueSize ||
                   dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
                   // 1.5 stop bits go with 5 data bits only, 2 stop bits never with 5.
                   (dcb->ByteSize == 5 && dcb->StopBits == TWOSTOPBITS) ||
                   (dcb->ByteSize != 5 && dcb->StopBits == ONE5STOPBITS);
    if (refused) {
        world().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (dcb->BaudRate != d->applied.BaudRate) {
        d->baudChanges.push_back({dcb->BaudRate, d->wire.size(), d->txBacklog + PendingBytes(h)});
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
    // A new mask ends a pending wait for events, which then reports none.
    FinishAll(h, 0, [d](const Pending& p) {
        if (p.kind != Pending::kEvent) return false;
        *p.events = 0;
        d->events = 0;
        d->eventsLater = 0;
        return true;
    });
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
    Start(h, overlapped);
    pending.push_back({h, overlapped, Pending::kEvent, nullptr, nullptr, 0, events});
    world().lastError = ERROR_IO_PENDING;
    return FALSE;
}

BOOL ClearCommError(HANDLE h, LPDWORD errors, COMSTAT* stat) {
    Device* d = Enter("ClearCommError", h);
    if (d == nullptr) return FALSE;
    if (d->sentPerPoll > 0) Send(h, *d, d->sentPerPoll);
    if (errors != nullptr) *errors = d->errors;
    d->errors = 0;
    d->abortBlocked = false;
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
    if (d->abortBlocked) {
        world().lastError = ERROR_OPERATION_ABORTED;
        return FALSE;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    if (overlapped != nullptr) Start(h, overlapped);
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
        Signal(h, overlapped);
    }
    return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    Device* d = Enter("WriteFile", h);
    if (written != nullptr) *written = 0;
    if (d == nullptr) return FALSE;
    if (overlapped != nullptr && IsPending(overlapped))
        Violation("WriteFile reused a pending overlapped record");
    if (d->abortBlocked) {
        world().lastError = ERROR_OPERATION_ABORTED;
        return FALSE;
    }
    auto* bytes = static_cast<const unsigned char*>(buffer);
    if (overlapped != nullptr) Start(h, overlapped);
    if ((d->writesPend || Held(*d)) && overlapped != nullptr) {
        pending.push_back({h, overlapped, Pending::kWrite, bytes, nullptr, count, nullptr});
        world().lastError = ERROR_IO_PENDING;
        return FALSE;
    }
    d->wire.insert(d->wire.end(), bytes, bytes + count);
    if (written != nullptr) *written = count;
    if (overlapped != nullptr) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = count;
        Signal(h, overlapped);
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
        if (overlapped->hEvent != nullptr) {
            // The wait is on the record's own event: only its operation ends it.
            if (events.count(overlapped->hEvent) == 0)
                Violation("GetOverlappedResult waited on something that is no event");
            if (!CanComplete(*it)) {
                Violation("GetOverlappedResult would wait forever: the operation cannot complete");
                world().lastError = ERROR_IO_INCOMPLETE;
                return FALSE;
            }
            Finish(*it, 0);
            pending.erase(it);
        } else if (!handleSignalled[h]) {
            // Without an event the wait is on the device handle, which the first
            // operation of the device to finish signals, whichever it is.
            auto first = std::find_if(pending.begin(), pending.end(), [h](const Pending& p) {
                return p.handle == h && CanComplete(p);
            });
            if (first == pending.end()) {
                Violation("GetOverlappedResult would wait forever on the device handle");
                world().lastError = ERROR_IO_INCOMPLETE;
                return FALSE;
            }
            Finish(*first, 0);
            pending.erase(first);
        }
    }
    // As the platform reads the record: a still pending operation reports success
    // with what the record holds so far.
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0 && overlapped->Internal != STATUS_PENDING) {
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
        FinishAll(h, ERROR_OPERATION_ABORTED,
                  [](const Pending& p) { return p.kind == Pending::kWrite; });
    }
    if ((flags & PURGE_RXABORT) != 0) {
        FinishAll(h, ERROR_OPERATION_ABORTED,
                  [](const Pending& p) { return p.kind == Pending::kRead; });
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

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    world().calls.push_back("CreateEventA");
    if (Injected("CreateEventA")) return nullptr;
    HANDLE h = reinterpret_cast<HANDLE>(nextHandle++);
    events[h] = Event{initialState != FALSE, manualReset != FALSE};
    return h;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
    world().calls.push_back("WaitForSingleObject");
    auto event = events.find(h);
    if (event == events.end()) {
        world().lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    if (event->second.signalled) return WAIT_OBJECT_0;
    auto it = std::find_if(pending.begin(), pending.end(),
                           [h](const Pending& p) { return p.overlapped->hEvent == h; });
    if (it != pending.end() && CanComplete(*it)) {
        Finish(*it, 0);
        pending.erase(it);
        return WAIT_OBJECT_0;
    }
    if (ms == INFINITE) {
        Violation("WaitForSingleObject would wait forever");
        return WAIT_TIMEOUT;
    }
    ClockSleepMs(ms);
    return WAIT_TIMEOUT;
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
