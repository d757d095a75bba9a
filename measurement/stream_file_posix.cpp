// Recording a stream into a file on POSIX: a temporary file beside the target,
// the header rewritten in place at the end, synced, then renamed over the target.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "measurement/stream_file.h"

namespace {

std::string Reason(const std::string& what, const std::string& path, int err) {
    return "cannot " + what + " " + path + ": " + std::strerror(err);
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t w = write(fd, p, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

bool WriteHeader(int fd, const StreamFileHeader& header) {
    const std::string line = FormatStreamHeader(header);
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t w =
            pwrite(fd, line.data() + done, line.size() - done, static_cast<off_t>(done));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

std::string StreamStartTime() {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(t);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return text;
}

CStreamRecorder::~CStreamRecorder() {
    Abandon();
}

void CStreamRecorder::Abandon() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
}

bool CStreamRecorder::Open(const std::string& path, const StreamFileHeader& header,
                           std::string* error) {
    Abandon();
    failure_.clear();
    bytes_ = 0;
    if (path.empty() || path.back() == '/') {
        if (error != nullptr) *error = Reason("write", path, EISDIR);
        return false;
    }
    path_ = path;
    header_ = header;
    header_.complete = false;
    header_.end = "open";
    header_.bytes = 0;
    temp_ = path + ".XXXXXX";
    const int fd = mkstemp(temp_.data());
    if (fd < 0) {
        if (error != nullptr) *error = Reason("write", path, errno);
        return false;
    }
    // Permissions as a new file would get them (mkstemp makes 0600).
    const mode_t mask = umask(0);
    umask(mask);
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask);
    if (fchmod(fd, mode) != 0 || !WriteHeader(fd, header_)) {
        const int err = errno;
        close(fd);
        unlink(temp_.c_str());
        if (error != nullptr) *error = Reason("write", path, err);
        return false;
    }
    if (lseek(fd, kStreamHeaderLength, SEEK_SET) < 0) {
        const int err = errno;
        close(fd);
        unlink(temp_.c_str());
        if (error != nullptr) *error = Reason("write", path, err);
        return false;
    }
    fd_ = fd;
    return true;
}

void CStreamRecorder::OnStreamBytes(const unsigned char* bytes, int count) {
    if (fd_ < 0 || !failure_.empty() || count <= 0) return;
    if (!WriteAll(fd_, bytes, static_cast<size_t>(count))) {
        failure_ = Reason("write", path_, errno);
        // Whatever part of this write landed is not counted: the header's count
        // stays at whole writes, and the file is flagged incomplete.
        return;
    }
    bytes_ += count;
}

bool CStreamRecorder::Finish(StreamEnd end, std::string* error) {
    if (fd_ < 0) {
        if (error != nullptr) *error = "no recording is open";
        return false;
    }
    header_.end = StreamEndName(end);
    header_.bytes = bytes_;
    header_.complete = failure_.empty();
    std::string why = failure_;
    const int fd = fd_;
    fd_ = -1;
    if (!WriteHeader(fd, header_) || fsync(fd) != 0) {
        if (why.empty()) why = Reason("write", path_, errno);
        header_.complete = false;
    }
    if (close(fd) != 0 && why.empty()) why = Reason("write", path_, errno);
    // An unfinished file still goes in place: its header says it is incomplete,
    // and the samples before the failure are the operator's.
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        const int err = errno;
        unlink(temp_.c_str());
        if (error != nullptr) *error = Reason("replace", path_, err);
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
    if (!why.empty()) {
        if (error != nullptr) *error = why + " (the file is flagged incomplete)";
        return false;
    }
    return true;
}
