// A scripted in-memory CComPort for tests of code that talks to a port: it
// records every virtual call with its arguments, keeps queues and line
// settings in memory, and answers from what the test put into it. Hooks let
// a test play the far end (answer writes, deliver bytes while a reader idles).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comlink/port.h"

class CScriptPort : public CComPort {
  public:
    CScriptPort() = default;
    // A port whose open "failed": the error waits for CheckStatus.
    explicit CScriptPort(int storedError) { errorCode = storedError; }

    // --- what the test scripts ---
    std::deque<unsigned char> rx;   // bytes waiting to be read
    std::vector<unsigned char> tx;  // bytes the port accepted
    unsigned txRoom = 1u << 20;     // room left in the transmit queue
    int baud = 19200;               // current line parameters
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    int handshakeType = 0;
    int handshakeKind = 0;
    int dtr = 1, rts = 1, breakState = 0;
    int cts = 0, dsr = 0, ri = 0, dcd = 0;
    // Line errors recorded since the last GetLineStatus, by LINE_ code.
    bool overrun = false, parityErr = false, frameErr = false, breakDetect = false,
         rxOverflow = false;
    // Baud rates SetLineParams refuses (stores and returns CL_ERR_FAILED).
    std::vector<int> refusedBauds;
    // Called by Idle; its result is Idle's. Default: 0.
    std::function<int()> onIdle;
    // Called after Write accepted bytes (the far end may answer into rx).
    std::function<void(const unsigned char* bytes, unsigned count)> onWrite;
    // Called before every Read, so a test can make bytes arrive between polls.
    std::function<void()> onRead;

    // --- what the test inspects ---
    std::vector<std::string> calls;  // "Name(arg,arg)" in call order
    int idleCalls = 0;
    int readCalls = 0;

