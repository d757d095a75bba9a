#pragma once
class CComPort;
// Creates the platform's serial port for portIndex (0 = COM1); check GetError() for the outcome.
CComPort* CreateComPort(int portIndex, int rxQueueSize, int txQueueSize);
