#include "cli/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

void CJsonWriter::Key(const char* key) {
    if (!first.empty()) {
        if (!first.back()) out += ',';
        first.back() = false;
        out += '\n';
        out.append(2 * first.size(), ' ');
    }
    if (key != nullptr) {
        out += Quote(key);
        out += ": ";
    }
}

void CJsonWriter::BeginObject(const char* key) {
    Key(key);
    out += '{';
    first.push_back(true);
}

void CJsonWriter::BeginArray(const char* key) {
    Key(key);
    out += '[';
    first.push_back(true);
}

void CJsonWriter::EndObject() {
    const bool empty = first.back();
    first.pop_back();
    if (!empty) {
        out += '\n';
        out.append(2 * first.size(), ' ');
    }
    out += '}';
    if (first.empty()) out += '\n';
}

void CJsonWriter::EndArray() {
    const bool empty = first.back();
    first.pop_back();
    if (!empty) {
        out += '\n';
        out.append(2 * first.size(), ' ');
    }
    out += ']';
    if (first.empty()) out += '\n';
}

void CJsonWriter::Number(const char* key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void CJsonWriter::Integer(const char* key, long long value) {
    Key(key);
    out += std::to_string(value);
}

void CJsonWriter::String(const char* key, const std::string& value) {
    Key(key);
    out += Quote(value);
}

void CJsonWriter::Bool(const char* key, bool value) {
    Key(key);
    out += value ? "true" : "false";
}

std::string CJsonWriter::Quote(const std::string& value) {
    std::string q = "\"";
    for (unsigned char c : value) {
        switch (c) {
            case '"':
                q += "\\\"";
                break;
            case '\\':
                q += "\\\\";
                break;
            case '\n':
                q += "\\n";
                break;
            case '\r':
                q += "\\r";
                break;
            case '\t':
                q += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    q += esc;
                } else {
                    q += static_cast<char>(c);
                }
        }
    }
    q += '"';
    return q;
}
