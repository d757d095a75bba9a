// Whole-file replacement through the platform's own file (POSIX or Windows),
// with portable paths, so the Windows build is checked under Wine too.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "measurement/export.h"

namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() / ("pelkor-atomic-" + std::to_string(stamp));
        ASSERT_TRUE(fs::create_directories(dir));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(fs::u8path(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir;
};

TEST_F(AtomicFile, CreatesThenReplacesAndLeavesOnlyTheTarget) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(Path("out.csv"), "first\r\nline\n", &error)) << error;
    EXPECT_EQ(ReadAll(Path("out.csv")), "first\r\nline\n");  // bytes as given
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(WriteFileAtomically(Path("out.csv"), big, &error)) << error;
    EXPECT_EQ(ReadAll(Path("out.csv")), big);
    ASSERT_TRUE(WriteFileAtomically(Path("out.csv"), "", &error)) << error;
    EXPECT_EQ(ReadAll(Path("out.csv")), "");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.csv"});
}

TEST_F(AtomicFile, FailureNamesThePathAndChangesNothing) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(Path("keep.csv"), "keep", &error)) << error;
    fs::create_directory(dir / "folder");
    for (const std::string& path :
         {(dir / "missing" / "out.csv").string(), (dir / "folder").string()}) {
        error.clear();
        EXPECT_FALSE(WriteFileAtomically(path, "data", &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_EQ(ReadAll(Path("keep.csv")), "keep");
    EXPECT_EQ(Entries().size(), 2u);  // keep.csv and the folder: no temporary file left
}

}  // namespace
