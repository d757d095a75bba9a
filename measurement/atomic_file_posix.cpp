// Output files on POSIX. A regular file is replaced whole: a temporary file
// beside the target, synced, then renamed over it, so a reader sees the old file
// or the new one, never half. A FIFO or a character device is written directly,
// since renaming over it would replace the node with a plain file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "measurement/export.h"

namespace {

std::string SystemReason(int err) {
    return std::strerror(err);
}

// Permissions of a new file as open(2) would give it; mkstemp makes 0600.
mode_t NewFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtol(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// How long a FIFO may go without a reader, or a stream without taking a byte.
constexpr int kStreamWaitMs = 10000;

// A write to a FIFO whose reader has gone raises SIGPIPE; keep it pending only
// while writing here, then take it back, so the caller sees EPIPE instead.
class CNoSigpipe {
  public:
    CNoSigpipe() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigpending(&pendingBefore_);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous_);
    }
    ~CNoSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&pendingBefore_, SIGPIPE)) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec now{0, 0};
            sigtimedwait(&pipeOnly, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    CNoSigpipe(const CNoSigpipe&) = delete;
    CNoSigpipe& operator=(const CNoSigpipe&) = delete;

  private:
    sigset_t previous_{};
    sigset_t pendingBefore_{};
};

// Opens a FIFO or device for writing without waiting on it: a FIFO gets up to
// kStreamWaitMs for a reader to appear. Returns the descriptor or -1 with errno.
int OpenStream(const std::string& path) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStreamWaitMs);
    for (;;) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() > until) return fd;
        usleep(20000);
    }
}

// Everything of data into a FIFO or device; false with a message when it fails
// or takes no byte for kStreamWaitMs.
bool WriteStream(const std::string& path, const std::string& data, std::string* why) {
    const int fd = OpenStream(path);
    if (fd < 0) {
        *why = errno == ENXIO ? "no program reads from it" : SystemReason(errno);
        return false;
    }
    CNoSigpipe noSigpipe;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) {
            *why = errno == EPIPE ? "the program reading from it went away" : SystemReason(errno);
            close(fd);
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, kStreamWaitMs);
        if (ready == 0) {
            *why = "it took nothing for " + std::to_string(kStreamWaitMs / 1000) + " s";
            close(fd);
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            *why = SystemReason(errno);
            close(fd);
            return false;
        }
    }
    if (close(fd) != 0 && errno != EINTR) {
        *why = SystemReason(errno);
        return false;
    }
    return true;
}

// Why a node of this kind is no output; empty for a regular file, FIFO or
// character device.
std::string Unfit(mode_t mode) {
    if (S_ISDIR(mode)) return SystemReason(EISDIR);
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
    if (S_ISBLK(mode)) return "it is a block device, not a file";
    if (!S_ISREG(mode) && !S_ISFIFO(mode) && !S_ISCHR(mode)) return "it is not a file";
    return {};
}

}  // namespace

bool CheckOutputPath(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = "cannot write " + path + ": " + why;
        return false;
    };
    if (path.empty() || path.back() == '/') return fail(SystemReason(EISDIR));
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        const std::string unfit = Unfit(st.st_mode);
        if (!unfit.empty()) return fail(unfit);
        if (access(path.c_str(), W_OK) != 0) return fail(SystemReason(errno));
        if (!S_ISREG(st.st_mode)) return true;
    } else if (errno != ENOENT) {
        return fail(SystemReason(errno));
    }
    // A regular file is replaced through a temporary file in its folder.
    std::string target = path;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(path, ec);
        if (ec) return fail(ec.message());
        target = resolved.string();
    }
    const std::string folder = Folder(target);
    struct stat dir {};
    if (stat(folder.c_str(), &dir) != 0) return fail(SystemReason(errno));
    if (!S_ISDIR(dir.st_mode)) return fail(SystemReason(ENOTDIR));
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return fail("the folder " + folder + " is not writable: " + SystemReason(errno));
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error) {
    auto fail = [&](const std::string& what, int err) {
        if (error != nullptr) *error = "cannot " + what + " " + path + ": " + SystemReason(err);
        return false;
    };
    if (path.empty() || path.back() == '/') return fail("write", EISDIR);
    // Through a symbolic link the file it names is replaced, and the link stays.
    std::string target = path;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(path, ec);
        if (ec) return fail("write", ec.value());
        target = resolved.string();
    }

    struct stat node {};
    if (stat(path.c_str(), &node) == 0) {
        const std::string unfit = Unfit(node.st_mode);
        if (!unfit.empty()) {
            if (error != nullptr) *error = "cannot write " + path + ": " + unfit;
            return false;
        }
        if (S_ISFIFO(node.st_mode) || S_ISCHR(node.st_mode)) {
            std::string why;
            if (WriteStream(path, data, &why)) return true;
            if (error != nullptr) *error = "cannot write " + path + ": " + why;
            return false;
        }
    }
    // A file its owner made read-only is not replaced behind its back.
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        return fail("write", errno);
    }

    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return fail("write", errno);
    auto abandon = [&](const std::string& what, int err) {
        close(fd);
        unlink(temp.c_str());
        return fail(what, err);
    };

    // A file that exists keeps its permissions; a new one gets the usual ones.
    struct stat old {};
    const mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();
    if (fchmod(fd, mode) != 0) return abandon("write", errno);

    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return abandon("write", errno);
        }
        done += static_cast<size_t>(w);
    }
    if (fsync(fd) != 0) return abandon("write", errno);
    if (close(fd) != 0) {
        const int err = errno;
        unlink(temp.c_str());
        return fail("write", err);
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        unlink(temp.c_str());
        return fail("replace", err);
    }
    // The rename itself reaches the disk with the folder's entry.
    const int dir = open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
