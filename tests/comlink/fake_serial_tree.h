// A fake /sys and /dev tree in a temporary folder, laid out as the kernel and udev
// lay out USB serial adapters, CDC-ACM devices and legacy UARTs: class links into
// the device tree, "device" and "driver" links, USB attributes on the USB device,
// and /dev/serial/by-id links. Removed when the object goes.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comlink/serial_discovery.h"

class FakeSerialTree {
  public:
    FakeSerialTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelkor-serial-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) root = pattern;
        std::filesystem::create_directories(Sys() / "class" / "tty");
        std::filesystem::create_directories(Dev() / "serial" / "by-id");
        std::filesystem::create_directories(Proc());
        std::filesystem::create_directories(Lock());
    }
    ~FakeSerialTree() {
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }
    FakeSerialTree(const FakeSerialTree&) = delete;
    FakeSerialTree& operator=(const FakeSerialTree&) = delete;

    std::filesystem::path Sys() const { return root / "sys"; }
    std::filesystem::path Dev() const { return root / "dev"; }
    DiscoveryOs Os() const { return DiscoveryOs{Sys().string(), Dev().string(), nullptr}; }
    std::string ByIdPath(const std::string& linkName) const {
        return (Dev() / "serial" / "by-id" / linkName).string();
    }

    struct Usb {
        std::string name;  // ttyUSB0, ttyACM0
        std::string driver;
        std::string vendor, product;  // "0403", "6001"
        std::string manufacturer, productName, serial;
        std::string byId;        // link name under /dev/serial/by-id; empty for none
        std::string nodeTarget;  // empty: a plain file; else /dev/<name> links here
    };

    // A USB serial port (ttyUSB, a port device below the interface) or a CDC-ACM
    // port (ttyACM, the interface itself).
    void AddUsb(const Usb& u) {
        const int bus = ++usbCount;
        const std::filesystem::path usbDev = Sys() / "devices" / "pci0000:00" / "0000:00:14.0" /
                                             "usb1" / ("1-" + std::to_string(bus));
        const std::filesystem::path intf = usbDev / ("1-" + std::to_string(bus) + ":1.0");
        const bool acm = u.name.rfind("ttyACM", 0) == 0;
        const std::filesystem::path portDev = acm ? intf : intf / u.name;
        std::filesystem::create_directories(portDev / "tty" / u.name);
        Write(usbDev / "idVendor", u.vendor);
        Write(usbDev / "idProduct", u.product);
        if (!u.manufacturer.empty()) Write(usbDev / "manufacturer", u.manufacturer);
        if (!u.productName.empty()) Write(usbDev / "product", u.productName);
        if (!u.serial.empty()) Write(usbDev / "serial", u.serial);
        const std::filesystem::path driverDir = Sys() / "bus" / "usb" / "drivers" / u.driver;
        std::filesystem::create_directories(driverDir);
        std::filesystem::create_directory_symlink(driverDir, portDev / "driver");
        Publish(u.name, portDev, u.nodeTarget);
        if (!u.byId.empty()) LinkById(u.byId, u.name);
    }

    // A serial-core port with the given UART type (0: none answers there).
    void AddUart(const std::string& name, int type) {
        const std::filesystem::path platform = Sys() / "devices" / "platform" / "serial8250";
        std::filesystem::create_directories(platform / "tty" / name);
        Write(platform / "tty" / name / "type", std::to_string(type));
        const std::filesystem::path driverDir =
            Sys() / "bus" / "platform" / "drivers" / "serial8250";
        std::filesystem::create_directories(driverDir);
        std::error_code ec;
        std::filesystem::create_directory_symlink(driverDir, platform / "driver", ec);
        Publish(name, platform, "");
    }

    // A serial-core port as Linux 6.5 and later lay it out: below "ctrl" and "port"
    // devices of the serial-base bus, the hardware's driver above them.
    void AddSerialBaseUart(const std::string& name, int type) {
        const std::filesystem::path pnp = Sys() / "devices" / "pnp0" / "00:00";
        const std::filesystem::path ctrl = pnp / "00:00:0";
        const std::filesystem::path port = ctrl / "00:00:0.0";
        std::filesystem::create_directories(port / "tty" / name);
        Write(port / "tty" / name / "type", std::to_string(type));
        const std::pair<std::filesystem::path, std::filesystem::path> drivers[] = {
            {pnp, Sys() / "bus" / "pnp" / "drivers" / "serial"},
            {ctrl, Sys() / "bus" / "serial-base" / "drivers" / "ctrl"},
            {port, Sys() / "bus" / "serial-base" / "drivers" / "port"}};
        for (const auto& [dir, driver] : drivers) {
            std::filesystem::create_directories(driver);
            std::filesystem::create_directory_symlink(driver, dir / "driver");
        }
        Publish(name, port, "");
    }

    // A tty with no device behind it (a virtual console).
    void AddConsole(const std::string& name) {
        std::filesystem::create_directories(Sys() / "devices" / "virtual" / "tty" / name);
        std::filesystem::create_directory_symlink(Sys() / "devices" / "virtual" / "tty" / name,
                                                  Sys() / "class" / "tty" / name);
        Write(Dev() / name, "");
    }

    // /dev/serial/by-id/<linkName> -> ../../<name>, made atomically as udev does.
    void LinkById(const std::string& linkName, const std::string& name) {
        const std::filesystem::path link = Dev() / "serial" / "by-id" / linkName;
        const std::filesystem::path temp = link.string() + ".tmp";
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        std::filesystem::create_symlink(std::filesystem::path("../..") / name, temp);
        std::filesystem::rename(temp, link);
    }

    // The device is unplugged: its class entry, node and by-id link go.
    void Unplug(const std::string& name, const std::string& byId) {
        std::error_code ec;
        std::filesystem::remove(Sys() / "class" / "tty" / name, ec);
        std::filesystem::remove(Dev() / name, ec);
        if (!byId.empty()) std::filesystem::remove(Dev() / "serial" / "by-id" / byId, ec);
    }

    // A fake /proc and lock folder beside the trees.
    std::filesystem::path Proc() const { return root / "proc"; }
    std::filesystem::path Lock() const { return root / "lock"; }

    // A process `pid` named `comm` with descriptors open on the given paths.
    void AddProcess(int pid, const std::string& comm, const std::vector<std::string>& open) {
        const std::filesystem::path dir = Proc() / std::to_string(pid);
        std::filesystem::create_directories(dir / "fd");
        Write(dir / "comm", comm);
        int fd = 3;
        for (const std::string& path : open) {
            std::filesystem::create_symlink(path, dir / "fd" / std::to_string(fd++));
        }
    }

    std::filesystem::path root;

  private:
    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }

    void Publish(const std::string& name, const std::filesystem::path& deviceDir,
                 const std::string& nodeTarget) {
        const std::filesystem::path ttyDir = deviceDir / "tty" / name;
        std::error_code ec;
        std::filesystem::create_directory_symlink(deviceDir, ttyDir / "device", ec);
        std::filesystem::create_directory_symlink(ttyDir, Sys() / "class" / "tty" / name, ec);
        if (nodeTarget.empty()) {
            Write(Dev() / name, "");
        } else {
            std::filesystem::create_symlink(nodeTarget, Dev() / name, ec);
        }
    }

    int usbCount = 0;
};
