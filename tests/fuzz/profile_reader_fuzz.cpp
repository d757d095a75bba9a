// Reading the operator's INI profile: any bytes are either a clean INI, read
// back byte for byte, whose keys are listed once each with values free of
// control bytes, or a file refused with a reason and read as empty. The
// settings' numbers parse to what they say or to nothing.
//
// Input: the file's bytes. The edits are the writer harness's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "measurement/ini_file.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/profile_snapshot.h"

namespace {

// A number that parses reads back as its own decimal text.
void CheckSettingNumber(const std::string& value) {
    const std::optional<int> number = ParseProfileInt(value);
    if (!number) return;
    FUZZ_CHECK(ParseProfileInt(std::to_string(*number)) == number,
               "a setting's number does not read back: " + value);
    FUZZ_CHECK(value.find_first_of("0123456789") != std::string::npos,
               "a number read from no digit: " + value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const IniFile f(text);
    FUZZ_CHECK(f.Text() == text, "reading changed the text");
    std::vector<std::string> sections = {kProfileSection, "Ports"};
    const std::string first = fuzz::FirstSection(text);
    if (!first.empty()) sections.push_back(first);
    if (!f.IsClean()) {
        FUZZ_CHECK(fuzz::IsShowableReason(f.Problem()), "unclean without a reason");
        for (const std::string& s : sections)
            FUZZ_CHECK(f.Keys(s).empty(), "keys read from an unclean file");
        FUZZ_CHECK(!f.Value(kProfileSection, kKeyComPort), "a value read from an unclean file");
        return 0;
    }
    for (const fuzz::Entry& e : fuzz::Snapshot(f, sections)) CheckSettingNumber(*e.value);
    for (const char* key : {kKeySampleRate, kKeySampleCount, kKeyChannel, kKeyComPort}) {
        if (const auto v = f.Value(kProfileSection, key)) CheckSettingNumber(*v);
    }
    return 0;
}
