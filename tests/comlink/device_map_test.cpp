#include "comlink/device_map.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

class DeviceMapTest : public ::testing::Test {
  protected:
    void TearDown() override { ClearComDevices(); }
};

TEST_F(DeviceMapTest, DefaultsToTtySAndOverridesPerPort) {
    EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(ComDevicePath(16), "/dev/ttyS15");
    std::string error;
    ASSERT_TRUE(SetComDevice(3, "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", &error));
    EXPECT_EQ(ComDevicePath(3), "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
    EXPECT_FALSE(SetComDevice(17, "/dev/ttyUSB0", &error));
    EXPECT_EQ(error, "COM17: expected a port number from 1 to 16");
    EXPECT_FALSE(SetComDevice(3, "ttyUSB0", &error));
    EXPECT_EQ(ComDevicePath(3), "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    ClearComDevices();
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
}

struct OverrideCase {
    const char* text;
    int com;           // 0: rejected
    const char* path;  // the path, or the reason in the message
};

void PrintTo(const OverrideCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class ParseOverrideTest : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(ParseOverrideTest, AcceptsComnEqualsAbsolutePathOnly) {
    const OverrideCase& c = GetParam();
    int com = -1;
    std::string path = "unchanged", error;
    const bool ok = ParsePortOverride(c.text, &com, &path, &error);
    if (c.com != 0) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(com, c.com);
        EXPECT_EQ(path, c.path);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(com, -1);
        EXPECT_EQ(path, "unchanged");
        EXPECT_NE(error.find(std::string("\"") + c.text + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        EXPECT_NE(error.find("expected COMn=PATH"), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseOverrideTest,
                         ::testing::Values(OverrideCase{"COM3=/dev/ttyUSB0", 3, "/dev/ttyUSB0"},
                                           OverrideCase{"com16=/dev/pts/4", 16, "/dev/pts/4"},
                                           OverrideCase{"COM1=/dev/serial/by-id/a=b", 1,
                                                        "/dev/serial/by-id/a=b"},
                                           OverrideCase{"COM3", 0, "no '='"},
                                           OverrideCase{"COM=/dev/ttyS0", 0, "named COMn"},
                                           OverrideCase{"TTY3=/dev/ttyS0", 0, "named COMn"},
                                           OverrideCase{"COM0=/dev/ttyS0", 0, "1 to 16"},
                                           OverrideCase{"COM17=/dev/ttyS0", 0, "1 to 16"},
                                           OverrideCase{"COM99999999999=/dev/ttyS0", 0, "1 to 16"},
                                           OverrideCase{"COM-1=/dev/ttyS0", 0, "decimal digits"},
                                           OverrideCase{"COM3=", 0, "absolute"},
                                           OverrideCase{"COM3=dev/ttyUSB0", 0, "absolute"}));

TEST_F(DeviceMapTest, ProfileSectionAppliesValidKeysAndNamesTheRejectedOnes) {
    const std::map<std::string, std::string> section = {
        {"COM2", "/dev/ttyUSB0"}, {"COM5", "relative/tty"}, {"COM7", "/dev/ttyACM0"}};
    std::string error;
    const bool ok = LoadComDevices(
        [&](const std::string& key) {
            auto it = section.find(key);
            return it == section.end() ? std::string() : it->second;
        },
        &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error,
              "[Ports] COM5=relative/tty: expected an absolute device path such as /dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(5), "/dev/ttyS4");
    EXPECT_EQ(ComDevicePath(7), "/dev/ttyACM0");
}

TEST_F(DeviceMapTest, OnlyCharacterDevicesPassTheCheck) {
    std::string error;
    int err = 0;
    EXPECT_TRUE(CheckCharacterDevice("/dev/null", &error, &err));
    EXPECT_FALSE(CheckCharacterDevice("/tmp", &error, &err));
    EXPECT_EQ(error,
              "/tmp is not a character device (expected a serial port such as /dev/ttyUSB0)");
    EXPECT_FALSE(CheckCharacterDevice("/dev/no-such-tty", &error, &err));
    EXPECT_EQ(error, "no such device /dev/no-such-tty");
    EXPECT_EQ(err, ENOENT);
}

}  // namespace
