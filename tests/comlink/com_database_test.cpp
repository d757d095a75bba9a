// The COM database over a fake device tree and an in-memory "Ports" section.
#include "comlink/com_database.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "comlink/device_map.h"
#include "tests/comlink/fake_serial_tree.h"

namespace {

const char* const kFtdiLink = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const char* const kAcmLink = "usb-Arduino_Uno_85736323838351F0E1A1-if00";
const char* const kGoneLink = "usb-Prolific_PL2303_0001-if00-port0";

// "$DEV" stands for the fake tree's /dev.
struct DatabaseCase {
    const char* name;
    bool ftdi, acm;                             // plugged in
    std::map<std::string, std::string> before;  // the "Ports" section at start
    std::map<int, std::string> overrides;       // --port
    std::vector<int> uarts;                     // ttyS<k> with a UART
    bool saveFails;
    std::map<std::string, std::string> after;  // the section afterwards
    std::map<int, std::string> opens;          // what the device map opens
    const char* problem;                       // in the message; "" for none
};

void PrintTo(const DatabaseCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kFtdi = std::string("$DEV/serial/by-id/") + kFtdiLink;
const std::string kAcm = std::string("$DEV/serial/by-id/") + kAcmLink;
const std::string kGone = std::string("$DEV/serial/by-id/") + kGoneLink;

// COM3 to COM15 kept for devices that are not plugged in.
const std::map<std::string, std::string> kAllGone = [] {
    std::map<std::string, std::string> section;
    for (int n = 3; n <= 15; ++n) section["COM" + std::to_string(n)] = kGone;
    return section;
}();

const DatabaseCase kCases[] = {
    {"FreshProfileOneAdapter",
     true,
     false,
     {},
     {},
     {0},
     false,
     {{"COM3", kFtdi}},
     {{3, kFtdi}, {1, "/dev/ttyS0"}, {4, "/dev/ttyS3"}},
     ""},
    {"TwoAdaptersInNameOrder",
     true,
     true,
     {},
     {},
     {},
     false,
     {{"COM3", kAcm}, {"COM4", kFtdi}},
     {{3, kAcm}, {4, kFtdi}},
     ""},
    {"KnownAdapterKeepsItsNumber",
     true,
     true,
     {{"COM7", kFtdi}},
     {},
     {},
     false,
     {{"COM3", kAcm}, {"COM7", kFtdi}},
     {{3, kAcm}, {7, kFtdi}},
     ""},
    {"AbsentDeviceKeepsItsNumber",
     true,
     false,
     {{"COM3", kGone}},
     {},
     {},
     false,
     {{"COM3", kGone}, {"COM4", kFtdi}},
     {{3, kGone}, {4, kFtdi}},
     ""},
    {"EntryByDevicePathIsTheSameDevice",
     true,
     false,
     {{"COM5", "$DEV/ttyUSB0"}},
     {},
     {},
     false,
     {{"COM5", "$DEV/ttyUSB0"}},
     {{5, "$DEV/ttyUSB0"}, {3, "/dev/ttyS2"}},
     ""},
    {"OverrideTakesItsNumber",
     true,
     false,
     {},
     {{3, "/dev/pts/9"}},
     {},
     false,
     {{"COM4", kFtdi}},
     {{3, "/dev/pts/9"}, {4, kFtdi}},
     ""},
    {"OverrideWinsOverAnEntry",
     true,
     false,
     {{"COM4", kFtdi}},
     {{4, "/dev/pts/9"}},
     {},
     false,
     {{"COM4", kFtdi}},
     {{4, "/dev/pts/9"}, {3, "/dev/ttyS2"}},
     ""},
    {"OverrideOfTheDeviceItselfSavesNothing",
     true,
     false,
     {},
     {{6, "$DEV/ttyUSB0"}},
     {},
     false,
     {},
     {{6, "$DEV/ttyUSB0"}, {3, "/dev/ttyS2"}},
     ""},
    {"RealUartKeepsItsNumber",
     true,
     false,
     {},
     {},
     {2, 3},
     false,
     {{"COM5", kFtdi}},
     {{3, "/dev/ttyS2"}, {4, "/dev/ttyS3"}, {5, kFtdi}},
     ""},
    {"CorruptEntryIsKeptButNotUsed",
     true,
     false,
     {{"COM3", "ttyUSB0"}},
     {},
     {},
     false,
     {{"COM3", "ttyUSB0"}, {"COM4", kFtdi}},
     {{3, "/dev/ttyS2"}, {4, kFtdi}},
     "[Ports] COM3=ttyUSB0: expected an absolute device path"},
    {"SaveFailureStillConnectsThisRun",
     true,
     false,
     {},
     {},
     {},
     true,
     {},
     {{3, kFtdi}},
     "COM3=$DEV/serial/by-id/usb-FTDI"},
    {"NoFreeNumber",
     true,
     false,
     kAllGone,
     {},
     {15},
     false,
     kAllGone,
     {{16, "/dev/ttyS15"}},
     "no free COM number for $DEV/serial/by-id/usb-FTDI"},
};

class ComDatabaseTest : public ::testing::TestWithParam<DatabaseCase> {
  protected:
    void TearDown() override { ClearComDevices(); }

    std::string Expand(const std::string& text) const {
        std::string out = text;
        const std::string dev = tree.Dev().string();
        for (auto at = out.find("$DEV"); at != std::string::npos; at = out.find("$DEV", at)) {
            out.replace(at, 4, dev);
            at += dev.size();
        }
        return out;
    }

    FakeSerialTree tree;
};

TEST_P(ComDatabaseTest, NumbersDevicesAsWindowsDoes) {
    const DatabaseCase& c = GetParam();
    if (c.ftdi) {
        tree.AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
                     kFtdiLink, ""});
    }
    if (c.acm) {
        tree.AddUsb({"ttyACM0", "cdc_acm", "2341", "0043", "Arduino", "Uno", "85736323838351F0E1A1",
                     kAcmLink, ""});
    }
    for (int k = 0; k < 16; ++k) {
        bool uart = false;
        for (int u : c.uarts) uart = uart || u == k;
        tree.AddUart("ttyS" + std::to_string(k), uart ? 4 : 0);
    }
    std::map<std::string, std::string> section;
    for (const auto& [key, value] : c.before) section[key] = Expand(value);
    int writes = 0;
    ComStore store{[&](const std::string& key) {
                       auto it = section.find(key);
                       return it == section.end() ? std::string() : it->second;
                   },
                   [&](const std::string& key, const std::string& value) {
                       ++writes;
                       if (c.saveFails) return false;
                       section[key] = value;
                       return true;
                   },
                   [&](const std::string& key) { return section.erase(key) == 1; }};
    std::map<int, std::string> overrides;
    for (const auto& [n, path] : c.overrides) overrides[n] = Expand(path);

