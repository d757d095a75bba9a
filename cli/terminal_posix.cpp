#include <unistd.h>

#include "cli/terminal.h"

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
