#include "comlink/serial_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A pid as /proc names it: decimal digits only, and within pid_t.
int ParsePid(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoi(text);
}

std::string CommandName(const std::string& procRoot, int pid) {
    std::ifstream in(procRoot + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    if (name.size() > 64) name.resize(64);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return name;
}

bool Alive(const std::string& procRoot, int pid) {
    std::error_code ec;
    return pid > 0 && fs::is_directory(procRoot + "/" + std::to_string(pid), ec);
}

// The pid in a lock file: HDB ("%10d\n") or plain decimal text; 0 when none.
int ReadLockPid(const std::string& file) {
    // The lock folder is everyone's: read no more than a pid can take.
    std::ifstream in(file, std::ios::binary);
    char buffer[32] = {};
    in.read(buffer, sizeof buffer - 1);
    std::string text(buffer, static_cast<std::size_t>(in.gcount()));
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return 0;
    const std::size_t last = text.find_first_of(" \t\r\n", first);
    return ParsePid(
        text.substr(first, last == std::string::npos ? std::string::npos : last - first));
}

}  // namespace

std::vector<DeviceHolder> FindDeviceHolders(const std::string& procRoot,
                                            const std::string& devicePath, int selfPid) {
    std::vector<DeviceHolder> holders;
    std::error_code ec;
    const fs::path device = fs::canonical(devicePath, ec);
    if (ec) return holders;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const int pid = ParsePid(it->path().filename().string());
        if (pid == 0 || pid == selfPid) continue;
        std::error_code fdError;
        // Another user's descriptors are not readable: that process is not seen.
        for (fs::directory_iterator fd(it->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
             fd.increment(fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd->path(), linkError);
            if (!linkError && target == device) {
                holders.push_back({pid, CommandName(procRoot, pid)});
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string ResolvedDevicePath(const std::string& devicePath) {
    std::error_code ec;
    const fs::path device = fs::canonical(devicePath, ec);
    return ec ? devicePath : device.string();
}

std::string LockFileName(const std::string& devicePath) {
    std::error_code ec;
    const fs::path device = fs::canonical(devicePath, ec);
    if (ec || device.filename().empty()) return {};
    return "LCK.." + device.filename().string();
}

std::string DescribeHolder(const std::string& devicePath, const DeviceHolder& holder,
                           bool byLockFile) {
    std::string who = holder.name.empty() ? "another program" : holder.name;
    return "busy: " + devicePath + (byLockFile ? " is locked by " : " is open in ") + who +
           " (pid " + std::to_string(holder.pid) + ")";
}

bool CDeviceLock::Acquire(const std::string& lockDir, const std::string& procRoot,
                          const std::string& devicePath, int selfPid, DeviceHolder* holder) {
    Release();
    const std::string name = LockFileName(devicePath);
    if (name.empty()) return true;
    const std::string file = lockDir + "/" + name;
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", selfPid);
    const std::string temp = lockDir + "/LCK.." + std::to_string(selfPid) + ".tmp";
    // Written aside and linked into place, so no one ever reads a half-written file
    // and two programs cannot both win: link() fails when the name exists.
    // Never through a link someone else left under that name.
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return true;  // no lock folder we may write: go on without
    const bool written = ::write(fd, content, 11) == 11;
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        return true;
    }
    bool taken = false;
    for (int attempt = 0; attempt < 2 && !taken; ++attempt) {
        if (::link(temp.c_str(), file.c_str()) == 0) {
            taken = true;
            break;
        }
        if (errno != EEXIST) break;
        const int owner = ReadLockPid(file);
        if (owner != selfPid && Alive(procRoot, owner)) {
            ::unlink(temp.c_str());
            if (holder != nullptr) *holder = {owner, CommandName(procRoot, owner)};
            return false;
        }
        // Stale: its process has gone (or it names none, or it is our own).
        ::unlink(file.c_str());
    }
    ::unlink(temp.c_str());
    if (taken) {
        path = file;
        pid = selfPid;
    }
    return true;
}

void CDeviceLock::Release() {
    if (path.empty()) return;
    if (ReadLockPid(path) == pid) ::unlink(path.c_str());
    path.clear();
}
