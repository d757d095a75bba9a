// Kept apart: <asm/termbits.h> clashes with <termios.h>, and only termios2
// reports speeds such as 128000 that have no B-constant.
#include "instrument/line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace instrument {

int ReadLineSpeed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    return static_cast<int>(tio.c_ospeed);
}

}  // namespace instrument
