// Which serial devices are present on this machine, read from sysfs and /dev.
// The roots are replaceable so tests run over fake trees. Only the POSIX build
// has this header.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct SerialDevice {
    std::string name;          // kernel name: "ttyUSB0"
    std::string devicePath;    // "/dev/ttyUSB0" (under the dev root)
    std::string byIdPath;      // "/dev/serial/by-id/usb-FTDI_..."; empty when there is none
    std::string driver;        // "ftdi_sio", "cdc_acm", "serial8250"
    std::string usbId;         // "0403:6001"; empty for a device that is not on USB
    std::string manufacturer;  // as the device reports them; empty when it does not
    std::string product;
    std::string serialNumber;

    // The path that names this device across replugs: byIdPath, else devicePath.
    const std::string& StablePath() const { return byIdPath.empty() ? devicePath : byIdPath; }
    // "FT232R USB UART, serial A50285BI", from what the device reports; else the driver.
    std::string Description() const;
};

struct DiscoveryOs {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    // The serial type (TIOCGSERIAL) of a device node, 0 for "unknown" (no UART), -1 when
    // it cannot be asked. Used only for ports whose sysfs entry has no "type". Null: -1.
    std::function<int(const std::string& devicePath)> serialType;
};

// The real roots and the real TIOCGSERIAL probe.
const DiscoveryOs& RealDiscoveryOs();
// What the programs look at: the real system, or the fake tree a test installed.
const DiscoveryOs& ActiveDiscoveryOs();
// Installs os (not owned; null restores the real one). Returns the previous one,
// null for the real.
const DiscoveryOs* SetActiveDiscoveryOs(const DiscoveryOs* os);

// The serial devices present, sorted by name: USB serial, CDC-ACM and every other
// tty with a device behind it, but a serial-core port (ttyS...) only where a UART
// is there. A by-id link to a node that no longer exists is ignored. Never fails:
// what cannot be read is left out.
std::vector<SerialDevice> ListSerialDevices(const DiscoveryOs& os = RealDiscoveryOs());

// true when tty `name` (e.g. "ttyS2") is a serial-core port with a UART behind it.
bool IsRealUart(const std::string& name, const DiscoveryOs& os = RealDiscoveryOs());

// The device among `devices` that `path` names: its by-id path, its device path, or
// a symbolic link that leads to either. Null when none.
const SerialDevice* FindSerialDevice(const std::vector<SerialDevice>& devices,
                                     const std::string& path);

// What tells one appearance of a device from the next under the same path: the
// inodes of the link and the node and the node's device number (udev makes both
// anew on a replug, a pseudo-terminal gets a new node). Empty when path leads to
// nothing.
std::string DeviceIdentity(const std::string& path);
