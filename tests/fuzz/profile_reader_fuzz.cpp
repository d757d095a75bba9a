// The operator's INI profile: any bytes are either a clean INI, whose values
// read back and whose edits touch only their own line, or a file that is
// refused with a reason and never changed.
//
// Input: the file's bytes. The last up to 8 bytes also serve as a value to write.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measurement/ini_file.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"

namespace {

bool HasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t') || c == 0x7f;
    });
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The name of the first line that is "[name]", blanks around both removed.
std::string FirstSection(const std::string& text) {
    const char* blanks = " \t\r";
    for (std::size_t at = 0; at < text.size();) {
        std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(at, eol - at);
        at = eol + 1;
        const std::size_t b = line.find_first_not_of(blanks);
        if (b == std::string::npos) continue;
        line = line.substr(b, line.find_last_not_of(blanks) - b + 1);
        if (line.size() < 3 || line.front() != '[' || line.back() != ']') continue;
        std::string name = line.substr(1, line.size() - 2);
        const std::size_t nb = name.find_first_not_of(" \t");
        if (nb == std::string::npos) continue;
        return name.substr(nb, name.find_last_not_of(" \t") - nb + 1);
    }
    return {};
}

struct Entry {
    std::string section, key;
    std::optional<std::string> value;
};

// A profile holds a handful of keys; looking at more per section only slows
// the fuzzer (each look-up reads the whole file).
constexpr std::size_t kKeysLookedAt = 32;

// The keys of the sections looked at (the first kKeysLookedAt of each), with values.
std::vector<Entry> Snapshot(const IniFile& f, const std::vector<std::string>& sections) {
    std::vector<Entry> entries;
    for (const std::string& s : sections) {
        std::vector<std::string> keys = f.Keys(s);
        if (keys.size() > kKeysLookedAt) keys.resize(kKeysLookedAt);
        std::vector<std::string> seen;
        for (const std::string& k : keys) {
            FUZZ_CHECK(std::find(seen.begin(), seen.end(), Lower(k)) == seen.end(),
                       "key listed twice: " + k);
            seen.push_back(Lower(k));
            const auto v = f.Value(s, k);
            FUZZ_CHECK(v.has_value(), "listed key without a value: " + k);
            FUZZ_CHECK(!HasControl(*v), "value with a control byte: " + k);
            ParseProfileInt(*v);
            entries.push_back({Lower(s), Lower(k), v});
        }
    }
    return entries;
}

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
    Snapshot(f, sections);
    for (const char* key : {kKeySampleRate, kKeySampleCount, kKeyChannel, kKeyComPort}) {
        if (const auto v = f.Value(kProfileSection, key)) ParseProfileInt(*v);
    }

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
