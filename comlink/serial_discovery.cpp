#include "comlink/serial_discovery.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// sysfs attributes are short; a USB string descriptor holds at most 126 characters.
constexpr std::size_t kMaxAttribute = 128;
// From a tty's device up to its USB device: port, interface, device, and some slack.
constexpr int kMaxUsbAncestors = 6;

// The first line of a sysfs attribute, with anything unprintable replaced: the
// strings come from the device itself.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return {};
    std::string line;
    std::getline(in, line);
    if (line.size() > kMaxAttribute) line.resize(kMaxAttribute);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    for (char& c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    return line;
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// -1: no "type" attribute; otherwise its value (0 is PORT_UNKNOWN: no UART).
int SysfsSerialType(const fs::path& classDir) {
    const fs::path file = classDir / "type";
    if (!Exists(file)) return -1;
    const std::string text = ReadAttribute(file);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return text.size() > 6 ? 0 : std::stoi(text);
}

bool HasUart(const std::string& name, const fs::path& classDir, const DiscoveryOs& os) {
    const int type = SysfsSerialType(classDir);
    if (type >= 0) return type != 0;
    if (!os.serialType) return false;
    return os.serialType(os.devRoot + "/" + name) > 0;
}

// A serial-core port shows a "type" attribute; the 8250 driver makes ttyS nodes for
// every legacy address whether or not a UART answers there.
bool IsSerialCorePort(const std::string& name, const fs::path& classDir) {
    return name.rfind("ttyS", 0) == 0 || Exists(classDir / "type");
}

// kernel name -> by-id path, for the links that lead to a present node.
std::map<std::string, std::string> ByIdLinks(const DiscoveryOs& os) {
    std::map<std::string, std::string> links;
    const fs::path dir = fs::path(os.devRoot) / "serial" / "by-id";
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(entry, linkError);
        if (linkError || !Exists(entry)) continue;  // not a link, or its node is gone
        const fs::path resolved = target.is_absolute() ? target : (dir / target).lexically_normal();
        const std::string name = resolved.filename().string();
        // The first link in name order wins where a device has several.
        links.emplace(name, (dir / entry.filename()).string());
    }
    return links;
}

void ReadDeviceDetails(const fs::path& classDir, const DiscoveryOs& os, SerialDevice* device) {
    std::error_code ec;
    fs::path dir = fs::canonical(classDir / "device", ec);
    if (ec) return;
    // Since Linux 6.5 a serial-core port hangs below "port" and "ctrl" devices of the
    // serial-base bus; the driver that names the hardware is above them.
    fs::path owner = dir;
    for (int i = 0; i < 3 && !owner.empty(); ++i) {
        std::error_code linkError;
        const fs::path driver = fs::canonical(owner / "driver", linkError);
        if (linkError) break;
        device->driver = driver.filename().string();
        if (driver.parent_path().parent_path().filename() != "serial-base") break;
        owner = owner.parent_path();
    }
    const fs::path sysRoot = fs::weakly_canonical(os.sysRoot, ec);
    for (int i = 0; i < kMaxUsbAncestors && !dir.empty() && dir != sysRoot; ++i) {
        if (Exists(dir / "idVendor")) {
            const std::string vendor = ReadAttribute(dir / "idVendor");
            const std::string product = ReadAttribute(dir / "idProduct");
            if (!vendor.empty() || !product.empty()) device->usbId = vendor + ":" + product;
            device->manufacturer = ReadAttribute(dir / "manufacturer");
            device->product = ReadAttribute(dir / "product");
            device->serialNumber = ReadAttribute(dir / "serial");
            return;
        }
        if (dir == dir.parent_path()) break;
        dir = dir.parent_path();
    }
}

int RealSerialType(const std::string& devicePath) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct serial_struct info {};
    const int r = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    return r == 0 ? info.type : -1;
}

}  // namespace

std::string SerialDevice::Description() const {
    std::string text = !product.empty() ? product : manufacturer;
    if (!serialNumber.empty()) text += (text.empty() ? "serial " : ", serial ") + serialNumber;
    return text.empty() ? driver : text;
}

const DiscoveryOs& RealDiscoveryOs() {
    static const DiscoveryOs os{"/sys", "/dev", RealSerialType};
    return os;
}

namespace {
const DiscoveryOs* activeOs = nullptr;
}  // namespace

const DiscoveryOs& ActiveDiscoveryOs() {
    return activeOs != nullptr ? *activeOs : RealDiscoveryOs();
}

const DiscoveryOs* SetActiveDiscoveryOs(const DiscoveryOs* os) {
    const DiscoveryOs* previous = activeOs;
    activeOs = os;
    return previous;
}

std::vector<SerialDevice> ListSerialDevices(const DiscoveryOs& os) {
    std::vector<SerialDevice> devices;
    const fs::path classRoot = fs::path(os.sysRoot) / "class" / "tty";
    const std::map<std::string, std::string> byId = ByIdLinks(os);
    std::error_code ec;
    for (fs::directory_iterator it(classRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const fs::path classDir = it->path();
        // Virtual consoles, the console and ptmx have no device behind them.
        if (!Exists(classDir / "device")) continue;
        if (IsSerialCorePort(name, classDir) && !HasUart(name, classDir, os)) continue;
        SerialDevice device;
        device.name = name;
        device.devicePath = os.devRoot + "/" + name;
        if (!Exists(device.devicePath)) continue;
        if (auto link = byId.find(name); link != byId.end()) device.byIdPath = link->second;
        ReadDeviceDetails(classDir, os, &device);
        devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.name < b.name; });
    return devices;
}

bool IsRealUart(const std::string& name, const DiscoveryOs& os) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    const fs::path classDir = fs::path(os.sysRoot) / "class" / "tty" / name;
    if (!Exists(classDir / "device")) return false;
    return HasUart(name, classDir, os);
}

const SerialDevice* FindSerialDevice(const std::vector<SerialDevice>& devices,
                                     const std::string& path) {
    for (const SerialDevice& d : devices) {
        if (path == d.devicePath || (!d.byIdPath.empty() && path == d.byIdPath)) return &d;
    }
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    if (ec) return nullptr;
    for (const SerialDevice& d : devices) {
        std::error_code other;
        if (fs::canonical(d.devicePath, other) == target && !other) return &d;
    }
    return nullptr;
}

std::string DeviceIdentity(const std::string& path) {
    struct stat link {};
    struct stat node {};
    if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &node) != 0) return {};
    return std::to_string(link.st_ino) + ":" + std::to_string(node.st_ino) + ":" +
           std::to_string(node.st_rdev);
}
