// The serial ports of this run: the COM database in the profile's section "Ports",
// the devices present, and the command line's overrides. One instance serves the
// dialog, its tool tip, the "Serial ports..." window and the replug watch.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "comlink/com_database.h"
#include "comlink/serial_discovery.h"
#include "measurement/measurement.h"

class CSerialPorts {
  public:
    // Keeps the database in `profile` (not owned; it outlives this) with `overrides`
    // (--port COMn=PATH) on top, numbers the devices seen for the first time and
    // fills the device map. Returns the problems found, empty when none.
    std::string SetUp(Profile* profile, const std::map<int, std::string>& overrides);
    // Looks at the devices again: a new one gets its number, the map is refilled.
    // Does nothing before SetUp. Returns the problems found.
    std::string Rescan();
    // Forgets the profile and the overrides (the device map is left alone).
    void Reset();
    bool IsSetUp() const { return profile_ != nullptr; }

    // The devices seen at the last look.
    const std::vector<SerialDevice>& Present() const { return present_; }
    // Every COM number in use, then the present devices without one.
    std::vector<ComPortRow> Rows() const;
    // "COM3: /dev/serial/by-id/... (FT232R USB UART, serial A50285BI)".
    std::string Describe(int comNumber, const std::string& path);

    // Gives the device of `from` the free number `to`, or forgets `number`; saved at
    // once and applied to the device map. false with the reason.
    bool Renumber(int from, int to, std::string* error);
    bool Forget(int number, std::string* error);

  private:
    void Refill();

    Profile* profile_ = nullptr;
    std::map<int, std::string> overrides_;
    CComDatabase database_;
    std::vector<SerialDevice> present_;
    std::map<std::string, std::string> lookedFor_;  // path -> its identity when last looked for
};

// The one instance of the process.
CSerialPorts& SerialPorts();
