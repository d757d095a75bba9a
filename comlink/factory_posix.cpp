#include "comlink/factory.h"
#include "comlink/posix_port.h"

CComPort* CreateComPort(int portIndex, int rxQueueSize, int txQueueSize) {
    return new CPosixPort(portIndex, rxQueueSize, txQueueSize, 0);
}
