// Earlier holders of a device: processes found through a fake /proc, and UUCP
// lock files in a fake lock folder.
#include "comlink/serial_access.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/comlink/fake_serial_tree.h"

namespace {

constexpr int kSelf = 1000;
const char* const kAcmLink = "usb-Arduino_Uno_85736323838351F0E1A1-if00";

class SerialAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.AddUsb({"ttyACM0", "cdc_acm", "2341", "0043", "Arduino", "Uno", "8573", kAcmLink, ""});
        tree.AddUsb({"ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "A502", "", ""});
        acm = std::filesystem::canonical(tree.Dev() / "ttyACM0").string();
        usb = std::filesystem::canonical(tree.Dev() / "ttyUSB0").string();
    }
    std::string LockFile() const { return (tree.Lock() / "LCK..ttyACM0").string(); }
    std::string Contents(const std::string& file) const {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    FakeSerialTree tree;
    std::string acm, usb;
};

TEST_F(SerialAccessTest, FindsOtherProcessesThatHoldTheDeviceOpen) {
    tree.AddProcess(812, "ModemManager", {"/dev/null", acm});
    tree.AddProcess(900, "minicom", {usb});
    tree.AddProcess(kSelf, "pelkor", {acm});  // ourselves
    tree.AddProcess(950, "idle", {});
    std::filesystem::create_directories(tree.Proc() / "sys" / "fd");  // not a process
    const std::string proc = tree.Proc().string();

    const auto holders = FindDeviceHolders(proc, tree.ByIdPath(kAcmLink), kSelf);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, 812);
    EXPECT_EQ(holders[0].name, "ModemManager");
    EXPECT_EQ(DescribeHolder("/dev/ttyACM0", holders[0], false),
              "busy: /dev/ttyACM0 is open in ModemManager (pid 812)");

    EXPECT_EQ(FindDeviceHolders(proc, usb, kSelf).size(), 1u);
    EXPECT_TRUE(FindDeviceHolders(proc, usb, 900).empty()) << "its own descriptor counted";
    EXPECT_TRUE(FindDeviceHolders(proc, (tree.Dev() / "ttyUSB9").string(), kSelf).empty());
    EXPECT_TRUE(FindDeviceHolders("/nonexistent", acm, kSelf).empty());
}

TEST_F(SerialAccessTest, LockFileIsCreatedInHdbFormatAndRemoved) {
    EXPECT_EQ(LockFileName(tree.ByIdPath(kAcmLink)), "LCK..ttyACM0");
    {
        CDeviceLock lock;
        DeviceHolder holder;
        ASSERT_TRUE(lock.Acquire(tree.Lock().string(), tree.Proc().string(),
                                 tree.ByIdPath(kAcmLink), kSelf, &holder));
        EXPECT_EQ(lock.Path(), LockFile());
        EXPECT_EQ(Contents(LockFile()), "      1000\n");
    }
    EXPECT_FALSE(std::filesystem::exists(LockFile())) << "the lock outlived its holder";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.Lock()),
                            std::filesystem::directory_iterator()),
              0)
        << "a temporary file was left";
}

struct LockCase {
    const char* name;
    const char* contents;  // of the lock file found
    bool ownerRuns;        // a process 813 exists
    bool refused;
};

class ExistingLockTest : public SerialAccessTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(ExistingLockTest, IsHonouredWhileItsProcessRunsAndReplacedWhenStale) {
    const LockCase& c = GetParam();
    if (c.ownerRuns) tree.AddProcess(813, "minicom", {});
    std::ofstream(LockFile()) << c.contents;
    CDeviceLock lock;
    DeviceHolder holder;
    const bool ok = lock.Acquire(tree.Lock().string(), tree.Proc().string(), acm, kSelf, &holder);
    EXPECT_EQ(ok, !c.refused);
    if (c.refused) {
        EXPECT_EQ(holder.pid, 813);
        EXPECT_EQ(DescribeHolder("/dev/ttyACM0", holder, true),
                  "busy: /dev/ttyACM0 is locked by minicom (pid 813)");
        EXPECT_EQ(Contents(LockFile()), c.contents) << "another program's lock was touched";
        EXPECT_EQ(lock.Path(), "");
    } else {
        EXPECT_EQ(Contents(LockFile()), "      1000\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Locks, ExistingLockTest,
    ::testing::Values(LockCase{"HdbOfARunningProcess", "       813\n", true, true},
                      LockCase{"PlainPidOfARunningProcess", "813", true, true},
                      LockCase{"HdbOfAGoneProcess", "       813\n", false, false},
                      LockCase{"NoPidInIt", "garbage\n", true, false},
                      LockCase{"OurOwnLeftover", "      1000\n", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialAccessTest, ALinkPlantedInTheLockFolderIsNotWrittenThrough) {
    const auto victim = tree.root / "victim";
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, tree.Lock() / "LCK..1000.tmp");
    std::ofstream(LockFile()) << std::string(1 << 20, '7');  // a pid too long to be one
    CDeviceLock lock;
    DeviceHolder holder;
    ASSERT_TRUE(lock.Acquire(tree.Lock().string(), tree.Proc().string(), acm, kSelf, &holder));
    EXPECT_EQ(Contents(victim.string()), "keep");
    EXPECT_EQ(Contents(LockFile()), "      1000\n");
}

TEST_F(SerialAccessTest, NoWritableLockFolderMeansNoLockButNoRefusal) {
    CDeviceLock lock;
    DeviceHolder holder;
    EXPECT_TRUE(
        lock.Acquire((tree.root / "missing").string(), tree.Proc().string(), acm, kSelf, &holder));
    EXPECT_EQ(lock.Path(), "");
}

}  // namespace
