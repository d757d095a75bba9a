// Apart from the rest of the client: <asm/termbits.h> clashes with <termios.h>.
#include "tests/instrument/client_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int SetAnySpeed(int fd, int baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    tio.c_cflag &= ~(CBAUD | CIBAUD);
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = static_cast<unsigned>(baud);
    tio.c_ospeed = static_cast<unsigned>(baud);
    return ioctl(fd, TCSETS2, &tio);
}
