#include "cli/raw_block.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "cli/args.h"
#include "measurement/header_fields.h"
#include "measurement/state.h"

namespace {

constexpr const char* kMagic = "pelkor-raw";
constexpr size_t kMaxHeader = 256;

const char* AveragingName(int mode) {
    return mode == 0 ? "off" : mode == 1 ? "on" : "10";
}

// One header line, "pelkor-raw 1 key=value ...", into block; *bytes gets the count.
bool ParseHeader(const std::string& line, RawBlock* block, long long* bytes, std::string* why) {
    HeaderFields fields;
    if (!fields.Read(line, "not a saved block header",
                     {"rate", "samples", "channel", "bits", "window", "average", "bytes"}, why)) {
        return false;
    }
    long long n = 0;
    block->rateIndex = -1;
    for (int k = 0; k < kSampleRateCount; ++k) {
        if (ParseHeaderInt(fields["rate"], &n) && n == SampleRateTable[k].rate)
            block->rateIndex = k;
    }
    if (block->rateIndex < 0) {
        return (*why = "rate '" + fields["rate"] + "' is not one of " + AllowedRates(), false);
    }
    block->countIndex = -1;
    for (int k = 0; k < kSampleCountCount; ++k) {
        if (ParseHeaderInt(fields["samples"], &n) && n == SampleCountTable[k].count)
            block->countIndex = k;
    }
    if (block->countIndex < 0) {
        return (*why = "samples '" + fields["samples"] + "' is not one of " + AllowedCounts(),
                false);
    }
    if (!ParseHeaderInt(fields["channel"], &n) || n < kMinChannel || n > kMaxChannel) {
        return (*why = "channel '" + fields["channel"] + "' is not 0..6", false);
    }
    block->channel = static_cast<int>(n);
    const std::string& bits = fields["bits"];
    if (bits != "8" && bits != "10") return (*why = "bits '" + bits + "' is not 8 or 10", false);
    block->resolution = bits == "10" ? 1 : 0;
    const std::string& window = fields["window"];
    if (window != "on" && window != "off") {
        return (*why = "window '" + window + "' is not on or off", false);
    }
    block->windowMode = window == "on" ? 0 : 1;
    const std::string& average = fields["average"];
    if (average != "off" && average != "on" && average != "10") {
        return (*why = "average '" + average + "' is not off, on or 10", false);
    }
    block->averagingMode = average == "off" ? 0 : average == "on" ? 1 : 2;
    const long long expected =
        static_cast<long long>(block->resolution + 1) * SampleCountTable[block->countIndex].count;
    if (!ParseHeaderInt(fields["bytes"], bytes) || *bytes != expected) {
        return (*why = "bytes '" + fields["bytes"] + "' does not match " + bits + "-bit x " +
                       fields["samples"] + " samples (" + std::to_string(expected) + ")",
                false);
    }
    return true;
}

bool ParseBlocks(const std::string& data, InputFile* file, std::string* error) {
    size_t at = 0;
    int index = 0;
    while (at < data.size()) {
        ++index;
        const std::string where = "block " + std::to_string(index) + ": ";
        const size_t eol = data.find('\n', at);
        if (eol == std::string::npos || eol - at > kMaxHeader) {
            *error = where + "header line missing or longer than " + std::to_string(kMaxHeader) +
                     " characters";
            return false;
        }
        RawBlock block;
        long long bytes = 0;
        std::string why;
        if (!ParseHeader(data.substr(at, eol - at), &block, &bytes, &why)) {
            *error = where + why;
            return false;
        }
        at = eol + 1;
        const size_t left = data.size() - at;
        if (static_cast<long long>(left) < bytes) {
            *error = where + "truncated: " + std::to_string(left) + " of " + std::to_string(bytes) +
                     " bytes";
            return false;
        }
        block.bytes.assign(data.begin() + static_cast<long>(at),
                           data.begin() + static_cast<long>(at + bytes));
        at += static_cast<size_t>(bytes);
        file->blocks.push_back(std::move(block));
    }
    return true;
}

// An error quotes bytes of the file; control bytes among them are shown as
// \xNN, so a crafted file cannot act on the terminal the message goes to.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Trim(const std::string& s) {
    const char* space = " \t\r\f\v";
    const size_t first = s.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(space) - first + 1);
}

bool ParseVolts(const std::string& data, InputFile* file, std::string* error) {
    std::istringstream lines(data);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#') continue;
        if (static_cast<int>(file->voltValues.size()) >= kMaxSamples) {
            *error = "line " + std::to_string(number) + ": more than " +
                     std::to_string(kMaxSamples) + " values";
            return false;
        }
        double v = 0;
        const char* end = text.data() + text.size();
        const auto r = std::from_chars(text.data(), end, v);
        if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) {
            const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
            *error =
                "line " + std::to_string(number) + ": '" + shown + "' is not a number of volts";
            return false;
        }
        if (std::fabs(v) > kMaxInputVolts) {
            const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
            *error =
                "line " + std::to_string(number) + ": " + shown + " V is outside -1000..1000 V";
            return false;
        }
        file->voltValues.push_back(v);
    }
    const int n = static_cast<int>(file->voltValues.size());
    for (const SampleCountEntry& e : SampleCountTable) {
        if (e.count == n) return true;
    }
    *error = std::to_string(n) + " values; a block has " + AllowedCounts() + " values";
    return false;
}

}  // namespace

std::string FormatRawBlock(const RawBlock& block) {
    char header[kMaxHeader];
    std::snprintf(header, sizeof header,
                  "%s 1 rate=%d samples=%d channel=%d bits=%d window=%s average=%s bytes=%zu\n",
                  kMagic, SampleRateTable[block.rateIndex].rate,
                  SampleCountTable[block.countIndex].count, block.channel,
                  block.resolution == 1 ? 10 : 8, block.windowMode == 0 ? "on" : "off",
                  AveragingName(block.averagingMode), block.bytes.size());
    std::string out = header;
    out.append(block.bytes.begin(), block.bytes.end());
    return out;
}

bool ParseInputFile(const std::string& data, InputFile* file, std::string* error) {
    *file = InputFile{};
    if (data.empty()) return (*error = "the file is empty", false);
    if (data.rfind(kMagic, 0) == 0) {
        if (ParseBlocks(data, file, error)) return true;
        *error = Printable(*error);
        return false;
    }
    // Text holds no control bytes besides line ends and tabs.
    for (unsigned char c : data) {
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') {
            *error = "binary data: neither a saved block nor text of volts";
            return false;
        }
    }
    file->volts = true;
    if (ParseVolts(data, file, error)) return true;
    *error = Printable(*error);
    return false;
}

bool ReadInputFile(const std::string& path, InputFile* file, std::string* error) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return (*error = path + ": " + std::strerror(errno), false);
    // A regular file says its size; anything else (a pipe) is read up to the limit.
    struct stat st {};
    if (fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kMaxInputBytes) {
        *error = path + ": larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB";
        return false;
    }
    std::string data;
    char chunk[65536];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, f.get());
        data.append(chunk, got);
        if (static_cast<long long>(data.size()) > kMaxInputBytes) {
            *error = path + ": larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB";
            return false;
        }
        if (got < sizeof chunk) break;
    }
    if (std::ferror(f.get())) return (*error = path + ": " + std::strerror(errno), false);
    std::string why;
    if (!ParseInputFile(data, file, &why)) return (*error = path + ": " + why, false);
    return true;
}
