// Test client's own termios2 access, independent of the instrument's.
#pragma once

// Sets input and output speed of fd to any baud rate (BOTHER); 0 on success.
int SetAnySpeed(int fd, int baud);
