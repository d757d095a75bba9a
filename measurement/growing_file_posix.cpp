// CGrowingFile on POSIX: mkstemp beside the target, fsync, rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "measurement/growing_file.h"

struct CGrowingFile::Impl {
    int fd = -1;
    std::string temp;
};

namespace {

std::string Reason(const std::string& what, const std::string& path, int err) {
    return "cannot " + what + " " + path + ": " + std::strerror(err);
}

}  // namespace

CGrowingFile::CGrowingFile() : impl_(std::make_unique<Impl>()) {}

CGrowingFile::~CGrowingFile() {
    Abandon();
}

bool CGrowingFile::IsOpen() const {
    return impl_->fd >= 0;
}

void CGrowingFile::Abandon() {
    if (impl_->fd < 0) return;
    close(impl_->fd);
    impl_->fd = -1;
    unlink(impl_->temp.c_str());
}

bool CGrowingFile::Open(const std::string& path, std::string* error) {
    Abandon();
    path_ = path;
    error_.clear();
    if (path.empty() || path.back() == '/') {
        if (error != nullptr) *error = Reason("write", path, EISDIR);
        return false;
    }
    impl_->temp = path + ".XXXXXX";
    const int fd = mkstemp(impl_->temp.data());
    if (fd < 0) {
        if (error != nullptr) *error = Reason("write", path, errno);
        return false;
    }
    // An existing file keeps its permissions; a new one gets the usual ones
    // (mkstemp makes 0600).
    const mode_t mask = umask(0);
    umask(mask);
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask);
    if (fchmod(fd, mode) != 0) {
        const int err = errno;
        close(fd);
        unlink(impl_->temp.c_str());
        if (error != nullptr) *error = Reason("write", path, err);
        return false;
    }
    impl_->fd = fd;
    return true;
}

bool CGrowingFile::Append(const void* data, size_t size) {
    if (impl_->fd < 0 || Failed()) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t w = write(impl_->fd, p, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            error_ = Reason("write", path_, errno);
            return false;
        }
        p += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

bool CGrowingFile::WriteAtStart(const std::string& data) {
    if (impl_->fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w =
            pwrite(impl_->fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (w < 0) {
            if (errno == EINTR) continue;
            if (error_.empty()) error_ = Reason("write", path_, errno);
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

bool CGrowingFile::Finish(std::string* error, bool keepOnError) {
    if (impl_->fd < 0) {
        if (error != nullptr) *error = "no file is open";
        return false;
    }
    const int fd = impl_->fd;
    impl_->fd = -1;
    if (fsync(fd) != 0 && error_.empty()) error_ = Reason("write", path_, errno);
    if (close(fd) != 0 && error_.empty()) error_ = Reason("write", path_, errno);
    if (!error_.empty() && !keepOnError) {
        unlink(impl_->temp.c_str());
        if (error != nullptr) *error = error_;
        return false;
    }
    if (rename(impl_->temp.c_str(), path_.c_str()) != 0) {
        const int err = errno;
        unlink(impl_->temp.c_str());
        if (error_.empty()) error_ = Reason("replace", path_, err);
        if (error != nullptr) *error = error_;
        return false;
    }
    std::string folder = ".";
    if (const auto slash = path_.rfind('/'); slash != std::string::npos) {
        folder = slash == 0 ? "/" : path_.substr(0, slash);
    }
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    if (!error_.empty()) {
        if (error != nullptr) *error = error_;
        return false;
    }
    return true;
}
