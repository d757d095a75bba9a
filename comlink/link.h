// The timed I/O link over one CComPort, and the two snapshots that save and
// restore a port's line parameters and handshake. They use only the
// operations of CComPort, so they work over any port class.
#pragma once

#include <cstdint>
#include <memory>

#include "comlink/port.h"

class CComLink;

// Line parameters to apply, and those found on the port when attached.
class CLineSettings {
  public:
    // Starts at 1200, 'N', 8, 1; with a link, attaches to it at once.
    explicit CLineSettings(CComLink* link);

    // Saves the link's port's parameters, then applies this object's own: as Apply.
    int Attach(CComLink* link);
    // Saves the port's parameters: 0, or CL_ERR_FAILED when not attached.
    int Snapshot();
    // Applies the values to apply: 0, or CL_ERR_FAILED when not attached or
    // when the port refuses (its own code stays in its errorCode).
    int Apply();
    // Stores new values to apply, then as Apply.
    int Set(int baud, char parity, int dataBits, int stopBits);
    // Applies the saved values: 0 and nothing done when not attached, else as Apply.
    int Restore();

    std::int32_t baud;
    char parity;
    std::int32_t dataBits;
    std::int32_t stopBits;
    std::int32_t savedBaud;
    char savedParity;
    std::int32_t savedDataBits;
    std::int32_t savedStopBits;
    CComPort* port = nullptr;  // not owned; null while not attached
};

// Handshake values found on the port, those last requested, and a copy of
// the port's line status.
class CHandshakeSettings {
  public:
    // Refreshes the line status (the port forgets its recorded line errors)
    // and saves the port's handshake values. Without a link (or port) it holds
    // nothing and Set gives CL_ERR_FAILED.
    explicit CHandshakeSettings(CComLink* link);

    // Stores and requests the handshake values: the port's SetHandshake result.
    int Set(int type, int kind);
    // Requests the saved values: as Set.
    int Restore();
    // Fills lineStatus from the port's GetLineStatus.
    void RefreshStatus();

    // Fields of lineStatus as of the last refresh (0 to 3); they do not call the port.
    int ParityError() const { return lineStatus.Field(LINE_PARITYERR); }
    int FramingError() const { return lineStatus.Field(LINE_FRAMEERR); }
    int RxOverflow() const { return lineStatus.Field(LINE_RXOVERFLOW); }
    int Overrun() const { return lineStatus.Field(LINE_OVERRUN); }
    int BreakDetected() const { return lineStatus.Field(LINE_BREAKDETECT); }

    std::int32_t savedType = 0;
    std::int32_t savedKind = 0;
    std::int32_t type = 0;
    std::int32_t kind = 0;
    LineStatusBits lineStatus = {};
    CComPort* port = nullptr;  // not owned
};

class CComLink {
  public:
    // Over a healthy port: saves its line parameters and handshake, then sets
    // 9600, 'N', 8, 1 without flow control. Over a port that holds an error:
    // touches nothing and keeps no snapshots. The port is not owned.
    // A null port makes a link that holds nothing: CheckStatus, SetQueueSizes and the
    // character operations give CL_ERR_DEVICE, the others 0.
    explicit CComLink(CComPort* port);
    CComLink(const CComLink&) = delete;
    CComLink& operator=(const CComLink&) = delete;

    // Restores the saved handshake, then the saved line parameters.
    virtual ~CComLink();
    // One character (0 to 255), CL_ERR_NODATA at the timeout, or a negative Idle code.
    virtual int ReadCharTimed(int timeoutMs);
    // Sends c, then idles charDelayMs: the port's WriteChar result, or a negative Idle code.
    virtual int WriteCharDelayed(unsigned char c);
    // Not supported: CL_ERR_UNSUPPORTED.
    virtual int Spare();

    // Reads up to count bytes within timeoutMs (one attempt at once, more until
    // the timeout) and stores a zero byte after them: buffer needs count + 1
    // bytes. Returns the bytes read, or a negative Idle code; null buffer: 0.
    int Read(void* buffer, int count, int timeoutMs);
    // Queues what the port has room for, never waits: bytes accepted; null buffer: 0.
    int Write(const void* buffer, int count);
    // Bytes waiting in the port's receive queue.
    int RxCount();
    // The port's SetQueues(rxSize, xoffLimit, 0): 0 or a code.
    int SetQueueSizes(int rxSize, int xoffLimit);
    // Takes the port's stored error (flagsOut 0) or, with none, the line errors
    // recorded since the last check as ST_ flags. Returns 0 or the error.
    int CheckStatus(std::uint16_t& flagsOut);

    std::int32_t charDelayMs = 0;
    CComPort* port;                                 // not owned
    std::unique_ptr<CHandshakeSettings> handshake;  // null over a failed port
    std::unique_ptr<CLineSettings> lineSettings;    // null over a failed port
};
