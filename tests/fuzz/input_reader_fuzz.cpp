// pelkor-measure --input: any bytes either parse into blocks and volts that are
// fit to analyse, or are refused with a reason. What parses survives a save and
// a re-read unchanged.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/raw_block.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"

namespace {

bool IsBlockSize(int n) {
    for (const SampleCountEntry& e : SampleCountTable) {
        if (e.count == n) return true;
    }
    return false;
}

void CheckBlock(const RawBlock& b) {
    FUZZ_CHECK(b.rateIndex >= 0 && b.rateIndex < kSampleRateCount, "rate index");
    FUZZ_CHECK(b.countIndex >= 0 && b.countIndex < kSampleCountCount, "count index");
    FUZZ_CHECK(b.channel >= kMinChannel && b.channel <= kMaxChannel, "channel");
    FUZZ_CHECK(b.resolution == 0 || b.resolution == 1, "resolution");
    FUZZ_CHECK(b.windowMode == 0 || b.windowMode == 1, "window");
    FUZZ_CHECK(b.averagingMode >= 0 && b.averagingMode <= 2, "averaging");
    const std::size_t expected =
        static_cast<std::size_t>(b.resolution + 1) * SampleCountTable[b.countIndex].count;
    FUZZ_CHECK(b.bytes.size() == expected, "a block holds exactly its settings' bytes");
}

bool SameBlock(const RawBlock& a, const RawBlock& b) {
    return a.rateIndex == b.rateIndex && a.countIndex == b.countIndex && a.channel == b.channel &&
           a.resolution == b.resolution && a.windowMode == b.windowMode &&
           a.averagingMode == b.averagingMode && a.bytes == b.bytes;
}

void RoundTripBlocks(const InputFile& file) {
    std::string saved;
    for (const RawBlock& b : file.blocks) saved += FormatRawBlock(b);
    InputFile again;
    std::string error;
    FUZZ_CHECK(ParseInputFile(saved, &again, &error), "saved blocks re-read: " + error);
    FUZZ_CHECK(!again.volts, "saved blocks re-read as volts");
    FUZZ_CHECK(again.blocks.size() == file.blocks.size(), "block count after re-read");
    for (std::size_t i = 0; i < file.blocks.size(); ++i) {
        FUZZ_CHECK(SameBlock(file.blocks[i], again.blocks[i]), "block changed by a re-read");
    }
}

void RoundTripVolts(const InputFile& file) {
    std::string saved = "# volts\n";
    char line[40];
    for (double v : file.voltValues) {
        std::snprintf(line, sizeof line, "%.17g\n", v);
        saved += line;
    }
    InputFile again;
    std::string error;
    FUZZ_CHECK(ParseInputFile(saved, &again, &error), "saved volts re-read: " + error);
    FUZZ_CHECK(again.volts && again.blocks.empty(), "saved volts re-read as blocks");
    FUZZ_CHECK(again.voltValues == file.voltValues, "values changed by a re-read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    InputFile file;
    std::string error;
    if (!ParseInputFile(text, &file, &error)) {
        FUZZ_CHECK(fuzz::IsShowableReason(error), "refusal without a showable reason: " + error);
        return 0;
    }
    FUZZ_CHECK(error.empty() || fuzz::IsShowableReason(error), "stray message on success");
    if (file.volts) {
        FUZZ_CHECK(file.blocks.empty(), "volts and blocks at once");
        const int n = static_cast<int>(file.voltValues.size());
        FUZZ_CHECK(IsBlockSize(n), "value count is a block size");
        for (double v : file.voltValues) {
            FUZZ_CHECK(std::isfinite(v) && std::fabs(v) <= kMaxInputVolts,
                       "value outside +-1000 V taken: " + std::to_string(v));
        }
        RoundTripVolts(file);
    } else {
        FUZZ_CHECK(!file.blocks.empty(), "no block and no refusal");
        FUZZ_CHECK(file.voltValues.empty(), "blocks and volts at once");
        for (const RawBlock& b : file.blocks) CheckBlock(b);
        RoundTripBlocks(file);
    }
    return 0;
}
