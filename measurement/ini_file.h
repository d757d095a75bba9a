// An INI profile edited in place: a write changes only its own key's line and
// every other byte of the operator's file stays (comments, foreign sections,
// blank lines, line ends, a byte-order mark). A file that is not a clean INI is
// read as empty and never written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measurement/measurement.h"

// The text of one INI file and the edits on it, in memory. Section and key names
// match without regard to ASCII case, as Windows profiles do; the first of
// duplicate keys counts.
class IniFile {
  public:
    IniFile() = default;
    explicit IniFile(std::string text);

    // Empty for a clean INI; otherwise why it is not one, naming the line.
    // Clean lines are sections ("[name]"), "key=value", comments (';' or '#')
    // and blank lines; no NUL or other control byte but a tab and the line end.
    const std::string& Problem() const { return problem_; }
    bool IsClean() const { return problem_.empty(); }
    const std::string& Text() const { return text_; }

    // The value, blanks around it removed and one pair of enclosing double
    // quotes taken off; nothing when the section or key is missing.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;
    // The keys of the section (every section of that name) in file order, each once.
    std::vector<std::string> Keys(const std::string& section) const;

    // Sets the key's value. An existing key keeps its line up to the value; a new
    // one goes after the last key of its section, a new section at the end, in
    // the file's own line-end style. Returns true when the text changed; false
    // when it did not or when refused (an unclean file, a name or value that a
    // line cannot hold), with *error set in that case when error is not null.
    bool Set(const std::string& section, const std::string& key, const std::string& value,
             std::string* error = nullptr);
    // Removes every line of the key in the section; true when the text changed.
    bool Remove(const std::string& section, const std::string& key);

  private:
    struct Line {
        enum Kind { kBlank, kComment, kSection, kKey } kind = kBlank;
        size_t begin = 0;       // first byte of the line
        size_t end = 0;         // one past its content, before the line end
        size_t next = 0;        // one past its line end
        std::string name;       // section or key name, blanks removed
        size_t valueBegin = 0;  // the value's bytes, blanks removed
        size_t valueEnd = 0;
        int section = -1;  // index of the section line it belongs to; -1 before any
    };
    void Parse();
    const Line* Find(const std::string& section, const std::string& key) const;
    std::string LineEnd() const;

    std::string text_;
    std::vector<Line> lines_;
    std::string problem_;
};

// A Profile over an INI file on disk. Every write rereads the file, changes the
// one line and saves the result through WriteFileAtomically, only when the text
// changes. A missing file reads as empty and is created, with its folder, at the
// first write.
class IniFileProfile : public Profile {
  public:
    explicit IniFileProfile(std::string path);

    int ReadInt(const std::string& section, const std::string& key, int defaultValue) override;
    void WriteInt(const std::string& section, const std::string& key, int value) override;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    void RemoveKey(const std::string& section, const std::string& key) override;
    std::vector<std::string> Keys(const std::string& section) override;

    const std::string& Path() const { return path_; }
    // Why the file is never written (not a clean INI, unreadable); empty otherwise.
    const std::string& LoadError() const { return loadError_; }
    // Empty while every save has worked; otherwise why the last one failed.
    const std::string& LastError() const { return lastError_; }
    // Counts the saves that failed, so a caller can tell the operator only once.
    int FailedSaves() const { return failedSaves_; }

  private:
    // Rereads the file, applies edit to it and saves when the text changed.
    template <typename Edit>
    void Change(Edit edit);
    bool Load(IniFile* file, std::string* error) const;

    std::string path_;
    IniFile file_;
    std::string loadError_;
    std::string lastError_;
    int failedSaves_ = 0;
    bool unsaved_ = false;  // memory holds a change the disk has not got
};

// The decimal integer of text (blanks around allowed, a sign, no other
// characters, int range), or nothing.
std::optional<int> ParseProfileInt(const std::string& text);
