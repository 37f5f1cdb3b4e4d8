#pragma once

// A damaged file can make GStreamer complain for every buffer it meets, in a
// loop, hundreds of thousands of lines in one play or one try. The worker
// processes say a few lines per file and no more.

// How many of GLib's log lines one file may write.
constexpr int LogLinesPerFile = 10;

// From now on this process's GLib log goes through the cap. Once, before
// GStreamer starts.
void CapLogPerFile();

// A new file: its allowance of lines begins.
void StartFileLog();
