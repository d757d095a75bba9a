// On Windows the platform's port is the Win32 one.
#include "comlink/factory.h"
#include "comlink/win32_port.h"

CComPort* CreateComPort(int portIndex, int rxQueueSize, int txQueueSize) {
    return new CWin32Port(portIndex, rxQueueSize, txQueueSize, 0);
}
