// Spectrum CSV, the measurements text, and the atomic file write.
#include "measurement/export.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/measurement/as_nobody.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/pelkor-export-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
        return names;
    }
    fs::path dir;
};

std::unique_ptr<MeasurementState> SpectrumState(int n, int rate) {
    auto s = std::make_unique<MeasurementState>();
    s->sampleCount = n;
    s->sampleRate = rate;
    for (int k = 0; k <= n / 2; ++k) s->spectrum[k] = -179.9 + k * 0.1 + 1.0 / 3.0;
    s->spectrum[n / 2 + 1] = 99.0;  // beyond N/2: never exported
    return s;
}

TEST(SpectrumCsv, OneRowPerEntryUpToHalfWithExactValues) {
    const auto s = SpectrumState(128, 1800);
    const auto lines = Lines(FormatSpectrumCsv(*s));
    ASSERT_EQ(lines.size(), 1u + 65u);
    EXPECT_EQ(lines[0], "entry,frequency_hz,level_db");
    EXPECT_EQ(lines[1].substr(0, 4), "0,0,");
    EXPECT_EQ(lines[2].substr(0, 11), "1,14.0625,-");  // 1800 / 128
    EXPECT_EQ(lines[65].substr(0, 7), "64,900,");
    for (int k = 0; k <= 64; ++k) {
        std::istringstream row(lines[k + 1]);
        std::string entry, hz, db;
        std::getline(row, entry, ',');
        std::getline(row, hz, ',');
        std::getline(row, db, ',');
        EXPECT_EQ(std::stoi(entry), k);
        EXPECT_EQ(std::stod(hz), k * 1800.0 / 128);
        EXPECT_EQ(std::strtod(db.c_str(), nullptr), s->spectrum[k]) << "entry " << k;
    }
}

TEST(SpectrumCsv, CountOutsideTheTableGivesTheHeaderOnly) {
    for (int n : {0, 100, 16384}) {
        auto s = std::make_unique<MeasurementState>();
        s->sampleCount = n;
        s->sampleRate = 1800;
        EXPECT_EQ(FormatSpectrumCsv(*s), "entry,frequency_hz,level_db\n") << n;
    }
}

TEST(Measurements, TextHoldsSettingsResultsPeaksAndFigures) {
    auto s = SpectrumState(1024, 1800);
    s->channel = 3;
    s->resolution = 1;
    s->windowMode = 0;
    s->averagingMode = 2;
    s->fundamentalText = "175 Hz";
    s->amplitudeText = "-0.9 dBm";
    s->thdText = "0.123 %";
    s->fundamentalBin = 100;
    s->fundamentalLevel = -0.9;
    for (int p = 0; p < 5; ++p) {
        s->harmonicBins[p] = 200 + p;
        s->harmonicLevels[p] = -60.0 - p;
    }
    DistortionMetrics m;
    m.valid = true;
    m.thdPercent = 1.0;
    m.thdDb = -40.0;
    m.sinadDb = 39.5;
    m.snrDb = 45.25;
    m.enob = 6.27;
    m.sfdrDb = 41.0;
    m.spurBin = 200;
    const std::string text = FormatMeasurements(*s, m);
    for (const char* expected :
         {"Sample rate: 1800 s/s\n", "Samples: 1024\n", "Channel: 3\n", "Resolution: 10-bit\n",
          "Harris window: On\n", "Averaging: 10\n", "Fundamental: 175 Hz\n",
          "Amplitude: -0.9 dBm\n", "THD: 0.123 %\n", "Fundamental entry 100: 175.78 Hz, -0.9 dBm\n",
          "Peak 5 entry 204: 358.59 Hz, -64.0 dBm\n",
          "Harmonic THD (2..10): 1.0000 % (-40.00 dB)\n", "SNR: 45.25 dB\n", "ENOB: 6.27 bits\n",
          "SFDR: 41.00 dB (spur at 351.56 Hz)\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin:\n" << text;
    }
    m.valid = false;
    const std::string without = FormatMeasurements(*s, m);
    EXPECT_NE(without.find("Distortion figures: not available\n"), std::string::npos);
    EXPECT_EQ(without.find("SNR"), std::string::npos);
}

TEST_F(TempDir, AtomicWriteCreatesAndReplacesWithTheUsualPermissions) {
    const fs::path target = dir / "spectrum.csv";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(target, "first\n", &error)) << error;
    EXPECT_EQ(ReadAll(target), "first\n");
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(WriteFileAtomically(target, big, &error)) << error;
    EXPECT_EQ(ReadAll(target), big);
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // a replaced file keeps its permissions
    EXPECT_EQ(Entries(), std::vector<std::string>{"spectrum.csv"});
}

