#pragma once

// Ends the event loop, as closing the main window does, when the process is
// asked to terminate (SIGTERM, SIGINT, SIGHUP: a logout, a kill, a closed
// terminal), so that the program still ends normally and saves its playlist.
void QuitOnTerminationSignals();
