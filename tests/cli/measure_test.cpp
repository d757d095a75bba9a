// pelkor-measure end to end, in-process, against the stand-in instrument on a
// pseudo-terminal: bytes on the wire, JSON and CSV, exit codes, save and replay.
#include "cli/measure.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/raw_block.h"
#include "instrument/instrument.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// The number after the first "key": that follows anchor.
double After(const std::string& json, const std::string& anchor, const std::string& key) {
    const size_t a = json.find(anchor);
    if (a == std::string::npos) return -1e300;
    const size_t k = json.find("\"" + key + "\": ", a);
    if (k == std::string::npos) return -1e300;
    return std::strtod(json.c_str() + k + key.size() + 4, nullptr);
}

std::string StringAfter(const std::string& json, const std::string& anchor,
                        const std::string& key) {
    const size_t a = json.find(anchor);
    const size_t k = json.find("\"" + key + "\": \"", a == std::string::npos ? 0 : a);
    if (a == std::string::npos || k == std::string::npos) return "<missing>";
    const size_t start = k + key.size() + 5;
    return json.substr(start, json.find('"', start) - start);
}

// The cycles of a report without their clock times, for comparing two runs.
std::string CyclesWithoutTimes(const std::string& json) {
    std::istringstream in(json.substr(json.find("\"cycles\"")));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"started\"") == std::string::npos &&
            line.find("\"finished\"") == std::string::npos) {
            out += line + "\n";
        }
    }
    return out;
}

class Measure : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/pelkor-measure-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    int Run(const std::vector<std::string>& args, bool progressBar = false) {
        out.str("");
        err.str("");
        return RunMeasure(args, out, err, progressBar);
    }
    int Run(const std::string& line) { return Run(Split(line)); }

    // An unpaced instrument with quiet channels except the one given.
    instrument::PtyHost& Start(instrument::Fault fault = instrument::Fault::None) {
        instrument::Options options;
        for (auto& c : options.channels) c = instrument::ChannelSignal{};
        options.channels[1].tones.push_back({175.78125, 2.0, 0.0});
        options.paced = false;
        options.fault = fault;
        host = std::make_unique<instrument::PtyHost>(options);
        std::string error;
        EXPECT_TRUE(host->Start(&error)) << error;
        return *host;
    }

    // What the instrument read, once it ends with `tail` (or 5 s passed).
    std::string ReceivedEndingWith(const std::string& tail) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            const std::vector<unsigned char> bytes = host->ReceivedBytes();
            const std::string text(bytes.begin(), bytes.end());
            if (text.ends_with(tail) || std::chrono::steady_clock::now() > until) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    fs::path dir;
    std::ostringstream out, err;
    std::unique_ptr<instrument::PtyHost> host;
};

struct Wire {
    const char* name;
    const char* settings;
    const char* cycles;  // the bytes of the cycles after the handshake "9P"
};

class MeasureWire : public Measure, public ::testing::WithParamInterface<Wire> {};

