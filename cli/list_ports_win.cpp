// --list-ports and the COM database on Windows: the system numbers its ports
// itself (the Device Manager shows them), so there is nothing to keep.
#include "cli/list_ports.h"
#include "cli/measure.h"

int SetUpCliPorts(const std::string& /*profilePath*/, int comPort,
                  const std::string& /*devicePath*/, std::ostream& /*err*/) {
    return comPort;
}

int ListPorts(const std::string& /*profilePath*/, const std::string& /*jsonPath*/,
              std::ostream& /*out*/, std::ostream& err) {
    err << "pelkor-measure: --list-ports: on Windows the COM numbers are the system's own; the "
           "Device Manager lists them under \"Ports (COM & LPT)\"\n";
    return kExitBadArguments;
}
