#include "measurement/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

bool IsTableCount(int n) {
    for (const SampleCountEntry& e : SampleCountTable) {
        if (e.count == n) return true;
    }
    return false;
}

// Shortest text that reads back as the same double.
void AppendNumber(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

const char* AveragingName(int mode) {
    switch (mode) {
        case 0:
            return "Off";
        case 1:
            return "On";
        case 2:
            return "10";
        default:
            return "?";
    }
}

std::string SystemReason(int err) {
    return std::strerror(err);
}

// Permissions of a new file as open(2) would give it; mkstemp makes 0600.
mode_t NewFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtol(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string FormatSpectrumCsv(const MeasurementState& state) {
    std::string out = "entry,frequency_hz,level_db\n";
    const int n = state.sampleCount;
    if (!IsTableCount(n)) return out;
    out.reserve(out.size() + static_cast<size_t>(n / 2 + 1) * 32);
    for (int k = 0; k <= n / 2; ++k) {
        out += std::to_string(k);
        out += ',';
        AppendNumber(out, static_cast<double>(k) * state.sampleRate / n);
        out += ',';
        AppendNumber(out, state.spectrum[k]);
        out += '\n';
    }
    return out;
}

bool WriteSpectrumCsv(const MeasurementState& state, const std::string& path, std::string* error) {
    return WriteFileAtomically(path, FormatSpectrumCsv(state), error);
}

std::string FormatMeasurements(const MeasurementState& state, const DistortionMetrics& metrics) {
    const int n = state.sampleCount;
    std::string out;
    out += "Sample rate: " + std::to_string(state.sampleRate) + " s/s\n";
    out += "Samples: " + std::to_string(n) + "\n";
    out += "Channel: " + std::to_string(state.channel) + "\n";
    out += std::string("Resolution: ") + (state.resolution == 1 ? "10-bit" : "8-bit") + "\n";
    out += std::string("Harris window: ") + (state.windowMode == 0 ? "On" : "Off") + "\n";
    out += std::string("Averaging: ") + AveragingName(state.averagingMode) + "\n";
    out += "Fundamental: " + state.fundamentalText + "\n";
    out += "Amplitude: " + state.amplitudeText + "\n";
    out += "THD: " + state.thdText + "\n";
    const double hzPerEntry = n > 0 ? static_cast<double>(state.sampleRate) / n : 0.0;
    out += Format("Fundamental entry %d: %.2f Hz, %.1f dBm\n", state.fundamentalBin,
                  state.fundamentalBin * hzPerEntry, state.fundamentalLevel);
    for (int p = 0; p < 5; ++p) {
        out += "Peak " + std::to_string(p + 1) +
               Format(" entry %d: %.2f Hz, %.1f dBm\n", state.harmonicBins[p],
                      state.harmonicBins[p] * hzPerEntry, state.harmonicLevels[p]);
    }
    if (!metrics.valid) {
        out += "Distortion figures: not available\n";
        return out;
    }
    out += Format("Harmonic THD (2..10): %.4f %% (%.2f dB)\n", metrics.thdPercent, metrics.thdDb);
    out += Format("THD+N: %.4f %% (%.2f dB)\n", metrics.thdnPercent, metrics.thdnDb);
    out += Format("SINAD: %.2f dB\n", metrics.sinadDb);
    out += Format("SNR: %.2f dB\n", metrics.snrDb);
    out += Format("ENOB: %.2f bits\n", metrics.enob);
    out +=
        Format("SFDR: %.2f dB (spur at %.2f Hz)\n", metrics.sfdrDb, metrics.spurBin * hzPerEntry);
    return out;
}

std::string FormatMeasurements(const MeasurementState& state) {
    return FormatMeasurements(state, ComputeDistortionMetrics(state));
}

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error) {
    auto fail = [&](const std::string& what, int err) {
        if (error != nullptr) *error = "cannot " + what + " " + path + ": " + SystemReason(err);
        return false;
    };
    if (path.empty() || path.back() == '/') return fail("write", EISDIR);
    // Through a symbolic link the file it names is replaced, and the link stays.
    std::string target = path;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(path, ec);
        if (ec) return fail("write", ec.value());
        target = resolved.string();
    }

    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return fail("write", errno);
    auto abandon = [&](const std::string& what, int err) {
        close(fd);
        unlink(temp.c_str());
        return fail(what, err);
    };

    // A file that exists keeps its permissions; a new one gets the usual ones.
    struct stat old {};
    const mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();
    if (fchmod(fd, mode) != 0) return abandon("write", errno);

    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return abandon("write", errno);
        }
        done += static_cast<size_t>(w);
    }
    if (fsync(fd) != 0) return abandon("write", errno);
    if (close(fd) != 0) {
        const int err = errno;
        unlink(temp.c_str());
        return fail("write", err);
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        unlink(temp.c_str());
        return fail("replace", err);
    }
    // The rename itself reaches the disk with the folder's entry.
    const int dir = open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
