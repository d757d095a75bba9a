// Ctrl-C (SIGINT) and SIGTERM during a run: the first asks the run to stop after
// the current read and still write its outputs; a second ends the process at
// once. The handler only counts; everything else happens in the run.
#pragma once

// Installs the handlers for SIGINT and SIGTERM (the program does, tests need not).
void InstallInterruptHandlers();

// True once a stop has been asked for, by a signal or by RequestInterrupt.
bool InterruptRequested();

// Asks for a stop as the first signal does; for tests and embedders.
void RequestInterrupt();

// Forgets an earlier request (a new run in the same process).
void ClearInterrupt();
