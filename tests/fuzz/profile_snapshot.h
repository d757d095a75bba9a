// What the INI profile harnesses share: a snapshot of the keys and values of
// the sections a run looks at, checked as it is taken.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "measurement/ini_file.h"
#include "measurement/state.h"
#include "tests/fuzz/check.h"

namespace fuzz {


inline bool HasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t') || c == 0x7f;
    });
}

inline std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The name of the first line that is "[name]", blanks around both removed.
inline std::string FirstSection(const std::string& text) {
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
inline std::vector<Entry> Snapshot(const IniFile& f, const std::vector<std::string>& sections) {
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

}  // namespace fuzz
