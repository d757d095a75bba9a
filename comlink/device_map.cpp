#include "comlink/device_map.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::mutex mapMutex;
std::map<int, std::string>& Overrides() {
    static std::map<int, std::string> overrides;
    return overrides;
}

bool ValidComNumber(int comNumber) {
    return comNumber >= kFirstMappedCom && comNumber <= kLastMappedCom;
}

}  // namespace

std::string ComDevicePath(int comNumber) {
    {
        std::lock_guard lock(mapMutex);
        auto it = Overrides().find(comNumber);
        if (it != Overrides().end()) return it->second;
    }
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

bool SetComDevice(int comNumber, const std::string& path, std::string* error) {
    const std::string name = "COM" + std::to_string(comNumber);
    if (!ValidComNumber(comNumber)) {
        if (error) *error = name + ": expected a port number from 1 to 16";
        return false;
    }
    if (path.empty() || path.front() != '/') {
        if (error)
            *error = name + "=" + path + ": expected an absolute device path such as /dev/ttyUSB0";
        return false;
    }
    std::lock_guard lock(mapMutex);
    Overrides()[comNumber] = path;
    return true;
}

void ClearComDevices() {
    std::lock_guard lock(mapMutex);
    Overrides().clear();
}

bool ParsePortOverride(std::string_view text, int* comNumber, std::string* path,
                       std::string* error) {
    auto fail = [&](const char* why) {
        if (error) {
            *error = "\"" + std::string(text) + "\": " + why +
                     ", expected COMn=PATH, for example COM3=/dev/ttyUSB0";
        }
        return false;
    };
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return fail("no '='");
    const std::string_view name = text.substr(0, eq);
    const std::string_view value = text.substr(eq + 1);
    if (name.size() < 4 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' ||
        (name[2] | 0x20) != 'm') {
        return fail("the port must be named COMn");
    }
    int number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') return fail("the port number must be decimal digits");
        number = number * 10 + (c - '0');
        if (number > kLastMappedCom) break;
    }
    if (!ValidComNumber(number)) return fail("the port number must be 1 to 16");
    if (value.empty() || value.front() != '/') return fail("the device path must be absolute");
    *comNumber = number;
    *path = std::string(value);
    return true;
}

bool LoadComDevices(const std::function<std::string(const std::string& key)>& lookup,
                    std::string* error) {
    std::string problems;
    for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
        const std::string key = "COM" + std::to_string(n);
        const std::string value = lookup(key);
        if (value.empty()) continue;
        std::string why;
        if (!SetComDevice(n, value, &why)) {
            if (!problems.empty()) problems += "; ";
            problems += std::string("[") + kPortsSection + "] " + why;
        }
    }
    if (problems.empty()) return true;
    if (error) *error = problems;
    return false;
}

bool CheckCharacterDevice(const std::string& path, std::string* error, int* osError,
                          int (*statCall)(const char*, struct stat*)) {
    struct stat info {};
    const int result = statCall ? statCall(path.c_str(), &info) : ::stat(path.c_str(), &info);
    if (result != 0) {
        const int err = errno;
        if (error) *error = DescribeDeviceError(err, path);
        if (osError) *osError = err;
        return false;
    }
    if (!S_ISCHR(info.st_mode)) {
        if (error)
            *error =
                path + " is not a character device (expected a serial port such as /dev/ttyUSB0)";
        if (osError) *osError = ENOTTY;
        return false;
    }
    return true;
}

std::string DescribeDeviceError(int osError, const std::string& path) {
    switch (osError) {
        case EACCES:
        case EPERM:
            return "permission denied on " + path + " (add your user to the dialout group)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return "no such device " + path;
        case EBUSY:
        case EWOULDBLOCK:
            return "busy: " + path + " is open in another program";
        case EIO:
            return "input/output error on " + path + " (the device is missing or gone)";
        case ENOTTY:
            return path + " is not a serial port";
        default:
            return path + ": " + std::strerror(osError);
    }
}
