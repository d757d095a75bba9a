#include "measurement/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unordered_set>

#include "measurement/export.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A control byte that no clean text line holds (a tab is fine).
bool IsControl(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7f;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// [begin, end) narrowed to its bytes without blanks around them.
void Trim(const std::string& text, size_t* begin, size_t* end) {
    while (*begin < *end && IsBlank(text[*begin])) ++*begin;
    while (*end > *begin && IsBlank(text[*end - 1])) --*end;
}

bool HasControl(const std::string& s) {
    for (const char c : s) {
        if (IsControl(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

bool HasOuterBlanks(const std::string& s) {
    return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
}

// What a value's line holds so that Value() gives value back: quoted when the
// blanks around it or enclosing quotes would otherwise be taken off.
std::string Encode(const std::string& value) {
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (HasOuterBlanks(value) || quoted) return '"' + value + '"';
    return value;
}

const char kBom[] = "\xEF\xBB\xBF";

}  // namespace

std::optional<int> ParseProfileInt(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    Trim(text, &begin, &end);
    if (begin == end) return std::nullopt;
    const std::string digits = text.substr(begin, end - begin);
    size_t i = (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
    if (i == digits.size()) return std::nullopt;
    for (; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
    }
    errno = 0;
    const long long number = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || number < INT_MIN || number > INT_MAX) return std::nullopt;
    return static_cast<int>(number);
}

IniFile::IniFile(std::string text) : text_(std::move(text)) {
    Parse();
}

void IniFile::Parse() {
    lines_.clear();
    problem_.clear();
    size_t pos = text_.compare(0, 3, kBom) == 0 ? 3 : 0;
    int section = -1;
    int number = 0;
    while (pos < text_.size()) {
        ++number;
        Line line;
        line.begin = pos;
        const size_t newline = text_.find('\n', pos);
        line.next = newline == std::string::npos ? text_.size() : newline + 1;
        line.end = newline == std::string::npos ? text_.size() : newline;
        // A CR is part of the line end only before an LF; a bare one at the very
        // end is a control byte, or a new line written after it would hold it.
        if (newline != std::string::npos && line.end > line.begin && text_[line.end - 1] == '\r')
            --line.end;
        pos = line.next;

        for (size_t i = line.begin; i < line.end; ++i) {
            if (IsControl(static_cast<unsigned char>(text_[i]))) {
                problem_ = "line " + std::to_string(number) +
                           (text_[i] == '\0' ? " holds a NUL byte" : " holds a control byte") +
                           ": this is not a text file";
                lines_.clear();
                return;
            }
        }
        size_t b = line.begin;
        size_t e = line.end;
        Trim(text_, &b, &e);
        if (b == e) {
            line.kind = Line::kBlank;
        } else if (text_[b] == ';' || text_[b] == '#') {
            line.kind = Line::kComment;
        } else if (text_[b] == '[') {
            size_t nb = b + 1;
            size_t ne = e - 1;
            if (text_[e - 1] == ']' && nb < ne) Trim(text_, &nb, &ne);
            if (text_[e - 1] != ']' || nb >= ne) {
                problem_ = "line " + std::to_string(number) + " is not a section header \"[name]\"";
                lines_.clear();
                return;
            }
            line.kind = Line::kSection;
            line.name = text_.substr(nb, ne - nb);
            section = static_cast<int>(lines_.size());
        } else {
            const size_t eq = text_.find('=', b);
            size_t ke = eq;
            if (eq != std::string::npos && eq < e) Trim(text_, &b, &ke);
            if (eq == std::string::npos || eq >= e || ke == b) {
                problem_ = "line " + std::to_string(number) +
                           " is neither a section, a key=value line, a comment nor blank";
                lines_.clear();
                return;
            }
            line.kind = Line::kKey;
            line.name = text_.substr(b, ke - b);
            line.valueBegin = eq + 1;
            line.valueEnd = e;
            Trim(text_, &line.valueBegin, &line.valueEnd);
        }
        line.section = section;
        lines_.push_back(line);
    }
}

const IniFile::Line* IniFile::Find(const std::string& section, const std::string& key) const {
    for (const Line& line : lines_) {
        if (line.kind != Line::kKey || !SameName(line.name, key)) continue;
        const std::string& owner = line.section < 0 ? std::string() : lines_[line.section].name;
        if (line.section >= 0 ? SameName(owner, section) : section.empty()) return &line;
    }
    return nullptr;
}

std::optional<std::string> IniFile::Value(const std::string& section,
                                          const std::string& key) const {
    const Line* line = Find(section, key);
    if (line == nullptr) return std::nullopt;
    std::string value = text_.substr(line->valueBegin, line->valueEnd - line->valueBegin);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    // Lower-case names seen so far: a file of many keys is listed in linear time.
    std::unordered_set<std::string> seen;
    for (const Line& line : lines_) {
        if (line.kind != Line::kKey) continue;
        const bool inSection =
            line.section >= 0 ? SameName(lines_[line.section].name, section) : section.empty();
        if (!inSection) continue;
        std::string lower = line.name;
        for (char& c : lower) c = Lower(c);
        if (seen.insert(std::move(lower)).second) keys.push_back(line.name);
    }
    return keys;
}

std::string IniFile::LineEnd() const {
    for (const Line& line : lines_) {
        if (line.next > line.end) return line.next - line.end == 2 ? "\r\n" : "\n";
    }
    return "\n";
}

bool IniFile::Set(const std::string& section, const std::string& key, const std::string& value,
                  std::string* error) {
    auto refuse = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return false;
    };
    if (!IsClean()) return refuse(problem_);
    if (section.empty() || section.find(']') != std::string::npos || HasControl(section) ||
        HasOuterBlanks(section)) {
        return refuse("the section name \"" + section + "\" cannot be kept in an INI file");
    }
    if (key.empty() || key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';' ||
        key[0] == '#' || HasControl(key) || HasOuterBlanks(key)) {
        return refuse("the key name \"" + key + "\" cannot be kept in an INI file");
    }
    if (HasControl(value))
        return refuse("the value of " + key + " holds a line end or control byte");

    const std::string encoded = Encode(value);
    if (const Line* line = Find(section, key)) {
        if (Value(section, key) == value) return false;
        text_.replace(line->valueBegin, line->valueEnd - line->valueBegin, encoded);
        Parse();
        return true;
    }

    const std::string eol = LineEnd();
    const std::string entry = key + "=" + encoded;
    // After the last key (or the header) of the section's first occurrence, so
    // comments that lead into the next section stay with it.
    int header = -1;
    for (size_t i = 0; i < lines_.size() && header < 0; ++i) {
        if (lines_[i].kind == Line::kSection && SameName(lines_[i].name, section)) {
            header = static_cast<int>(i);
        }
    }
    if (header >= 0) {
        const Line* last = &lines_[header];
        for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != Line::kSection; ++i) {
            if (lines_[i].kind == Line::kKey) last = &lines_[i];
        }
        if (last->next == last->end) {
            text_.insert(last->next, eol + entry);  // the file's last line had no line end
        } else {
            text_.insert(last->next, entry + eol);
        }
    } else {
        std::string add;
        if (!lines_.empty()) {
            if (lines_.back().next == lines_.back().end) add += eol;
            if (lines_.back().kind != Line::kBlank) add += eol;
        }
        add += "[" + section + "]" + eol + entry + eol;
        text_ += add;
    }
    Parse();
    return true;
}

bool IniFile::Remove(const std::string& section, const std::string& key) {
    if (!IsClean()) return false;
    bool changed = false;
    for (size_t i = lines_.size(); i-- > 0;) {
        const Line& line = lines_[i];
        if (line.kind != Line::kKey || !SameName(line.name, key)) continue;
        const bool inSection =
            line.section >= 0 ? SameName(lines_[line.section].name, section) : section.empty();
        if (!inSection) continue;
        text_.erase(line.begin, line.next - line.begin);
        changed = true;
    }
    if (changed) Parse();
    return changed;
}

IniFileProfile::IniFileProfile(std::string path) : path_(std::move(path)) {
    std::string error;
    if (!Load(&file_, &error)) {
        loadError_ = error + "; it is left unchanged and the settings are not saved";
        file_ = IniFile();
    } else if (!file_.IsClean()) {
        loadError_ = path_ + " is not a valid INI file (" + file_.Problem() +
                     "); it is left unchanged and the settings are not saved";
        file_ = IniFile();
    }
}

bool IniFileProfile::Load(IniFile* file, std::string* error) const {
    std::error_code ec;
    const auto status = std::filesystem::status(path_, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        *file = IniFile();
        return true;
    }
    if (ec) {
        *error = "cannot read " + path_ + ": " + ec.message();
        return false;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        *error = path_ + " is a folder, not a settings file";
        return false;
    }
    if (status.type() != std::filesystem::file_type::regular) {
        *error = path_ + " is not a regular file";
        return false;
    }
    errno = 0;
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path_ + ": " +
                 (errno != 0 ? std::strerror(errno) : "cannot be opened");
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        *error = "cannot read " + path_;
        return false;
    }
    *file = IniFile(bytes.str());
    return true;
}

template <typename Edit>
void IniFileProfile::Change(Edit edit) {
    auto fail = [&](const std::string& why) {
        lastError_ = "cannot save the settings to " + path_ + ": " + why;
        ++failedSaves_;
    };
    if (!loadError_.empty()) {
        lastError_ = loadError_;
        return;
    }
    // The file as it is now, so an edit made meanwhile by hand is kept.
    IniFile current;
    std::string error;
    if (!Load(&current, &error)) return fail(error);
    if (!current.IsClean())
        return fail("it is no longer a valid INI file (" + current.Problem() + ")");
    if (!edit(current, &error)) {
        file_ = current;
        if (!error.empty()) return fail(error);
        lastError_.clear();
        return;  // nothing changed: nothing to write
    }
    file_ = current;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return fail("cannot create the folder " + folder.string() + ": " + ec.message());
    }
    if (!WriteFileAtomically(path_, current.Text(), &error)) return fail(error);
    lastError_.clear();
}

int IniFileProfile::ReadInt(const std::string& section, const std::string& key, int defaultValue) {
    const auto value = file_.Value(section, key);
    if (!value) return defaultValue;
    return ParseProfileInt(*value).value_or(defaultValue);
}

std::string IniFileProfile::ReadString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) {
    return file_.Value(section, key).value_or(defaultValue);
}

void IniFileProfile::WriteInt(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void IniFileProfile::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) {
    Change([&](IniFile& file, std::string* error) { return file.Set(section, key, value, error); });
}

void IniFileProfile::RemoveKey(const std::string& section, const std::string& key) {
    Change([&](IniFile& file, std::string*) { return file.Remove(section, key); });
}

std::vector<std::string> IniFileProfile::Keys(const std::string& section) {
    return file_.Keys(section);
}
