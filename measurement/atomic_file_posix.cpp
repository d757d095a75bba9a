// Whole-file replacement on POSIX: a temporary file beside the target, synced,
// then renamed over it, so a reader sees the old file or the new one, never half.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

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
