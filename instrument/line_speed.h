// The line speed that the program set on its end of the pseudo-terminal.
#pragma once

namespace instrument {

// Output speed in baud of the terminal behind fd (on Linux a pty master reports
// its slave's settings), non-standard speeds included; -1 when it cannot be read.
int ReadLineSpeed(int fd);

}  // namespace instrument
