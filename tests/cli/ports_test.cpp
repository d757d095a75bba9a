// pelkor-measure and the COM database: --list-ports over a fake device tree, and
// the stand-in instrument behind a by-id name reached as COM3 of a fresh profile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/measure.h"
#include "comlink/serial_discovery.h"
#include "instrument/instrument.h"
#include "measurement/ini_file.h"
#include "tests/comlink/fake_serial_tree.h"

namespace fs = std::filesystem;

namespace {

const char* const kFtdiLink = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

// The table's line of port `com` ("COM3 ..."), empty when there is none.
std::string LineOf(const std::string& table, const std::string& com) {
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(com + " ", 0) == 0) return line;
    }
    return {};
}

// The cells of the line, in order, separated by two blanks or more.
bool HasCells(const std::string& line, const std::vector<std::string>& cells) {
    size_t at = 0;
    for (const std::string& cell : cells) {
        at = line.find(cell, at);
        if (at == std::string::npos) return false;
        at += cell.size();
        if (at < line.size() && line.compare(at, 2, "  ") != 0) return false;
    }
    return true;
}

class CliPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        os = tree.Os();
        SetActiveDiscoveryOs(&os);
        profile = (tree.root / "pelkor.INI").string();
    }
    void TearDown() override {
        SetActiveDiscoveryOs(nullptr);
        if (host) host->Stop();
    }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.push_back("--profile");
        args.push_back(profile);
        return RunMeasure(args, out, err, false);
    }
    std::string Saved(const std::string& key) {
        return IniFileProfile(profile).ReadString("Ports", key, "");
    }

    FakeSerialTree tree;
    DiscoveryOs os;
    std::string profile;
    std::ostringstream out, err;
    std::unique_ptr<instrument::PtyHost> host;
};

TEST_F(CliPorts, ListsNumbersDevicesAndAbsentEntries) {
    tree.AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
                 kFtdiLink, ""});
    tree.AddUart("ttyS0", 4);
    const std::string gone = tree.ByIdPath("usb-Prolific_PL2303-if00-port0");
    std::ofstream(profile) << "[Ports]\nCOM4=" << gone << "\n";

    ASSERT_EQ(Run({"--list-ports"}), kExitMeasured) << err.str();
    const std::string table = out.str();
    const std::string dev = tree.Dev().string();
    EXPECT_TRUE(HasCells(LineOf(table, "PORT"), {"DEVICE", "DESCRIPTION", "USB ID", "DRIVER"}))
        << table;
    EXPECT_TRUE(HasCells(LineOf(table, "COM1"), {dev + "/ttyS0", "serial8250"})) << table;
    EXPECT_TRUE(
        HasCells(LineOf(table, "COM3"), {dev + "/ttyUSB0", "FT232R USB UART, serial A50285BI",
                                         "0403:6001", "ftdi_sio", tree.ByIdPath(kFtdiLink)}))
        << table;
    EXPECT_TRUE(HasCells(LineOf(table, "COM4"), {"(absent)", gone})) << table;
    EXPECT_EQ(LineOf(table, "COM2"), "") << table;
    // Seen for the first time, the adapter got its number for good.
    EXPECT_EQ(Saved("COM3"), tree.ByIdPath(kFtdiLink));
    EXPECT_EQ(Saved("COM4"), gone);

    ASSERT_EQ(Run({"--list-ports", "--json"}), kExitMeasured) << err.str();
    const std::string json = out.str();
    EXPECT_NE(json.find("\"com\": 3,\n      \"path\": \"" + tree.ByIdPath(kFtdiLink) +
                        "\",\n      \"present\": true"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"usbId\": \"0403:6001\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"com\": 4,\n      \"path\": \"" + gone + "\",\n      \"present\": false"),
              std::string::npos)
        << json;
}

TEST_F(CliPorts, NoDevicesSaysSo) {
    ASSERT_EQ(Run({"--list-ports"}), kExitMeasured) << err.str();
    EXPECT_EQ(out.str(), "No serial ports found.\n");
    EXPECT_FALSE(fs::exists(profile)) << "nothing to keep, yet the profile was written";
}

// The stand-in instrument as a USB adapter in the fake tree: a fresh profile
// reaches it as COM3, by its by-id name too, and lists it.
TEST_F(CliPorts, StandInBehindAByIdNameIsCom3OfAFreshProfile) {
    instrument::Options options;
    options.paced = false;
    host = std::make_unique<instrument::PtyHost>(options);
    std::string error;
    ASSERT_TRUE(host->Start(&error)) << error;
    const char* link = "usb-Pelkor_Stand-in_Instrument_PK000042-if00-port0";
    tree.AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "Pelkor", "Stand-in Instrument", "PK000042",
                 link, host->SlavePath()});

    ASSERT_EQ(Run({"--port", "COM3", "--json", "-"}), kExitMeasured) << err.str();
    EXPECT_NE(out.str().find("\"port\": \"COM3\""), std::string::npos) << out.str();
    EXPECT_EQ(Saved("COM3"), tree.ByIdPath(link));

    ASSERT_EQ(Run({"--port", tree.ByIdPath(link), "--json", "-"}), kExitMeasured) << err.str();
    EXPECT_NE(out.str().find("\"port\": \"COM3\""), std::string::npos) << out.str();

    ASSERT_EQ(Run({"--list-ports"}), kExitMeasured) << err.str();
    EXPECT_TRUE(HasCells(LineOf(out.str(), "COM3"), {tree.Dev().string() + "/ttyUSB0",
                                                     "Stand-in Instrument, serial PK000042"}))
        << out.str();
}

}  // namespace
