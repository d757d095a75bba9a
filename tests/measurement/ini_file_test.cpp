// The INI editor: a write changes its own key's line only, an unclean file is
// never written, and a failed save says why.
#include "measurement/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/measurement/as_nobody.h"

namespace {

struct EditCase {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
};

class IniEdit : public testing::TestWithParam<EditCase> {};

TEST_P(IniEdit, ChangesOnlyTheKeysLine) {
    const EditCase& c = GetParam();
    IniFile file(c.before);
    ASSERT_TRUE(file.IsClean()) << file.Problem();
    std::string error;
    EXPECT_EQ(file.Set(c.section, c.key, c.value, &error), c.before != c.after) << error;
    EXPECT_EQ(file.Text(), c.after);
    EXPECT_EQ(file.Value(c.section, c.key), c.value);
    // Writing the same value again changes nothing.
    EXPECT_FALSE(file.Set(c.section, c.key, c.value));
    EXPECT_EQ(file.Text(), c.after);
}

const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniEdit,
    testing::Values(
        EditCase{"ValueInPlaceKeepsSpacingAndCrlf", "; mine\r\n[A]\r\nK = 1\r\n[B]\r\nz=2\r\n", "A",
                 "K", "15", "; mine\r\n[A]\r\nK = 15\r\n[B]\r\nz=2\r\n"},
        EditCase{"SameValueLeavesTheText", "[A]\r\nx = 7 \r\n", "A", "x", "7", "[A]\r\nx = 7 \r\n"},
        EditCase{"NewKeyAfterTheSectionsLastKey", "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\n", "A",
                 "y", "2", "[A]\r\nx=1\r\ny=2\r\n\r\n; about B\r\n[B]\r\n"},
        EditCase{"NewKeyInAnEmptySection", "[A]\n; note\n", "A", "x", "1", "[A]\nx=1\n; note\n"},
        EditCase{"NewSectionAtTheEndInCrlf", "[A]\r\nx=1\r\n", "Ports", "COM3",
                 "/dev/serial/by-id/usb-X",
                 "[A]\r\nx=1\r\n\r\n[Ports]\r\nCOM3=/dev/serial/by-id/usb-X\r\n"},
        EditCase{"NoLineEndAtTheEndNewKey", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2"},
        EditCase{"NoLineEndAtTheEndNewSection", "[A]\nx=1", "B", "y", "2",
                 "[A]\nx=1\n\n[B]\ny=2\n"},
        EditCase{"EmptyFile", "", "A", "x", "1", "[A]\nx=1\n"},
        EditCase{"ByteOrderMarkStays", kBom + "[A]\r\nx=1\r\n", "A", "x", "2",
                 kBom + "[A]\r\nx=2\r\n"},
        EditCase{"NamesMatchWithoutCase", "[myorvanelap]\nchannelselection=1\n", "MyOrvanelAp",
                 "ChannelSelection", "2", "[myorvanelap]\nchannelselection=2\n"},
        EditCase{"FirstOfDuplicateKeys", "[A]\nx=1\nx=9\n", "A", "x", "3", "[A]\nx=3\nx=9\n"},
        EditCase{"EightBitCommentAndForeignSectionStay", "; caf\xe9\n[Z]\nq=\xfc\n[A]\nx=1\n", "A",
                 "x", "2", "; caf\xe9\n[Z]\nq=\xfc\n[A]\nx=2\n"},
        EditCase{"BlanksAroundAValueAreQuoted", "[A]\n", "A", "x", " a ", "[A]\nx=\" a \"\n"},
        EditCase{"EmptyValueGetsOne", "[A]\nx=\n", "A", "x", "5", "[A]\nx=5\n"}),
    [](const testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

TEST(IniFile, ReadsValuesAndKeysInFileOrder) {
    IniFile file(
        "x=0\n[Ports]\nCOM4 = /dev/b\n[Other]\nCOM9=/z\n[ports]\nCOM3=\"/dev/a\"\ncom4=/c\n");
    ASSERT_TRUE(file.IsClean()) << file.Problem();
    EXPECT_EQ(file.Keys("Ports"), (std::vector<std::string>{"COM4", "COM3"}));
    EXPECT_EQ(file.Value("Ports", "COM4"), "/dev/b");
    EXPECT_EQ(file.Value("PORTS", "com3"), "/dev/a");
    EXPECT_EQ(file.Value("Ports", "COM9"), std::nullopt);
    EXPECT_EQ(file.Value("Missing", "x"), std::nullopt);
}

TEST(IniFile, RemoveTakesEveryLineOfTheKeyAndNothingElse) {
    IniFile file("[A]\r\nx=1\r\n; keep\r\ny=2\r\nX=3\r\n[B]\r\nx=4\r\n");
    EXPECT_TRUE(file.Remove("A", "x"));
    EXPECT_EQ(file.Text(), "[A]\r\n; keep\r\ny=2\r\n[B]\r\nx=4\r\n");
    EXPECT_FALSE(file.Remove("A", "x"));
    EXPECT_EQ(file.Value("A", "x"), std::nullopt);
    EXPECT_EQ(file.Value("B", "x"), "4");
}

TEST(IniFile, UncleanTextIsNamedByLineAndNeverEdited) {
    struct Case {
        std::string text;
        std::string mentions;
    };
    const Case cases[] = {
        {std::string("[A]\nx=1\n\0\0\0\n", 12), "line 3 holds a NUL byte"},
        {"[A]\nx=\x01\x02\n", "line 2 holds a control byte"},
        {"[A]\nx=1\r\rjunk\n", "line 2"},
        {"[A]\nx=1\r", "line 2 holds a control byte"},
        {"[A]\njust words\n", "line 2 is neither a section, a key=value line, a comment nor blank"},
        {"[A\nx=1\n", "line 1 is not a section header"},
        {"[ ]\n", "line 1 is not a section header"},
        {"[A]\n = 5\n", "line 2 is neither"},
    };
    for (const Case& c : cases) {
        IniFile file(c.text);
        EXPECT_FALSE(file.IsClean()) << c.text;
        EXPECT_NE(file.Problem().find(c.mentions), std::string::npos) << file.Problem();
        std::string error;
        EXPECT_FALSE(file.Set("A", "x", "2", &error));
        EXPECT_EQ(error, file.Problem());
        EXPECT_FALSE(file.Remove("A", "x"));
        EXPECT_EQ(file.Text(), c.text);
        EXPECT_EQ(file.Value("A", "x"), std::nullopt);
    }
}

TEST(IniFile, RefusesWhatALineCannotHold) {
    const std::string text = "[A]\nx=1\n";
    const std::vector<std::vector<std::string>> cases = {
        {"A", "x", "1\n[B]"}, {"A", "x", std::string("a\0b", 3)},
        {"A", "k=v", "1"},    {"A", "", "1"},
        {"A", "[x", "1"},     {"A", ";x", "1"},
        {"A]", "x", "1"},     {"", "x", "1"},
        {"A", " x", "1"},
    };
    for (const auto& c : cases) {
        IniFile file(text);
        std::string error;
        EXPECT_FALSE(file.Set(c[0], c[1], c[2], &error)) << c[1];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(file.Text(), text);
    }
}

TEST(ParseProfileInt, TakesDecimalIntegersOnly) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"12", 12},
        {" -3 ", -3},
        {"+4", 4},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"1.5", std::nullopt},
        {"0x10", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"12abc", std::nullopt},
        {"1,2", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseProfileInt(text), expected) << text;
}

