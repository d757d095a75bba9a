// Edits of the operator's INI profile: on a clean INI a write touches only its
// own line and no other key, and an unchanged value is not written again; an
// unclean file is refused with a reason and never changed.
//
// Input: the file's bytes. The last up to 8 bytes also serve as a value to write.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "measurement/ini_file.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/profile_snapshot.h"

namespace {

using fuzz::Entry;
using fuzz::FirstSection;
using fuzz::Lower;
using fuzz::Snapshot;

// Between the old and the new text lies one changed stretch; in the old text
// it holds no line end: a write changes at most its own line's value, or adds.
void CheckOneLineChanged(const std::string& before, const std::string& after) {
    std::size_t p = 0;
    while (p < before.size() && p < after.size() && before[p] == after[p]) ++p;
    std::size_t s = 0;
    while (s < before.size() - p && s < after.size() - p &&
           before[before.size() - 1 - s] == after[after.size() - 1 - s]) {
        ++s;
    }
    const std::string removed = before.substr(p, before.size() - p - s);
    FUZZ_CHECK(removed.find('\n') == std::string::npos, "a write changed other lines");
}

void CheckWrite(IniFile& f, const std::vector<std::string>& sections, const std::string& section,
                const std::string& key, const std::string& value) {
    const std::string before = f.Text();
    const std::vector<Entry> old = Snapshot(f, sections);
    std::string error;
    const bool changed = f.Set(section, key, value, &error);
    if (!changed) {
        FUZZ_CHECK(f.Text() == before, "a refused or empty write changed the text");
        FUZZ_CHECK(error.empty() || fuzz::IsShowableReason(error), "refusal reason: " + error);
        if (error.empty()) FUZZ_CHECK(f.Value(section, key) == value, "write of a new value lost");
        return;
    }
    FUZZ_CHECK(f.IsClean(), "a write made the file unclean: " + f.Problem());
    FUZZ_CHECK(f.Value(section, key) == value, "written value reads back otherwise");
    CheckOneLineChanged(before, f.Text());
    for (const Entry& e : Snapshot(f, sections)) {
        if (e.section == Lower(section) && e.key == Lower(key)) continue;
        const auto was = std::find_if(old.begin(), old.end(), [&](const Entry& o) {
            return o.section == e.section && o.key == e.key;
        });
        FUZZ_CHECK(was != old.end() && was->value == e.value, "a write changed key " + e.key);
    }
    // The same value again is no change, and nothing is written.
    const std::string written = f.Text();
    FUZZ_CHECK(!f.Set(section, key, value), "an unchanged value was written again");
    FUZZ_CHECK(f.Text() == written, "an unchanged value changed the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniFile f(text);
    if (!f.IsClean()) {
        FUZZ_CHECK(fuzz::IsShowableReason(f.Problem()), "unclean without a reason");
        std::string error;
        FUZZ_CHECK(!f.Set(kProfileSection, kKeyComPort, "3", &error), "unclean file written");
        FUZZ_CHECK(!error.empty(), "a refused write without a reason");
        FUZZ_CHECK(!f.Remove(kProfileSection, kKeyComPort), "unclean file edited");
        FUZZ_CHECK(f.Text() == text, "unclean file changed");
        FUZZ_CHECK(f.Keys(kProfileSection).empty(), "keys read from an unclean file");
        return 0;
    }
    FUZZ_CHECK(f.Text() == text, "parsing changed the text");

    std::vector<std::string> sections = {kProfileSection, "Ports"};
    const std::string first = FirstSection(text);
    if (!first.empty()) sections.push_back(first);

    const std::string tail = text.substr(size - std::min<std::size_t>(size, 8));
    CheckWrite(f, sections, kProfileSection, kKeyComPort, "7");
    CheckWrite(f, sections, "Ports", "COM3", "/dev/ttyUSB0");
    if (!first.empty()) {
        const std::vector<std::string> keys = f.Keys(first);
        CheckWrite(f, sections, first, keys.empty() ? "FuzzKey" : keys.front(), tail);
    }

    const std::string before = f.Text();
    if (f.Remove(kProfileSection, kKeyComPort)) {
        FUZZ_CHECK(f.IsClean(), "a removal made the file unclean");
        FUZZ_CHECK(!f.Value(kProfileSection, kKeyComPort).has_value(), "removed key still there");
        FUZZ_CHECK(f.Text().size() < before.size(), "a removal added bytes");
    } else {
        FUZZ_CHECK(f.Text() == before, "a removal that changed nothing changed the text");
    }
    return 0;
}
