#include "ui/serial_ports.h"

#include "comlink/device_map.h"
#include "measurement/com_store.h"

CSerialPorts& SerialPorts() {
    static CSerialPorts ports;
    return ports;
}

std::string CSerialPorts::SetUp(Profile* profile, const std::map<int, std::string>& overrides) {
    profile_ = profile;
    overrides_ = overrides;
    return Rescan();
}

std::string CSerialPorts::Rescan() {
    if (profile_ == nullptr) return {};
    std::string error;
    SetUpComPorts(database_, ProfileComStore(*profile_), overrides_, ActiveDiscoveryOs(), &error);
    present_ = ListSerialDevices(ActiveDiscoveryOs());
    return error;
}

void CSerialPorts::Reset() {
    profile_ = nullptr;
    overrides_.clear();
    database_ = CComDatabase();
    present_.clear();
    lookedFor_.clear();
}

std::vector<ComPortRow> CSerialPorts::Rows() const {
    return ListComPorts(database_, present_, ActiveDiscoveryOs());
}

std::string CSerialPorts::Describe(int comNumber, const std::string& path) {
    // A device plugged in since the last look is described, not shown as absent; a
    // path that is no serial device (a pseudo-terminal) is looked for once, not at
    // every refresh of the dialog.
    if (FindSerialDevice(present_, path) == nullptr) {
        const std::string identity = DeviceIdentity(path);
        if (!identity.empty() && lookedFor_[path] != identity) {
            lookedFor_[path] = identity;
            present_ = ListSerialDevices(ActiveDiscoveryOs());
        }
    }
    return DescribeComPort(comNumber, path, present_);
}

void CSerialPorts::Refill() {
    ClearComDevices();
    database_.ApplyToDeviceMap();
    for (const auto& [n, path] : overrides_) SetComDevice(n, path, nullptr);
}

bool CSerialPorts::Renumber(int from, int to, std::string* error) {
    if (profile_ == nullptr) {
        if (error) *error = "no profile to keep the COM numbers in";
        return false;
    }
    if (!database_.Renumber(from, to, ProfileComStore(*profile_), error)) return false;
    Refill();
    return true;
}

bool CSerialPorts::Forget(int number, std::string* error) {
    if (profile_ == nullptr) {
        if (error) *error = "no profile to keep the COM numbers in";
        return false;
    }
    if (!database_.Forget(number, ProfileComStore(*profile_), error)) return false;
    Refill();
    return true;
}
