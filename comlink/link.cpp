// CComLink, CLineSettings and CHandshakeSettings: timed I/O and settings
// snapshots over any CComPort.
#include "comlink/link.h"

#include <algorithm>
#include <cstdint>

#include "comlink/clock.h"

namespace {

bool TimedOut(std::uint32_t start, int timeoutMs) {
    return static_cast<std::int64_t>(TicksSince(start)) >= timeoutMs;
}

}  // namespace

CLineSettings::CLineSettings(CComLink* link)
    : baud(1200),
      parity('N'),
      dataBits(8),
      stopBits(1),
      savedBaud(1200),
      savedParity('N'),
      savedDataBits(8),
      savedStopBits(1) {
    if (link != nullptr) Attach(link);
}

int CLineSettings::Attach(CComLink* link) {
    port = link != nullptr ? link->port : nullptr;
    Snapshot();
    return Apply();
}

int CLineSettings::Snapshot() {
    if (port == nullptr) return CL_ERR_FAILED;
    port->GetLineParams(savedBaud, savedParity, savedDataBits, savedStopBits);
    return 0;
}

int CLineSettings::Apply() {
    if (port == nullptr) return CL_ERR_FAILED;
    return port->SetLineParams(baud, parity, dataBits, stopBits) < 0 ? CL_ERR_FAILED : 0;
}

int CLineSettings::Set(int newBaud, char newParity, int newDataBits, int newStopBits) {
    baud = newBaud;
    parity = newParity;
    dataBits = newDataBits;
    stopBits = newStopBits;
    return Apply();
}

int CLineSettings::Restore() {
    if (port == nullptr) return 0;
    baud = savedBaud;
    parity = savedParity;
    dataBits = savedDataBits;
    stopBits = savedStopBits;
    return Apply();
}

CHandshakeSettings::CHandshakeSettings(CComLink* link)
    : port(link != nullptr ? link->port : nullptr) {
    if (port == nullptr) return;
    RefreshStatus();
    port->GetHandshake(savedType, savedKind);
    type = savedType;
    kind = savedKind;
}

int CHandshakeSettings::Set(int newType, int newKind) {
    type = newType;
    kind = newKind;
    if (port == nullptr) return CL_ERR_FAILED;
    return port->SetHandshake(type, kind);
}

int CHandshakeSettings::Restore() {
    return Set(savedType, savedKind);
}

void CHandshakeSettings::RefreshStatus() {
    if (port != nullptr) port->GetLineStatus(lineStatus);
}

CComLink::CComLink(CComPort* p) : port(p) {
    // A port that failed keeps its error for CheckStatus; touch nothing else.
    if (port == nullptr || port->GetError() != 0) return;
    lineSettings = std::make_unique<CLineSettings>(this);
    lineSettings->Set(9600, 'N', 8, 1);
    handshake = std::make_unique<CHandshakeSettings>(this);
    port->SetHandshake(LINE_NONE, LINE_NONE);
}

CComLink::~CComLink() {
    if (handshake) {
        handshake->Restore();
        handshake.reset();
    }
    if (lineSettings) {
        lineSettings->Restore();
        lineSettings.reset();
    }
}

int CComLink::Read(void* buffer, int count, int timeoutMs) {
    if (buffer == nullptr || port == nullptr) return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    unsigned want = count > 0 ? static_cast<unsigned>(count) : 0;
    std::uint32_t start = ClockTickMs();
    // A port that hands back more than asked would overrun the caller's buffer.
    unsigned total = std::min(port->Read(bytes, want), want);
    while (total < want) {
        if (TimedOut(start, timeoutMs)) break;
        int r = port->Idle();
        if (r < 0) return r;
        total += std::min(port->Read(bytes + total, want - total), want - total);
    }
    bytes[total] = 0;
    return static_cast<int>(total);
}

int CComLink::Write(const void* buffer, int count) {
    if (buffer == nullptr || count <= 0 || port == nullptr) return 0;
    return static_cast<int>(port->Write(buffer, static_cast<unsigned>(count)));
}

int CComLink::RxCount() {
    if (port == nullptr) return 0;
    PortQueueStatus status = {};
    port->GetQueueStatus(status, 1);
    return status.rxCount;
}

int CComLink::SetQueueSizes(int rxSize, int xoffLimit) {
    if (port == nullptr) return CL_ERR_DEVICE;
    return port->SetQueues(rxSize, xoffLimit, 0);
}

int CComLink::CheckStatus(std::uint16_t& flagsOut) {
    flagsOut = 0;
    if (port == nullptr) return CL_ERR_DEVICE;
    int e = port->TakeError();
    if (e != 0) return e;
    // A link over a port that had failed keeps no line-status copy to refresh.
    if (!handshake) return 0;
    handshake->RefreshStatus();
    std::uint16_t flags = 0;
    if (handshake->ParityError() != 0) flags |= ST_PARITY;
    if (handshake->FramingError() != 0) flags |= ST_FRAMING;
    if (handshake->RxOverflow() != 0) flags |= ST_RXOVERFLOW;
    if (handshake->Overrun() != 0) flags |= ST_OVERRUN;
    if (handshake->BreakDetected() != 0) flags |= ST_BREAK;
    flagsOut = flags;
    return 0;
}

int CComLink::ReadCharTimed(int timeoutMs) {
    if (port == nullptr) return CL_ERR_DEVICE;
    std::uint32_t start = ClockTickMs();
    int r = port->ReadChar();
    if (r >= 0) return r;
    for (;;) {
        if (TimedOut(start, timeoutMs)) return CL_ERR_NODATA;
        r = port->Idle();
        if (r < 0) return r;
        r = port->ReadChar();
        if (r >= 0) return r;
    }
}

int CComLink::WriteCharDelayed(unsigned char c) {
    if (port == nullptr) return CL_ERR_DEVICE;
    int result = port->WriteChar(c);
    if (charDelayMs == 0) return result;
    std::uint32_t start = ClockTickMs();
    while (!TimedOut(start, charDelayMs)) {
        int r = port->Idle();
        if (r < 0) return r;
    }
    return result;
}

int CComLink::Spare() {
    return CL_ERR_UNSUPPORTED;
}
