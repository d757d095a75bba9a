// The termios2 calls: any integer baud rate through BOTHER. <asm/termbits.h>
// defines its own struct termios, so this file must not see <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "comlink/posix_os.h"

namespace {

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

}  // namespace

int PosixGetLine(int fd, PosixLine* line) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    // The kernel keeps c_ospeed filled whether the rate was set by a B constant or BOTHER.
    line->baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line->dataBits = 5;
            break;
        case CS6:
            line->dataBits = 6;
            break;
        case CS7:
            line->dataBits = 7;
            break;
        default:
            line->dataBits = 8;
            break;
    }
    if (!(t.c_cflag & PARENB)) {
        line->parity = 0;
    } else if (t.c_cflag & CMSPAR) {
        line->parity = (t.c_cflag & PARODD) ? 3 : 4;
    } else {
        line->parity = (t.c_cflag & PARODD) ? 1 : 2;
    }
    line->twoStopBits = (t.c_cflag & CSTOPB) != 0;
    line->rtsCts = (t.c_cflag & CRTSCTS) != 0;
    line->xonOutput = (t.c_iflag & IXON) != 0;
    line->xonInput = (t.c_iflag & IXOFF) != 0;
    line->xonChar = t.c_cc[VSTART];
    line->xoffChar = t.c_cc[VSTOP];
    return 0;
}

int PosixSetLine(int fd, const PosixLine& line) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    // Raw mode: no line editing, echo, signals, translation or output processing.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CBAUD | CIBAUD);
    // CLOCAL: the open and the reads do not depend on DCD, as on Windows. CIBAUD stays 0,
    // so the input runs at the output speed.
    t.c_cflag |= CREAD | CLOCAL | BOTHER;
    const int bits = line.dataBits < 5 ? 5 : (line.dataBits > 8 ? 8 : line.dataBits);
    t.c_cflag |= kSizes[bits - 5];
    switch (line.parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (line.twoStopBits) t.c_cflag |= CSTOPB;
    if (line.rtsCts) t.c_cflag |= CRTSCTS;
    if (line.xonOutput) t.c_iflag |= IXON;
    if (line.xonInput) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = line.xonChar;
    t.c_cc[VSTOP] = line.xoffChar;
    // VMIN 1 with O_NONBLOCK: no data reads as EAGAIN, so a read of 0 means hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_ospeed = line.baud;
    t.c_ispeed = line.baud;
    return ioctl(fd, TCSETS2, &t);
}
