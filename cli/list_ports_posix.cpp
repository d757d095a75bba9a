#include <algorithm>
#include <cmath>

#include "cli/json.h"
#include "cli/list_ports.h"
#include "cli/measure.h"
#include "comlink/device_map.h"
#include "measurement/com_store.h"
#include "measurement/export.h"
#include "measurement/ini_file.h"

namespace {

std::string Cell(const std::string& text) {
    return text.empty() ? "-" : text;
}

}  // namespace

std::string FormatPortTable(const std::vector<ComPortRow>& rows) {
    if (rows.empty()) return "No serial ports found.\n";
    struct Line {
        std::string com, node, description, usb, driver, path;
    };
    std::vector<Line> lines{{"PORT", "DEVICE", "DESCRIPTION", "USB ID", "DRIVER", "PATH"}};
    for (const ComPortRow& r : rows) {
        Line l;
        l.com = r.number != 0 ? "COM" + std::to_string(r.number) : "-";
        l.node = r.present ? r.device.devicePath : "(absent)";
        l.description = r.present ? Cell(r.device.Description()) : "-";
        l.usb = r.present ? Cell(r.device.usbId) : "-";
        l.driver = r.present ? Cell(r.device.driver) : "-";
        l.path = r.path;
        lines.push_back(std::move(l));
    }
    std::size_t width[5] = {};
    for (const Line& l : lines) {
        const std::string* cells[5] = {&l.com, &l.node, &l.description, &l.usb, &l.driver};
        for (int i = 0; i < 5; ++i) width[i] = std::max(width[i], cells[i]->size());
    }
    std::string out;
    for (const Line& l : lines) {
        const std::string* cells[5] = {&l.com, &l.node, &l.description, &l.usb, &l.driver};
        for (int i = 0; i < 5; ++i) {
            out += *cells[i];
            out.append(width[i] - cells[i]->size() + 2, ' ');
        }
        out += l.path + "\n";
    }
    return out;
}

std::string FormatPortJson(const std::vector<ComPortRow>& rows) {
    CJsonWriter json;
    json.BeginObject();
    json.BeginArray("ports");
    for (const ComPortRow& r : rows) {
        json.BeginObject();
        if (r.number != 0) {
            json.Integer("com", r.number);
        } else {
            json.Number("com", std::nan(""));  // null: no number
        }
        json.String("path", r.path);
        json.Bool("present", r.present);
        json.Bool("saved", r.inDatabase);
        if (r.present) {
            json.String("device", r.device.devicePath);
            json.String("byId", r.device.byIdPath);
            json.String("description", r.device.Description());
            json.String("driver", r.device.driver);
            json.String("usbId", r.device.usbId);
            json.String("manufacturer", r.device.manufacturer);
            json.String("product", r.device.product);
            json.String("serial", r.device.serialNumber);
        }
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

namespace {

void SetUpDatabase(const std::string& profilePath, const std::map<int, std::string>& overrides,
                   std::ostream& err, CComDatabase* database) {
    IniFileProfile profile(profilePath);
    if (!profile.LoadError().empty()) {
        err << "pelkor-measure: " << profilePath << ": " << profile.LoadError()
            << " (COM numbers are not kept)\n";
    }
    std::string error;
    if (!SetUpComPorts(*database, ProfileComStore(profile), overrides, ActiveDiscoveryOs(),
                       &error)) {
        err << "pelkor-measure: " << profilePath << ": " << error << "\n";
    }
}

}  // namespace

int SetUpCliPorts(const std::string& profilePath, int comPort, const std::string& devicePath,
                  std::ostream& err) {
    CComDatabase database;
    std::map<int, std::string> overrides;
    if (comPort != 0 && !devicePath.empty()) overrides[comPort] = devicePath;
    SetUpDatabase(profilePath, overrides, err, &database);
    if (comPort != 0) return comPort;
    return database.NumberOfPath(devicePath, ListSerialDevices(ActiveDiscoveryOs()));
}

int ListPorts(const std::string& profilePath, const std::string& jsonPath, std::ostream& out,
              std::ostream& err) {
    CComDatabase database;
    SetUpDatabase(profilePath, {}, err, &database);
    const std::vector<ComPortRow> rows =
        ListComPorts(database, ListSerialDevices(ActiveDiscoveryOs()), ActiveDiscoveryOs());
    ClearComDevices();
    if (jsonPath.empty()) {
        out << FormatPortTable(rows);
        return kExitMeasured;
    }
    const std::string json = FormatPortJson(rows);
    if (jsonPath == "-") {
        out << json;
        return kExitMeasured;
    }
    std::string error;
    if (!WriteFileAtomically(jsonPath, json, &error)) {
        err << "pelkor-measure: --json: " << error << "\n";
        return kExitOutputFailed;
    }
    return kExitMeasured;
}
