#pragma once
// Stop requests by signal (SIGINT, SIGTERM, SIGHUP) for the long-running
// commands and the viewer. The handler only records the signal and writes one
// byte to a pipe; whoever waits reads the flag or watches the pipe's read end
// (a QSocketNotifier in the viewer, a poll in the command-line tool).

// Installs the handlers and creates the pipe; safe to call more than once.
// Returns false when the pipe cannot be created.
bool installStopSignals();
// True once one of the signals arrived.
bool stopRequested();
// The first signal that arrived, 0 when none.
int stopSignal();
// The exit status that reports the signal: 128 + its number (130 for
// SIGINT, 143 for SIGTERM); 0 when none arrived.
int stopExitStatus();
// The read end of the pipe (non-blocking), -1 before installation.
int stopSignalFd();
// Empties the pipe after a wake-up.
void drainStopSignalFd();
// Forgets an earlier signal; for tests that raise one after another.
void resetStopSignal();
