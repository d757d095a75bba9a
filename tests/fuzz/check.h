// What the harnesses share: a property check that stops the fuzzer with the
// failed condition, and the tests that messages and figures are fit to show.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

// Unlike assert, stays on in every build type: a harness without it only
// looks for crashes.
#define FUZZ_CHECK(cond, what)                                                                   \
    do {                                                                                         \
        if (!(cond)) {                                                                           \
            std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, __LINE__, #cond, \
                         std::string(what).c_str());                                             \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace fuzz {

// A reason shown to the operator: not empty, of bounded length, and free of
// control bytes that a terminal would act on (the untrusted text it quotes
// included); a tab is harmless. Bytes from 0x80 up may be UTF-8 and pass.
inline bool IsShowableReason(const std::string& text) {
    if (text.empty() || text.size() > 2048) return false;
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    }
    return true;
}

// A result text: never "inf" or "nan" in any spelling printf gives them.
inline bool IsFiniteText(const std::string& text) {
    for (const char* bad : {"inf", "nan", "INF", "NAN"}) {
        if (text.find(bad) != std::string::npos) return false;
    }
    return true;
}

inline bool AllFinite(const double* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

}  // namespace fuzz
