// What the far end of a pseudo-terminal sees of the near end's line settings.
#pragma once

// The slave's settings as read on the master side (TCGETS2); false when the call fails.
struct FarEndView {
    unsigned outputBaud = 0;
    unsigned inputBaud = 0;
    int dataBits = 0;
    bool parity = false;
    bool twoStopBits = false;
    bool raw = false;         // no canonical mode, echo, signals or output processing
    bool readMinOne = false;  // VMIN 1, VTIME 0
};
bool ReadFarEndView(int masterFd, FarEndView* view);
