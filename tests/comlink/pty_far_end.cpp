// Written apart from the port's own termios2 code so that the test does not read
// the settings back through the code under test.
#include "tests/comlink/pty_far_end.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ReadFarEndView(int masterFd, FarEndView* view) {
    struct termios2 t {};
    if (ioctl(masterFd, TCGETS2, &t) != 0) return false;
    view->outputBaud = t.c_ospeed;
    view->inputBaud = t.c_ispeed;
    const tcflag_t size = t.c_cflag & CSIZE;
    view->dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    view->parity = (t.c_cflag & PARENB) != 0;
    view->twoStopBits = (t.c_cflag & CSTOPB) != 0;
    view->raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
                !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON));
    view->readMinOne = t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
    return true;
}
