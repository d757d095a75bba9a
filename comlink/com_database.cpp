#include "comlink/com_database.h"

#include "comlink/device_map.h"

namespace {

constexpr std::size_t kMaxPathLength = 4096;  // PATH_MAX

std::string Key(int number) {
    return "COM" + std::to_string(number);
}

bool ValidNumber(int number) {
    return number >= kFirstMappedCom && number <= kLastMappedCom;
}

std::string CheckPath(const std::string& path) {
    if (path.front() != '/') return "expected an absolute device path such as /dev/ttyUSB0";
    if (path.size() > kMaxPathLength) return "the path is longer than a path can be";
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) return "the path holds a control character";
    }
    return {};
}

void Append(std::string* error, const std::string& text) {
    if (error == nullptr) return;
    if (!error->empty()) *error += "; ";
    *error += text;
}

bool IsLegacyUart(const SerialDevice& device) {
    return device.name.rfind("ttyS", 0) == 0;
}

}  // namespace

void CComDatabase::Load(const ComStore& store) {
    entries.clear();
    for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
        const std::string value = store.read ? store.read(Key(n)) : std::string();
        if (value.empty()) continue;
        ComEntry entry;
        entry.number = n;
        entry.path = value;
        entry.problem = CheckPath(value);
        entries[n] = std::move(entry);
    }
}

bool CComDatabase::Taken(int number, const std::set<int>& reserved,
                         const std::function<bool(int)>& uartAt) const {
    return entries.count(number) != 0 || reserved.count(number) != 0 || (uartAt && uartAt(number));
}

int CComDatabase::NumberOfPath(const std::string& path,
                               const std::vector<SerialDevice>& present) const {
    const SerialDevice* device = FindSerialDevice(present, path);
    for (const auto& [n, entry] : entries) {
        if (!entry.problem.empty()) continue;
        if (entry.path == path) return n;
        if (device != nullptr && FindSerialDevice(present, entry.path) == device) return n;
    }
    return 0;
}

int CComDatabase::NumberOf(const SerialDevice& device,
                           const std::vector<SerialDevice>& present) const {
    for (const auto& [n, entry] : entries) {
        if (!entry.problem.empty()) continue;
        if (entry.path == device.StablePath() || entry.path == device.devicePath) return n;
        const SerialDevice* named = FindSerialDevice(present, entry.path);
        if (named != nullptr && named->name == device.name) return n;
    }
    return 0;
}

std::vector<int> CComDatabase::NumberNewDevices(const std::vector<SerialDevice>& devices,
                                                const std::map<int, std::string>& overrides,
                                                const std::function<bool(int)>& uartAt,
                                                const ComStore& store, std::string* error) {
    std::set<int> reserved;
    std::set<std::string> overridden;  // a --port override numbers its device for this run
    for (const auto& [n, path] : overrides) {
        reserved.insert(n);
        if (const SerialDevice* d = FindSerialDevice(devices, path)) overridden.insert(d->name);
    }
    std::vector<int> given;
    for (const SerialDevice& device : devices) {
        if (IsLegacyUart(device) || overridden.count(device.name) != 0 ||
            NumberOf(device, devices) != 0) {
            continue;
        }
        int number = kFirstAssignedCom;
        while (number <= kLastMappedCom && Taken(number, reserved, uartAt)) ++number;
        if (number > kLastMappedCom) {
            Append(error, "no free COM number for " + device.StablePath() +
                              " (COM3 to COM16 are taken; forget an entry in \"Serial ports\")");
            continue;
        }
        ComEntry entry;
        entry.number = number;
        entry.path = device.StablePath();
        if (!store.write || !store.write(Key(number), entry.path)) {
            Append(error, Key(number) + "=" + entry.path +
                              " is used for now but could not be saved in the profile");
        }
        entries[number] = std::move(entry);
        given.push_back(number);
    }
    return given;
}

bool CComDatabase::Renumber(int from, int to, const ComStore& store, std::string* error) {
    auto it = entries.find(from);
    if (it == entries.end()) {
        if (error) *error = Key(from) + " has no entry";
        return false;
    }
    if (!ValidNumber(to)) {
        if (error) *error = Key(to) + ": expected a port number from 1 to 16";
        return false;
    }
    if (to == from) return true;
    if (entries.count(to) != 0) {
        if (error) *error = Key(to) + " is taken by " + entries.at(to).path;
        return false;
    }
    ComEntry entry = it->second;
    entry.number = to;
    // Written first: a failure then leaves both the profile and the database as they were.
    if (!store.write || !store.write(Key(to), entry.path)) {
        if (error) *error = Key(to) + ": the profile could not be saved";
        return false;
    }
    if (!store.remove || !store.remove(Key(from))) {
        if (error) *error = Key(from) + ": the profile could not be saved";
        entries[to] = entry;
        return false;
    }
    entries.erase(it);
    entries[to] = std::move(entry);
    return true;
}

