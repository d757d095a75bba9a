// The COM database: which device each COM number opens, kept in the profile's
// section "Ports" (key "COM3", value a path such as /dev/serial/by-id/...). A
// serial device seen for the first time gets the lowest free number from COM3 up,
// as Windows numbers its adapters, and the entry is saved at once; a device that
// is absent keeps its number for when it comes back. Only the POSIX build has it.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "comlink/serial_discovery.h"

// How the database reaches the profile section "Ports".
struct ComStore {
    // The value of key, empty when there is none.
    std::function<std::string(const std::string& key)> read;
    // Saves key = value at once; false when it could not be saved.
    std::function<bool(const std::string& key, const std::string& value)> write;
    // Removes key at once; false when it could not be saved.
    std::function<bool(const std::string& key)> remove;
};

// The first number given to a new device: COM1 and COM2 stay the built-in UARTs'.
inline constexpr int kFirstAssignedCom = 3;

struct ComEntry {
    int number = 0;
    std::string path;     // as stored
    std::string problem;  // empty when the entry is usable
};

class CComDatabase {
  public:
    // Reads the keys COM1 to COM16. An entry that is not an absolute path is kept
    // (its number stays taken, the profile line stays as it is) but not used; see
    // Problems().
    void Load(const ComStore& store);

    // Gives every present device that no entry names the lowest free number from
    // COM3 up and saves the entry. A number is free when no entry names it, the
    // command line gives it no device (`overrides`, --port COMn=PATH), and uartAt(n)
    // is false (no UART at /dev/ttyS<n-1>). Legacy UARTs (ttyS<k>) get no entry:
    // they are COM<k+1> already; nor does a device an override opens. Returns the
    // numbers given; a device left without one, or an entry that could not be saved,
    // is described in *error.
    std::vector<int> NumberNewDevices(const std::vector<SerialDevice>& devices,
                                      const std::map<int, std::string>& overrides,
                                      const std::function<bool(int comNumber)>& uartAt,
                                      const ComStore& store, std::string* error);

    // Moves the entry of `from` to the free number `to` (1 to 16), saved at once.
    // false with the reason when `from` has no entry or `to` is taken or invalid.
    bool Renumber(int from, int to, const ComStore& store, std::string* error);
    // Removes the entry of `number`, saved at once.
    bool Forget(int number, const ComStore& store, std::string* error);

    // The entry of number, or null.
    const ComEntry* Entry(int number) const;
    // Every entry, by number.
    const std::map<int, ComEntry>& Entries() const { return entries; }
    // The number whose usable entry names `device` (its by-id path, its device path
    // or a link to it), 0 when none.
    int NumberOf(const SerialDevice& device, const std::vector<SerialDevice>& present) const;
    // The number whose usable entry is `path` or leads to the same device, 0 when none.
    int NumberOfPath(const std::string& path, const std::vector<SerialDevice>& present) const;

    // "[Ports] COM5=...: expected an absolute device path", one per unusable entry.
    std::string Problems() const;

    // Makes the device map open each usable entry's path for its number.
    void ApplyToDeviceMap() const;

  private:
    bool Taken(int number, const std::set<int>& reserved,
               const std::function<bool(int)>& uartAt) const;
    std::map<int, ComEntry> entries;
};

// Everything the programs do at start and on a rescan: loads the database, numbers
// the new devices of `os`, and fills the device map from it with `overrides`
// (--port COMn=PATH) on top. Returns false with every problem in *error; what
// could be used is used.
bool SetUpComPorts(CComDatabase& database, const ComStore& store,
                   const std::map<int, std::string>& overrides, const DiscoveryOs& os,
                   std::string* error);

// One line of a port listing: a COM number and what it opens now.
struct ComPortRow {
    int number = 0;        // 0: a present device that has no number
    std::string path;      // what COMn opens: the entry, an override or /dev/ttyS<n-1>
    bool present = false;  // the device is plugged in
    bool inDatabase = false;
    SerialDevice device;  // filled when present
};

// Every COM number in use (a database entry, an override, or a real UART at
// /dev/ttyS<n-1>), by number, then every present device without a number. The
// paths are those of the device map as it stands.
std::vector<ComPortRow> ListComPorts(const CComDatabase& database,
                                     const std::vector<SerialDevice>& present,
                                     const DiscoveryOs& os);

// The operator's line for COMn: "COM3: /dev/serial/by-id/usb-... (FT232R USB UART,
// serial A50285BI)"; "(absent)" for a device that is not plugged in, and the device
// path alone where nothing more is known.
std::string DescribeComPort(int comNumber, const std::string& path,
                            const std::vector<SerialDevice>& present);
