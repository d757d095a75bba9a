// Release of the connection objects, in the one order that leaves the device as
// the connection found it: the settings snapshot restored first, then the link
// (which restores what it saved), then the port.
#include "comlink/link.h"
#include "measurement/measurement.h"

void ReleaseConnection(MeasurementState& state) {
    state.connected = 0;
    // Settings first, so the device is left at the line settings it had.
    if (state.lineSettings != nullptr) {
        state.lineSettings->Restore();
        delete state.lineSettings;
        state.lineSettings = nullptr;
    }
    delete state.link;
    state.link = nullptr;
    delete state.port;
    state.port = nullptr;
}
