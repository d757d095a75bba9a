// Who else uses a serial device: processes that hold it open (found through
// /proc/*/fd) and UUCP lock files (LCK..name), which Linux serial tools create
// and honour. flock and TIOCEXCL only stop later openers; these see earlier ones.
// Best effort: a process whose descriptors we may not read is not seen. Only the
// POSIX build has this header.
#pragma once

#include <string>
#include <vector>

struct DeviceHolder {
    int pid = 0;
    std::string name;  // the process's command name; empty when unreadable
};

// Other processes than `selfPid` with a descriptor open on the device `devicePath`
// leads to (symbolic links followed), by pid.
std::vector<DeviceHolder> FindDeviceHolders(const std::string& procRoot,
                                            const std::string& devicePath, int selfPid);

// Where devicePath leads with every link followed ("/dev/ttyUSB0" for a by-id
// name); devicePath itself when it leads nowhere.
std::string ResolvedDevicePath(const std::string& devicePath);

// "LCK..ttyUSB0" for a path that leads to /dev/ttyUSB0; empty when it leads nowhere.
std::string LockFileName(const std::string& devicePath);

// "busy: /dev/ttyACM0 is open in ModemManager (pid 812)" for the first holder.
std::string DescribeHolder(const std::string& devicePath, const DeviceHolder& holder,
                           bool byLockFile);

// A UUCP lock file held for one device, in the HDB format (the pid in ten
// characters and a newline).
class CDeviceLock {
  public:
    CDeviceLock() = default;
    ~CDeviceLock() { Release(); }
    CDeviceLock(const CDeviceLock&) = delete;
    CDeviceLock& operator=(const CDeviceLock&) = delete;

    // Takes the lock for devicePath in lockDir. A lock file of a process that
    // still runs (a folder procRoot/<pid> exists) refuses: false, *holder names it.
    // A stale one (its process gone, or no pid in it) is replaced. When the folder
    // cannot be written the device is used without a lock file: true.
    bool Acquire(const std::string& lockDir, const std::string& procRoot,
                 const std::string& devicePath, int selfPid, DeviceHolder* holder);
    // Removes the lock file if it is still this process's.
    void Release();
    // The lock file held, empty when none.
    const std::string& Path() const { return path; }

  private:
    std::string path;
    int pid = 0;
};