// A temporary folder for the file-backed profile.
class IniFileProfileTest : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/pelkor-ini-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_, ec)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, ec);
        }
        std::filesystem::remove_all(dir_, ec);
    }
    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }
    std::string dir_;
};

TEST_F(IniFileProfileTest, AnUnchangedValueIsNotWrittenAndAChangedOneOnlyOnItsLine) {
    const std::string path = dir_ + "/pelkor.INI";
    const std::string before =
        "; Pelkor settings\r\n[MyOrvanelAp]\r\nSampleRateSelection=6\r\nOrvanelComPort = 3\r\n"
        "\r\n# mine\r\n[Foreign]\r\nk=v\r\n";
    Put(path, before);
    const ino_t inode = Inode(path);
    IniFileProfile profile(path);
    EXPECT_EQ(profile.LoadError(), "");
    profile.WriteInt("MyOrvanelAp", "OrvanelComPort", 3);
    profile.WriteInt("myorvanelap", "SampleRateSelection", 6);
    EXPECT_EQ(Get(path), before);
    EXPECT_EQ(Inode(path), inode);  // not even replaced by an identical copy

    profile.WriteInt("MyOrvanelAp", "OrvanelComPort", 5);
    profile.WriteString("Ports", "COM5", "/dev/ttyUSB0");
    EXPECT_EQ(profile.LastError(), "");
    EXPECT_EQ(
        Get(path),
        "; Pelkor settings\r\n[MyOrvanelAp]\r\nSampleRateSelection=6\r\nOrvanelComPort = 5\r\n"
        "\r\n# mine\r\n[Foreign]\r\nk=v\r\n\r\n[Ports]\r\nCOM5=/dev/ttyUSB0\r\n");
    EXPECT_EQ(profile.Keys("Ports"), std::vector<std::string>{"COM5"});
    profile.RemoveKey("Ports", "COM5");
    EXPECT_EQ(profile.ReadString("Ports", "COM5", "none"), "none");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left
}

