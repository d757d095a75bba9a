// pelkor-measure --list-ports: the COM numbers in use and the serial devices
// present, as a table or as JSON.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "comlink/com_database.h"

// One line per port: COM number, device node, description, USB id, driver and the
// stable path; an absent device says so.
std::string FormatPortTable(const std::vector<ComPortRow>& rows);

// {"ports": [{"com": 3, "path": ..., "present": true, "device": ..., ...}, ...]}
std::string FormatPortJson(const std::vector<ComPortRow>& rows);

// The profile that keeps the COM database: `given`, else the dialog's default,
// $XDG_CONFIG_HOME/pelkor/pelkor.INI (~/.config when that is unset or relative).
std::string CliProfilePath(const std::string& given);

// Loads the COM database from the profile at profilePath, numbers the devices seen
// for the first time (saving them there, as the dialog would), and fills the device
// map, with comPort = devicePath on top when both are given. Returns the COM
// number of the run: comPort, or for a device path alone (comPort 0) its number
// in the database, 0 when it has none. Problems go to err as warnings. On Windows,
// which numbers its ports itself, it only returns comPort.
int SetUpCliPorts(const std::string& profilePath, int comPort, const std::string& devicePath,
                  std::ostream& err);

// --list-ports: sets up the ports as above and prints the table, or the JSON to
// jsonPath ("-" for out). Returns the exit status. On Windows it points to the
// Device Manager and returns kExitBadArguments.
int ListPorts(const std::string& profilePath, const std::string& jsonPath, std::ostream& out,
              std::ostream& err);
