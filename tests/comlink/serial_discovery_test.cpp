// Discovery over fake sysfs and /dev trees laid out as the kernel lays out the
// common adapters.
#include "comlink/serial_discovery.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/comlink/fake_serial_tree.h"

namespace {

const FakeSerialTree::Usb kFtdi{
    "ttyUSB0", "ftdi_sio",        "0403",     "6001",
    "FTDI",    "FT232R USB UART", "A50285BI", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
    ""};
const FakeSerialTree::Usb kCh340{"ttyUSB1", "ch341-uart", "1a86", "7523",
                                 "",        "USB Serial", "",     "usb-1a86_USB_Serial-if00-port0",
                                 ""};
const FakeSerialTree::Usb kAcm{"ttyACM0",
                               "cdc_acm",
                               "2341",
                               "0043",
                               "Arduino (www.arduino.cc)",
                               "",
                               "85736323838351F0E1A1",
                               "usb-Arduino__www.arduino.cc__0043_85736323838351F0E1A1-if00",
                               ""};

class DiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.AddUsb(kFtdi);
        tree.AddUsb(kCh340);
        tree.AddUsb(kAcm);
        tree.AddUart("ttyS0", 4);  // 16550A
        tree.AddUart("ttyS1", 0);  // legacy address, nothing there
        tree.AddConsole("tty0");
        // A link udev left behind for an adapter whose node has gone.
        tree.LinkById("usb-Prolific_PL2303-if00-port0", "ttyUSB7");
    }
    FakeSerialTree tree;
};

TEST_F(DiscoveryTest, ListsAdaptersAndRealUartsWithTheirDetails) {
    const auto devices = ListSerialDevices(tree.Os());
    ASSERT_EQ(devices.size(), 4u);
    const std::string dev = tree.Dev().string();

    const SerialDevice& acm = devices[0];
    EXPECT_EQ(acm.name, "ttyACM0");
    EXPECT_EQ(acm.devicePath, dev + "/ttyACM0");
    EXPECT_EQ(acm.byIdPath, tree.ByIdPath(kAcm.byId));
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.usbId, "2341:0043");
    EXPECT_EQ(acm.manufacturer, "Arduino (www.arduino.cc)");
    EXPECT_EQ(acm.serialNumber, "85736323838351F0E1A1");
    EXPECT_EQ(acm.Description(), "Arduino (www.arduino.cc), serial 85736323838351F0E1A1");

    const SerialDevice& uart = devices[1];
    EXPECT_EQ(uart.name, "ttyS0");
    EXPECT_EQ(uart.byIdPath, "");
    EXPECT_EQ(uart.StablePath(), dev + "/ttyS0");
    EXPECT_EQ(uart.driver, "serial8250");
    EXPECT_EQ(uart.usbId, "");
    EXPECT_EQ(uart.Description(), "serial8250");

    const SerialDevice& ftdi = devices[2];
    EXPECT_EQ(ftdi.name, "ttyUSB0");
    EXPECT_EQ(ftdi.StablePath(), tree.ByIdPath(kFtdi.byId));
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_EQ(ftdi.usbId, "0403:6001");
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.Description(), "FT232R USB UART, serial A50285BI");

    const SerialDevice& ch340 = devices[3];
    EXPECT_EQ(ch340.name, "ttyUSB1");
    EXPECT_EQ(ch340.driver, "ch341-uart");
    EXPECT_EQ(ch340.usbId, "1a86:7523");
    EXPECT_EQ(ch340.serialNumber, "");
    EXPECT_EQ(ch340.Description(), "USB Serial");
}

TEST_F(DiscoveryTest, TellsRealUartsFromEmptyLegacyAddresses) {
    EXPECT_TRUE(IsRealUart("ttyS0", tree.Os()));
    EXPECT_FALSE(IsRealUart("ttyS1", tree.Os()));
    EXPECT_FALSE(IsRealUart("ttyS2", tree.Os())) << "no such port at all";
    EXPECT_FALSE(IsRealUart("../ttyS0", tree.Os()));
}

TEST_F(DiscoveryTest, AsksTheDeviceWhenSysfsGivesNoType) {
    std::filesystem::remove(tree.Sys() / "devices" / "platform" / "serial8250" / "tty" / "ttyS1" /
                            "type");
    DiscoveryOs os = tree.Os();
    EXPECT_FALSE(IsRealUart("ttyS1", os)) << "no probe: not taken as a UART";
    std::string asked;
    os.serialType = [&](const std::string& path) {
        asked = path;
        return 4;
    };
    EXPECT_TRUE(IsRealUart("ttyS1", os));
    EXPECT_EQ(asked, tree.Dev().string() + "/ttyS1");
    EXPECT_EQ(ListSerialDevices(os).size(), 5u);
}

TEST_F(DiscoveryTest, AnUnpluggedAdapterDisappearsAndItsLinkIsIgnored) {
    tree.Unplug("ttyUSB0", "");  // udev has not removed the link yet
    const auto devices = ListSerialDevices(tree.Os());
    ASSERT_EQ(devices.size(), 3u);
    for (const SerialDevice& d : devices) EXPECT_NE(d.name, "ttyUSB0");
    EXPECT_EQ(FindSerialDevice(devices, tree.ByIdPath(kFtdi.byId)), nullptr);
}

TEST_F(DiscoveryTest, FindsADeviceByAnyPathThatLeadsToIt) {
    const auto devices = ListSerialDevices(tree.Os());
    const std::string dev = tree.Dev().string();
    const SerialDevice* byId = FindSerialDevice(devices, tree.ByIdPath(kCh340.byId));
    ASSERT_NE(byId, nullptr);
    EXPECT_EQ(byId->name, "ttyUSB1");
    const SerialDevice* byNode = FindSerialDevice(devices, dev + "/ttyUSB1");
    EXPECT_EQ(byNode, byId);
    std::filesystem::create_symlink(dev + "/ttyUSB1", tree.root / "instrument");
    EXPECT_EQ(FindSerialDevice(devices, (tree.root / "instrument").string()), byId);
    EXPECT_EQ(FindSerialDevice(devices, dev + "/ttyUSB9"), nullptr);
}

TEST_F(DiscoveryTest, UnprintableDeviceStringsAreNeutralised) {
    FakeSerialTree::Usb odd = kCh340;
    odd.name = "ttyUSB2";
    odd.byId = "";
    odd.productName = "Evil\x1b[2Jname";
    tree.AddUsb(odd);
    const auto devices = ListSerialDevices(tree.Os());
    const SerialDevice* d = FindSerialDevice(devices, tree.Dev().string() + "/ttyUSB2");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->product, "Evil?[2Jname");
}

TEST(DiscoverySerialBaseTest, NamesTheUartsDriverAboveTheSerialBaseBus) {
    FakeSerialTree tree;
    tree.AddSerialBaseUart("ttyS0", 4);
    const auto devices = ListSerialDevices(tree.Os());
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].driver, "serial");
    EXPECT_EQ(devices[0].Description(), "serial");
}

TEST(DiscoveryRootsTest, MissingTreesGiveNoDevices) {
    DiscoveryOs os{"/nonexistent/sys", "/nonexistent/dev", nullptr};
    EXPECT_TRUE(ListSerialDevices(os).empty());
    EXPECT_FALSE(IsRealUart("ttyS0", os));
}

}  // namespace
