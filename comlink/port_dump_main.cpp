// comlink-dump: opens COMn through the platform's port and prints its six
// description lines, or why it could not be opened.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "comlink/factory.h"
#include "comlink/port.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: comlink-dump N   (the COM port number, 1 to %d)\n",
                     CL_PORT_COUNT);
        return 2;
    }
    char* end = nullptr;
    long n = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || n < 1 || n > CL_PORT_COUNT) {
        std::fprintf(stderr, "comlink-dump: '%s' is not a COM port number from 1 to %d\n", argv[1],
                     CL_PORT_COUNT);
        return 2;
    }
    std::unique_ptr<CComPort> port(CreateComPort(static_cast<int>(n) - 1, 4096, 2048));
    if (int e = port->GetError(); e != 0) {
        std::fprintf(stderr, "comlink-dump: COM%ld: error %d: %s\n", n, e,
                     port->osErrorText.empty() ? "no further detail" : port->osErrorText.c_str());
        return 1;
    }
    port->Dump([](const char* line) { std::printf("%s\n", line); });
    return 0;
}