bool CComDatabase::Forget(int number, const ComStore& store, std::string* error) {
    if (entries.count(number) == 0) {
        if (error) *error = Key(number) + " has no entry";
        return false;
    }
    if (!store.remove || !store.remove(Key(number))) {
        if (error) *error = Key(number) + ": the profile could not be saved";
        return false;
    }
    entries.erase(number);
    return true;
}

const ComEntry* CComDatabase::Entry(int number) const {
    auto it = entries.find(number);
    return it == entries.end() ? nullptr : &it->second;
}

std::string CComDatabase::Problems() const {
    std::string text;
    for (const auto& [n, entry] : entries) {
        if (entry.problem.empty()) continue;
        std::string shown = entry.path.substr(0, 80);
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 0x20) c = '?';
        }
        Append(&text, std::string("[") + kPortsSection + "] " + Key(n) + "=" + shown + ": " +
                          entry.problem);
    }
    return text;
}

void CComDatabase::ApplyToDeviceMap() const {
    for (const auto& [n, entry] : entries) {
        if (entry.problem.empty()) SetComDevice(n, entry.path, nullptr);
    }
}

bool SetUpComPorts(CComDatabase& database, const ComStore& store,
                   const std::map<int, std::string>& overrides, const DiscoveryOs& os,
                   std::string* error) {
    std::string problems;
    database.Load(store);
    ClearComDevices();
    std::map<int, std::string> usable;
    for (const auto& [n, path] : overrides) {
        std::string why;
        if (SetComDevice(n, path, &why)) {
            usable[n] = path;
        } else {
            Append(&problems, why);
        }
    }
    const std::vector<SerialDevice> devices = ListSerialDevices(os);
    database.NumberNewDevices(
        devices, usable, [&](int n) { return IsRealUart("ttyS" + std::to_string(n - 1), os); },
        store, &problems);
    database.ApplyToDeviceMap();
    // The command line wins over the profile for this run.
    for (const auto& [n, path] : usable) SetComDevice(n, path, nullptr);
    if (const std::string bad = database.Problems(); !bad.empty()) Append(&problems, bad);
    if (problems.empty()) return true;
    if (error) *error = problems;
    return false;
}

std::string DescribeComPort(int comNumber, const std::string& path,
                            const std::vector<SerialDevice>& present) {
    std::string text = Key(comNumber) + ": " + path;
    const SerialDevice* device = FindSerialDevice(present, path);
    if (device == nullptr) {
        // A by-id name only exists while its device does.
        if (path.find("/serial/by-id/") != std::string::npos) text += " (absent)";
        return text;
    }
    const std::string description = device->Description();
    if (!description.empty()) text += " (" + description + ")";
    return text;
}

std::vector<ComPortRow> ListComPorts(const CComDatabase& database,
                                     const std::vector<SerialDevice>& present,
                                     const DiscoveryOs& os) {
    std::vector<ComPortRow> rows;
    std::set<std::string> numbered;
    for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
        ComPortRow row;
        row.number = n;
        row.path = ComDevicePath(n);
        row.inDatabase = database.Entry(n) != nullptr;
        const std::string legacy = "ttyS" + std::to_string(n - 1);
        const bool mapped = row.path != "/dev/" + legacy;
        if (!row.inDatabase && !mapped && !IsRealUart(legacy, os)) continue;
        if (const SerialDevice* d = FindSerialDevice(present, row.path)) {
            row.present = true;
            row.device = *d;
            numbered.insert(d->name);
        } else if (!mapped) {
            // The default /dev/ttyS<n-1> of the running system, outside a fake tree.
            for (const SerialDevice& d : present) {
                if (d.name == legacy) {
                    row.present = true;
                    row.device = d;
                    numbered.insert(d.name);
                }
            }
        }
        rows.push_back(std::move(row));
    }
    for (const SerialDevice& d : present) {
        if (numbered.count(d.name) != 0) continue;
        ComPortRow row;
        row.path = d.StablePath();
        row.present = true;
        row.device = d;
        rows.push_back(std::move(row));
    }
    return rows;
}
