// Stand-in for the measurement cycle and connection while they are not in the
// tree: no instrument is ever found. The dialog tests replace both anyway.
#include <cstdio>

#include "measurement/measurement.h"

void SingleConvert(MeasurementState&, MeasurementUi&) {}

void ConnectInstrument(MeasurementState& state, MeasurementUi& ui, int comPort) {
    char text[32];
    std::snprintf(text, sizeof text, "COM%d:Error", comPort);
    state.connected = 0;
    state.portStatusText = text;
    ui.ShowValues();
}

void ReleaseConnection(MeasurementState&) {}
