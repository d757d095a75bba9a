#include "measurement/number_text.h"

#include <charconv>

std::string FixedText(double value, int decimals) {
    // 330 digits cover the largest double in fixed notation.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return "?";
    return std::string(buf, r.ptr);
}
