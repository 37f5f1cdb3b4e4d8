#pragma once

// Starting the child that plays files (tolvane-tester --play), with nothing
// but the C and C++ libraries: the program's start (player/Launcher.cpp)
// starts the first file's child before the player's own libraries (Qt,
// GStreamer) are loaded, and hands it to the player (TPlayingWorker) in the
// environment.

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Starts program with arguments, its standard input and output one end of a
// socket pair whose other end (close-on-exec) comes back in socket; the
// environment entries ("NAME=value") replace the inherited ones of the same
// name. The worker gets a process group of its own, so that what it starts
// is killed with it, and no signal held back. Its id, or -1.
pid_t SpawnWorker(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, int& socket);

// The helper program the children run, among the player's helpers.
inline constexpr char WorkerProgram[] = "tolvane-tester";

// Starts a child that plays files for the player process (this one, or the
// one this process becomes); with decoders, it loads FFmpeg's ahead. Given
// the first file (an absolute path), the child opens it as soon as it can,
// before the player asks for it.
pid_t StartPlayingChild(bool withDecoders, int& socket, const std::string& first = {});

// path made absolute against the current folder, so that it names the same
// file in a process started in another; empty stays empty.
std::string AbsolutePath(std::string_view path);

// Whether a file goes by a name whose kind only FFmpeg decodes here (Windows
// Media): a child started for it loads FFmpeg ahead. Only a guess, for
// loading early what the open would load anyway.
bool NamedForFFmpeg(std::string_view path);

// The environment entry that hands a started child to the player.
inline constexpr char StartedChildVariable[] = "TOLVANE_PLAYING_CHILD";
std::string DescribeStartedChild(pid_t pid, int socket);
// False when text names no child.
bool ReadStartedChild(const char* text, pid_t& pid, int& socket);