TEST_F(IniFileProfileTest, AHandEditMadeMeanwhileIsKept) {
    const std::string path = dir_ + "/p.INI";
    Put(path, "[A]\nx=1\n");
    IniFileProfile profile(path);
    Put(path, "[A]\nx=1\n; added by hand\n[B]\nz=3\n");
    profile.WriteInt("A", "x", 2);
    EXPECT_EQ(Get(path), "[A]\nx=2\n; added by hand\n[B]\nz=3\n");
    EXPECT_EQ(profile.ReadInt("B", "z", 0), 3);
}

TEST_F(IniFileProfileTest, AnUncleanFileIsNeverWritten) {
    const std::string path = dir_ + "/p.INI";
    const char bytes[] =
        "[MyOrvanelAp]\nChannelSelection=3\n\x7f"
        "ELF\0\0\x01\x02";
    const std::string binary(bytes, sizeof bytes - 1);  // the NULs included
    Put(path, binary);
    IniFileProfile profile(path);
    EXPECT_NE(profile.LoadError().find(path), std::string::npos);
    EXPECT_NE(profile.LoadError().find("line 3"), std::string::npos) << profile.LoadError();
    EXPECT_EQ(profile.ReadInt("MyOrvanelAp", "ChannelSelection", 9), 9);
    profile.WriteInt("MyOrvanelAp", "ChannelSelection", 5);
    profile.WriteString("Ports", "COM3", "/dev/x");
    EXPECT_EQ(Get(path), binary);
    EXPECT_EQ(profile.FailedSaves(), 0);  // told once, at start, not at each write
}

TEST_F(IniFileProfileTest, AFailedSaveSaysWhy) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> arrange;  // returns the profile's path
        const char* mentions;
    };
    const Case cases[] = {
        {"read-only file",
         [](const std::string& d) {
             Put(d + "/p.INI", "[A]\nx=1\n");
             chmod((d + "/p.INI").c_str(), 0444);
             return d + "/p.INI";
         },
         "Permission denied"},
        {"read-only folder",
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/ro");
             Put(d + "/ro/p.INI", "[A]\nx=1\n");
             chmod((d + "/ro").c_str(), 0555);
             return d + "/ro/p.INI";
         },
         "Permission denied"},
        {"a folder in the file's place",
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/p.INI");
             return d + "/p.INI";
         },
         "is a folder"},
        {"a file in the folder's place",
         [](const std::string& d) {
             Put(d + "/pelkor", "");
             return d + "/pelkor/p.INI";
         },
         "cannot create the folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        const std::string path = c.arrange(dir_);
        std::filesystem::permissions(dir_, std::filesystem::perms::all,
                                     std::filesystem::perm_options::add);
        const std::string why = RunAsNobody([&] {
            IniFileProfile profile(path);
            profile.WriteInt("A", "x", 2);
            return profile.LoadError() + "|" + profile.LastError() + "|" +
                   std::to_string(profile.FailedSaves());
        });
        EXPECT_NE(why.find(c.mentions), std::string::npos) << why;
        EXPECT_NE(why.find(path), std::string::npos) << why;
        if (std::filesystem::is_regular_file(path)) {
            EXPECT_EQ(Get(path), "[A]\nx=1\n");
        }
    }
}

}  // namespace