TEST_P(MeasureWire, SettingsBecomeTheCommandBytes) {
    Start();
    ASSERT_EQ(Run("--device " + host->SlavePath() + " " + GetParam().settings), kExitMeasured)
        << err.str();
    const std::string cycles = GetParam().cycles;
    std::string wire = ReceivedEndingWith(cycles);
    // A handshake that missed its 50 ms on a loaded machine is tried again.
    int handshakes = 0;
    while (wire.rfind("9P", 0) == 0) {
        wire.erase(0, 2);
        ++handshakes;
    }
    EXPECT_GE(handshakes, 1);
    EXPECT_LE(handshakes, 3);
    EXPECT_EQ(wire, cycles);
    EXPECT_NE(out.str().find("Fundamental: "), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeasureWire,
    ::testing::Values(Wire{"Defaults", "", "i1GQS88"},
                      Wire{"Channel5Rate6000Bits10",
                           "--channel 5 --rate 6000 --bits 10 --samples 256", "m5MRS88"},
                      Wire{"Channel0Rate100", "--channel 0 --rate 100 --bits 8", "h0AQS88"},
                      Wire{"TwoCycles", "--channel 6 --rate 2500 --count 2", "n6IQS88n6IQS88"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Measure, RefusedSettingsSendNothing) {
    Start();
    for (const char* bad : {"--rate 1234", "--samples 1000", "--channel 7", "--bits 12"}) {
        EXPECT_EQ(Run("--device " + host->SlavePath() + " " + bad), kExitBadArguments) << bad;
        EXPECT_NE(err.str().find(Split(bad)[1]), std::string::npos) << err.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(host->ReceivedBytes().empty());
}

TEST_F(Measure, JsonAndCsvHoldTheFundamentalOfTheSignal) {
    Start();
    const fs::path csv = dir / "spectrum.csv";
    ASSERT_EQ(Run(Split("--device " + host->SlavePath() +
                        " --samples 1024 --rate 1800 --window off --bits 10 --json - --csv " +
                        csv.string()),
                  true),
              kExitMeasured)
        << err.str();
    const std::string json = out.str();
    // 175.78125 Hz is entry 100 of 1024 at 1800 s/s; 2 V on an exact entry is
    // 10 log10(2) + 11 = 14.01 dBm.
    EXPECT_EQ(StringAfter(json, "", "status"), "measured");
    EXPECT_EQ(After(json, "\"settings\"", "samples"), 1024);
    EXPECT_EQ(After(json, "\"settings\"", "bits"), 10);
    EXPECT_EQ(After(json, "\"fundamental\": {", "bin"), 100);
    EXPECT_EQ(After(json, "\"fundamental\": {", "frequency_hz"), 175.78125);
    EXPECT_NEAR(After(json, "\"fundamental\": {", "level_dbm"), 14.01, 0.05);
    EXPECT_EQ(StringAfter(json, "\"texts\"", "fundamental"), "175 Hz");
    EXPECT_EQ(StringAfter(json, "\"texts\"", "amplitude"), "14.0 dBm");
    EXPECT_NEAR(After(json, "\"metrics\"", "fundamental_frequency_hz"), 175.78125, 1e-6);
    EXPECT_GT(After(json, "\"metrics\"", "snr_db"), 50);  // 10-bit quantisation only
    EXPECT_LT(After(json, "\"metrics\"", "thd_percent"), 0.5);
    EXPECT_EQ(json.find("Fundamental: "), std::string::npos);  // stdout is the JSON alone

    const std::string table = ReadAll(csv);
    std::istringstream rows(table);
    std::vector<std::string> lines;
    for (std::string line; std::getline(rows, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 513u);
    EXPECT_EQ(lines[0], "entry,frequency_hz,level_db");
    const std::string level = json.substr(json.find("\"level_dbm\": ") + 13);
    EXPECT_EQ(lines[101], "100,175.78125," + level.substr(0, level.find('\n')));

    // A terminal gets a progress bar on standard error, cleared at the end.
    EXPECT_NE(err.str().find("100%"), std::string::npos);
    EXPECT_EQ(err.str().back(), '\r');
}

struct Failure {
    const char* name;
    instrument::Fault fault;
    int exitCode;
    const char* says;
};

class MeasureFailure : public Measure, public ::testing::WithParamInterface<Failure> {};

TEST_P(MeasureFailure, ExitCodeAndReason) {
    Start(GetParam().fault);
    const fs::path json = dir / "run.json", csv = dir / "run.csv";
    EXPECT_EQ(Run("--device " + host->SlavePath() + " --samples 1024 --json " + json.string() +
                  " --csv " + csv.string()),
              GetParam().exitCode);
    EXPECT_NE(err.str().find(GetParam().says), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(host->SlavePath()), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty()) << out.str();
    EXPECT_FALSE(fs::exists(csv));  // nothing measured, no spectrum
    const std::string report = ReadAll(json);
    EXPECT_NE(report.find("\"status\": \"failed\""), std::string::npos) << report;
    EXPECT_NE(report.find(GetParam().says), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeasureFailure,
    ::testing::Values(
        Failure{"NoReply", instrument::Fault::NoReply, kExitNoInstrument, "COM1:Error"},
        Failure{"WrongReply", instrument::Fault::WrongReply, kExitNoInstrument, "did not answer"},
        Failure{"DoubleReply", instrument::Fault::DoubleReply, kExitNoInstrument, "COM1:Error"},
        Failure{"HangUp", instrument::Fault::HangUpMidBlock, kExitAcquisition, "lost device"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Measure, NoSuchDeviceIsNoInstrumentWithTheOsReason) {
    EXPECT_EQ(Run("--device " + (dir / "nothing").string()), kExitNoInstrument);
    EXPECT_NE(err.str().find("no such device"), std::string::npos) << err.str();
    EXPECT_EQ(Run("--port COM4=" + (dir / "nothing").string()), kExitNoInstrument);
    EXPECT_NE(err.str().find("COM4:Error"), std::string::npos) << err.str();
}

TEST_F(Measure, AnUnwritableOutputIsRefusedBeforeTheInstrumentIsTouched) {
    Start();
    fs::create_directory(dir / "folder");
    std::ofstream(dir / "file") << "x";
    struct Case {
        std::string option;
        fs::path path;
        const char* reason;
    };
    const Case cases[] = {
        {"--json", dir / "no/such.json", "No such file or directory"},
        {"--csv", dir / "folder", "Is a directory"},
        {"--save-raw", dir / "file" / "run.raw", "Not a directory"},
    };
    for (const char* run : {" --count 50 --samples 1024 ", " --stream 5 --samples 1024 "}) {
        for (const Case& c : cases) {
            host->ClearReceived();
            EXPECT_EQ(Run("--device " + host->SlavePath() + run + c.option + " " + c.path.string()),
                      kExitOutputFailed)
                << run;
            EXPECT_NE(
                err.str().find(c.option + ": cannot write " + c.path.string() + ": " + c.reason),
                std::string::npos)
                << err.str();
            EXPECT_EQ(out.str(), "");
            EXPECT_TRUE(host->ReceivedBytes().empty()) << run;  // the port was never opened
        }
    }
}

TEST_F(Measure, OutputsToAFifoAndADeviceStayFifoAndDevice) {
    Start();
    const fs::path fifo = dir / "json.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::path device = dir / "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) device = "/dev/null";
    std::string json;
    std::thread reader([&] { json = ReadAll(fifo); });
    const int code =
        Run("--device " + host->SlavePath() + " --samples 1024 --json " + fifo.string() +
            " --csv " + device.string() + " --save-raw " + device.string());
    reader.join();
    EXPECT_EQ(code, kExitMeasured) << err.str();
    EXPECT_EQ(StringAfter(json, "{", "status"), "measured") << json;
    EXPECT_NEAR(After(json, "\"fundamental\": {", "frequency_hz"), 175.78, 1.0);
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(Measure, AbsurdInputValuesAreRefusedNamingTheLine) {
    const fs::path input = dir / "volts.txt";
    std::string text = "# volts\n";
    for (int j = 0; j < 128; ++j) text += j == 40 ? "1e308\n" : "0.5\n";
    std::ofstream(input) << text;
    EXPECT_EQ(Run("--input " + input.string() + " --json " + (dir / "r.json").string()),
              kExitBadArguments);
    EXPECT_NE(err.str().find("line 42: 1e308 V is outside -1000..1000 V"), std::string::npos)
        << err.str();
    EXPECT_FALSE(fs::exists(dir / "r.json"));

    // At the limit every figure and text is a number.
    text.clear();
    for (int j = 0; j < 128; ++j) text += j % 3 == 0 ? "1000\n" : "-1000\n";
    std::ofstream(input, std::ios::trunc) << text;
    EXPECT_EQ(Run("--input " + input.string() + " --metrics --json -"), kExitMeasured) << err.str();
    for (const char* word : {"inf", "nan"}) {
        EXPECT_EQ(out.str().find(word), std::string::npos) << word << "\n" << out.str();
    }
}

TEST_F(Measure, SavedBlocksReplayToIdenticalResults) {
    const fs::path raw = dir / "run.raw";
    struct Output {
        std::string json, csv, console;
    } live, replay;
    ASSERT_EQ(Run("--demo --count 3 --average on --bits 10 --samples 512 --metrics --save-raw " +
                  raw.string() + " --json " + (dir / "live.json").string() + " --csv " +
                  (dir / "live.csv").string()),
              kExitMeasured)
        << err.str();
    live = {ReadAll(dir / "live.json"), ReadAll(dir / "live.csv"), out.str()};
    const std::string saved = ReadAll(raw);
    EXPECT_EQ(saved.rfind("pelkor-raw 1 rate=1800 samples=512 channel=1 bits=10 window=on "
                          "average=on bytes=1024\n",
                          0),
              0u);
    EXPECT_EQ(saved.size(), 3 * (saved.find('\n') + 1 + 1024));

    ASSERT_EQ(Run("--input " + raw.string() + " --metrics --json " +
                  (dir / "replay.json").string() + " --csv " + (dir / "replay.csv").string()),
              kExitMeasured)
        << err.str();
    replay = {ReadAll(dir / "replay.json"), ReadAll(dir / "replay.csv"), out.str()};
    EXPECT_EQ(replay.console, live.console);
    EXPECT_EQ(replay.csv, live.csv);
    EXPECT_EQ(CyclesWithoutTimes(replay.json), CyclesWithoutTimes(live.json));
    EXPECT_EQ(std::count(live.console.begin(), live.console.end(), '\n'), 6);

    // Averaging changes the replay, so the comparison above had something to lose.
    ASSERT_EQ(Run("--input " + raw.string() + " --average off --csv -"), kExitMeasured);
    EXPECT_NE(out.str(), live.csv);
}

TEST_F(Measure, BadInputFilesAreRefusedWithTheirReason) {
    struct Case {
        const char* name;
        std::string data;
        const char* says;
    };
    const std::string header =
        "pelkor-raw 1 rate=1800 samples=128 channel=1 bits=8 window=on average=off bytes=128\n";
    for (const Case& c : {Case{"empty", "", "empty"},
                          Case{"truncated", header + std::string(127, '\x80'), "truncated"},
                          Case{"garbage", std::string("\0\x01\xff\xfe garbage", 12), "binary"},
                          Case{"text", "1.0\n2.0\nthree\n", "line 3"}}) {
        const fs::path file = dir / c.name;
        std::ofstream(file, std::ios::binary) << c.data;
        EXPECT_EQ(Run("--input " + file.string() + " --json -"), kExitBadArguments) << c.name;
        EXPECT_NE(err.str().find(file.string()), std::string::npos) << err.str();
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_TRUE(out.str().empty());
    }
    const fs::path huge = dir / "huge";
    std::ofstream(huge) << header;
    fs::resize_file(huge, 1ll << 30);
    EXPECT_EQ(Run("--input " + huge.string()), kExitBadArguments);
    EXPECT_NE(err.str().find("larger than"), std::string::npos) << err.str();
}

TEST_F(Measure, VoltsFileIsAnalysedAtTheGivenRate) {
    const fs::path file = dir / "volts.txt";
    {
        std::ofstream f(file);
        f << "# a 1 V tone on entry 20 of 256\n";
        for (int i = 0; i < 256; ++i) f << std::sin(2 * M_PI * 20 * i / 256) << "\n";
    }
    ASSERT_EQ(Run("--input " + file.string() + " --rate 1000 --window off --json -"), kExitMeasured)
        << err.str();
    EXPECT_EQ(After(out.str(), "\"fundamental\": {", "bin"), 20);
    EXPECT_EQ(After(out.str(), "\"fundamental\": {", "frequency_hz"), 78.125);
    EXPECT_EQ(StringAfter(out.str(), "\"texts\"", "amplitude"), "8.0 dBm");
    EXPECT_EQ(Run("--input " + file.string() + " --samples 512"), kExitBadArguments);
}

TEST_F(Measure, HelpVersionAndBadArguments) {
    EXPECT_EQ(Run("--help"), kExitMeasured);
    EXPECT_NE(out.str().find("Usage: pelkor-measure"), std::string::npos);
    EXPECT_NE(out.str().find("--save-raw"), std::string::npos);
    EXPECT_EQ(Run("--version"), kExitMeasured);
    EXPECT_EQ(out.str(), "pelkor-measure 1.0\n");
    EXPECT_EQ(Run("--demo --average sometimes"), kExitBadArguments);
    EXPECT_NE(err.str().find("'sometimes'"), std::string::npos);
    EXPECT_EQ(Run("--demo --signal 9:sine:50:1"), kExitBadArguments);
    EXPECT_NE(err.str().find("--signal 9:sine:50:1"), std::string::npos) << err.str();
    EXPECT_EQ(Run("--demo --fault sometimes"), kExitBadArguments);
    EXPECT_NE(err.str().find("hang-up-mid-block"), std::string::npos) << err.str();
}

// The command as a user types it, through the built program.
TEST(MeasureProgram, DemoJsonFundamentalMatchesTheDemoSignal) {
    const std::string command =
        std::string(PELKOR_MEASURE_PATH) + " --demo --samples 1024 --rate 1800 --json -";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string json;
    char buf[4096];
    for (size_t got; (got = fread(buf, 1, sizeof buf, pipe)) > 0;) json.append(buf, got);
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const double expected = instrument::DefaultDemoSignal().tones.at(0).frequency;
    EXPECT_NEAR(After(json, "\"fundamental\": {", "frequency_hz"), expected, 1800.0 / 1024);
    EXPECT_NEAR(After(json, "\"metrics\"", "fundamental_frequency_hz"), expected, 0.2);
}

}  // namespace

namespace {

// The built program as a process of its own: standard output on a pipe, its
// standard error in a file, so a test can signal it like a terminal would.
class CProgram {
  public:
    CProgram(const std::vector<std::string>& args, const fs::path& errFile) {
        std::vector<std::string> all = {PELKOR_MEASURE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out = fds[0];
    }
    ~CProgram() {
        if (pid > 0 && status < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
    // Reads standard output until it holds `lines` lines or 60 s passed.
    bool WaitForLines(int lines) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::count(text.begin(), text.end(), '\n') < lines) {
            if (std::chrono::steady_clock::now() > until) return false;
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(out, buffer, sizeof buffer);
            if (n <= 0) return false;
            text.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    // The exit status once the process ends within `seconds`; -1 if it did not.
    int WaitExit(int seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) == pid) {
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    pid_t pid = -1;
    int out = -1;
    int status = -1;
    std::string text;  // standard output so far
};

// The instrument reads one start and one stop byte per cycle: an even count of
// them after the handshake means it was told to stop.
int StartStopBytes(const instrument::PtyHost& host) {
    const std::vector<unsigned char> bytes = host.ReceivedBytes();
    return static_cast<int>(std::count(bytes.begin(), bytes.end(), '8'));
}

struct Interrupt {
    const char* name;
    int signal;
};

class MeasureInterrupt : public Measure, public ::testing::WithParamInterface<Interrupt> {};

// Ctrl-C or SIGTERM in a long run: the cycle in progress ends, the instrument is
// stopped, the report says "interrupted" with the cycles done, exit 130.
TEST_P(MeasureInterrupt, StopsAfterTheCurrentReadAndWritesEveryOutput) {
    instrument::Options options;
    options.paced = true;  // 1024 samples take over half a second: a signal lands mid-block
    host = std::make_unique<instrument::PtyHost>(options);
    std::string error;
    ASSERT_TRUE(host->Start(&error)) << error;
    const fs::path json = dir / "run.json", csv = dir / "run.csv", raw = dir / "run.raw";
    CProgram tool({"--device", host->SlavePath(), "--samples", "1024", "--count", "1000", "--json",
                   json.string(), "--csv", csv.string(), "--save-raw", raw.string()},
                  dir / "err.txt");
    ASSERT_GT(tool.pid, 0);
    ASSERT_TRUE(tool.WaitForLines(2)) << ReadAll(dir / "err.txt");
    ASSERT_EQ(kill(tool.pid, GetParam().signal), 0);
    EXPECT_EQ(tool.WaitExit(60), kExitInterrupted) << ReadAll(dir / "err.txt");

    const std::string report = ReadAll(json);
    EXPECT_EQ(StringAfter(report, "{", "status"), "interrupted") << report;
    const double done = After(report, "{", "completed");
    EXPECT_GE(done, 2);
    EXPECT_LT(done, 1000);
    size_t cycles = 0;
    for (size_t at = 0; (at = report.find("\"cycle\": ", at)) != std::string::npos; ++at) ++cycles;
    EXPECT_EQ(static_cast<double>(cycles), done);
    EXPECT_NE(ReadAll(dir / "err.txt").find("interrupted after"), std::string::npos);
    EXPECT_EQ(ReadAll(csv).rfind("entry,frequency_hz,level_db\n", 0), 0u);
    InputFile saved;
    ASSERT_TRUE(ReadInputFile(raw, &saved, &error)) << error;
    EXPECT_EQ(static_cast<double>(saved.blocks.size()), done);
    EXPECT_EQ(StartStopBytes(*host) % 2, 0);  // the instrument was stopped
}

INSTANTIATE_TEST_SUITE_P(Signals, MeasureInterrupt,
                         ::testing::Values(Interrupt{"Sigint", SIGINT},
                                           Interrupt{"Sigterm", SIGTERM}),
                         [](const auto& info) { return info.param.name; });

// Ctrl-C in a stream ends it as its time would: stop byte, drain, a whole
// recording and a report that says "interrupted", exit 130.
TEST_F(Measure, AnInterruptedStreamStopsTheInstrumentAndWritesEveryOutput) {
    instrument::Options options;
    options.paced = true;
    host = std::make_unique<instrument::PtyHost>(options);
    std::string error;
    ASSERT_TRUE(host->Start(&error)) << error;
    const fs::path json = dir / "stream.json", raw = dir / "stream.raw";
    CProgram tool({"--device", host->SlavePath(), "--stream", "600", "--samples", "256", "--rate",
                   "6000", "--json", json.string(), "--save-raw", raw.string()},
                  dir / "err.txt");
    ASSERT_GT(tool.pid, 0);
    ASSERT_TRUE(tool.WaitForLines(2)) << ReadAll(dir / "err.txt");
    ASSERT_EQ(kill(tool.pid, SIGINT), 0);
    EXPECT_EQ(tool.WaitExit(60), kExitInterrupted) << ReadAll(dir / "err.txt");
    const std::string report = ReadAll(json);
    // The stream's report is JSON Lines; its last line is the summary.
    EXPECT_NE(report.find("{\"status\":\"interrupted\",\"end\":\"stopped\""), std::string::npos)
        << report;
    EXPECT_NE(ReadAll(raw).find("complete=1"), std::string::npos);
    EXPECT_EQ(StartStopBytes(*host) % 2, 0);  // the instrument was stopped
}

// A second Ctrl-C ends the tool at once, even while it waits for a reader of its
// output FIFO (which it would do for seconds).
TEST_F(Measure, ASecondInterruptEndsAtOnce) {
    Start();
    const fs::path fifo = dir / "json.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    CProgram tool({"--device", host->SlavePath(), "--count", "100000", "--json", fifo.string()},
                  dir / "err.txt");
    ASSERT_GT(tool.pid, 0);
    ASSERT_TRUE(tool.WaitForLines(1)) << ReadAll(dir / "err.txt");
    ASSERT_EQ(kill(tool.pid, SIGINT), 0);
    // Until the first is taken, a second would end the run before it stopped.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadAll(dir / "err.txt").find("interrupted after") == std::string::npos &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(kill(tool.pid, SIGINT), 0);
    EXPECT_EQ(tool.WaitExit(5), 128 + SIGINT);
}

}  // namespace
