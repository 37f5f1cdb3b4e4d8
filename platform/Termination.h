#pragma once

// Ends the event loop, as closing the main window does, when the process is
// asked to terminate (SIGTERM, SIGINT, SIGHUP: a logout, a kill, a closed
// terminal), so that the program still ends normally and saves its playlist.
// A second such signal ends the program at once, by the signal's default
// action, should the normal end hang.
void QuitOnTerminationSignals();
