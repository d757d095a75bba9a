// The operating-system calls of the termios port, behind one table of function
// pointers so tests can make any of them fail (EINTR, EAGAIN, EIO, EACCES, ENOTTY)
// without a device. Only the POSIX port includes this header.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct pollfd;
struct stat;

// A line configuration in neutral terms, so that only posix_termios2.cpp needs the
// kernel's termios2 definitions (which clash with <termios.h>).
struct PosixLine {
    unsigned baud = 19200;     // any integer rate; applied through BOTHER
    int dataBits = 8;          // 5 to 8
    int parity = 0;            // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;  // with 5 data bits the UART sends 1.5 stop bits
    bool rtsCts = false;       // CRTSCTS: the kernel couples both directions
    bool xonOutput = false;    // IXON: the peer's XOFF holds our output
    bool xonInput = false;     // IXOFF: we send XOFF when our input fills
    unsigned char xonChar = 0x11;
    unsigned char xoffChar = 0x13;
};

// Reads the descriptor's settings (TCGETS2). 0, or -1 with errno.
int PosixGetLine(int fd, PosixLine* line);
// Puts the descriptor into raw mode with the given format and speed (TCSETS2,
// input speed equal to the output speed). 0, or -1 with errno. Callers read the
// result back: drivers may adjust what they cannot do.
int PosixSetLine(int fd, const PosixLine& line);

struct PosixOs {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    int (*poll)(struct pollfd* fds, unsigned long count, int timeoutMs);
    // Arguments by pointer; requests without an argument take null.
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*flock)(int fd, int operation);
    int (*stat)(const char* path, struct stat* info);
    int (*fstat)(int fd, struct stat* info);
    int (*tcflush)(int fd, int queue);
    int (*getLine)(int fd, PosixLine* line);
    int (*setLine)(int fd, const PosixLine& line);
    // Where to look for earlier holders of a device (/proc) and its UUCP lock file
    // (/var/lock); null skips that check.
    const char* procRoot;
    const char* lockDir;
};

// The table of the real calls.
const PosixOs& RealPosixOs();
