#include "comlink/posix_os.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int RealOpen(const char* path, int flags) {
    return ::open(path, flags);
}
int RealClose(int fd) {
    return ::close(fd);
}
ssize_t RealRead(int fd, void* buffer, size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t RealWrite(int fd, const void* buffer, size_t count) {
    return ::write(fd, buffer, count);
}
int RealPoll(struct pollfd* fds, unsigned long count, int timeoutMs) {
    return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
int RealIoctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}
int RealFlock(int fd, int operation) {
    return ::flock(fd, operation);
}
int RealStat(const char* path, struct stat* info) {
    return ::stat(path, info);
}
int RealFstat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}
int RealTcflush(int fd, int queue) {
    return ::tcflush(fd, queue);
}

const PosixOs kReal = {RealOpen,     RealClose,    RealRead, RealWrite,  RealPoll,
                       RealIoctl,    RealFlock,    RealStat, RealFstat,  RealTcflush,
                       PosixGetLine, PosixSetLine, "/proc",  "/var/lock"};

}  // namespace

const PosixOs& RealPosixOs() {
    return kReal;
}
