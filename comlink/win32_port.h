// CWin32Port: a COM device driven through the Win32 communications API,
// opened for overlapped I/O. Reads take only what has arrived; writes are
// handed to the device and finish in the background. Every overlapped record
// carries its own manual-reset event, so a wait ends only with its own
// operation, and the device never writes into memory that is not the port's.
#pragma once

#include <cstdint>

#include "comlink/port.h"
#include "comlink/win32_api.h"

class CWin32Port : public CComPort {
  public:
    // Opens COM(portIndex + 1) with the given queue sizes (low 16 bits count),
    // 19200 8N1 without flow control, DTR and RTS raised. The outcome is in
    // GetError(): 0, CL_ERR_MEMORY, CL_ERR_INUSE, CL_ERR_DEVICE (index outside
    // the usage table) or the translated platform failure. noOpen != 0 builds
    // an object that holds nothing: its operations fail with CL_ERR_DEVICE.
    CWin32Port(int portIndex, int rxSize, int txSize, int noOpen);
    // Closes the device (queues discarded, DTR and RTS lowered), gives back the
    // usage count and the records.
    ~CWin32Port() override;

    int Idle() override;  // Sleep(0): always 0
    void Poll() override;
    void Init(int portIndex) override;  // uses the index given at construction
    int Open() override;
    int Close() override;
    void GetQueueStatus(PortQueueStatus& status, int mask) override;  // mask not looked at
    int SetQueues(int rxSize, int xoffLimit, int txSize) override;
    int SetHandshake(int type, int kind) override;
    int GetHandshake(int& type, int& kind) override;
    int Break(int value) override;
    int Line(int code, int value) override;
    // A new speed is applied only once the bytes already queued have left (polled
    // through the output count, for at most their wire time plus 2 ms), so they
    // do not go out at the new speed.
    int SetLineParams(int baud, char parity, int dataBits, int stopBits) override;
    void GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) override;
    int GetLineStatus(LineStatusBits& bits) override;
    int WriteChar(unsigned char c) override;
    int WriteString(const char* text) override;
    // Copies the accepted bytes into storage of the port's own, so the caller may
    // reuse its buffer at once. Never waits for these bytes; a previous write still
    // in progress is waited for at most the wire time of what is queued plus 20 ms,
    // and when it has not ended by then (a held CTS, DSR or XOFF) nothing is
    // accepted: 0, with CL_ERR_TXSHORT stored.
    unsigned Write(const void* buffer, unsigned count) override;
    int TransmitChar(unsigned char c) override;
    int ReadChar() override;
    unsigned Read(void* buffer, unsigned count) override;
    int Purge(int which, int count) override;
    void Dump(const DumpOutput& output) override;

    // Sets the event character in a fresh copy of the device state: the
    // platform's success value (non-zero on success), not a library code.
    virtual BOOL SetEventChar(char c);
    // The device's event mask: 0, or the translated code.
    virtual int GetEventMask(DWORD& mask);
    // Sets the event mask: 0, or the translated code.
    virtual int SetEventMask(DWORD mask);
    // Waits for one of the masked events, at most kEventWaitMs, and reports those
    // that occurred (none when the time ran out): 0, or the translated code.
    virtual int WaitEvent(DWORD& mask);
    // which 1: DTR as last set; 2: RTS as last set; otherwise 1 when any bit of
    // which is on in the modem status (MS_ bits), else 0 (also when it cannot be read).
    virtual int ModemLine(int which);
    // The library code of GetLastError(); stores nothing.
    virtual int TranslateLastError();

    DCB* dcb = nullptr;  // the device state as the port edits and applies it
    OVERLAPPED* readOverlapped = nullptr;
    OVERLAPPED* writeOverlapped = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;  // the open device
    std::int32_t handshakeType = 0;
    std::int32_t handshakeKind = 0;
    std::int32_t rtsState = 1;
    std::int32_t dtrState = 1;
    std::uint16_t breakState = 0;
    std::uint32_t pendingErrors = 0;  // CE_ bits gathered since the last GetLineStatus
    std::uint32_t txQueueSize = 0;
    std::uint32_t rxQueueSize = 0;

    static constexpr DWORD kEventWaitMs = 10000;

  private:
    bool Hollow() const { return dcb == nullptr; }
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    int Store(int code);
    // Notes GetLastError() with a short reason in osError/osErrorText; returns its library code.
    int PlatformFailure(const char* call);
    // false when the device state cannot be read (no open device).
    bool GatherErrors(COMSTAT* comstat);
    // SetCommState of the copy, after the output queue has drained when the
    // speed changes; notes the speed and frame of what the device now sends.
    BOOL Apply();
    void DrainOutput();
    DWORD WireTimeMs(DWORD bytes) const;
    // Waits at most ms for the operation of record ov: 1 ended well (*done bytes),
    // 0 ended in failure, -1 still in progress (the record stays the device's).
    int Await(OVERLAPPED* ov, DWORD ms, DWORD* done);
    bool EndWrite(DWORD queued);
    bool EndRead();
    // At close: aborts what is still in progress; a record the device keeps is not released.
    void AbandonPending();
    bool Grow(unsigned char** block, unsigned* size, unsigned n);
    void ReleaseRecords();

    unsigned char* writeCopy = nullptr;  // bytes of the last write, alive until it completes
    unsigned writeCopySize = 0;
    bool writePending = false;          // writeOverlapped belongs to the device until completion
    unsigned char* readCopy = nullptr;  // what the device reads into, copied out when done
    unsigned readCopySize = 0;
    bool readPending = false;
    OVERLAPPED* eventOverlapped = nullptr;  // WaitEvent's record, made at its first use
    DWORD eventMask = 0;                    // where a pending WaitEvent puts the events
    bool eventPending = false;
    bool recordsKept = false;  // the device still holds a record: it is never released
    DWORD appliedBaud = 0;     // speed and bits per character the device runs with
    double appliedFrameBits = 10.0;
};
