// The COM device map on Windows: COMn is the system's own device "\\.\COMn",
// numbered by Windows itself, so there is nothing to map and no override.
#include <sys/stat.h>

#include <cstring>

#include "comlink/device_map.h"

namespace {

std::string NoMapping(const std::string& what) {
    return what + ": on Windows COMn is the system's own port, so no device can be mapped to it;" +
           " give the COM number Windows shows for the adapter (--port COMn)";
}

}  // namespace

std::string ComDevicePath(int comNumber) {
    return "\\\\.\\COM" + std::to_string(comNumber);
}

bool SetComDevice(int comNumber, const std::string& path, std::string* error) {
    if (error) *error = NoMapping("COM" + std::to_string(comNumber) + "=" + path);
    return false;
}

void ClearComDevices() {}

bool ParsePortOverride(std::string_view text, int*, std::string*, std::string* error) {
    if (error) *error = NoMapping("\"" + std::string(text) + "\"");
    return false;
}

bool LoadComDevices(const std::function<std::string(const std::string& key)>& lookup,
                    std::string* error) {
    std::string ignored;
    for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
        const std::string key = "COM" + std::to_string(n);
        if (lookup(key).empty()) continue;
        if (!ignored.empty()) ignored += ", ";
        ignored += key;
    }
    if (ignored.empty()) return true;
    if (error) *error = NoMapping(std::string("[") + kPortsSection + "] " + ignored);
    return false;
}

bool CheckCharacterDevice(const std::string& path, std::string* error, int* osError,
                          int (*)(const char*, struct stat*)) {
    if (error) *error = path + " is not a COM port name";
    if (osError) *osError = 0;
    return false;
}

std::string DescribeDeviceError(int osError, const std::string& path) {
    return path + ": " + std::strerror(osError);
}
