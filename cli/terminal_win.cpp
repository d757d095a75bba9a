#include <io.h>

#include <cstdio>

#include "cli/terminal.h"

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}