    CComDatabase database;
    std::string error;
    const bool ok = SetUpComPorts(database, store, overrides, tree.Os(), &error);

    std::map<std::string, std::string> expected;
    for (const auto& [key, value] : c.after) expected[key] = Expand(value);
    EXPECT_EQ(section, expected);
    for (const auto& [n, path] : c.opens) EXPECT_EQ(ComDevicePath(n), Expand(path)) << "COM" << n;
    if (std::string(c.problem).empty()) {
        EXPECT_TRUE(ok) << error;
        EXPECT_EQ(error, "");
    } else {
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(Expand(c.problem)), std::string::npos) << error;
    }

    // A second start with the same devices changes nothing more.
    if (!c.saveFails) {
        const int before = writes;
        CComDatabase again;
        SetUpComPorts(again, store, overrides, tree.Os(), &error);
        EXPECT_EQ(writes, before) << "a known device was numbered again";
        EXPECT_EQ(section, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ComDatabaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ComDatabaseEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        section = {{"COM3", "/dev/serial/by-id/a"}, {"COM4", "/dev/serial/by-id/b"}};
        database.Load(store);
    }
    void TearDown() override { ClearComDevices(); }

    std::map<std::string, std::string> section;
    bool failSaves = false;
    ComStore store{
        [this](const std::string& key) { return section.count(key) ? section[key] : ""; },
        [this](const std::string& key, const std::string& value) {
            if (failSaves) return false;
            section[key] = value;
            return true;
        },
        [this](const std::string& key) {
            if (failSaves) return false;
            return section.erase(key) == 1;
        }};
    CComDatabase database;
    std::string error;
};

TEST_F(ComDatabaseEditTest, RenumberMovesTheEntryAndSavesIt) {
    ASSERT_TRUE(database.Renumber(4, 9, store, &error)) << error;
    EXPECT_EQ(section, (std::map<std::string, std::string>{{"COM3", "/dev/serial/by-id/a"},
                                                           {"COM9", "/dev/serial/by-id/b"}}));
    EXPECT_EQ(database.Entry(4), nullptr);
    ASSERT_NE(database.Entry(9), nullptr);
    EXPECT_EQ(database.Entry(9)->path, "/dev/serial/by-id/b");
}

TEST_F(ComDatabaseEditTest, RenumberRefusesATakenOrInvalidNumberAndChangesNothing) {
    const auto before = section;
    EXPECT_FALSE(database.Renumber(4, 3, store, &error));
    EXPECT_EQ(error, "COM3 is taken by /dev/serial/by-id/a");
    EXPECT_FALSE(database.Renumber(4, 17, store, &error));
    EXPECT_FALSE(database.Renumber(5, 6, store, &error));
    EXPECT_EQ(error, "COM5 has no entry");
    failSaves = true;
    EXPECT_FALSE(database.Renumber(4, 6, store, &error));
    EXPECT_EQ(section, before);
    ASSERT_NE(database.Entry(4), nullptr);
    EXPECT_EQ(database.Entry(6), nullptr);
}

TEST_F(ComDatabaseEditTest, ForgetRemovesTheEntryOnlyWhenSaved) {
    failSaves = true;
    EXPECT_FALSE(database.Forget(3, store, &error));
    EXPECT_NE(database.Entry(3), nullptr);
    failSaves = false;
    ASSERT_TRUE(database.Forget(3, store, &error)) << error;
    EXPECT_EQ(section.count("COM3"), 0u);
    EXPECT_EQ(database.Entry(3), nullptr);
    EXPECT_FALSE(database.Forget(3, store, &error));
}

TEST(DescribeComPortTest, NamesTheDeviceAndWhetherItIsThere) {
    FakeSerialTree tree;
    tree.AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
                 kFtdiLink, ""});
    const auto present = ListSerialDevices(tree.Os());
    const std::string byId = tree.ByIdPath(kFtdiLink);
    EXPECT_EQ(DescribeComPort(3, byId, present),
              "COM3: " + byId + " (FT232R USB UART, serial A50285BI)");
    const std::string gone = tree.ByIdPath(kGoneLink);
    EXPECT_EQ(DescribeComPort(4, gone, present), "COM4: " + gone + " (absent)");
    EXPECT_EQ(DescribeComPort(1, "/dev/ttyS0", {}), "COM1: /dev/ttyS0");
}

}  // namespace
