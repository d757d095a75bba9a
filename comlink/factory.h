// Creates the platform's serial port, so callers need no platform code.
#pragma once

#include "comlink/port.h"

// A new port for portIndex (0 = COM1) with the given queue sizes, opened: on
// Windows a CWin32Port, elsewhere a CPosixPort. Never null; GetError() is 0 when
// the port is open and ready, else the reason (osError and osErrorText say more).
// The caller deletes it through CComPort's virtual destructor.
CComPort* CreateComPort(int portIndex, int rxQueueSize, int txQueueSize);