    void Deliver(const std::string& bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
    std::string Sent() const { return std::string(tx.begin(), tx.end()); }

    int Idle() override {
        Record("Idle()");
        ++idleCalls;
        return onIdle ? onIdle() : 0;
    }
    void Poll() override { Record("Poll()"); }
    void Init(int index) override { Record("Init(" + std::to_string(index) + ")"); }
    int Open() override { return Record("Open()"), 0; }
    int Close() override { return Record("Close()"), 0; }
    void GetQueueStatus(PortQueueStatus& status, int mask) override {
        Record("GetQueueStatus(" + std::to_string(mask) + ")");
        status.rxValid = 1;
        status.rxCount = static_cast<std::int32_t>(rx.size());
        status.rxSize = rxSize;
        status.txValid = 1;
        status.txCount = 0;
        status.txSize = txSize;
        status.blockFlags = 0;
    }
    int SetQueues(int rxS, int xoffLimit, int txS) override {
        Record("SetQueues(" + Args(rxS, xoffLimit, txS) + ")");
        rx.clear();
        if (rxS != 0) rxSize = rxS;
        if (txS != 0) txSize = txS;
        return 0;
    }
    int SetHandshake(int type, int kind) override {
        Record("SetHandshake(" + Args(type, kind) + ")");
        handshakeType = type;
        handshakeKind = kind;
        return 0;
    }
    int GetHandshake(int& type, int& kind) override {
        Record("GetHandshake()");
        type = handshakeType;
        kind = handshakeKind;
        return 0;
    }
    int Break(int value) override {
        Record("Break(" + std::to_string(value) + ")");
        if (value >= 0) breakState = value;
        return breakState;
    }
    int Line(int code, int value) override {
        Record("Line(" + Args(code, value) + ")");
        return LineQuery(code, value);
    }
    int SetLineParams(int b, char p, int d, int s) override {
        Record("SetLineParams(" + std::to_string(b) + "," + std::string(1, p) + "," + Args(d, s) +
               ")");
        if (std::strchr("NOEMS", p) == nullptr || p == '\0') return Fail(CL_ERR_PARITY);
        if (d < 4 || d > 8) return Fail(CL_ERR_DATABITS);
        if (s < 1 || s > 2) return Fail(CL_ERR_STOPBITS);
        if (std::find(refusedBauds.begin(), refusedBauds.end(), b) != refusedBauds.end())
            return Fail(CL_ERR_FAILED);
        baud = b;
        parity = p;
        dataBits = d;
        stopBits = s;
        return 0;
    }
    void GetLineParams(int& b, char& p, int& d, int& s) override {
        Record("GetLineParams()");
        b = baud;
        p = parity;
        d = dataBits;
        s = stopBits;
    }
    int GetLineStatus(LineStatusBits& bits) override {
        Record("GetLineStatus()");
        for (int code : lineStatusOrder) bits.SetField(code, LineQuery(code, -1));
        overrun = parityErr = frameErr = breakDetect = rxOverflow = false;
        return 0;
    }
    int WriteChar(unsigned char c) override {
        Record("WriteChar(" + std::to_string(c) + ")");
        return Accept(&c, 1) == 1 ? 0 : errorCode;
    }
    int WriteString(const char* text) override {
        Record("WriteString()");
        return static_cast<int>(Accept(text, static_cast<unsigned>(std::strlen(text))));
    }
    unsigned Write(const void* buffer, unsigned count) override {
        Record("Write(" + std::to_string(count) + ")");
        return Accept(buffer, count);
    }
    int TransmitChar(unsigned char c) override {
        Record("TransmitChar(" + std::to_string(c) + ")");
        tx.push_back(c);
        return 0;
    }
    int ReadChar() override {
        Record("ReadChar()");
        if (onRead) onRead();
        if (rx.empty()) return CL_ERR_NODATA;
        int c = rx.front();
        rx.pop_front();
        return c;
    }
    unsigned Read(void* buffer, unsigned count) override {
        Record("Read(" + std::to_string(count) + ")");
        ++readCalls;
        if (onRead) onRead();
        unsigned n = std::min<unsigned>(count, static_cast<unsigned>(rx.size()));
        auto* out = static_cast<unsigned char*>(buffer);
        for (unsigned i = 0; i < n; ++i) {
            out[i] = rx.front();
            rx.pop_front();
        }
        return n;
    }
    int Purge(int which, int count) override {
        Record("Purge(" + Args(which, count) + ")");
        if (which == 0) rx.clear();
        return 0;
    }
    void Dump(const DumpOutput& output) override {
        Record("Dump()");
        output("script port");
    }

    int rxSize = 4096;
    int txSize = 2048;

  private:
    static std::string Args(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }
    static std::string Args(int a, int b, int c) { return Args(a, b) + "," + std::to_string(c); }
    void Record(std::string call) { calls.push_back(std::move(call)); }
    int Fail(int code) {
        errorCode = code;
        return code;
    }
    unsigned Accept(const void* buffer, unsigned count) {
        unsigned n = std::min(count, txRoom);
        auto* bytes = static_cast<const unsigned char*>(buffer);
        tx.insert(tx.end(), bytes, bytes + n);
        txRoom -= n;
        if (n < count) errorCode = CL_ERR_TXSHORT;
        if (n > 0 && onWrite) onWrite(bytes, n);
        return n;
    }
    int LineQuery(int code, int value) {
        if (value != -1) {
            if (code == LINE_DTR) dtr = value != 0;
            if (code == LINE_RTS) rts = value != 0;
            if (code == LINE_BREAK) breakState = value;
        }
        switch (code) {
            case LINE_DTR:
                return dtr;
            case LINE_RTS:
                return rts;
            case LINE_BREAK:
                return breakState;
            case LINE_CTS:
                return cts;
            case LINE_DSR:
                return dsr;
            case LINE_RI:
                return ri;
            case LINE_DCD:
                return dcd;
            case 17:
            case 18:
            case 19:
            case 20:
                return 0;
            case LINE_OVERRUN:
                return overrun;
            case LINE_PARITYERR:
                return parityErr;
            case LINE_FRAMEERR:
                return frameErr;
            case LINE_BREAKDETECT:
                return breakDetect;
            case LINE_RXOVERFLOW:
                return rxOverflow;
            default:
                return 2;
        }
    }
};
