// On Windows the library's report is a modal box owned by the focused window.
#include <windows.h>

#include "comlink/report_default.h"

void DefaultReport(const char* title, const char* text) {
    MessageBoxA(GetFocus(), text, title, MB_OK);
}
