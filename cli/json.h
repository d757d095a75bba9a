// A small JSON writer: objects and arrays in order, two-space indentation.
#pragma once

#include <string>
#include <vector>

class CJsonWriter {
  public:
    void BeginObject(const char* key = nullptr);
    void EndObject();
    void BeginArray(const char* key = nullptr);
    void EndArray();
    void Number(const char* key, double value);  // not finite: null
    void Integer(const char* key, long long value);
    void String(const char* key, const std::string& value);
    void Bool(const char* key, bool value);

    // The document so far, ending with a newline once every object is closed.
    const std::string& Text() const { return out; }

    static std::string Quote(const std::string& value);

  private:
    void Key(const char* key);
    std::string out;
    std::vector<bool> first;  // per open container: nothing written into it yet
};
