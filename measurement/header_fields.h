// The fields of a saved file's header line, "pelkor-raw 1 key=value ...": the
// one reader of the single-block and the recorded-stream formats.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class HeaderFields {
  public:
    // Splits line into its fields. False with *why when the line does not start
    // with "pelkor-raw 1" (notOurs, or the version), when a word is no
    // key=value, a key comes twice, one of keys is missing, or another is there.
    bool Read(const std::string& line, const char* notOurs, std::initializer_list<const char*> keys,
              std::string* why);
    // The value of a key Read required.
    const std::string& operator[](const char* key) const;

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

// A whole decimal number, as the header writes them.
bool ParseHeaderInt(const std::string& text, long long* value);
