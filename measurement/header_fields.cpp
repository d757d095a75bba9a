#include "measurement/header_fields.h"

#include <charconv>
#include <cstring>

namespace {

constexpr const char* kMagic = "pelkor-raw";
constexpr const char* kBlanks = " \t\n\v\f\r";

// The next blank-separated word of line from *at, empty at the end.
std::string NextWord(const std::string& line, size_t* at) {
    const size_t begin = line.find_first_not_of(kBlanks, *at);
    if (begin == std::string::npos) {
        *at = line.size();
        return {};
    }
    size_t end = line.find_first_of(kBlanks, begin);
    if (end == std::string::npos) end = line.size();
    *at = end;
    return line.substr(begin, end - begin);
}

}  // namespace

bool HeaderFields::Read(const std::string& line, const char* notOurs,
                        std::initializer_list<const char*> keys, std::string* why) {
    fields_.clear();
    size_t at = 0;
    const std::string magic = NextWord(line, &at);
    const std::string version = NextWord(line, &at);
    if (magic != kMagic) return (*why = notOurs, false);
    if (version != "1") return (*why = "unknown format version '" + version + "'", false);
    for (std::string word = NextWord(line, &at); !word.empty(); word = NextWord(line, &at)) {
        const auto eq = word.find('=');
        if (eq == std::string::npos || eq == 0) return (*why = "bad field '" + word + "'", false);
        const std::string key = word.substr(0, eq);
        for (const auto& field : fields_) {
            if (field.first == key) return (*why = "field '" + key + "' given twice", false);
        }
        fields_.emplace_back(key, word.substr(eq + 1));
    }
    for (const char* key : keys) {
        bool found = false;
        for (const auto& field : fields_) found = found || field.first == key;
        if (!found) return (*why = std::string("field '") + key + "' missing", false);
    }
    if (fields_.size() != keys.size()) return (*why = "unknown field in the header", false);
    return true;
}

const std::string& HeaderFields::operator[](const char* key) const {
    static const std::string kNone;
    for (const auto& field : fields_) {
        if (field.first == key) return field.second;
    }
    return kNone;
}

bool ParseHeaderInt(const std::string& text, long long* value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, *value);
    return r.ec == std::errc() && r.ptr == end;
}
