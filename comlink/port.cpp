// CComPort's own behaviour: the sticky error, the usage table, and the
// report for operations that a port class does not implement.
#include "comlink/port.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "comlink/report_default.h"

std::uint16_t portUsage[CL_PORT_COUNT] = {};

namespace {

// The library's source name without the build's directories, as the report shows it.
constexpr const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}
constexpr const char* kSource = BaseName(__FILE__);

ZeroAllocHook zeroAllocHook = nullptr;
ReportHandler reportHandler = nullptr;

// Index of the LineStatusBits field of code, or -1.
int FieldIndex(int code) {
    for (int i = 0; i < 16; ++i) {
        if (lineStatusOrder[i] == code) return i;
    }
    return -1;
}

}  // namespace

int LineStatusBits::Field(int code) const {
    int i = FieldIndex(code);
    if (i < 0) return 0;
    return (bytes[i / 4] >> ((i % 4) * 2)) & 3;
}

void LineStatusBits::SetField(int code, int value) {
    int i = FieldIndex(code);
    if (i < 0) return;
    int shift = (i % 4) * 2;
    bytes[i / 4] =
        static_cast<std::uint8_t>((bytes[i / 4] & ~(3 << shift)) | ((value & 3) << shift));
}

CComPort::~CComPort() {
    GiveBackUsage();
}

void CComPort::TakeUsage() {
    if (usageHeld || !PortIndexValid(portIndex)) return;
    ++portUsage[portIndex];
    usageHeld = true;
}

void CComPort::GiveBackUsage() {
    if (!usageHeld) return;
    usageHeld = false;
    if (PortIndexValid(portIndex) && portUsage[portIndex] > 0) --portUsage[portIndex];
}

int CComPort::Idle() {
    ReportPureCall(kSource, __LINE__);
}
void CComPort::Poll() {
    ReportPureCall(kSource, __LINE__);
}
void CComPort::Init(int portIndex) {
    ReportPureCall(kSource, __LINE__, portIndex);
}
int CComPort::Open() {
    ReportPureCall(kSource, __LINE__);
}
int CComPort::Close() {
    ReportPureCall(kSource, __LINE__);
}
void CComPort::GetQueueStatus(PortQueueStatus& status, int mask) {
    ReportPureCall(kSource, __LINE__, status, mask);
}
int CComPort::SetQueues(int rxSize, int xoffLimit, int txSize) {
    ReportPureCall(kSource, __LINE__, rxSize, xoffLimit, txSize);
}
int CComPort::SetHandshake(int type, int kind) {
    ReportPureCall(kSource, __LINE__, type, kind);
}
int CComPort::GetHandshake(int& type, int& kind) {
    ReportPureCall(kSource, __LINE__, type, kind);
}
int CComPort::Break(int value) {
    ReportPureCall(kSource, __LINE__, value);
}
int CComPort::Line(int code, int value) {
    ReportPureCall(kSource, __LINE__, code, value);
}
int CComPort::SetLineParams(int baud, char parity, int dataBits, int stopBits) {
    ReportPureCall(kSource, __LINE__, baud, parity, dataBits, stopBits);
}
void CComPort::GetLineParams(int& baud, char& parity, int& dataBits, int& stopBits) {
    ReportPureCall(kSource, __LINE__, baud, parity, dataBits, stopBits);
}
int CComPort::GetLineStatus(LineStatusBits& bits) {
    ReportPureCall(kSource, __LINE__, bits);
}
int CComPort::WriteChar(unsigned char c) {
    ReportPureCall(kSource, __LINE__, c);
}
int CComPort::WriteString(const char* text) {
    ReportPureCall(kSource, __LINE__, text);
}
unsigned CComPort::Write(const void* buffer, unsigned count) {
    ReportPureCall(kSource, __LINE__, buffer, count);
}
int CComPort::TransmitChar(unsigned char c) {
    ReportPureCall(kSource, __LINE__, c);
}
int CComPort::ReadChar() {
    ReportPureCall(kSource, __LINE__);
}
unsigned CComPort::Read(void* buffer, unsigned count) {
    ReportPureCall(kSource, __LINE__, buffer, count);
}
int CComPort::Purge(int which, int count) {
    ReportPureCall(kSource, __LINE__, which, count);
}
void CComPort::Dump(const DumpOutput& output) {
    ReportPureCall(kSource, __LINE__, output);
}
int CComPort::Spare1() {
    return CL_ERR_UNSUPPORTED;
}
int CComPort::Spare2() {
    return CL_ERR_UNSUPPORTED;
}

void* ZeroAlloc(std::size_t size) {
    if (zeroAllocHook != nullptr && !zeroAllocHook(size)) return nullptr;
    // calloc(0) may give null or a unique block; one byte keeps "null = refused" true.
    return std::calloc(size == 0 ? 1 : size, 1);
}

void FreeBlock(void* block) {
    std::free(block);
}

ZeroAllocHook SetZeroAllocHook(ZeroAllocHook hook) {
    ZeroAllocHook previous = zeroAllocHook;
    zeroAllocHook = hook;
    return previous;
}

ReportHandler SetReportHandler(ReportHandler handler) {
    ReportHandler previous = reportHandler;
    reportHandler = handler;
    return previous;
}

void ReportPureCall(const char* file, int line) {
    const char* format = "Pure Virtual function called @%s,%d\nUnable to continue execution";
    if (file == nullptr) file = "";
    int length = std::snprintf(nullptr, 0, format, file, line);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, file, line);
    ReportHandler show = reportHandler != nullptr ? reportHandler : DefaultReport;
    show("Library Error", text.c_str());
    std::exit(1);
}
