// Without a window system the library's report goes to standard error.
#include <cstdio>

#include "comlink/report_default.h"

void DefaultReport(const char* title, const char* text) {
    std::fprintf(stderr, "%s\n%s\n", title, text);
    std::fflush(stderr);
}
