// pelkor-measure: headless measurements on the same core as the dialog.
#include <iostream>

#include "cli/measure.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunMeasure(args, std::cout, std::cerr, StandardErrorIsTerminal());
}
