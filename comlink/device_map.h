// Which device a COM port number opens on POSIX. COMn opens /dev/ttyS<n-1> unless
// the profile's section "Ports" or a command-line "--port COMn=PATH" names another
// device for it. One process-wide map, set by the operator interface or the CLI
// before ports are created.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct stat;

inline constexpr const char* kPortsSection = "Ports";
// COM numbers that may be mapped (the operator's spin control runs 1 to 16).
inline constexpr int kFirstMappedCom = 1;
inline constexpr int kLastMappedCom = 16;

// The device path COMn opens: its override, else /dev/ttyS<n-1>.
std::string ComDevicePath(int comNumber);

// Makes COMn open `path`. false with a message naming the value when the number is
// outside 1 to 16 or the path is not absolute; the map is then unchanged.
bool SetComDevice(int comNumber, const std::string& path, std::string* error);

// Forgets every override.
void ClearComDevices();

// Parses "COMn=PATH" (the letters of COM in either case). false with a message that
// names the text and what was expected; the outputs are then unchanged.
bool ParsePortOverride(std::string_view text, int* comNumber, std::string* path,
                       std::string* error);

// Reads the keys "COM1" to "COM16" through `lookup` (the profile section "Ports";
// an empty value means no override) and applies each valid one. Returns false when
// any value was rejected; `error` then lists every rejected key, and the valid ones
// are still applied.
bool LoadComDevices(const std::function<std::string(const std::string& key)>& lookup,
                    std::string* error);

// true when `path` names a character device (following symbolic links, so
// /dev/serial/by-id/... works); otherwise false with the reason in `error` and the
// errno in `osError` (ENOTTY for an existing file that is no device). `statCall`
// replaces stat(2) for tests and the port's OS seam.
bool CheckCharacterDevice(const std::string& path, std::string* error, int* osError = nullptr,
                          int (*statCall)(const char*, struct stat*) = nullptr);

// The operator's text for an errno from opening or using `path`, for example
// "permission denied on /dev/ttyUSB0 (add your user to the dialout group)".
std::string DescribeDeviceError(int osError, const std::string& path);