TEST_F(TempDir, FailedWriteSaysWhyAndLeavesNothingBehind) {
    struct Case {
        fs::path path;
        const char* reason;
    };
    fs::create_directory(dir / "taken");
    std::ofstream(dir / "taken" / "inside") << "keep";
    for (const Case& c :
         {Case{dir / "missing" / "out.csv", "No such file or directory"},
          Case{dir / "taken", "Is a directory"}, Case{dir / "taken/", "Is a directory"}}) {
        std::string error;
        EXPECT_FALSE(WriteFileAtomically(c.path, "data", &error)) << c.path;
        EXPECT_NE(error.find(c.path.string()), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    EXPECT_EQ(Entries(), std::vector<std::string>{"taken"});
    EXPECT_EQ(ReadAll(dir / "taken" / "inside"), "keep");
}

TEST_F(TempDir, WriteThroughASymbolicLinkReplacesItsTarget) {
    fs::create_directory(dir / "real");
    std::ofstream(dir / "real" / "out.csv") << "old";
    fs::create_symlink("real/out.csv", dir / "link.csv");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir / "link.csv", "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
    EXPECT_EQ(ReadAll(dir / "real" / "out.csv"), "new");
    EXPECT_EQ(fs::directory_iterator(dir / "real")->path().filename(), "out.csv");
}

// A socket node at path, as a server leaves it; false when none can be made.
bool MakeSocket(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof address.sun_path) return false;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool made = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return made;
}

mode_t KindOf(const fs::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

TEST_F(TempDir, AFifoAndACharacterDeviceAreWrittenInPlace) {
    const fs::path fifo = dir / "results.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = ReadAll(fifo); });
    std::string error;
    const std::string big(300000, 'j');  // more than a pipe holds at once
    EXPECT_TRUE(WriteFileAtomically(fifo, big, &error)) << error;
    reader.join();
    EXPECT_EQ(received.size(), big.size());
    EXPECT_EQ(KindOf(fifo), static_cast<mode_t>(S_IFIFO));

    // A device node of our own where the system lets us make one, else the system's.
    fs::path device = dir / "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) device = "/dev/null";
    EXPECT_TRUE(WriteFileAtomically(device, "spectrum\n", &error)) << error;
    EXPECT_EQ(KindOf(device), static_cast<mode_t>(S_IFCHR));
    EXPECT_TRUE(CheckOutputPath(fifo, &error)) << error;
    EXPECT_TRUE(CheckOutputPath(device, &error)) << error;
    // Nothing was left beside them.
    for (const auto& name : Entries())
        EXPECT_TRUE(name == "results.fifo" || name == "null") << name;
}

TEST_F(TempDir, OtherNodesAreRefusedBeforeAndAtTheWriteAndStay) {
    struct Case {
        fs::path path;
        mode_t kind;
        const char* reason;
    };
    std::vector<Case> cases;
    ASSERT_TRUE(MakeSocket(dir / "sock")) << std::strerror(errno);
    cases.push_back({dir / "sock", S_IFSOCK, "it is a socket, not a file"});
    fs::create_directory(dir / "folder");
    cases.push_back({dir / "folder", S_IFDIR, "Is a directory"});
    if (mknod((dir / "disk").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
        cases.push_back({dir / "disk", S_IFBLK, "it is a block device, not a file"});
    }
    for (const Case& c : cases) {
        std::string before, at;
        EXPECT_FALSE(CheckOutputPath(c.path, &before)) << c.path;
        EXPECT_FALSE(WriteFileAtomically(c.path, "data", &at)) << c.path;
        for (const std::string* e : {&before, &at}) {
            EXPECT_NE(e->find(c.path.string()), std::string::npos) << *e;
            EXPECT_NE(e->find(c.reason), std::string::npos) << *e;
        }
        EXPECT_EQ(KindOf(c.path), c.kind) << c.path;
    }
}

TEST_F(TempDir, TheOutputCheckFindsWhatTheWriteWouldMeet) {
    std::ofstream(dir / "file") << "x";
    std::ofstream(dir / "old.json") << "old";
    chmod((dir / "old.json").c_str(), 0444);
    fs::create_directory(dir / "ro");
    chmod((dir / "ro").c_str(), 0555);
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    struct Case {
        fs::path path;
        std::string reason;  // empty: writable
    };
    const Case cases[] = {
        {dir / "new.json", ""},
        {dir / "missing" / "new.json", "No such file or directory"},
        {dir / "file" / "new.json", "Not a directory"},
        {dir / "old.json", "Permission denied"},
        {dir / "ro" / "new.json", "the folder " + (dir / "ro").string() + " is not writable"},
    };
    for (const Case& c : cases) {
        // As another user than root, so that permissions count.
        const std::string result = RunAsNobody([&] {
            std::string error;
            const bool ok = CheckOutputPath(c.path, &error);
            std::string written;
            const bool wrote = WriteFileAtomically(c.path, "new", &written);
            return std::string(ok ? "ok" : error) + "|" + (wrote ? "ok" : written);
        });
        const std::string expected = c.reason.empty() ? "ok" : c.reason;
        const auto bar = result.find('|');
        ASSERT_NE(bar, std::string::npos) << result;
        // The check and the write agree.
        EXPECT_NE(result.substr(0, bar).find(expected), std::string::npos) << result;
        EXPECT_EQ(result.substr(bar + 1) == "ok", expected == "ok") << result;
    }
    EXPECT_EQ(ReadAll(dir / "old.json"), "old");  // a read-only file is not replaced
}

TEST(Measurements, NoFigureOrTextReadsInfOrNan) {
    auto s = SpectrumState(128, 1800);
    s->fundamentalBin = 11;
    s->fundamentalLevel = INFINITY;
    s->harmonicLevels[2] = NAN;
    s->amplitudeText = "inf dBm";
    s->thdText = "-nan %";
    s->fundamentalText = "154 Hz";
    DistortionMetrics m;
    m.valid = true;
    m.thdPercent = NAN;
    m.sinadDb = -INFINITY;
    m.snrDb = 12.5;
    const std::string text = FormatMeasurements(*s, m);
    EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    EXPECT_NE(text.find("Amplitude: n/a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SINAD: n/a dB\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SNR: 12.50 dB\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Fundamental: 154 Hz\n"), std::string::npos) << text;
}

TEST_F(TempDir, CsvFileMatchesTheFormattedText) {
    const auto s = SpectrumState(256, 500);
    std::string error;
    ASSERT_TRUE(WriteSpectrumCsv(*s, dir / "s.csv", &error)) << error;
    EXPECT_EQ(ReadAll(dir / "s.csv"), FormatSpectrumCsv(*s));
}

}  // namespace
